#include "app/Refusal.h"

#include "foundation/ZnMessage.h"
#include "foundation/ZnStr.h"

void PrintRefusal(const char* verb, const char* name, bool offerSalvage) {
  // Composed whole: a formatted message would be cut at 1023 characters, and
  // a path may be longer.
  ZnReportError(ZnStr("Unable to ") + verb + " \"" + name + "\".  The file was not changed.");
  if (offerSalvage) {
    // The block's last line is the oldest message's: the line goes under it.
    ZnMessage* oldest = ZnMessages.first();
    while (oldest->next() != nullptr) oldest = oldest->next();
    oldest->setText(oldest->text() +
                    "\nTo keep every frame that reads whole, run 'hdrmend --salvage' on the "
                    "file; it keeps the original beside the result.");
  }
  ZnFlushMessages();
}
