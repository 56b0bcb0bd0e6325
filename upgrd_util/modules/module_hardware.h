#ifndef UPGRD_UTIL_MODULES_MODULE_HARDWARE_H_
#define UPGRD_UTIL_MODULES_MODULE_HARDWARE_H_

#include <string>
#include <string_view>

/// The hardware a module file is for, from its name: the two digits after
/// "kvn_hw" in a name that starts "kvn_hwNN_" ("02" for
/// kvn_hw02_zel_211.bin). Empty for a name of any other shape.
std::string module_hardware_id(std::string_view name);

/// False only when both names carry a hardware id and the ids differ. A
/// name without one tells nothing of its hardware, and is not compared.
bool same_hardware(std::string_view listed, std::string_view configured);

#endif  // UPGRD_UTIL_MODULES_MODULE_HARDWARE_H_
