#ifndef UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_
#define UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_

#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/run/tool_options.h"

// The files a campaign reads or writes under names of its own, which no
// option may name: a page or metrics written over one would lose it, and a
// report resumed from one is no report. Some are known only once config.txt
// and iplist.txt are read, so they are checked in three steps.

/// Known from the start: result.txt, iplist.txt, config.txt, the interim
/// patch, the dialogue's listing file and the report's part file.
std::vector<std::string> fixed_own_files(const ToolOptions& options);

/// Once config.txt is read: the module files it names.
std::vector<std::string> module_own_files();

/// Once the cards are known: each one's journal, listing file and saved
/// logs.
std::vector<std::string> card_own_files(const upgrade_target* cards);

/// Returns false, having said on one line which option names which, when a
/// file of option_files(options) is one of `own`, by its name from this
/// directory or by its device and inode.
bool options_spare(const ToolOptions& options,
                   const std::vector<std::string>& own);

#endif  // UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_
