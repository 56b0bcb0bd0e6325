#ifndef UPGRD_UTIL_MODULES_MODULE_VERSION_H_
#define UPGRD_UTIL_MODULES_MODULE_VERSION_H_

#include <cstdint>

/// The version number carried by a module file name: all decimal digits at
/// positions 9 to 24 joined in order ("kvn_hw02_zel_211.bin" gives 211).
/// No digit gives 0; a number above INT32_MAX gives INT32_MAX.
int32_t module_version_number(const char* name);

#endif  // UPGRD_UTIL_MODULES_MODULE_VERSION_H_
