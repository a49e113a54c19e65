// The salvage of a recording the repair refuses because of damage: every
// frame that reads whole is kept, the original is kept beside the result.
#ifndef HDRMEND_APP_SALVAGE_H_
#define HDRMEND_APP_SALVAGE_H_

// Salvages the file at `path`; `program` is the command's invocation name,
// used in the text of a failed rename. Returns the exit status: 0 when the
// file reads whole to its end now, 1 otherwise.
int SalvageRecording(const char* program, const char* path);

#endif  // HDRMEND_APP_SALVAGE_H_
