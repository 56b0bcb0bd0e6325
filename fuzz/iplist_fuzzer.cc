// iplist.txt as it comes: every card read has its fields ending within their
// sizes, and the count agrees with the list (-2 for a rejected file).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "upgrd_util/inputs/target_list.h"

namespace {
FakeFtpLibrary ftp;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp(&ftp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzNextRun();
  if (size == 0)
    return 0;  // fmemopen refuses an empty buffer
  FILE* list_file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  FUZZ_CHECK(list_file != nullptr);
  int count = 0;
  upgrade_target* head = read_target_list(&count, list_file);
  fclose(list_file);

  int length = 0;
  for (const upgrade_target* t = head; t; t = t->next) {
    ++length;
    FUZZ_CHECK(memchr(t->ip, '\0', sizeof(t->ip)) != nullptr);
    FUZZ_CHECK(memchr(t->user_name, '\0', sizeof(t->user_name)) != nullptr);
    FUZZ_CHECK(memchr(t->password, '\0', sizeof(t->password)) != nullptr);
    FUZZ_CHECK(t->status == 0);
  }
  if (!head)
    FUZZ_CHECK(count == -2 || count == 0);
  else
    FUZZ_CHECK(count == length);
  free_upgrade_targets(head);
  return 0;
}
