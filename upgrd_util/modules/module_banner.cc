#include "upgrd_util/modules/module_banner.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/platform.h"

namespace {

const int kVersionOffset = 42;
const int kNameOffset = 91;
const int kNameColumnWidth = 31;

// Reads the header of the module at `path`. Returns false, having said so
// and closed the result log, when there is none.
bool ReadHeader(const std::string& path, char* header) {
  FILE* module = open_regular_file(path.c_str());
  if (!module) {
    console_error_printf("File does not exist: %s\n", path.c_str());
    close_result_log();
    return false;
  }
  size_t got = fread(header, 1, kModuleHeaderSize, module);
  fclose(module);
  if (got < static_cast<size_t>(kModuleHeaderSize)) {
    console_error_printf("This file is not a valid KVN firmware module: %s",
                         path.c_str());
    close_result_log();
    return false;
  }
  return true;
}

// Prints the module's name text from its column on, then its version. Both
// texts end at their NUL or at the end of the header, whichever comes first.
void PrintModuleColumns(const char* header) {
  const char* name = header + kNameOffset;
  int name_length =
      static_cast<int>(strnlen(name, kModuleHeaderSize - kNameOffset));
  const char* version = header + kVersionOffset;
  int version_length =
      static_cast<int>(strnlen(version, kModuleHeaderSize - kVersionOffset));
  platform().console->Write(
      printable_text(std::string_view(name, name_length)));
  print_blanks(kNameColumnWidth - name_length);
  print_dotted_version(version, version_length);
}

}  // namespace

bool show_module_banner(const char* zel_name, const char* app_name) {
  char header[kModuleHeaderSize];

  if (!ReadHeader(std::string(kCurrentDirectoryPrefix) + zel_name, header))
    return false;
  char stamp[kTimestampSize];
  format_timestamp(stamp);
  console_printf("%s\n%s\n", kToolName, stamp);
  console_printf("\n\n%-40s", "Korvane");
  PrintModuleColumns(header);

  if (!ReadHeader(std::string(kCurrentDirectoryPrefix) + app_name, header))
    return false;
  console_printf("%-40s", "(c) Korvane. All rights reserved.");
  PrintModuleColumns(header);
  console_printf("%s\n", std::string(77, '-').c_str());
  return true;
}

void print_dotted_version(const char* text, int length) {
  std::string shown = printable_text(std::string_view(text, length));
  std::string line = "v";
  for (size_t i = 0; i < shown.size(); ++i) {
    if (i > 0)
      line += '.';
    line += shown[i];
  }
  line += '\n';
  platform().console->Write(line);
}

void print_blanks(int count) {
  for (int i = 0; i < count; ++i)
    platform().console->Write(" ");
}
