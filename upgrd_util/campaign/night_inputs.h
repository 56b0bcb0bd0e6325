#ifndef UPGRD_UTIL_CAMPAIGN_NIGHT_INPUTS_H_
#define UPGRD_UTIL_CAMPAIGN_NIGHT_INPUTS_H_

#include <map>
#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_timing.h"
#include "upgrd_util/inputs/group_file.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/run/rollout_options.h"
#include "upgrd_util/run/tool_options.h"

/// What a campaign takes from its options, each read and checked once,
/// before anything is written and before any question. The campaign reads
/// this, never the options.
struct NightInputs {
  // How the cards run.
  int parallel = 1;
  bool yes = false;        // ask nothing
  bool check = false;      // a dry run
  bool force = false;      // cards already current run too
  bool plan = false;       // say how the night would go
  bool plan_only = false;  // --plan without --check: no card is contacted
  std::string limit;       // --limit as given
  bool canary_paths = false;  // a first wave of each hardware and path

  // The files the options name: none is another's, nor one of the tool's
  // own, compared as the files they are or will be.
  OptionFiles files;
  // The cards' groups and pairs of --groups, by address.
  std::map<std::string, CardGroup> groups;
  // The records of the report --resume names, this site's.
  std::map<std::string, EarlierRecord> earlier;
  // The password of the cards that give none (the variable's value, the
  // file's line or standard input's); nullptr: none.
  const char* password = nullptr;
  // --on-event's program and its arguments, the program found; empty: no
  // hook.
  std::vector<std::string> hook;
  // --soak-command's, the same way; empty: none. How long the soak is
  // goes with the rollout (rollout.soak_seconds).
  std::vector<std::string> soak_command;

  // Waves, --max-failures, the failure rate, the window, retries, the
  // plan's link rate.
  RolloutOptions rollout;
  // The waves in cards, once the campaign's cards are known (count_waves).
  std::vector<size_t> waves;
  // The configured modules as they are sent, their sizes and waits, once
  // read and (but for the plan alone) copied and hashed: the hashes are
  // the run's (process_state.h), for every card's record.
  PlannedModules modules;

  // The options as given: for the page, and one by one for the events.
  std::string arguments;
  std::vector<std::string> argument_list;
};

/// Reads what `options` name into *night, in this order: this run's site
/// (site_name), the password's variable or file (the variable kept from
/// children), the files apart (with the modules of a quiet reading of
/// config.txt), no stop file (unless the plan alone), the hook's and the
/// soak command's programs, the report to resume and that it is this
/// site's, the groups. Writes nothing.
/// Returns false at the first problem, having said it in one line on
/// standard error; a warning (--resume's, a metrics file the collector
/// would not read) is one line on standard output.
bool read_night_inputs(const ToolOptions& options, NightInputs* night);

/// Whether no two of `files` nor one of them and a file of the tool's own
/// are one file, as read_night_inputs checks them, saying nothing.
bool option_files_apart_quietly(const OptionFiles& files);

/// Sets night->waves for `to_run`: the sizes of night->rollout.waves_given over
/// the cards that did not fail these modules before, which form one more
/// wave after them.
void count_waves(const std::vector<upgrade_target*>& to_run,
                 NightInputs* night);

#endif  // UPGRD_UTIL_CAMPAIGN_NIGHT_INPUTS_H_
