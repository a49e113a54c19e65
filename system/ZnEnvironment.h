// The process's environment: the temporary directory, commands on the
// executable search path and environment variables.
//
// Environment values come back as malloc() copies that the caller releases
// with free(). Nothing here reports through the message list; ZnRequireEnv()
// ends the process instead, and ZnInitLocale() only prints.
#ifndef HDRMEND_SYSTEM_ZNENVIRONMENT_H_
#define HDRMEND_SYSTEM_ZNENVIRONMENT_H_

#include "foundation/ZnLocale.h"
#include "foundation/ZnStr.h"

// "/var/tmp": where the compressing streams make their named pipes.
const char* ZnTempDirectory();

// Searches "PATH" (unset counts as empty; empty entries are skipped) for an
// existing, executable entry + "/" + command (no "/" added after an entry that
// ends in one). Stores the first such path in *fullPath when given. An empty
// command is never found.
bool ZnFindInPath(const char* command, ZnStr* fullPath = nullptr);

// The first entry + "/" + command on "PATH" that is a regular file with the
// owner-execute bit; "" when there is none. Stricter than ZnFindInPath, which
// also accepts a directory or a file executable only by others.
ZnStr ZnWhichCommand(const char* command);

// setenv (overwriting) and unsetenv; their results.
int ZnSetEnv(const char* name, const char* value);
int ZnUnsetEnv(const char* name);
// A malloc() copy of the variable's value, or null when it is unset.
char* ZnEnvCopy(const char* name);
bool ZnEnvDefined(const char* name);
// ZnEnvCopy, but an unset variable prints "Environment variable '<name>' not
// defined." on stderr and ends the process with status 1.
char* ZnRequireEnv(const char* name);

// ZnInitLocale(), the one-time locale set-up, lives with the strings whose
// collation it serves.

#endif  // HDRMEND_SYSTEM_ZNENVIRONMENT_H_
