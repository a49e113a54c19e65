// The one line that reports on one file: a --check verdict, or the line with
// a file's name before its report when a run has several.
//
// A file name may hold anything but a NUL and a slash, a line feed included,
// and a name that printed two lines could pass off a verdict for a file that
// does not exist. So a name (and a reason that may quote one) is written with
// C escapes where it holds a backslash or a control character, and such a
// line begins with a backslash, as the checksum tools of GNU coreutils write
// theirs: whoever reads the lines can always split them, and unescapes those
// that begin with a backslash.
#ifndef HDRMEND_APP_FILELINE_H_
#define HDRMEND_APP_FILELINE_H_

#include <string>

// `name` followed by `rest`, both escaped (\\, \n, \r, \t, \ooo for any other
// control character), and preceded by a backslash when anything was escaped.
// No line feed at the end.
std::string FileLine(const std::string& name, const std::string& rest);

#endif  // HDRMEND_APP_FILELINE_H_
