#include "upgrd_util/modules/module_hardware.h"

std::string module_hardware_id(std::string_view name) {
  const std::string_view kPrefix = "kvn_hw";
  if (name.size() < kPrefix.size() + 3 ||
      name.substr(0, kPrefix.size()) != kPrefix)
    return "";
  std::string_view id = name.substr(kPrefix.size(), 2);
  for (char c : id) {
    if (c < '0' || c > '9')
      return "";
  }
  if (name[kPrefix.size() + 2] != '_')
    return "";
  return std::string(id);
}

bool same_hardware(std::string_view listed, std::string_view configured) {
  std::string listed_id = module_hardware_id(listed);
  std::string configured_id = module_hardware_id(configured);
  return listed_id.empty() || configured_id.empty() ||
         listed_id == configured_id;
}
