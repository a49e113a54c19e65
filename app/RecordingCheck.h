// The check of a recording: read and verify, write nothing anywhere.
//
// The recording is opened as the repair opens it (a regular file, by
// descriptor, its access time left alone where the user may ask for that)
// and counted as the repair counts it; no copy is made and a decompressor's
// named pipe goes with the run. The verdict is one line for standard output;
// a damaged or unreadable recording's messages are printed on standard error.
#ifndef HDRMEND_APP_RECORDINGCHECK_H_
#define HDRMEND_APP_RECORDINGCHECK_H_

#include <string>

// kUnreadable: what cannot be read as a recording at all (missing, no regular
// file, no permission, no file header), where kDamaged is a recording whose
// data is damaged.
enum class CheckVerdict { kOk, kNeedsRepair, kDamaged, kUnreadable };

// The exit status a verdict asks for, as cmp gives them: 0, 1, or 2 for
// trouble.
int CheckStatus(CheckVerdict verdict);

// Checks the file at `path`. *line gets the verdict's line without its line
// feed, made by FileLine(): "<path>: ok (<frames> frames)", "<path>: needs
// repair (header <specified>, frames <counted>)", "<path>: damaged
// (<reason>)" or "<path>: unreadable (<reason>)", the reason being the
// newest message of the failure without its full stop, in lower case at its
// start.
CheckVerdict CheckRecording(const char* path, std::string* line);

#endif  // HDRMEND_APP_RECORDINGCHECK_H_
