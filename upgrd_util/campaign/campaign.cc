#include "upgrd_util/campaign/campaign.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/upgrade_end.h"
#include "upgrd_util/campaign/campaign_events.h"
#include "upgrd_util/campaign/campaign_watch.h"
#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/campaign/card_endings.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/card_selection.h"
#include "upgrd_util/campaign/module_hashes.h"
#include "upgrd_util/campaign/night_plan.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/campaign/own_files.h"
#include "upgrd_util/campaign/plan_printer.h"
#include "upgrd_util/campaign/report_writer.h"
#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/campaign/stop_file.h"
#include "upgrd_util/campaign/wave_question.h"
#include "upgrd_util/card/card_sequence.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/firmware_selection.h"
#include "upgrd_util/inputs/password_file.h"
#include "upgrd_util/inputs/single_target.h"
#include "upgrd_util/modules/module_banner.h"
#include "upgrd_util/output/campaign_event.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/replace_file.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/child_process.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/rollout_options.h"
#include "upgrd_util/run/start_menu.h"
#include "upgrd_util/run/start_up.h"
#include "upgrd_util/run/upgrade_summary.h"

namespace {

using Earlier = std::map<std::string, EarlierRecord>;

// Exit codes: bad inputs are told apart from failed cards, so that a
// script can tell which it was.
const int kAllUpgraded = 0;
const int kCardsFailed = 1;
const int kBadInput = 2;
// Not an exit code: the campaign goes on.
const int kGoOn = -1;

// What the pool does with each card: its upgrade, or its dry run, by a
// campaign's rules, beside the others.
CardSequence EachCardsTurn(const ToolOptions& options) {
  CampaignRules rules;
  rules.patch_file_needed = true;
  rules.leave_current = !options.force;
  rules.strict_card_words = true;
  rules.hardware_checked = true;
  if (options.check) {
    return [rules](upgrade_target* card) {
      return run_card_beside_others(
          card, [&](upgrade_target* c) { return check_card(c, rules); },
          "dry run");
    };
  }
  return [rules](upgrade_target* card) {
    return run_card_beside_others(
        card, [&](upgrade_target* c) { return upgrade_card(c, rules); },
        "campaign");
  };
}

// What the options name is read before anything is done: the password's
// variable or file, the report to resume from, and that no two options,
// nor an option and a file of the tool's own, name one file. Nothing is
// written. Returns false, having said why.
bool ReadOptionFiles(const ToolOptions& options, const char** password,
                     Earlier* earlier) {
  *password = nullptr;
  if (!options.password_variable.empty()) {
    const char* value = getenv(options.password_variable.c_str());
    if (!value || !*value ||
        strlen(value) >= sizeof(upgrade_target::password)) {
      console_error_printf(
          "upgrd_util: --password-from-env: the environment "
          "variable %s %s\n",
          options.password_variable.c_str(),
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
  std::string error, warning;
  // A report of this run over the one it resumes from would lose that
  // history, and a page over a report the records, under whatever name.
  // The modules are the tool's own too: config.txt is read quietly here,
  // and again, as the dialogue reads it, once the log is open.
  char zel[kModuleNameSize] = "", app[kModuleNameSize] = "";
  {
    SilentConsole silent;
    Platform quiet = platform();
    quiet.console = &silent;
    ScopedThreadPlatform seams(&quiet);
    read_firmware_selection(zel, app);
  }
  if (!option_files_apart(options, {zel, app}))
    return false;
  // Left from the night it stopped, or made to keep campaigns from
  // starting: before any question, the log or the report. A plan alone
  // starts nothing.
  bool plan_only = options.plan && !options.check;
  if (!plan_only && stop_file_present(options.stop_file, &error)) {
    console_error_printf(
        "upgrd_util: the stop file %s is there: remove it to start a "
        "campaign\n",
        options.stop_file.c_str());
    return false;
  }
  if (!error.empty()) {
    console_error_printf("upgrd_util: --stop-file: cannot look for %s: %s\n",
                         options.stop_file.c_str(), error.c_str());
    return false;
  }
  // A hook that cannot start would miss every event of the night.
  if (!options.on_event.empty()) {
    std::vector<std::string> words = command_words(options.on_event);
    std::string path;
    if (words.empty() || !find_program(words[0], &path, &error)) {
      console_error_printf("upgrd_util: --on-event: %s\n",
                           words.empty() ? "names no program"
                                         : error.c_str());
      return false;
    }
  }
  if (!options.resume.empty() &&
      !read_earlier_records(options.resume, earlier, &error, &warning)) {
    console_error_printf("upgrd_util: --resume: %s\n", error.c_str());
    return false;
  }
  // Another site's history is no history of these cards.
  if (!options.resume.empty() &&
      !report_of_this_site(*earlier, options.resume, site_name,
                           !options.site.empty(), &error)) {
    console_error_printf("upgrd_util: --resume: %s\n", error.c_str());
    return false;
  }
  if (!warning.empty())
    console_printf("upgrd_util: --resume: %s\n", warning.c_str());
  if (!options.metrics.empty() && (options.metrics.size() < 5 ||
                                   options.metrics.compare(
                                       options.metrics.size() - 5, 5,
                                       ".prom") != 0))
    console_printf(
        "upgrd_util: --metrics: the node exporter's textfile collector "
        "reads only files ending in .prom, not %s\n",
        options.metrics.c_str());
  return true;
}

// Whether the page and the metrics can be written where the options say:
// a file is made beside each, and removed. Returns false, having said why.
bool CanWritePages(const ToolOptions& options) {
  std::string error;
  for (const auto& [option, path] : {std::pair{"--html", &options.html},
                                     std::pair{"--metrics", &options.metrics}}) {
    if (!path->empty() && !can_replace_file(*path, &error)) {
      console_error_printf("upgrd_util: %s: cannot write %s: %s\n", option,
                           path->c_str(), error.c_str());
      return false;
    }
  }
  return true;
}

// Before any file of the run is made, opened for writing or removed: the
// working directory (result.txt's lock) and the report (its lock beside
// it, which a run in another directory naming the same report meets too).
// A run refused there leaves every file as it was. Then the pages are
// tried, the report's part file made and the pid file written. Returns
// false, having said why, with the locks let go.
bool TakeTheRunsFiles(const ToolOptions& options, FileLock* report_lock,
                      CampaignReport* report, FileLock* pid_file) {
  if (!lock_working_directory())
    return false;
  std::string error;
  bool busy = false;
  bool taken = options.report.empty() ||
               report_lock->Take(report_lock_path(options.report), &busy,
                                 &error);
  if (!taken && busy)
    console_error_printf(
        "upgrd_util: --report: another run of the tool writes %s (%s is "
        "locked)\n",
        options.report.c_str(), report_lock_path(options.report).c_str());
  else if (!taken)
    console_error_printf("upgrd_util: --report: cannot write %s: %s\n",
                         options.report.c_str(), error.c_str());
  else if (!CanWritePages(options))
    taken = false;
  else if (report && !report->Open(&error)) {
    console_error_printf("upgrd_util: --report: cannot write %s: %s\n",
                         options.report.c_str(), error.c_str());
    taken = false;
  } else if (!hold_pid_file(kPidFileName, pid_file, &error)) {
    console_error_printf("upgrd_util: cannot write %s: %s\n", kPidFileName,
                         error.c_str());
    taken = false;
  }
  if (!taken)
    let_go_of_working_directory();
  return taken;
}

// The cards of iplist.txt, those of --limit. Returns kGoOn, or the exit
// code of a campaign that ends here.
int ReadCards(const ToolOptions& options, const char* password,
              upgrade_target** cards, int* count) {
  ListReading reading;
  switch (read_card_list(password, cards, count, &reading)) {
    case LIST_MISSING:
      console_error_printf(
          "\tA campaign upgrades the cards of iplist.txt, and "
          "there is no iplist.txt in this directory.\n");
      return kBadInput;
    case LIST_EMPTY:
      console_error_printf("\tiplist.txt lists no card.\n");
      return kBadInput;
    case LIST_BAD:
      if (reading.password_missing && !password)
        console_error_printf(
            "\tA card without a SystemPassword line can take its password "
            "from the environment: --password-from-env NAME.\n");
      return kBadInput;
    case LIST_READ:
      break;
  }
  // Before --limit: the records name the fleet iplist.txt lists.
  hash_addresses(*cards, addresses_sha256);
  if (!options.limit.empty() &&
      !keep_only_limited(options.limit, cards, count))
    return kBadInput;
  return kGoOn;
}

// The cards of the campaign: those of iplist.txt, checked, unless the
// operator enters one instead at the menu. Returns kGoOn, with the run's
// echo handle in *echo; otherwise the exit code of a campaign that ends
// before any card, *closing saying whether its closing dialogue is said.
int ChooseCards(const ToolOptions& options, const char* password,
                upgrade_target** cards, std::unique_ptr<IcmpEcho>* echo,
                bool* closing) {
  int count = 0;
  if (int code = ReadCards(options, password, cards, &count); code != kGoOn)
    return code;
  if (!check_campaign_cards(*cards, echo))
    return kBadInput;
  if (options.yes)
    return kGoOn;
  int answer = ask_start_menu(count);
  if (answer == '1')
    return kGoOn;
  if (answer == kMenuInputEnded && interrupts_received() > 0) {
    console_printf("\n\tInterrupted: no card was started.\n");
    free_upgrade_targets(*cards);
    *cards = nullptr;
    return kCardsFailed;
  }
  if (answer == kMenuInputEnded) {
    console_error_printf(
        "\tThe console's input has ended before an answer: without a "
        "console, a campaign needs --yes.\n");
    free_upgrade_targets(*cards);
    *cards = nullptr;
    return kBadInput;
  }
  free_upgrade_targets(*cards);
  *cards = nullptr;
  if (answer != '2')
    return kCardsFailed;
  EntryEnd end;
  *cards = enter_single_target(&end);
  if (!*cards) {
    // The quit answer of the entry ends the tool at once, as in the dialogue.
    *closing = end != ENTRY_QUIT;
    return kCardsFailed;
  }
  // The entered card's address is checked as the listed ones were.
  return check_card_addresses(*cards) ? kGoOn : kBadInput;
}

// The end of a dry run: how many cards would be upgraded, and why the others
// would not.
void PrintCheckSummary(const upgrade_target* cards) {
  int total = 0;
  int would_upgrade = 0;
  for (const upgrade_target* card = cards; card; card = card->next) {
    ++total;
    CardOutcome outcome = card->state.outcome;
    if (outcome == OUTCOME_WOULD_UPGRADE || outcome == OUTCOME_WOULD_PATCH)
      ++would_upgrade;
  }
  console_printf("\n\t*********** Dry Run Summary *********** \n");
  console_printf("\t%d of %d cards would be upgraded.\n", would_upgrade, total);
  log_printf(
      "\n\n************************************************************\n");
  log_printf("\nDry run: %d of %d cards would be upgraded.\n", would_upgrade,
             total);
  for (const upgrade_target* card = cards; card; card = card->next) {
    const OutcomeWords& words = outcome_words(card->state.outcome);
    if (!words.failure)
      continue;
    console_printf("\t%s: %s\n", card->ip, words.said_dry);
    log_printf("\t%s: %s\n", card->ip, words.said_dry);
  }
  log_printf(
      "************************************************************\n\n\n");
  log_flush();
}

// How many of `cards` run at once: -j, unless the workstation's limits allow
// fewer, which is said.
int CardsAtOnce(int parallel, size_t cards) {
  raise_open_file_limit();
  int wanted = std::min(parallel, static_cast<int>(cards));
  std::string why;
  int allowed = cards_within_limits(wanted, &why);
  if (allowed < wanted)
    console_printf(
        "\t-j %d is more than this workstation allows: %d cards "
        "run at a time (%s).\n",
        parallel, allowed, why.c_str());
  return std::max(allowed, 1);
}

// The cards' saved logs and listings share the disk's free space, less a
// reserve for result.txt, the journals and the report, so that cards that
// send endless data cannot take the others' room.
void ShareTheDisk(int parallel) {
  long long free = free_disk_bytes();
  if (free < 0)
    return;
  long long reserve = std::min(free / 10, 1LL << 30);
  platform().ftp->ShareDisk(free - reserve, parallel);
}

// Names this run: its start to the second, and a random part that sets
// apart runs started in the same second, on any workstation.
void NameTheRun() {
  struct tm now = {};
  platform().clock->LocalTime(&now);
  std::random_device random;
  snprintf(run_id, sizeof(run_id), "%04d%02d%02dT%02d%02d%02d-%04x",
           now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
           now.tm_min, now.tm_sec, static_cast<unsigned>(random() & 0xffff));
}

// The rules of the campaign's rollout, from its options.
RolloutSettings RolloutOf(const ToolOptions& options, size_t waves) {
  const RolloutOptions& rollout = options.rollout;
  RolloutSettings settings;
  settings.max_failures = options.max_failures;
  settings.max_rate = rollout.max_failure_rate;
  settings.retries = rollout.retry_unreachable;
  settings.waves = waves;
  settings.windowed = rollout.windowed;
  settings.window_end = rollout.deadline_clock;
  // A card's mandated waits, and a minute for the rest of its path.
  settings.card_seconds = mandated_wait_seconds() + 60;
  settings.stop_file = options.stop_file;
  return settings;
}

// Says when the window of --not-after ends, fixed as the options were read,
// before any question: time spent at the menu is time of the window.
void SayTheWindow(const RolloutOptions& rollout) {
  if (!rollout.windowed)
    return;
  struct tm now = {};
  double left = 0;
  if (platform().clock->LocalTime(&now))
    left = difftime(rollout.deadline.at, mktime(&now));
  console_printf(
      "\tThe window ends at %s, %s from now: a card starts only "
      "if its upgrade can end before.\n",
      rollout.deadline.text.c_str(),
      left > 0 ? duration_text(left).c_str() : "0 s");
}

// The sizes of the waves of `to_run`: those of --waves over the cards that
// did not fail these modules before, which form one more wave after them.
std::vector<size_t> WavesOf(const ToolOptions& options,
                            const std::vector<upgrade_target*>& to_run) {
  size_t failed_before = std::count_if(
      to_run.begin(), to_run.end(),
      [](const upgrade_target* card) { return card->state.failed_before; });
  std::vector<size_t> sizes =
      wave_sizes(options.rollout.waves, to_run.size() - failed_before);
  if (failed_before > 0)
    sizes.push_back(failed_before);
  return sizes;
}

// What the plan takes of the campaign: its cards in their order, what each
// needs (`found`: by the dry run's outcomes), its waves, `parallel` and the
// rules, with the window's end counted from now.
PlanInputs PlanOf(const ToolOptions& options,
                  const std::vector<upgrade_target*>& to_run, int parallel,
                  bool found) {
  PlanInputs inputs = campaign_plan_inputs(to_run, found, options.force);
  inputs.waves = WavesOf(options, to_run);
  inputs.parallel = parallel;
  inputs.rules = RolloutOf(options, inputs.waves.size());
  inputs.rules.window_end -= platform().clock->Seconds();
  inputs.link_rate = options.rollout.link_rate;
  return inputs;
}

// Says how the night would go from now. Returns true when every card
// would start.
bool SayThePlan(const ToolOptions& options,
                const std::vector<upgrade_target*>& to_run, int parallel,
                bool found) {
  PlanInputs inputs = PlanOf(options, to_run, parallel, found);
  struct tm now = {};
  platform().clock->LocalTime(&now);
  return say_night_plan(
      inputs, plan_night(inputs), to_run, now,
      options.rollout.windowed ? options.rollout.deadline.text : "");
}

// --plan without a dry run: the night as it would go, from the inputs
// alone. No card is contacted and no file written, not even result.txt.
int PlanOnly(const ToolOptions& options) {
  const char* password = nullptr;
  Earlier earlier;
  site_name = site_of_this_run(options.site);
  if (!ReadOptionFiles(options, &password, &earlier) || !CanWritePages(options))
    return kBadInput;
  if (!read_firmware_selection(zel_module_name, app_module_name) ||
      !show_module_banner(zel_module_name, app_module_name))
    return kBadInput;
  SayTheWindow(options.rollout);
  upgrade_target* cards = nullptr;
  int count = 0;
  int code = ReadCards(options, password, &cards, &count);
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  if (code != kGoOn || !check_card_addresses(cards))
    return kBadInput;
  std::vector<upgrade_target*> to_run =
      cards_to_run(cards, earlier, options.resume, options.force);
  int parallel = CardsAtOnce(options.parallel, to_run.size());
  return SayThePlan(options, to_run, parallel, false) ? kAllUpgraded
                                                      : kCardsFailed;
}

// Runs `to_run`, `parallel` at a time, in the pool, wave after wave, with
// the console, the report and the event hook told as they go, and each
// card's end counted in *endings; those that never start end not started,
// with the reason. Returns true when every card that ran ended well;
// *records_lost tells how many records could not be written, *stop why
// cards stopped starting.
bool RunCards(const ToolOptions& options,
              const std::vector<upgrade_target*>& to_run, int parallel,
              upgrade_target* cards, CampaignReport* report,
              CardEndings* endings, CampaignWatch* watch, EventHook* hook,
              int* records_lost, Stop* stop) {
  ShareTheDisk(parallel);
  // A dry run waits for nothing.
  StatusPrinter printer(to_run.size(), parallel, options.check,
                        options.check ? 0 : mandated_wait_seconds(), endings);
  ReportWriter writer(report, options.report, &printer);
  WaveQuestion question(&printer, !options.yes);
  CampaignEvents events(&printer, &writer, endings, watch, &question);
  std::vector<upgrade_target*> skipped;
  for (upgrade_target* card = cards; card; card = card->next) {
    if (card->state.outcome == OUTCOME_SKIPPED)
      skipped.push_back(card);
  }
  events.RecordNeverRun(skipped);
  // The page and metrics keep their beat whatever the console does.
  watch->Beat([&printer](const std::string& said) {
    printer.Say("\t%s\n", said.c_str());
  });
  std::vector<size_t> waves = WavesOf(options, to_run);
  // The page shows the end the plan gives beside the real one.
  if (!options.check)
    watch->Planned(plan_night(PlanOf(options, to_run, parallel, false)).end);
  if (hook) {
    // Said on the console through the printer, by the one thread that
    // writes it while cards run.
    hook->SayWith([&printer](const std::string& line) {
      printer.Say("%s", line.c_str());
    });
    events.SendEventsTo(hook);
    size_t listed = 0;
    for (upgrade_target* card = cards; card; card = card->next)
      ++listed;
    hook->Send("start", start_event_json(to_run.size(), listed,
                                         options.argument_list, waves,
                                         options.check));
  }
  RolloutRules rules(RolloutOf(options, waves.size()), platform().clock);
  CardPool pool(to_run, waves, parallel, EachCardsTurn(options), &rules,
                &events);
  {
    // SIGUSR1 and SIGUSR2, also one that came at the menu.
    InterruptWaker pauses([&pool] { pool.Pause(starting_paused()); });
    pool.Pause(starting_paused());
    // A question between waves ends at the stop file as at an interrupt.
    StopFileWatch stop_file(options.stop_file, [&pool] {
      pool.StopFileFound();
      end_questions();
    });
    pool.Run(printer.tick_ms());
  }
  // The cards have ended: an interrupt from now on lets the summary, the
  // page and the end event go out first; a second ends the tool.
  spare_the_next_interrupt();
  watch->Stopped(rules.stop());
  std::string reason = stop_reason_text(rules.stop());
  std::vector<upgrade_target*> never_started = pool.NeverStarted();
  for (upgrade_target* card : never_started) {
    set_card_end(card, OUTCOME_NOT_STARTED);
    card->state.reason = reason;
  }
  events.RecordNeverRun(never_started);
  std::string said = watch->Finish();
  if (!said.empty())
    printer.Say("\t%s\n", said.c_str());
  // The printer writes its last lines now: a failure said later waits.
  if (hook)
    hook->SayWith(nullptr);
  printer.Show(true);
  *records_lost = writer.records_lost();
  *stop = rules.stop();
  return endings->succeeded() == static_cast<int>(to_run.size());
}

}  // namespace

int run_campaign(const ToolOptions& options) {
  if (options.plan && !options.check)
    return PlanOnly(options);
  // Before any thread starts: from here on one thread takes the interrupts.
  catch_interrupts();
  // The cards' password is ours alone: no child (the event hook) is given
  // the variable that holds it.
  if (!options.password_variable.empty())
    keep_from_children(options.password_variable);
  const char* password = nullptr;
  Earlier earlier;
  site_name = site_of_this_run(options.site);
  if (!ReadOptionFiles(options, &password, &earlier))
    return kBadInput;
  // Let go after the report, whose part file may go as it closes.
  FileLock report_lock, pid_file;
  CampaignReport report(options.report);
  CampaignReport* to_report = options.report.empty() ? nullptr : &report;
  if (!TakeTheRunsFiles(options, &report_lock, to_report, &pid_file))
    return kBadInput;
  bool wait_for_enter = !options.yes;
  StartResult started = start_upgrade_run();
  if (started == START_NO_LOG)
    return kBadInput;
  if (started == START_BAD_INPUT) {
    end_dialogue(nullptr, wait_for_enter);
    return kBadInput;
  }
  // Before any question. Each card is sent the copies made here, whatever
  // the files become.
  ModuleCopies copies;
  if (!check_module_hashes(options.manifest, &copies)) {
    end_dialogue(nullptr, wait_for_enter);
    return kBadInput;
  }
  SayTheWindow(options.rollout);
  upgrade_target* cards = nullptr;
  std::unique_ptr<IcmpEcho> echo;
  bool closing = true;
  int code = ChooseCards(options, password, &cards, &echo, &closing);
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  if (code != kGoOn) {
    if (closing)
      end_dialogue(nullptr, wait_for_enter);
    return code;
  }

  NameTheRun();
  CardEndings endings;
  CampaignWatch watch(options.html, options.metrics, options.arguments,
                      options.check, &endings);
  watch.Limits(options.rollout, options.max_failures);
  if (!options.resume.empty())
    watch.Resumed(options.resume, earlier);
  std::string error;
  if (!watch.Begin(cards, &error)) {
    console_error_printf("upgrd_util: %s\n", error.c_str());
    end_dialogue(nullptr, wait_for_enter);
    return kBadInput;
  }
  std::vector<upgrade_target*> to_run =
      cards_to_run(cards, earlier, options.resume, options.force);
  int parallel = CardsAtOnce(options.parallel, to_run.size());
  // A dry run starts every card at once: with --plan the rollout's options
  // are the plan's alone.
  ToolOptions run = options;
  if (options.check)
    run.rollout = RolloutOptions();
  std::unique_ptr<EventHook> hook;
  if (!options.on_event.empty())
    hook = std::make_unique<EventHook>(command_words(options.on_event));
  int records_lost = 0;
  Stop stop;
  bool all = RunCards(run, to_run, parallel, cards, to_report, &endings,
                      &watch, hook.get(), &records_lost, &stop);
  echo.reset();
  if (options.check)
    PrintCheckSummary(cards);
  else
    all = print_summary(cards, records_lost) && all;
  bool fits = !options.plan || SayThePlan(options, to_run, parallel, true);
  // A lost record is a failure too: the report is what scripts read.
  // So is a lost block, or summary.
  bool blocks_lost = false;
  for (const upgrade_target* card = cards; card; card = card->next)
    blocks_lost = blocks_lost || card->state.block_lost;
  code = all && records_lost == 0 && !blocks_lost && fits ? kAllUpgraded
                                                          : kCardsFailed;
  if (hook) {
    hook->Send("end", end_event_json(endings.All(),
                                     stop_reason_code(stop.reason),
                                     stop_reason_text(stop), code));
    // Its last events, each within its time, before the tool ends.
    hook->Finish();
    std::string unsaid = hook->Unsaid();
    if (!unsaid.empty())
      console_printf("%s", unsaid.c_str());
  }
  close_result_log();
  end_dialogue(nullptr, false);
  // Ctrl-C at the closing question ends the tool, as in the dialogue; one
  // before it has ended the question already.
  end_on_interrupts();
  if (wait_for_enter)
    wait_for_enter_to_exit();
  return code;
}
