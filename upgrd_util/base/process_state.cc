#include "upgrd_util/base/process_state.h"

FILE* result_log = nullptr;
char zel_module_name[kModuleNameSize];
char app_module_name[kModuleNameSize];
char zel_module_sha256[kSha256HexSize];
char app_module_sha256[kSha256HexSize];
char patch_module_sha256[kSha256HexSize];
bool iplist_found = false;
char run_id[40];
std::string module_copies;
std::string site_name;
char addresses_sha256[kSha256HexSize];
std::string run_by_user;
std::string run_by_host;
std::string command_line;
std::string tool_version;

void reset_process_state() {
  if (result_log)
    fclose(result_log);
  result_log = nullptr;
  zel_module_name[0] = '\0';
  app_module_name[0] = '\0';
  zel_module_sha256[0] = '\0';
  app_module_sha256[0] = '\0';
  patch_module_sha256[0] = '\0';
  iplist_found = false;
  run_id[0] = '\0';
  module_copies.clear();
  site_name.clear();
  addresses_sha256[0] = '\0';
  run_by_user.clear();
  run_by_host.clear();
  command_line.clear();
  tool_version.clear();
}
