#ifndef UPGRD_UTIL_MODULES_MODULE_BANNER_H_
#define UPGRD_UTIL_MODULES_MODULE_BANNER_H_

/// Bytes of a module file's header; a shorter file is no module.
const int kModuleHeaderSize = 256;

/// Checks that both module files exist and hold a whole header, and prints
/// the start-up banner with each module's name and version from its header.
/// Returns false, having said so and closed the result log, on a missing or
/// short file: the run ends then.
bool show_module_banner(const char* zel_name, const char* app_name);

/// Prints "v", the first `length` characters of `text` joined by ".", and a
/// line end.
void print_dotted_version(const char* text, int length);

/// Prints `count` blanks (none for 0 or less).
void print_blanks(int count);

#endif  // UPGRD_UTIL_MODULES_MODULE_BANNER_H_
