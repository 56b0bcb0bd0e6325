#include "upgrd_util/campaign/own_files.h"

#include <filesystem>

#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/file_names.h"
#include "upgrd_util/platform/ipv4_address.h"

const char kPidFileName[] = "upgrd_util.pid";

namespace {

// True when `path` is, in this directory, a name the tool gives a card's
// files: a card listed on another night would write it.
bool CardFileName(const std::string& path) {
  std::filesystem::path named(resolved_name(path));
  if (named.parent_path() !=
      std::filesystem::path(resolved_name("x")).parent_path())
    return false;
  std::string last = named.filename().string();
  for (const char* ending :
       {"_upgrade.txt", "_foundfir.txt", "_data.txt", "_event.txt"}) {
    std::string end = ending;
    if (last.size() > end.size() &&
        last.compare(last.size() - end.size(), end.size(), end) == 0 &&
        parse_ipv4_address(last.substr(0, last.size() - end.size()).c_str()))
      return true;
  }
  return false;
}

}  // namespace

std::string report_lock_path(const std::string& report) {
  return report + ".lock";
}

std::vector<std::string> own_files(const OptionFiles& files,
                                   const std::vector<std::string>& modules) {
  std::vector<std::string> own = {kResultLogName,     "iplist.txt",
                                  "config.txt",       kInterimPatchName,
                                  "foundfir.txt",     kPidFileName};
  if (!files.report.empty()) {
    own.push_back(files.report + ".part");
    own.push_back(report_lock_path(files.report));
  }
  for (const std::string& module : modules) {
    if (!module.empty())
      own.push_back(module);
  }
  return own;
}

bool option_files_apart(const OptionFiles& files,
                        const std::vector<std::string>& modules) {
  std::vector<std::pair<const char*, std::string>> named = option_files(files);
  std::vector<std::string> own = own_files(files, modules);
  for (size_t i = 0; i < named.size(); ++i) {
    const auto& [option, path] = named[i];
    for (size_t k = 0; k < i; ++k) {
      if (!one_file(named[k].second, path))
        continue;
      console_error_printf("upgrd_util: %s and %s name one file: %s\n",
                           named[k].first, option, path.c_str());
      return false;
    }
    std::string named;
    for (size_t k = 0; k < own.size() && named.empty(); ++k) {
      if (one_file(own[k], path))
        named = own[k];
    }
    if (named.empty() && CardFileName(path))
      named = std::filesystem::path(path).filename().string();
    if (!named.empty()) {
      console_error_printf("upgrd_util: %s %s names the tool's own file %s\n",
                           option, path.c_str(), named.c_str());
      return false;
    }
  }
  return true;
}
