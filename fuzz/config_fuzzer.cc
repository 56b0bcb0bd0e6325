// config.txt as it comes: the two module names must always end within their
// buffers, whatever the lines hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "upgrd_util/inputs/firmware_selection.h"

namespace {
FakeFtpLibrary ftp;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp(&ftp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNextRun();
  FILE* config = fopen("config.txt", "wb");
  FUZZ_CHECK(config != nullptr);
  FUZZ_CHECK(fwrite(data, 1, size, config) == size);
  fclose(config);

  zel_module_name[0] = app_module_name[0] = '\0';
  read_firmware_selection(zel_module_name, app_module_name);
  FUZZ_CHECK(memchr(zel_module_name, '\0', kModuleNameSize) != nullptr);
  FUZZ_CHECK(memchr(app_module_name, '\0', kModuleNameSize) != nullptr);
  return 0;
}
