// The process's one-time locale set-up, which string collation relies on.
//
// Nothing here reports through the message list; a missing "LANG" is only
// printed on the standard error stream.
#ifndef HDRMEND_FOUNDATION_ZNLOCALE_H_
#define HDRMEND_FOUNDATION_ZNLOCALE_H_

// Runs once per process; later calls do nothing. Without "LANG" prints
// "LANG environment variable is not defined!" on stderr. When "LANG" names a
// language (its text before any "." is not empty) every locale category is set
// to "POSIX", so that collation is the same byte order whatever the user's
// language.
void ZnInitLocale();

#endif  // HDRMEND_FOUNDATION_ZNLOCALE_H_
