// The frame-count repair of the hdrmend command.
//
// Counts the frames that can be read from a raw data file, prints the count
// the header states and the count found on the standard error stream, and,
// when they differ, replaces the file by a copy whose header carries the
// count found. Failures are printed as a message block on the standard error
// stream.
#ifndef HDRMEND_APP_FRAMECOUNTREPAIR_H_
#define HDRMEND_APP_FRAMECOUNTREPAIR_H_

// Repairs the file at `path`; `program` is the command's invocation name, used
// in the text of a failed rename. Returns the exit status: 0 when the file was
// right or has been repaired, 1 on any failure.
int RepairFrameCount(const char* program, const char* path);

#endif  // HDRMEND_APP_FRAMECOUNTREPAIR_H_
