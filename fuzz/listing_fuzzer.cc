// A card's listing as it comes, scanned directly and through the version
// query (the fake library's listing holds the input's bytes unchanged). The
// first byte picks the query's mode: 0, 1, or another value.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/platform/ftp_library.h"

namespace {

struct RawListingFtp : public FakeFtpLibrary {
  int Ls(int handle, const char* /*path*/, const char* local) override {
    FILE* out = fopen(local, "wb");
    if (handle <= 0 || !out)
      return -1;
    fwrite(raw.data(), 1, raw.size(), out);
    fclose(out);
    return 0;
  }
  std::string raw;
};

RawListingFtp ftp;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp(&ftp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNextRun();
  if (size == 0)
    return 0;
  std::string name;
  FILE* listing = fmemopen(const_cast<uint8_t*>(data), size, "r");
  FUZZ_CHECK(listing != nullptr);
  scan_listing(listing, &name);
  fclose(listing);

  // '0', '1' and '2' as first byte give modes 0, 1 and "another value".
  int mode = data[0] % 3 == 2 ? 7 : data[0] % 3;
  ftp.raw.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  ftp.calls.clear();
  ftp.open_handles.clear();
  ftp.next_handle = 1;
  upgrade_target card = {};
  set_target_ip(&card, "192.0.2.10");
  set_target_user_name(&card, ftp.user);
  set_target_password(&card, ftp.password);
  int result = query_firmware_version(&card, mode);
  FUZZ_CHECK(result == -2 || (result >= 0 && result <= 4));
  return 0;
}
