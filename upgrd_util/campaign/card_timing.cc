#include "upgrd_util/campaign/card_timing.h"

#include <filesystem>
#include <system_error>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/module_loading.h"

namespace {

// A module's size as it will be sent; one that is not there uploads
// nothing.
double SizeOf(const char* name) {
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(module_file(name), error);
  return error ? 0 : static_cast<double>(size);
}

}  // namespace

PlannedModules configured_modules() {
  PlannedModules modules;
  modules.zel_bytes = SizeOf(zel_module_name);
  modules.app_bytes = SizeOf(app_module_name);
  modules.patch_bytes = SizeOf(kInterimPatchName);
  modules.zel_wait = zel_wait_seconds();
  modules.app_wait = app_wait_seconds();
  modules.patch_wait = kPatchWaitSeconds;
  return modules;
}

std::vector<PathStep> path_steps(CardPath path, const PlannedModules& modules) {
  if (path == PATH_UNANSWERED)
    return {{false, kPlannedUnansweredSeconds}};
  std::vector<PathStep> steps = {{false, kPlannedStartSeconds}};
  auto load = [&](double bytes, double wait) {
    steps.push_back({true, bytes});
    steps.push_back({false, wait + kPlannedLoadSeconds});
  };
  if (path == PATH_PATCH_FIRST)
    load(modules.patch_bytes, modules.patch_wait);
  if (path == PATH_PATCH_FIRST || path == PATH_BOTH)
    load(modules.zel_bytes, modules.zel_wait);
  if (path_loads(path))
    load(modules.app_bytes, modules.app_wait);
  return steps;
}

double path_seconds(CardPath path, const PlannedModules& modules,
                    double link_rate, bool from_listing) {
  std::vector<PathStep> steps = path_steps(path, modules);
  double seconds = 0;
  for (size_t i = from_listing ? kStepsBeforeLoads : 0; i < steps.size(); ++i)
    seconds += steps[i].upload ? steps[i].amount / link_rate : steps[i].amount;
  return seconds;
}
