// Text utilities on ZnStr: environment-variable references, indentation,
// natural and locale-aware order, common prefixes and suffixes of name sets,
// numbered names.
//
// The member utilities are declared in foundation/ZnStr.h and defined with
// these functions in foundation/ZnStrText.cc:
//
//   dedent()             removes the indentation common to all non-empty lines
//                        (one whitespace character, repeated); leading empty
//                        lines are dropped.
//   expandEnvVars()      replaces each "$NAME" (NAME ends at "/", space, tab,
//                        form feed, line feed or the end) by the variable's
//                        value; a '$' that names no variable stays. Values are
//                        expanded in turn, at most 32 levels deep and while
//                        the text has grown by at most 1 MiB; references past
//                        either bound stay as written, so a value naming its
//                        own variable cannot expand without end.
//   abbreviateEnvVar(n)  replaces every occurrence of variable n's value by
//                        "$n/", then every "//" in the text by "/"; false,
//                        with nothing changed, when n is unset, its value is
//                        empty or does not occur.
//   commonPrefix(set), commonSuffix(set)
//                        the longest prefix (suffix) shared by all members;
//                        empty for fewer than two members. Empty members are
//                        passed over.
//   commonSuffixOfList(list)
//                        commonSuffix of the distinct ZnStr values a list
//                        points to (null elements are passed over).
//   splitTrailingNumber(number, src)
//                        the string becomes src without its trailing digits;
//                        *number gets their value (1 when there are none,
//                        INT_MAX when they do not fit in an int).
//   nextNumberedName()   the trailing number stepped by one, without leading
//                        zeros; a name without one gets 2 ("run" -> "run2").
//   collate(s)           strcoll() after the process's one-time locale set-up.
//
// Nothing here reports through the message list; none of it fails.
#ifndef HDRMEND_FOUNDATION_ZNSTRTEXT_H_
#define HDRMEND_FOUNDATION_ZNSTRTEXT_H_

#include <set>

#include "foundation/ZnStr.h"

// Compares with runs of digits taken as numbers of any size, so "file9" sorts
// before "file10" and "a01" equals "a1". Negative, 0 or positive; where the
// texts differ outside aligned numbers the result is strcmp()'s.
int ZnNaturalCompare(const ZnStr& a, const ZnStr& b);

// The common prefix and suffix of set. Where a member is too short to hold
// both apart (in {"ab", "abb"}, "ab" holds prefix "ab" and suffix "b" only
// overlapping), both are cut by the largest such overlap: "a" and "".
void ZnCommonAffixes(ZnStr& prefix, ZnStr& suffix, const std::set<ZnStr>& set);

#endif  // HDRMEND_FOUNDATION_ZNSTRTEXT_H_
