// The frame-count repair of the hdrmend command.
//
// Counts the frames that can be read from a raw data file, prints the count
// the header states and the count found on the standard error stream, and,
// when they differ, replaces the file by a copy whose header carries the
// count found. Failures are printed as a message block on the standard error
// stream; the file is then as it was.
#ifndef HDRMEND_APP_FRAMECOUNTREPAIR_H_
#define HDRMEND_APP_FRAMECOUNTREPAIR_H_

enum class RepairOutcome { kAlreadyRight, kRepaired, kRefused };

// Repairs the file at `path`; `program` is the command's invocation name, used
// in the text of a failed rename. A refusal is printed as PrintRefusal()
// prints it, as "Unable to salvage" when `salvaging` (the salvage hands over
// a recording that reads whole), else with the salvage's line where it
// rescues the damage.
RepairOutcome RepairFrameCount(const char* program, const char* path, bool salvaging = false);

#endif  // HDRMEND_APP_FRAMECOUNTREPAIR_H_
