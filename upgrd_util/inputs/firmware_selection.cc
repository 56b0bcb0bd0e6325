#include "upgrd_util/inputs/firmware_selection.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "upgrd_util/inputs/line_scan.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"

namespace {

// Takes the name from `line` into `name`. A name that does not fit is
// refused, never cut: a cut name would upload or expect another file.
bool TakeName(const char* line, const char* pattern, const char* key,
              char* name) {
  std::string value;
  if (!scan_line(line, pattern, &value))
    return false;
  if (value.size() >= static_cast<size_t>(kModuleNameSize)) {
    console_error_printf(
        "\tThe %s module name in config.txt is longer than %d "
        "characters: %s\n",
        key, kModuleNameSize - 1, value.c_str());
    return false;
  }
  memcpy(name, value.c_str(), value.size() + 1);
  return true;
}

}  // namespace

bool read_firmware_selection(char* zel_name, char* app_name) {
  // Only a regular file counts: a directory would read as empty, and a FIFO
  // would block the run for ever.
  FILE* config = open_regular_file("config.txt");
  if (!config) {
    console_error_printf("Configuration file (config.txt) does not exist.\n");
    return false;
  }
  skip_byte_order_mark(config);
  char line[kLineBufferSize];
  if (read_line_piece(config, line) &&
      TakeName(line, "ZEL = %s", "ZEL", zel_name)) {
    log_printf("Using ZEL file        : %s", line);
    log_flush();
    if (read_line_piece(config, line) &&
        TakeName(line, "APP = %s", "APP", app_name)) {
      log_printf("Using Application file: %s\n\n", line);
      log_flush();
    }
  }
  fclose(config);
  return true;
}
