#ifndef UPGRD_UTIL_RUN_TOOL_OPTIONS_H_
#define UPGRD_UTIL_RUN_TOOL_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "upgrd_util/run/rollout_options.h"

/// The files the options name. None may be another's file, nor one of the
/// tool's own (own_files.h).
struct OptionFiles {
  std::string report;    // where each card's record goes, .csv or .jsonl
  std::string resume;    // an earlier report whose upgraded cards are skipped
  std::string html;      // a page that shows the campaign, kept up to date
  std::string metrics;   // the campaign's metrics, for Prometheus
  std::string manifest;  // sha256sum's lines that every module must match
  std::string groups;    // each card's group and pair, CSV
  // Once it is there, no further card starts; there at the start, none.
  std::string stop_file = "upgrd_util.stop";
};

/// An option that names a file, and its field.
struct FileOption {
  const char* option;  // "--report"
  std::string OptionFiles::*file;
};

/// Every option that names a file, once: the checks of their names and of
/// the files they name go through this list.
extern const FileOption kFileOptions[7];

/// How a campaign runs, from the command line (none: the dialogue).
struct ToolOptions {
  int parallel = 1;      // cards upgraded at the same time
  bool yes = false;      // no questions: the list as it is, no Enter at the end
  bool check = false;    // a dry run: probe, login test, version query only
  bool force = false;    // load cards that already run both modules too
  bool plan = false;     // say how the night would go, and end
  OptionFiles files;     // report, resume, html, metrics, manifest, stop file
  std::string password_variable;  // the password of cards that give none
  std::string password_file;      // or the file whose first line it is
  bool password_from_stdin = false;  // or the first line of standard input
  std::string limit;  // "A,B" or "@FILE": only these cards of iplist.txt
  bool canary_paths = false;  // --canary paths: a first wave of each path
  RolloutOptions rollout;  // waves, failures, window, retries, link rate
  // The options as given, the commands' arguments hidden: for the page,
  std::string arguments;
  std::vector<std::string> argument_list;  // and one by one, for events
  std::string command_line;  // the whole, as command_line_shown gives it
  std::string on_event;  // run with each event of the campaign
  // Run for each card that passed its check after the soak (--soak).
  std::string soak_command;
  // Whose cards these are, in every record; empty: the host's name and the
  // working directory's real path.
  std::string site;
};

/// The files that the campaign reads, writes or looks for, each with the
/// option that names it (those not given left out): no two may be one
/// file.
std::vector<std::pair<const char*, std::string>> option_files(
    const OptionFiles& files);

/// The command line `argv` (the program first) as one line a shell would
/// read back: words joined by spaces, those that need it in single quotes.
/// No option takes the cards' password itself (--password-from-env names a
/// variable, --password-file a file); --on-event's and --soak-command's
/// commands are shown as their program alone, for their arguments may
/// carry a chat's token or a user and password (curl -u).
std::string command_line_shown(const std::vector<std::string>& argv);

/// The words `words` as the page and the events show them: each as given,
/// but the commands' arguments hidden as command_line_shown hides them.
std::vector<std::string> arguments_shown(
    const std::vector<std::string>& words);

/// The tool's name and the build's version, as --version says them, on
/// one line.
std::string tool_version_text();

/// Parses the command line into *options. Returns -1 when the campaign is
/// to run; otherwise the exit code, having printed what was asked (--help,
/// --version, --list-outcomes: 0) or one line naming what is wrong (2).
int parse_tool_options(int argc, char** argv, ToolOptions* options);

#endif  // UPGRD_UTIL_RUN_TOOL_OPTIONS_H_
