#include "upgrd_util/platform/append_file.h"

#include <atomic>
#include <cerrno>

namespace {
std::atomic<bool> g_syncs_skipped{false};
DiskSyncs g_system_syncs;
std::atomic<DiskSyncs*> g_disk_syncs{&g_system_syncs};
}  // namespace

void install_disk_syncs(DiskSyncs* syncs) {
  g_disk_syncs = syncs ? syncs : &g_system_syncs;
}

DiskSyncs* disk_syncs() {
  return g_disk_syncs;
}

void skip_syncs_for_benchmarks() {
  g_syncs_skipped = true;
}

bool syncs_skipped() {
  return g_syncs_skipped;
}

bool disk_full_error(int error) {
#ifdef EDQUOT
  if (error == EDQUOT)
    return true;
#endif
  return error == ENOSPC;
}
