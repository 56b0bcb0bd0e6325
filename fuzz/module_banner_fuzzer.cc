// Module headers as they come: the first 256 bytes are the ZEL module, the
// rest the APP module, each padded with NULs to a whole header (a shorter
// file ends the process, which is not what is looked at here).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "upgrd_util/modules/module_banner.h"

namespace {

FakeFtpLibrary ftp;

void WriteModule(const char* path, const uint8_t* data, size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);
  content.resize(std::max<size_t>(size, kModuleHeaderSize), '\0');
  FILE* module = fopen(path, "wb");
  FUZZ_CHECK(module != nullptr);
  FUZZ_CHECK(fwrite(content.data(), 1, content.size(), module) ==
             content.size());
  fclose(module);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp(&ftp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNextRun();
  size_t zel_size = std::min<size_t>(size, kModuleHeaderSize);
  WriteModule("zel.bin", data, zel_size);
  WriteModule("app.bin", data + zel_size, size - zel_size);
  show_module_banner("zel.bin", "app.bin");

  // The helpers alone, with lengths from the first bytes (blanks may be
  // negative), never reading past the input.
  if (size >= 2) {
    int length = std::min<int>(data[0] % 64, static_cast<int>(size));
    print_dotted_version(reinterpret_cast<const char*>(data), length);
    print_blanks(static_cast<int8_t>(data[1]));
  }
  return 0;
}
