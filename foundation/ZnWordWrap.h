// Word wrapping for the message printer.
#ifndef HDRMEND_FOUNDATION_ZNWORDWRAP_H_
#define HDRMEND_FOUNDATION_ZNWORDWRAP_H_

#include "foundation/ZnStr.h"

// Returns `text` broken into lines of at most `width` columns, tabs reaching
// the next multiple of `tabWidth` (a tabWidth below 1 counts as 1). A line is
// broken at its last blank (space, tab or newline), which is dropped with the
// spaces and tabs after it; a word longer than the width stays whole. Newlines
// in the text end lines; an empty line stays. No newline is added at the end.
// `text` must not be null.
ZnStr ZnWordWrap(const ZnStr& text, int width, int tabWidth);

#endif  // HDRMEND_FOUNDATION_ZNWORDWRAP_H_
