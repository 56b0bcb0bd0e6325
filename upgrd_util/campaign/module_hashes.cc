#include "upgrd_util/campaign/module_hashes.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/module_manifest.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/sha256.h"

ModuleCopies::~ModuleCopies() {
  if (directory_.empty())
    return;
  if (module_copies == directory_)
    module_copies.clear();
  for (const auto& [path, held] : files_) {
    remove(path.c_str());
    release_temporary_file(held);
  }
  std::error_code ignored;
  std::filesystem::remove(directory_, ignored);
}

bool ModuleCopies::Add(const char* name, std::string* hex,
                       std::string* error) {
  if (directory_.empty() &&
      !make_private_directory("upgrd_util_modules.", &directory_, error)) {
    *error = "cannot copy the modules: " + *error;
    return false;
  }
  std::string copy = (std::filesystem::path(directory_) / name).string();
  // config.txt may name the interim patch as its ZEL: one copy serves both.
  for (const auto& file : files_) {
    if (file.first == copy)
      return sha256_file(copy, hex, error);
  }
  files_.emplace_back(copy, hold_temporary_file(copy.c_str()));
  return sha256_copy(std::string(kCurrentDirectoryPrefix) + name, copy, hex,
                     error);
}

bool check_module_hashes(const std::string& manifest, ModuleCopies* copies) {
  Manifest listed;
  std::string error;
  // A manifest that cannot be read is said before the modules are read.
  if (!manifest.empty() && !read_manifest(manifest, &listed, &error)) {
    console_error_printf("upgrd_util: --manifest: %s\n", error.c_str());
    return false;
  }
  bool patch_here = interim_patch_here();
  struct {
    const char* name;
    char* sha256;
  } modules[] = {{zel_module_name, zel_module_sha256},
                 {app_module_name, app_module_sha256},
                 {kInterimPatchName, patch_module_sha256}};
  std::vector<ModuleDigest> digests;
  for (const auto& module : modules) {
    if (module.sha256 == patch_module_sha256 && !patch_here)
      continue;
    std::string hex;
    if (!copies->Add(module.name, &hex, &error)) {
      console_error_printf("upgrd_util: %s\n", error.c_str());
      return false;
    }
    snprintf(module.sha256, kSha256HexSize, "%s", hex.c_str());
    digests.push_back({module.name, hex});
  }
  if (!manifest.empty() && !manifest_lists(manifest, listed, digests, &error)) {
    console_error_printf("upgrd_util: --manifest: %s\n", error.c_str());
    return false;
  }
  module_copies = copies->directory();
  return true;
}
