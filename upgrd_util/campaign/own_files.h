#ifndef UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_
#define UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_

#include <string>
#include <vector>

#include "upgrd_util/run/tool_options.h"

// The files a campaign reads or writes under names of its own, which no
// option may name: a page or metrics written over one would lose it, and a
// report resumed from one is no report. Nor may two options name one file.

/// The campaign's process id while it runs, beside result.txt.
extern const char kPidFileName[];

/// The lock a run holds on its report, beside it: another run naming the
/// same report, from any directory, is refused.
std::string report_lock_path(const std::string& report);

/// result.txt, iplist.txt, config.txt, the interim patch, the dialogue's
/// listing file, the pid file, the report's part file and lock, and
/// `modules` (the two that config.txt names).
std::vector<std::string> own_files(const OptionFiles& files,
                                   const std::vector<std::string>& modules);

/// Returns false, having said on one line which option names which, when
/// two files of option_files(files) are one, or one is a file of
/// own_files or a name the tool gives a card's files in this directory
/// ("<address>_upgrade.txt", "_foundfir.txt", "_data.txt", "_event.txt",
/// whatever cards iplist.txt lists): each name taken for the file it is or
/// will be (one_file).
bool option_files_apart(const OptionFiles& files,
                        const std::vector<std::string>& modules);

#endif  // UPGRD_UTIL_CAMPAIGN_OWN_FILES_H_
