// The salvage of a recording the repair refuses because of damage: every
// frame that reads whole is kept, the original is kept beside the result.
#ifndef HDRMEND_APP_SALVAGE_H_
#define HDRMEND_APP_SALVAGE_H_

#include "app/FrameCountRepair.h"

// Salvages the file at `path`; `program` is the command's invocation name,
// used in the text of a failed rename. kRefused when the file stays as it
// was (printed as PrintRefusal() prints it, the original's name too long for
// the folder among the causes, found before anything is read); otherwise the
// file reads whole to its end now.
RepairOutcome SalvageRecording(const char* program, const char* path);

#endif  // HDRMEND_APP_SALVAGE_H_
