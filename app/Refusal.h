// How a run that leaves a file as it was says so.
//
// Whatever stopped it (a name that leads nowhere, damage, a folder that
// cannot be written, a failed rename), the block of messages begins with
// "Unable to <verb> \"<name>\".  The file was not changed.", the name as the
// user gave it, and the messages that say why follow, most general first.
// Where the cause is damage that a salvage rescues, the block ends with a
// line that says how.
#ifndef HDRMEND_APP_REFUSAL_H_
#define HDRMEND_APP_REFUSAL_H_

// Adds the refusal on top of the pending messages, and the salvage's line
// under them when `offerSalvage`, and prints them as one block on standard
// error; the list is empty afterwards. `verb` is "repair" or "salvage".
void PrintRefusal(const char* verb, const char* name, bool offerSalvage = false);

#endif  // HDRMEND_APP_REFUSAL_H_
