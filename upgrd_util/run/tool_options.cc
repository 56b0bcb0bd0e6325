#include "upgrd_util/run/tool_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/rollout_options.h"

#ifndef UPGRD_BUILD_VERSION
#define UPGRD_BUILD_VERSION "unknown"
#endif

namespace {

const char kDescription[] =
    "Upgrades the ZEL (operating system) and APP (application) modules of\n"
    "the cards listed in iplist.txt with the module files named in\n"
    "config.txt, all in the current directory.\n\n"
    "Without options the tool asks its questions at the console and\n"
    "upgrades one card after the other. With any option it runs a\n"
    "campaign: several cards at once, each through the same steps, waits\n"
    "and retries; each card's entries go to result.txt as one block when\n"
    "it ends, and to its journal <address>_upgrade.txt as they happen.\n\n"
    "Exit code of a campaign: 0 when every card was upgraded, 1 when a\n"
    "card failed or was not started, 2 for a bad option or input file.\n\n"
    "Examples:\n"
    "  upgrd_util --parallel 20 --max-failures 5\n"
    "      upgrade up to 20 cards at a time; once 5 have failed, start no\n"
    "      further card\n"
    "  upgrd_util --yes --check -j 50 --report check.csv\n"
    "      before the window: what would an upgrade do to each card?\n"
    "  upgrd_util --yes -j 50 --report night.jsonl > night.txt\n"
    "      the campaign itself, unattended (from cron, say)\n"
    "  upgrd_util --yes -j 50 --resume night.jsonl --report rerun.jsonl\n"
    "      again, for every card that night.jsonl does not list as done\n"
    "      for these modules\n";

// A whole number from `low` to `high` in plain digits (no sign, blank or
// base prefix), and a message that says so.
CLI::Validator WholeNumber(int low, int high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        const char* end = text.data() + text.size();
        int value = 0;
        std::from_chars_result read = std::from_chars(text.data(), end, value);
        if (text.empty() || text[0] < '0' || text[0] > '9' ||
            read.ec != std::errc() || read.ptr != end || value < low ||
            value > high)
          return text + " is not a whole number from " + std::to_string(low) +
                 " to " + std::to_string(high);
        return "";
      },
      "");
}

// Every outcome in order, and what the tool makes of it, as one JSON
// document: scripts that read reports take their words from here.
std::string OutcomeList() {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    const OutcomeWords& words = outcome_words(static_cast<CardOutcome>(o));
    list.push_back({{"word", words.word},
                    {"failure", words.failure},
                    {"done", words.done},
                    {"module_failure", words.module_failure},
                    {"retryable", words.retryable},
                    {"colour", words.colour},
                    {"said", words.said},
                    {"summary", words.summary ? nlohmann::ordered_json(
                                                    words.summary)
                                              : nlohmann::ordered_json()}});
  }
  return list.dump(2) + "\n";
}

// Asked for by --list-outcomes, which, like --version, ends the parse.
struct ListOutcomes : public CLI::Success {};

// The rollout options as given, read into RolloutOptions once parsed.
struct RolloutTexts {
  std::string waves;
  std::string max_failure_rate;
  std::string not_after;
  std::string link_rate;
  std::string soak;
  std::string group_rate;
};

// The options that print something and end: --version, --list-outcomes.
void AddEndingOptions(CLI::App* app) {
  app->set_version_flag("--version",
                        std::string(kToolName) + "\nbuild " UPGRD_BUILD_VERSION,
                        "Print the tool's name and the build's version, then "
                        "exit");
  app->add_flag_callback("--list-outcomes", [] { throw ListOutcomes(); },
                         "Print the outcomes a card can end with, as JSON:\n"
                         "each one's report word, console text, colour, and\n"
                         "whether it is a failure, done, a module failure or\n"
                         "retryable; then exit");
}

// How the cards run: how many at once, the failures after which none
// starts, questions, a dry run, cards already current.
void AddRunOptions(CLI::App* app, ToolOptions* options) {
  app->add_option("-j,--parallel", options->parallel,
                  "Upgrade up to N cards at the same time, 1 to 1024\n"
                  "(default 1: one card at a time)")
      ->type_name("N")
      ->check(WholeNumber(1, 1024));
  app->add_option("--max-failures", options->rollout.max_failures,
                  "Once N cards have failed, start no further card;\n"
                  "the cards already started finish (default: no limit)")
      ->type_name("N")
      ->check(WholeNumber(1, 1000000));
  app->add_flag("-y,--yes", options->yes,
                "Ask nothing: use iplist.txt without the start-up menu,\n"
                "and end without waiting for Enter (default: ask)");
  app->add_flag("--check", options->check,
                "A dry run that changes nothing on any card: reachability,\n"
                "login and version of each, and what an upgrade would do\n"
                "(default: upgrade)");
  app->add_flag("--force", options->force,
                "Load also the cards that already run both configured\n"
                "modules (default: leave them as they are)");
}

// The files the campaign writes as it goes, and the report it resumes.
void AddOutputOptions(CLI::App* app, OptionFiles* files) {
  app->add_option("--report", files->report,
                  "Write a record per card to FILE as the card ends:\n"
                  "FILE.csv (a header row) or FILE.jsonl (JSON lines)\n"
                  "(default: no report)")
      ->type_name("FILE");
  app->add_option("--resume", files->resume,
                  "Skip the cards that the report FILE of an earlier\n"
                  "campaign lists as done for these modules (default:\n"
                  "skip none)")
      ->type_name("FILE");
  app->add_option("--html", files->html,
                  "Keep FILE an HTML page of the campaign, written anew\n"
                  "as cards end: outcomes, versions, a timeline, and\n"
                  "the failed cards' last log lines (default: none)")
      ->type_name("FILE");
  app->add_option("--metrics", files->metrics,
                  "Keep FILE the campaign's metrics in Prometheus's text\n"
                  "format, for the node exporter's textfile collector:\n"
                  "a FILE.prom in its directory (default: none)")
      ->type_name("FILE");
}

// The rollout: waves, the failure rate, the window, retries, and the plan.
void AddRolloutOptions(CLI::App* app, ToolOptions* options,
                       RolloutTexts* texts) {
  app->add_option("--waves", texts->waves,
                  "Start the cards in waves of these sizes, counts up to\n"
                  "1000000 or percentages (1,10%,50%): a wave starts\n"
                  "when the one before has ended; the rest is the last\n"
                  "wave (default: one wave)")
      ->type_name("LIST");
  app->add_option("--max-failure-rate", texts->max_failure_rate,
                  "Start no further card once more than P% of the cards\n"
                  "that reached a module load failed it; checked when a\n"
                  "wave ends, else after each card once five reached a\n"
                  "load (default: no limit)")
      ->type_name("P%");
  app->add_option("--not-after", texts->not_after,
                  "Start a card only if its upgrade can end before TIME:\n"
                  "HH:MM (the next such local time) or YYYY-MM-DDTHH:MM\n"
                  "(:SS may follow), fixed when the tool starts\n"
                  "(default: no end)")
      ->type_name("TIME");
  app->add_option("--retry-unreachable", options->rollout.retry_unreachable,
                  "Try a card that did not answer or refused its login\n"
                  "before any upload again, up to N more times, after 5,\n"
                  "10, 20 ... minutes (60 at most), 0 to 10 (default 0)")
      ->type_name("N")
      ->check(WholeNumber(0, 10));
  app->add_flag("--plan", options->plan,
                "Say how the night would go, and end: each wave's start\n"
                "and end, the last card's end, the cards the window\n"
                "would leave, the smallest -j that fits; contacts no\n"
                "card (with --check: after the dry run, by what it found)\n"
                "(exit 0 when every card fits, else 1)");
  app->add_option("--soak", texts->soak,
                  "Check each upgraded card again DURATION after it ended,\n"
                  "before the next wave starts: it must answer, take its\n"
                  "login and list the modules it was sent, else it ends\n"
                  "soak_failed; 90s, 10m, 1h, up to 24h (default: no\n"
                  "second check)")
      ->type_name("DURATION");
  app->add_option("--link-rate", texts->link_rate,
                  "The bytes a second the cards' uploads share at most,\n"
                  "evenly between those under way, and the plan's rate:\n"
                  "500k, 1M, 2.5MB/s (without it no cap; the plan takes\n"
                  "1M)")
      ->type_name("RATE");
  app->add_option("--group-rate", texts->group_rate,
                  "The bytes a second the uploads of each group of\n"
                  "--groups share, beside the link's (default: no cap)")
      ->type_name("RATE");
}

// Which cards, which modules, and the cards' password.
void AddCardOptions(CLI::App* app, ToolOptions* options) {
  app->add_option("--limit", options->limit,
                  "Only the cards of iplist.txt at these addresses:\n"
                  "A,B,C, or @FILE with one address a line; group:NAME\n"
                  "for the cards of a group of --groups\n"
                  "(default: every card of iplist.txt)")
      ->type_name("LIST");
  app->add_option_function<std::string>(
         "--canary",
         [options](const std::string&) { options->canary_paths = true; },
         "paths: the first wave is one card of each hardware id\n"
         "and path that loads (the interim patch first, both\n"
         "modules, the APP alone), by each card's listing, read\n"
         "first; the other cards follow in the waves as given\n"
         "(default: the waves alone)")
      ->type_name("paths")
      ->check(CLI::IsMember({"paths"}));
  app->add_option("--groups", options->files.groups,
                  "The cards' groups, a CSV file: a header line, then\n"
                  "address,group or address,group,pair a line; two cards\n"
                  "of one pair never run at once nor in one wave, and\n"
                  "--limit takes group:NAME (default: no groups)")
      ->type_name("FILE");
  app->add_option("--per-group", options->rollout.per_group,
                  "At most N cards of any one group at once; the cards\n"
                  "--groups does not list are the group - (default: no\n"
                  "limit)")
      ->type_name("N")
      ->check(WholeNumber(1, 100000));
  app->add_option("--manifest", options->files.manifest,
                  "Load nothing unless FILE, as sha256sum writes it, lists\n"
                  "every module the campaign may load (ZEL, APP, the\n"
                  "interim patch when here) with its SHA-256\n"
                  "(default: no check)")
      ->type_name("FILE");
  CLI::Option* from_env =
      app->add_option("--password-from-env", options->password_variable,
                      "The password of every card without a SystemPassword\n"
                      "line in iplist.txt, from the environment variable\n"
                      "NAME (default: every card needs its SystemPassword\n"
                      "line)")
          ->type_name("NAME");
  CLI::Option* from_file =
      app->add_option("--password-file", options->password_file,
                      "The same password from the first line of FILE, a\n"
                      "file of the user's own that group and others cannot\n"
                      "read (chmod 600)")
          ->type_name("FILE")
          ->excludes(from_env);
  // Standard input is then the password's alone: nothing may be asked.
  app->add_flag("--password-from-stdin", options->password_from_stdin,
                "The same password from the first line of standard input,\n"
                "a pipe, never a terminal; needs --yes")
      ->excludes(from_env)
      ->excludes(from_file)
      ->needs(app->get_option("--yes"));
}

// What the night tells and listens to: the event hook, the stop file, and
// whose cards these are.
void AddNightOptions(CLI::App* app, ToolOptions* options) {
  app->add_option("--on-event", options->on_event,
                  "Run CMD at the campaign's start, at each wave's end,\n"
                  "when cards stop starting, and at its end, with the\n"
                  "event as JSON on its standard input: CMD's words\n"
                  "between blanks are a program (found in PATH) and its\n"
                  "arguments, without a shell (default: none)")
      ->type_name("CMD");
  app->add_option("--soak-command", options->soak_command,
                  "With --soak: run CMD for each card that passed its\n"
                  "check again, with the card's address as its last\n"
                  "argument and the card as JSON on its standard input,\n"
                  "words as --on-event takes them; a minute at most. A\n"
                  "command that fails fails the card (default: none)")
      ->type_name("CMD")
      ->needs("--soak");
  app->add_option("--stop-file", options->files.stop_file,
                  "Once FILE is there (touch FILE), start no further card;\n"
                  "the running ones finish. A campaign does not start\n"
                  "while it is there (default upgrd_util.stop)")
      ->type_name("FILE");
  app->add_option("--site", options->site,
                  "The site whose cards iplist.txt lists, named in every\n"
                  "record: --resume takes only a report of this site\n"
                  "(default: this host's name and the working\n"
                  "directory's real path, host:/srv/upgrade)")
      ->type_name("NAME")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            // A record is one line of a bounded length.
            if (text.empty() || text.size() > 256)
              return "a site's name has 1 to 256 characters";
            return "";
          },
          ""));
}

// Declares every option, bound to its field of *options (the rollout's
// texts to *texts), with its default, in the order --help lists them.
void AddOptions(CLI::App* app, ToolOptions* options, RolloutTexts* texts) {
  AddEndingOptions(app);
  AddRunOptions(app, options);
  AddOutputOptions(app, &options->files);
  AddRolloutOptions(app, options, texts);
  AddCardOptions(app, options);
  AddNightOptions(app, options);
}

// Reads the rollout options' texts into *rollout, each once; the window's
// end is fixed here, as an instant and on the clock that times the run.
void ReadRollout(const CLI::App& app, const RolloutTexts& texts,
                 RolloutOptions* rollout) {
  std::string error;
  if (app.count("--waves") > 0 &&
      !parse_waves(texts.waves, &rollout->waves_given, &error))
    throw CLI::ValidationError("--waves", error);
  if (app.count("--max-failure-rate") > 0 &&
      !parse_failure_rate(texts.max_failure_rate, &rollout->max_failure_rate,
                          &error))
    throw CLI::ValidationError("--max-failure-rate", error);
  if (app.count("--link-rate") > 0 &&
      !parse_link_rate(texts.link_rate, &rollout->link_rate, &error))
    throw CLI::ValidationError("--link-rate", error);
  rollout->link_rate_given = app.count("--link-rate") > 0;
  if (app.count("--group-rate") > 0 &&
      !parse_link_rate(texts.group_rate, &rollout->group_rate, &error))
    throw CLI::ValidationError("--group-rate", error);
  if (app.count("--soak") > 0 &&
      !parse_duration(texts.soak, &rollout->soak_seconds, &error))
    throw CLI::ValidationError("--soak", error);
  if (app.count("--not-after") == 0)
    return;
  struct tm now = {};
  if (!platform().clock->LocalTime(&now))
    throw CLI::ValidationError("--not-after",
                               "the system does not tell the local time");
  if (!parse_deadline(texts.not_after, now, &rollout->deadline, &error))
    throw CLI::ValidationError("--not-after", error);
  rollout->windowed = true;
  struct tm now_copy = now;
  rollout->deadline_clock = platform().clock->Seconds() +
                            difftime(rollout->deadline.at, mktime(&now_copy));
}

// A file option given an empty name ("--html \"\"", a variable not set)
// would otherwise read as not given at all.
void CheckNamed(const CLI::App& app, const OptionFiles& files) {
  for (const FileOption& named : kFileOptions) {
    if (app.count(named.option) > 0 && (files.*named.file).empty())
      throw CLI::ValidationError(named.option, "an empty file name");
  }
}

// What each option allows alone may still not go with another.
void CheckCombinations(const ToolOptions& options) {
  // With --plan they are the plan's, not the dry run's.
  if (options.check && options.rollout.any() && !options.plan)
    throw CLI::ValidationError("--check",
                               "a dry run starts every card at once; drop "
                               "--waves, --max-failure-rate, --not-after, "
                               "--retry-unreachable and --soak, or add "
                               "--plan");
  if (options.check && !options.soak_command.empty())
    throw CLI::ValidationError("--soak-command",
                               "a dry run upgrades no card to check again; "
                               "drop one of --check and --soak-command");
  const std::string& report = options.files.report;
  if (!report.empty() && !report_format_known(report))
    throw CLI::ValidationError(
        "--report", "the file name must end in .csv or .jsonl: " + report);
  if (options.check && options.rollout.max_failures > 0)
    throw CLI::ValidationError("--max-failures",
                               "a dry run fails no card; drop one of "
                               "--check and --max-failures");
  if (options.rollout.per_group > 0 && options.files.groups.empty())
    throw CLI::ValidationError("--per-group", "the groups come from --groups");
  if (options.rollout.group_rate > 0 && options.files.groups.empty())
    throw CLI::ValidationError("--group-rate", "the groups come from --groups");
  // Two options naming one file are refused by the campaign, which
  // compares the files they name (option_files_apart), not their names.
}

// A word a POSIX shell reads back as it is, unquoted.
bool PlainWord(const std::string& word) {
  if (word.empty())
    return false;
  for (unsigned char c : word) {
    if (!isalnum(c) && !strchr("_@%+=:,./-", c))
      return false;
  }
  return true;
}

std::string ShellQuoted(const std::string& word) {
  if (PlainWord(word))
    return word;
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A command's program, its arguments hidden: --on-event's and
// --soak-command's may carry a token.
std::string CommandShown(const std::string& command) {
  size_t begin = command.find_first_not_of(" \t");
  if (begin == std::string::npos)
    return command;
  size_t end = command.find_first_of(" \t", begin);
  std::string shown = command.substr(begin, end - begin);
  if (end != std::string::npos &&
      command.find_first_not_of(" \t", end) != std::string::npos)
    shown += " ***";
  return shown;
}

}  // namespace

std::vector<std::string> arguments_shown(
    const std::vector<std::string>& words) {
  const std::string kCommands[] = {"--on-event", "--soak-command"};
  std::vector<std::string> shown_words;
  bool command_next = false;
  for (const std::string& word : words) {
    std::string shown = word;
    if (command_next)
      shown = CommandShown(word);
    command_next = false;
    for (const std::string& option : kCommands) {
      if (word.compare(0, option.size() + 1, option + "=") == 0)
        shown = option + "=" + CommandShown(word.substr(option.size() + 1));
      command_next = command_next || word == option;
    }
    shown_words.push_back(shown);
  }
  return shown_words;
}

std::string command_line_shown(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : arguments_shown(argv))
    line += (line.empty() ? "" : " ") + ShellQuoted(word);
  return line;
}

std::string tool_version_text() {
  return std::string(kToolName) + ", build " UPGRD_BUILD_VERSION;
}

// In the order they are compared: of two that name one file, the first
// here is said first.
const FileOption kFileOptions[7] = {
    {"--resume", &OptionFiles::resume},
    {"--report", &OptionFiles::report},
    {"--html", &OptionFiles::html},
    {"--metrics", &OptionFiles::metrics},
    {"--manifest", &OptionFiles::manifest},
    {"--groups", &OptionFiles::groups},
    {"--stop-file", &OptionFiles::stop_file},
};

std::vector<std::pair<const char*, std::string>> option_files(
    const OptionFiles& files) {
  std::vector<std::pair<const char*, std::string>> named;
  for (const FileOption& option : kFileOptions) {
    if (!(files.*option.file).empty())
      named.emplace_back(option.option, files.*option.file);
  }
  return named;
}

int parse_tool_options(int argc, char** argv, ToolOptions* options) {
  CLI::App app(kDescription, "upgrd_util");
  RolloutTexts texts;
  AddOptions(&app, options, &texts);
  try {
    app.parse(argc, argv);
    ReadRollout(app, texts, &options->rollout);
    CheckNamed(app, options->files);
    CheckCombinations(*options);
    options->argument_list =
        arguments_shown(std::vector<std::string>(argv + 1, argv + argc));
    for (const std::string& word : options->argument_list)
      options->arguments += (options->arguments.empty() ? "" : " ") + word;
    options->command_line =
        command_line_shown(std::vector<std::string>(argv, argv + argc));
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const ListOutcomes&) {
    platform().console->Write(OutcomeList());
    return 0;
  } catch (const CLI::ParseError& e) {
    // One line that names what is wrong; nothing has been touched.
    console_error_printf("upgrd_util: %s (see upgrd_util --help)\n", e.what());
    return 2;
  }
  return -1;
}
