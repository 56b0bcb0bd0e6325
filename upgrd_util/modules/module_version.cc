#include "upgrd_util/modules/module_version.h"

int32_t module_version_number(const char* name) {
  // Positions 0 to 8 hold the maker prefix and hardware ("kvn_hw02_"),
  // whose digits are no part of the version.
  const int kFirst = 9;
  const int kLast = 24;
  int64_t value = 0;
  for (int i = 0; i <= kLast && name[i] != '\0'; ++i) {
    if (i < kFirst || name[i] < '0' || name[i] > '9')
      continue;
    value = value * 10 + (name[i] - '0');
    // Callers compare three-digit versions; anything this long is simply
    // "very new", never a wrapped-around small number.
    if (value > INT32_MAX)
      return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}
