#include "upgrd_util/campaign/campaign.h"

#include <algorithm>
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
#include "upgrd_util/campaign/canary.h"
#include "upgrd_util/campaign/soak_command.h"
#include "upgrd_util/campaign/campaign_watch.h"
#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/campaign/card_endings.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/card_selection.h"
#include "upgrd_util/campaign/module_hashes.h"
#include "upgrd_util/campaign/night_inputs.h"
#include "upgrd_util/campaign/night_plan.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/campaign/own_files.h"
#include "upgrd_util/campaign/plan_printer.h"
#include "upgrd_util/campaign/refused_start.h"
#include "upgrd_util/campaign/report_writer.h"
#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/campaign/stop_file.h"
#include "upgrd_util/campaign/wave_order.h"
#include "upgrd_util/campaign/wave_question.h"
#include "upgrd_util/card/card_sequence.h"
#include "upgrd_util/card/soak_check.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/firmware_selection.h"
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

// Exit codes: bad inputs are told apart from failed cards, so that a
// script can tell which it was.
const int kAllUpgraded = 0;
const int kCardsFailed = 1;
const int kBadInput = 2;
// Not an exit code: the campaign goes on.
const int kGoOn = -1;

// What the pool does with each card: its upgrade, or its dry run, by a
// campaign's rules, beside the others. A card whose path the window would
// not let end is not loaded.
// The rules of a campaign's card steps. A card whose path the window would
// not let end is not loaded.
CampaignRules NightRules(const NightInputs& night,
                         const RolloutRules* rollout) {
  CampaignRules rules;
  rules.patch_file_needed = true;
  rules.leave_current = !night.force;
  rules.strict_card_words = true;
  rules.hardware_checked = true;
  rules.path_fits = [rollout](upgrade_target* card, CardPath path) {
    if (rollout->PathFits(path))
      return true;
    card->state.reason = stop_reason_text({STOP_WINDOW});
    return false;
  };
  return rules;
}

// What the pool does with each card: its upgrade, or its dry run, by a
// campaign's rules, beside the others.
CardSequence EachCardsTurn(const NightInputs& night,
                           const RolloutRules* rollout) {
  CampaignRules rules = NightRules(night, rollout);
  if (night.check) {
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

// The check after the soak of an upgraded card, beside the others: the
// built-in check, then --soak-command's. A card that fails either ends
// soak_failed, the step and the card's answer its reason.
CardSequence CheckAfterTheSoak(const NightInputs& night) {
  std::vector<std::string> command = night.soak_command;
  return [command](upgrade_target* card) {
    return run_card_beside_others(
        card,
        [&](upgrade_target* c) {
          SoakFailure failure;
          if (soak_check(c, &failure) &&
              (command.empty() || run_soak_command(command, *c, &failure)))
            return OUTCOME_UPGRADED;
          if (failure.local)
            return OUTCOME_LOCAL_ERROR;
          c->state.reason = std::string(failure.step) + ": " + failure.reply;
          return OUTCOME_SOAK_FAILED;
        },
        "check after the soak");
  };
}

// The waves of *to_run: `canary` first as a wave of its own, the other
// cards after it in the waves as given, and no pair in one wave.
void FormTheWaves(const std::vector<upgrade_target*>& canary,
                  std::vector<upgrade_target*>* to_run, NightInputs* night) {
  put_canary_first(canary, to_run);
  count_waves({to_run->begin() + canary.size(), to_run->end()}, night);
  if (!canary.empty())
    night->waves.insert(night->waves.begin(), canary.size());
  keep_pairs_apart(to_run, &night->waves);
}

// The canary of `cards` by what they listed, said in one line (`would`:
// ", would be" after a dry run).
std::vector<upgrade_target*> SayTheCanary(
    const std::vector<upgrade_target*>& cards,
    const std::vector<Listed>& listed, const char* would) {
  std::vector<upgrade_target*> canary = canary_by_path(cards, listed);
  if (canary.empty())
    console_printf("\tNo card's listing gives a path that loads: no "
                   "canary.\n");
  else
    console_printf("\tThe canary, wave 1%s: %s.\n", would,
                   canary_text(canary, cards, listed).c_str());
  return canary;
}

// --canary paths, before the night: each card's listing read, quietly,
// and one card of each hardware and path that loads chosen. Returns the
// canary (none when an interrupt ended the reading).
std::vector<upgrade_target*> ChooseTheCanary(
    const NightInputs& night, const std::vector<upgrade_target*>& to_run,
    int parallel) {
  if (!night.canary_paths || night.check || to_run.empty())
    return {};
  console_printf("\tReading the listing of %lu cards for the canary, one "
                 "of each hardware and path ...\n",
                 static_cast<unsigned long>(to_run.size()));
  RolloutRules none(RolloutSettings(), platform().clock);
  std::vector<Listed> listed;
  if (!survey_cards(to_run, parallel, NightRules(night, &none), &listed))
    return {};
  return SayTheCanary(to_run, listed, "");
}

// After a dry run with --canary paths: the cards that would be the canary,
// by what it found, and the waves the plan takes with them.
void SayTheCanaryFound(NightInputs* night,
                       std::vector<upgrade_target*>* to_run) {
  if (!night->canary_paths)
    return;
  std::vector<Listed> listed;
  for (const upgrade_target* card : *to_run)
    listed.push_back(listed_of(*card));
  FormTheWaves(SayTheCanary(*to_run, listed, ", would be"), to_run, night);
}

// Whether the page and the metrics can be written where the options say:
// a file is made beside each, and removed. Returns false, having said why.
bool CanWritePages(const OptionFiles& files) {
  std::string error;
  for (const auto& [option, path] : {std::pair{"--html", &files.html},
                                     std::pair{"--metrics", &files.metrics}}) {
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
// *held_elsewhere says whether another run held the directory or the
// report.
bool TakeTheRunsFiles(const OptionFiles& files, FileLock* report_lock,
                      CampaignReport* report, FileLock* pid_file,
                      bool* held_elsewhere) {
  if (!lock_working_directory(held_elsewhere))
    return false;
  const std::string& path = files.report;
  std::string error;
  bool busy = false;
  bool taken =
      path.empty() || report_lock->Take(report_lock_path(path), &busy, &error);
  *held_elsewhere = !taken && busy;
  if (!taken && busy)
    console_error_printf(
        "upgrd_util: --report: another run of the tool writes %s (%s is "
        "locked)\n",
        path.c_str(), report_lock_path(path).c_str());
  else if (!taken)
    console_error_printf("upgrd_util: --report: cannot write %s: %s\n",
                         path.c_str(), error.c_str());
  else if (!CanWritePages(files))
    taken = false;
  else if (report && !report->Open(&error)) {
    console_error_printf("upgrd_util: --report: cannot write %s: %s\n",
                         path.c_str(), error.c_str());
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
int ReadCards(const NightInputs& night, upgrade_target** cards, int* count) {
  const char* password = night.password;
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
  if (!give_groups(night.groups, night.files.groups, *cards))
    return kBadInput;
  if (!night.limit.empty() && !keep_only_limited(night.limit, cards, count))
    return kBadInput;
  return kGoOn;
}

// The cards of the campaign: those of iplist.txt, checked, unless the
// operator enters one instead at the menu. Returns kGoOn, with the run's
// echo handle in *echo; otherwise the exit code of a campaign that ends
// before any card, *closing saying whether its closing dialogue is said.
int ChooseCards(const NightInputs& night, upgrade_target** cards,
                std::unique_ptr<IcmpEcho>* echo, bool* closing) {
  int count = 0;
  if (int code = ReadCards(night, cards, &count); code != kGoOn)
    return code;
  if (!check_campaign_cards(*cards, echo))
    return kBadInput;
  if (night.yes)
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
RolloutSettings RolloutOf(const NightInputs& night) {
  const RolloutOptions& rollout = night.rollout;
  RolloutSettings settings;
  settings.max_failures = rollout.max_failures;
  settings.max_rate = rollout.max_failure_rate;
  settings.retries = rollout.retry_unreachable;
  settings.per_group = rollout.per_group;
  settings.group_rate = rollout.group_rate;
  settings.windowed = rollout.windowed;
  settings.window_end = rollout.deadline_clock;
  // Each card's path takes its modules' uploads at the planned link rate.
  settings.modules = night.modules;
  settings.link_rate = rollout.link_rate;
  settings.stop_file = night.files.stop_file;
  settings.soak_seconds = rollout.soak_seconds;
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

// What the plan takes of the campaign: its cards in their order, what each
// needs (`found`: by the dry run's outcomes), its waves, `parallel` and the
// rules, with the window's end counted from now.
PlanInputs PlanOf(const NightInputs& night,
                  const std::vector<upgrade_target*>& to_run, int parallel,
                  bool found) {
  PlanInputs inputs = campaign_plan_inputs(to_run, found);
  inputs.waves = night.waves;
  inputs.parallel = parallel;
  inputs.rules = RolloutOf(night);
  inputs.rules.window_end -= platform().clock->Seconds();
  return inputs;
}

// Says how the night would go from now. Returns true when every card
// would start.
bool SayThePlan(const NightInputs& night,
                const std::vector<upgrade_target*>& to_run, int parallel,
                bool found) {
  PlanInputs inputs = PlanOf(night, to_run, parallel, found);
  struct tm now = {};
  platform().clock->LocalTime(&now);
  return say_night_plan(
      inputs, plan_night(inputs), to_run, now,
      night.rollout.windowed ? night.rollout.deadline.text : "");
}

// --plan without a dry run: the night as it would go, from the inputs
// alone. No card is contacted and no file written, not even result.txt.
int PlanOnly(NightInputs& night) {
  if (!CanWritePages(night.files))
    return kBadInput;
  if (!read_firmware_selection(zel_module_name, app_module_name) ||
      !show_module_banner(zel_module_name, app_module_name))
    return kBadInput;
  night.modules = configured_modules();
  SayTheWindow(night.rollout);
  upgrade_target* cards = nullptr;
  int count = 0;
  int code = ReadCards(night, &cards, &count);
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  if (code != kGoOn || !check_card_addresses(cards))
    return kBadInput;
  std::vector<upgrade_target*> to_run =
      cards_to_run(cards, night.earlier, night.files.resume, night.force);
  int parallel = CardsAtOnce(night.parallel, to_run.size());
  if (night.canary_paths)
    console_printf("\tThe canary by path needs the cards' listings: "
                   "--plan --check says it, and plans with it.\n");
  FormTheWaves({}, &to_run, &night);
  return SayThePlan(night, to_run, parallel, false) ? kAllUpgraded
                                                    : kCardsFailed;
}

// Where a night is told as it goes.
struct NightTold {
  CampaignReport* report;  // nullptr: no report
  CardEndings* endings;
  CampaignWatch* watch;
  EventHook* hook;         // nullptr: none
};

// How the cards went, beside each card's own end.
struct CardsRun {
  bool all_well = false;  // every card that ran ended well
  int records_lost = 0;   // records that could not be written
  Stop stop;              // why cards stopped starting
};

// Before the first card: the cards an earlier run did, the page's beat and
// the end the plan gives, the start event.
void TellTheStart(const NightInputs& night,
                  const std::vector<upgrade_target*>& to_run, int parallel,
                  upgrade_target* cards, const NightTold& told,
                  StatusPrinter* printer, CampaignEvents* events) {
  std::vector<upgrade_target*> skipped;
  size_t listed = 0;
  for (upgrade_target* card = cards; card; card = card->next, ++listed) {
    if (card->state.outcome == OUTCOME_SKIPPED)
      skipped.push_back(card);
  }
  events->RecordNeverRun(skipped);
  // The page and metrics keep their beat whatever the console does.
  told.watch->Beat([printer](const std::string& said) {
    printer->Say("\t%s\n", said.c_str());
  });
  // The page and the waves' events show the ends the plan gives beside
  // the real ones.
  std::vector<std::string> planned_wave_ends;
  if (!night.check) {
    NightPlan plan = plan_night(PlanOf(night, to_run, parallel, false));
    told.watch->Planned(plan.end);
    for (const PlannedWave& wave : plan.waves)
      planned_wave_ends.push_back(
          wave.end < 0 ? "" : iso_local_time(std::lround(wave.end)));
  }
  if (!told.hook)
    return;
  // Said on the console through the printer, by the one thread that writes
  // it while cards run.
  told.hook->SayWith([printer](const std::string& line) {
    printer->Say("%s", line.c_str());
  });
  events->SendEventsTo(told.hook, planned_wave_ends);
  told.hook->Send("start",
                  start_event_json(to_run.size(), listed, night.argument_list,
                                   night.waves, night.check));
}

// Drives the pool until no card can start and every started card has
// ended, the pause signals and the stop file acting on it meanwhile. The
// cards never started end not started, for the stop's reason. Returns the
// stop.
Stop RunThePool(const NightInputs& night,
                const std::vector<upgrade_target*>& to_run, int parallel,
                int tick_ms, CampaignEvents* events) {
  RolloutRules rules(RolloutOf(night), platform().clock);
  CardPool pool(to_run, night.waves, parallel, EachCardsTurn(night, &rules),
                &rules, events);
  pool.CheckAfterTheSoak(CheckAfterTheSoak(night));
  {
    // SIGUSR1 and SIGUSR2, also one that came at the menu.
    InterruptWaker pauses([&pool] { pool.Pause(starting_paused()); });
    pool.Pause(starting_paused());
    // A question between waves ends at the stop file as at an interrupt.
    StopFileWatch stop_file(night.files.stop_file, [&pool] {
      pool.StopFileFound();
      end_questions();
    });
    pool.Run(tick_ms);
  }
  // The cards have ended: an interrupt from now on lets the summary, the
  // page and the end event go out first; a second ends the tool.
  spare_the_next_interrupt();
  Stop stop = pool.stop();
  std::vector<upgrade_target*> never_started = pool.NeverStarted();
  for (upgrade_target* card : never_started) {
    set_card_end(card, OUTCOME_NOT_STARTED);
    card->state.reason = stop_reason_text(stop);
  }
  events->RecordNeverRun(never_started);
  return stop;
}

// Runs `to_run`, `parallel` at a time, in the pool, wave after wave, with
// the console, the report, the page and the event hook told as they go, and
// each card's end counted.
CardsRun RunCards(const NightInputs& night,
                  const std::vector<upgrade_target*>& to_run, int parallel,
                  upgrade_target* cards, const NightTold& told) {
  ShareTheDisk(parallel);
  // The plan's rate, without the option, is a guess, not a cap.
  if (night.rollout.link_rate_given)
    platform().ftp->ShareUploadRate(night.rollout.link_rate);
  platform().ftp->ShareGroupRate(night.rollout.group_rate);
  // A dry run waits for nothing.
  StatusPrinter printer(to_run.size(), parallel, night.check,
                        night.check ? 0 : mandated_wait_seconds(),
                        told.endings);
  ReportWriter writer(told.report, night.files.report, &printer);
  WaveQuestion question(&printer, !night.yes);
  CampaignEvents events(&printer, &writer, told.endings, told.watch,
                        &question);
  TellTheStart(night, to_run, parallel, cards, told, &printer, &events);
  CardsRun run;
  run.stop = RunThePool(night, to_run, parallel, printer.tick_ms(), &events);
  told.watch->Stopped(run.stop);
  std::string said = told.watch->Finish();
  if (!said.empty())
    printer.Say("\t%s\n", said.c_str());
  // The printer writes its last lines now: a failure said later waits.
  if (told.hook)
    told.hook->SayWith(nullptr);
  printer.Show(true);
  run.records_lost = writer.records_lost();
  run.all_well = told.endings->succeeded() == static_cast<int>(to_run.size());
  return run;
}

// The end event with the outcomes' counts and the exit code, then the
// hook's last events, each within its time, before the tool ends.
void TellTheEnd(EventHook* hook, const CardEndings& endings, const Stop& stop,
                int code) {
  hook->Send("end", end_event_json(endings.All(), stop_reason_code(stop.reason),
                                   stop_reason_text(stop), code));
  hook->Finish();
  std::string unsaid = hook->Unsaid();
  if (!unsaid.empty())
    console_printf("%s", unsaid.c_str());
}

// Runs the chosen cards, then says the summary and, with --plan, the plan
// by what the dry run found. The run's echo handle goes once the cards
// have ended. Returns the exit code.
int RunTheCards(NightInputs& night, upgrade_target* cards,
                CampaignReport* report, CardEndings* endings,
                CampaignWatch* watch, std::unique_ptr<IcmpEcho>* echo) {
  std::vector<upgrade_target*> to_run =
      cards_to_run(cards, night.earlier, night.files.resume, night.force);
  int parallel = CardsAtOnce(night.parallel, to_run.size());
  FormTheWaves(ChooseTheCanary(night, to_run, parallel), &to_run, &night);
  // A dry run starts every card at once: with --plan the rollout's options
  // are the plan's alone.
  NightInputs dry_run;
  if (night.check) {
    dry_run = night;
    dry_run.rollout = RolloutOptions();
    count_waves(to_run, &dry_run);
  }
  const NightInputs& run = night.check ? dry_run : night;
  std::unique_ptr<EventHook> hook;
  if (!night.hook.empty())
    hook = std::make_unique<EventHook>(night.hook);
  CardsRun ran = RunCards(run, to_run, parallel, cards,
                          {report, endings, watch, hook.get()});
  echo->reset();
  bool all = ran.all_well;
  if (night.check)
    PrintCheckSummary(cards);
  else
    all = print_summary(cards, ran.records_lost) && all;
  if (night.check)
    SayTheCanaryFound(&night, &to_run);
  bool fits = !night.plan || SayThePlan(night, to_run, parallel, true);
  // A lost record is a failure too: the report is what scripts read.
  // So is a lost block, or summary.
  bool blocks_lost = false;
  for (const upgrade_target* card = cards; card; card = card->next)
    blocks_lost = blocks_lost || card->work.block_lost;
  int code = all && ran.records_lost == 0 && !blocks_lost && fits
                 ? kAllUpgraded
                 : kCardsFailed;
  if (hook)
    TellTheEnd(hook.get(), *endings, ran.stop, code);
  return code;
}

// How a campaign whose log is open ends.
enum Closing {
  CLOSE_SILENTLY,       // the entry's quit answer: at once, as in the dialogue
  CLOSE_BEFORE_CARDS,   // before any card: a Ctrl-C ends the question
  CLOSE_AFTER_CARDS,    // the log is closed, and a Ctrl-C ends the tool
};

// From the log's header on: the modules, the cards, the page, the run.
// Returns the exit code, with how the dialogue closes in *closing.
int RunTheNight(NightInputs& night, CampaignReport* report,
                Closing* closing) {
  *closing = CLOSE_BEFORE_CARDS;
  // Before any question. Each card is sent the copies made here, whatever
  // the files become.
  ModuleCopies copies;
  if (!check_module_hashes(night.files.manifest, &copies))
    return kBadInput;
  night.modules = configured_modules();
  SayTheWindow(night.rollout);
  upgrade_target* cards = nullptr;
  std::unique_ptr<IcmpEcho> echo;
  bool said = true;
  int code = ChooseCards(night, &cards, &echo, &said);
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  if (code != kGoOn) {
    *closing = said ? CLOSE_BEFORE_CARDS : CLOSE_SILENTLY;
    return code;
  }
  NameTheRun();
  CardEndings endings;
  CampaignWatch watch(night.files.html, night.files.metrics, night.arguments,
                      night.check, &endings);
  watch.Limits(night.rollout, night.rollout.max_failures);
  if (!night.files.resume.empty())
    watch.Resumed(night.files.resume, night.earlier);
  std::string error;
  if (!watch.Begin(cards, &error)) {
    console_error_printf("upgrd_util: %s\n", error.c_str());
    return kBadInput;
  }
  *closing = CLOSE_AFTER_CARDS;
  return RunTheCards(night, cards, report, &endings, &watch, &echo);
}

// The closing dialogue, the one place a campaign that opened its log ends.
void CloseTheDialogue(Closing closing, bool wait_for_enter) {
  if (closing == CLOSE_SILENTLY)
    return;
  if (closing == CLOSE_AFTER_CARDS)
    close_result_log();
  end_dialogue(nullptr, false);
  // Ctrl-C at the closing question ends the tool, as in the dialogue; one
  // before it has ended the question already.
  if (closing == CLOSE_AFTER_CARDS)
    end_on_interrupts();
  if (wait_for_enter)
    wait_for_enter_to_exit();
}

// A night refused before any card: told to the hook and the metrics, for
// a night that never ran is what an alert is for. The plan alone is no
// night.
int Refused(const ToolOptions& options, const NightInputs& night,
            bool held_elsewhere, const RefusalHeard& heard) {
  if (!night.plan_only)
    tell_refused_start(options, night, held_elsewhere,
                       heard.line().empty()
                           ? "bad input, before any card (see the console)"
                           : heard.line());
  return kBadInput;
}

}  // namespace

int run_campaign(const ToolOptions& options) {
  // Before any thread starts: from here on one thread takes the
  // interrupts. The plan alone starts none.
  if (!options.plan || options.check)
    catch_interrupts();
  // Who runs it, once, for every record and the page, and for a refusal.
  run_by_user = login_name();
  run_by_host = host_name();
  command_line = options.command_line;
  tool_version = tool_version_text();
  // Why a night is refused, from the line that says it.
  RefusalHeard heard;
  NightInputs night;
  if (!read_night_inputs(options, &night))
    return Refused(options, night, false, heard);
  if (night.plan_only)
    return PlanOnly(night);
  // Let go after the report, whose part file may go as it closes.
  FileLock report_lock, pid_file;
  CampaignReport report(night.files.report);
  CampaignReport* to_report = night.files.report.empty() ? nullptr : &report;
  bool held_elsewhere = false;
  if (!TakeTheRunsFiles(night.files, &report_lock, to_report, &pid_file,
                        &held_elsewhere))
    return Refused(options, night, held_elsewhere, heard);
  StartResult started = start_upgrade_run();
  if (started == START_NO_LOG)
    return Refused(options, night, false, heard);
  Closing closing = CLOSE_BEFORE_CARDS;
  int code = started == START_BAD_INPUT
                 ? kBadInput
                 : RunTheNight(night, to_report, &closing);
  // Bad input ends a night before its first card, never after: said before
  // the closing question, which may wait for Enter.
  if (code == kBadInput)
    Refused(options, night, false, heard);
  CloseTheDialogue(closing, !night.yes);
  return code;
}
