#include "upgrd_util/campaign/night_inputs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/campaign/card_selection.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/campaign/own_files.h"
#include "upgrd_util/campaign/stop_file.h"
#include "upgrd_util/inputs/firmware_selection.h"
#include "upgrd_util/inputs/group_file.h"
#include "upgrd_util/inputs/password_file.h"
#include "upgrd_util/platform/child_process.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

// The options that need no reading.
void TakeTheOptions(const ToolOptions& options, NightInputs* night) {
  night->parallel = options.parallel;
  night->yes = options.yes;
  night->check = options.check;
  night->force = options.force;
  night->plan = options.plan;
  night->plan_only = options.plan && !options.check;
  night->limit = options.limit;
  night->canary_paths = options.canary_paths;
  night->files = options.files;
  night->rollout = options.rollout;
  night->arguments = options.arguments;
  night->argument_list = options.argument_list;
}

// The first line of standard input, which a pipe gives (a task's stdin,
// a secret store's output): the password reaches no file on its way.
bool ReadPasswordFromStdin(const char** password) {
  // Kept for the whole run, as the environment keeps a variable's value.
  static char from_stdin[sizeof(upgrade_target::password)];
  memset(from_stdin, 0, sizeof(from_stdin));
  const char* problem = nullptr;
  std::string line;
  if (platform().console->InputIsTerminal())
    problem = "standard input is a terminal: give the password through a "
              "pipe";
  else if (!platform().console->ReadLine(&line))
    problem = "standard input holds no line";
  else if (line.empty())
    problem = "the first line of standard input is empty";
  else if (line.size() >= sizeof(from_stdin))
    problem = "the first line of standard input is longer than 10 "
              "characters";
  else
    memcpy(from_stdin, line.data(), line.size());
  std::fill(line.begin(), line.end(), '\0');
  if (problem) {
    console_error_printf("upgrd_util: --password-from-stdin: %s\n", problem);
    return false;
  }
  *password = from_stdin;
  return true;
}

// The password of --password-from-env, --password-file or
// --password-from-stdin into *password.
bool ReadPassword(const ToolOptions& options, const char** password) {
  if (options.password_from_stdin)
    return ReadPasswordFromStdin(password);
  const std::string& variable = options.password_variable;
  if (!variable.empty()) {
    // The cards' password is ours alone: no child (the event hook) is
    // given the variable that holds it.
    keep_from_children(variable);
    const char* value = getenv(variable.c_str());
    if (!value || !*value ||
        strlen(value) >= sizeof(upgrade_target::password)) {
      console_error_printf(
          "upgrd_util: --password-from-env: the environment "
          "variable %s %s\n",
          variable.c_str(),
          !value    ? "is not set"
          : !*value ? "is empty"
                    : "holds a password longer than 10 characters");
      return false;
    }
    *password = value;
  }
  if (!options.password_file.empty()) {
    // Kept for the whole run, as the environment keeps a variable's value.
    static char from_file[sizeof(upgrade_target::password)];
    std::string why;
    if (!read_password_file(options.password_file.c_str(), from_file,
                            sizeof(from_file), &why)) {
      console_error_printf("upgrd_util: --password-file: %s\n", why.c_str());
      return false;
    }
    *password = from_file;
  }
  return true;
}

// A report of this run over the one it resumes from would lose that
// history, and a page over a report the records, under whatever name.
// The modules are the tool's own too: config.txt is read quietly here,
// and again, as the dialogue reads it, once the log is open.
bool FilesApart(const OptionFiles& files) {
  char zel[kModuleNameSize] = "", app[kModuleNameSize] = "";
  {
    SilentConsole silent;
    Platform quiet = platform();
    quiet.console = &silent;
    ScopedThreadPlatform seams(&quiet);
    read_firmware_selection(zel, app);
  }
  return option_files_apart(files, {zel, app});
}

// Left from the night it stopped, or made to keep campaigns from
// starting: before any question, the log or the report. A plan alone
// starts nothing.
bool NoStopFile(const NightInputs& night) {
  const std::string& stop_file = night.files.stop_file;
  std::string error;
  if (!night.plan_only && stop_file_present(stop_file, &error)) {
    console_error_printf(
        "upgrd_util: the stop file %s is there: remove it to start a "
        "campaign\n",
        stop_file.c_str());
    return false;
  }
  if (!error.empty()) {
    console_error_printf("upgrd_util: --stop-file: cannot look for %s: %s\n",
                         stop_file.c_str(), error.c_str());
    return false;
  }
  return true;
}

// A hook that cannot start would miss every event of the night, and a
// soak command would fail every card it was to check.
bool FindTheProgram(const char* option, const std::string& command,
                    std::vector<std::string>* words) {
  if (command.empty())
    return true;
  std::vector<std::string> given = command_words(command);
  std::string path, error;
  if (given.empty() || !find_program(given[0], &path, &error)) {
    console_error_printf("upgrd_util: %s: %s\n", option,
                         given.empty() ? "names no program" : error.c_str());
    return false;
  }
  *words = given;
  return true;
}

// The records of --resume's report, which must be this site's: another
// site's history is no history of these cards.
bool ReadTheResumed(const ToolOptions& options, NightInputs* night) {
  const std::string& resume = night->files.resume;
  if (resume.empty())
    return true;
  std::string error, warning;
  if (!read_earlier_records(resume, &night->earlier, &error, &warning) ||
      !report_of_this_site(night->earlier, resume, site_name,
                           !options.site.empty(), &error)) {
    console_error_printf("upgrd_util: --resume: %s\n", error.c_str());
    return false;
  }
  if (!warning.empty())
    console_printf("upgrd_util: --resume: %s\n", warning.c_str());
  return true;
}

// The groups are read with the other inputs; whether they name cards of
// iplist.txt is seen once the cards are read (give_groups).
bool ReadTheGroups(NightInputs* night) {
  const std::string& path = night->files.groups;
  std::string error;
  if (!path.empty() && !read_group_file(path, &night->groups, &error)) {
    console_error_printf("upgrd_util: --groups: %s\n", error.c_str());
    return false;
  }
  return true;
}

// Not refused: the file is written all the same, for another reader.
void WarnOfMetrics(const std::string& metrics) {
  const std::string kEnding = ".prom";
  if (metrics.empty() ||
      (metrics.size() >= kEnding.size() &&
       metrics.compare(metrics.size() - kEnding.size(), kEnding.size(),
                       kEnding) == 0))
    return;
  console_printf(
      "upgrd_util: --metrics: the node exporter's textfile collector "
      "reads only files ending in .prom, not %s\n",
      metrics.c_str());
}

}  // namespace

bool read_night_inputs(const ToolOptions& options, NightInputs* night) {
  TakeTheOptions(options, night);
  site_name = site_of_this_run(options.site);
  if (!ReadPassword(options, &night->password) || !FilesApart(night->files) ||
      !NoStopFile(*night) ||
      !FindTheProgram("--on-event", options.on_event, &night->hook) ||
      !FindTheProgram("--soak-command", options.soak_command,
                      &night->soak_command) ||
      !ReadTheResumed(options, night) || !ReadTheGroups(night))
    return false;
  WarnOfMetrics(night->files.metrics);
  return true;
}

bool option_files_apart_quietly(const OptionFiles& files) {
  SilentConsole silent;
  Platform quiet = platform();
  quiet.console = &silent;
  ScopedThreadPlatform seams(&quiet);
  return FilesApart(files);
}

void count_waves(const std::vector<upgrade_target*>& to_run,
                 NightInputs* night) {
  size_t failed_before = std::count_if(
      to_run.begin(), to_run.end(),
      [](const upgrade_target* card) { return card->state.failed_before; });
  night->waves =
      wave_sizes(night->rollout.waves_given, to_run.size() - failed_before);
  if (failed_before > 0)
    night->waves.push_back(failed_before);
}
