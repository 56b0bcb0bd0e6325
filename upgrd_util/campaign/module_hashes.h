#ifndef UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_
#define UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_

#include <string>

/// Once config.txt is read, before any question: hashes each module file
/// the campaign may load, each once for the run: the ZEL and APP of
/// config.txt, and the interim patch when it is here (without it no card
/// loads one). Keeps each SHA-256 for the report and the page
/// (process_state.h). With a `manifest` (--manifest FILE) every one of them
/// must be listed there with that SHA-256. Returns false, having said why in
/// one line on standard error, otherwise.
bool check_module_hashes(const std::string& manifest);

#endif  // UPGRD_UTIL_CAMPAIGN_MODULE_HASHES_H_
