// Module names as they come: the version number is never negative.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "upgrd_util/modules/module_version.h"

namespace {
FakeFtpLibrary ftp;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp(&ftp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNextRun();
  std::string name(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(module_version_number(name.c_str()) >= 0);
  return 0;
}
