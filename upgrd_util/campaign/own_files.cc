#include "upgrd_util/campaign/own_files.h"

#include <filesystem>
#include <set>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"

namespace {

namespace fs = std::filesystem;

// `path` from this directory, links resolved as far as it exists, "."s and
// ".."s taken out: "./result.txt", "sub/../result.txt" and the absolute
// name all give "result.txt".
// `here` is this directory, canonical.
std::string FromHere(const fs::path& here, const std::string& path) {
  std::error_code error;
  fs::path full = fs::weakly_canonical(fs::absolute(path, error), error);
  if (error || here.empty())
    return fs::path(path).lexically_normal().generic_string();
  return full.lexically_relative(here).generic_string();
}

}  // namespace

std::vector<std::string> fixed_own_files(const ToolOptions& options) {
  std::vector<std::string> own = {kResultLogName, "iplist.txt", "config.txt",
                                  kInterimPatchName, "foundfir.txt"};
  if (!options.report.empty())
    own.push_back(options.report + ".part");
  return own;
}

std::vector<std::string> module_own_files() {
  return {zel_module_name, app_module_name};
}

std::vector<std::string> card_own_files(const upgrade_target* cards) {
  std::vector<std::string> own;
  for (const upgrade_target* card = cards; card; card = card->next) {
    for (const char* ending :
         {"_upgrade.txt", "_foundfir.txt", "_data.txt", "_event.txt"})
      own.push_back(card->ip + std::string(ending));
  }
  return own;
}

bool options_spare(const ToolOptions& options,
                   const std::vector<std::string>& own) {
  std::error_code error;
  fs::path here = fs::weakly_canonical(fs::current_path(error), error);
  std::set<std::string> names;
  for (const std::string& name : own)
    names.insert(FromHere(here, name));
  for (const auto& [option, path] : option_files(options)) {
    std::string named = FromHere(here, path);
    bool own_file = names.count(named) > 0;
    // A hard link: only the files themselves tell.
    bool exists = fs::exists(path, error);
    for (size_t i = 0; !own_file && exists && i < own.size(); ++i) {
      own_file = same_file(own[i].c_str(), path.c_str());
      named = own[i];
    }
    if (own_file) {
      console_error_printf("upgrd_util: %s %s names the tool's own file %s\n",
                           option, path.c_str(), named.c_str());
      return false;
    }
  }
  return true;
}
