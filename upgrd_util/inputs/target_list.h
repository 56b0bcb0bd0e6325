#ifndef UPGRD_UTIL_INPUTS_TARGET_LIST_H_
#define UPGRD_UTIL_INPUTS_TARGET_LIST_H_

#include <cstdio>

#include "upgrd_util/base/upgrade_target.h"

/// Reads the cards of iplist.txt from `list_file` (open, left open): per
/// card a "SystemIP=", a "SystemUserName=" and a "SystemPassword=" line, one
/// right after the other; lines holding ";" and all other lines between
/// cards are skipped. Adds one to *count per card and returns the list in
/// file order, or nullptr when there is none. On a malformed card it reports
/// the line number on the console and in the result log, sets *count to -2
/// and returns nullptr. With a `default_password`, a card whose
/// "SystemPassword=" line is missing gets that password instead.
/// *reading, when given, tells more of what the file held.
struct ListReading {
  bool any_password = false;      // a card had a password line of its own
  bool password_missing = false;  // the error was a missing password line
};
upgrade_target* read_target_list(int* count, FILE* list_file,
                                 const char* default_password = nullptr,
                                 ListReading* reading = nullptr);

#endif  // UPGRD_UTIL_INPUTS_TARGET_LIST_H_
