#include "upgrd_util/campaign/campaign.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/upgrade_end.h"
#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/card/card_sequence.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/single_target.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/start_menu.h"
#include "upgrd_util/run/rollout_options.h"
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

// What the cards' pool tells goes to the console and to the report.
class CampaignEvents : public PoolEvents {
 public:
  CampaignEvents(StatusPrinter* printer, CampaignReport* report,
                 const std::string& report_path)
      : printer_(printer), report_(report), report_path_(report_path) {}

  void CardStarted(upgrade_target* card) override {
    if (++card->state.tries == 1)
      card->state.started_at = iso_local_time();
    printer_->Started(*card);
  }

  void CardEnded(upgrade_target* card, CardOutcome outcome,
                 double seconds) override {
    card->state.outcome = outcome;
    finish_card_block(*card);
    printer_->Ended(*card, outcome, seconds);
    Record(*card, seconds);
    // Only a card that reached a load says something of the modules.
    std::lock_guard<std::mutex> lock(mutex_);
    if (card->state.zel_attempts > 0 || card->state.app_attempts > 0) {
      ++reached_load_;
      module_failed_ += outcome == OUTCOME_OS_LOAD_FAILED ||
                        outcome == OUTCOME_APP_LOAD_FAILED ||
                        outcome == OUTCOME_LISTING_UNREADABLE;
    }
  }

  void StartingStopped(StopReason reason, int failed, int running) override {
    if (reason == STOP_MAX_FAILURES)
      SetStopReason("the failure limit was reached");
    if (reason == STOP_INTERRUPTED)
      SetStopReason("interrupted");
    printer_->Stopped(reason, failed, running);
  }

  // A card starts only when its upgrade can end within the window.
  bool MayStart(const upgrade_target&) override {
    if (window_end <= 0 ||
        platform().clock->Seconds() + card_seconds <= window_end)
      return true;
    SetStopReason("window ended");
    printer_->Say("\tThe window ends before another card's upgrade could: "
                  "no further card will be started.\n");
    return false;
  }

  // A card that did not answer, or refused its login, before any upload is
  // tried again after 5, 10, 20 ... minutes (60 at most), `retries` times.
  double RetryAfter(const upgrade_target& card, CardOutcome outcome) override {
    bool unreachable =
        outcome == OUTCOME_UNRESPONSIVE || outcome == OUTCOME_LOGIN_FAILED;
    if (!unreachable || card.state.zel_attempts > 0 ||
        card.state.app_attempts > 0 || card.state.tries > retries)
      return 0;
    return std::min(300.0 * (1 << std::min(card.state.tries - 1, 4)), 3600.0);
  }

  void CardRetried(upgrade_target* card, CardOutcome outcome, double seconds,
                   double delay) override {
    printer_->Retried(*card, outcome, seconds, delay);
  }

  // Without waves, the failure rate is looked at after each card once five
  // cards reached a load.
  bool MayGoOn() override { return !rate_per_card || RateHolds(5); }

  // Returns false, having said so, when more than `rate` percent of the
  // cards that reached a load (at least `reached` of them) failed it.
  bool RateHolds(int reached) {
    int failed, loads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failed = module_failed_;
      loads = reached_load_;
    }
    if (rate < 0 || loads < reached || failed * 100.0 <= rate * loads)
      return true;
    char why[96];
    snprintf(why, sizeof(why), "the module failure rate went above %g%%",
             rate);
    SetStopReason(why);
    printer_->Say("\tModule loads failed on %d of %d cards, above %g%%: no "
                  "further card will be started.\n",
                  failed, loads, rate);
    return false;
  }

  void SetStopReason(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_reason_.empty())
      stop_reason_ = reason;
  }

  std::string stop_reason() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_reason_;
  }

  // The rules of a rollout, set before the cards start.
  double rate = -1;            // --max-failure-rate in percent; -1: none
  bool rate_per_card = false;  // without waves
  double window_end = 0;       // on the clock's seconds; 0: none
  double card_seconds = 0;     // what a card's upgrade takes
  int retries = 0;             // --retry-unreachable

  void WorkersShort(int started, int wanted) override {
    printer_->WorkersShort(started, wanted);
  }

  void Tick(bool last) override { printer_->Show(last); }

  bool report_failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return report_failed_;
  }

  // Writes the card's record to the report, if there is one; the first
  // failure is said once.
  void Record(const upgrade_target& card, double seconds) {
    const char* word = outcome_words(card.state.outcome).word;
    std::string end = card.state.started_at.empty() ? "" : iso_local_time();
    ReportRecord record =
        card_record(card, word, card.state.started_at, end, seconds);
    std::lock_guard<std::mutex> lock(mutex_);
    std::string reason;
    if (!report_ || report_->Write(record, &reason) || report_failed_)
      return;
    report_failed_ = true;
    printer_->Say("\tCannot write the report %s: %s\n", report_path_.c_str(),
                  reason.c_str());
  }

 private:
  StatusPrinter* printer_;
  CampaignReport* report_;
  const std::string report_path_;
  std::mutex mutex_;  // guards the report and the counts below
  bool report_failed_ = false;
  int reached_load_ = 0;
  int module_failed_ = 0;
  std::string stop_reason_;
};

// What the options name is read, or made, before anything is done: the
// password's variable, the report to resume from, the new report. Returns
// false, having said why.
bool ReadOptionFiles(const ToolOptions& options, CampaignReport* report,
                     const char** password,
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
  std::string error, warning;
  // A report of this run over the one it resumes from would lose that
  // history, under whatever name.
  if (!options.resume.empty() && !options.report.empty() &&
      same_file(options.resume.c_str(), options.report.c_str())) {
    console_error_printf("upgrd_util: --resume and --report name one file: "
                         "%s\n",
                         options.report.c_str());
    return false;
  }
  if (!options.resume.empty() &&
      !read_earlier_records(options.resume, earlier, &error,
                           &warning)) {
    console_error_printf("upgrd_util: --resume: %s\n", error.c_str());
    return false;
  }
  if (!warning.empty())
    console_printf("upgrd_util: --resume: %s\n", warning.c_str());
  if (report && !report->Open(&error)) {
    console_error_printf("upgrd_util: --report: cannot write %s: %s\n",
                         options.report.c_str(), error.c_str());
    return false;
  }
  return true;
}

// The addresses of --limit: "A,B,C", or "@FILE" with one a line. Returns
// false, having said why, when FILE cannot be read.
bool LimitAddresses(const std::string& limit, std::vector<std::string>* out) {
  std::string text = limit;
  char separator = ',';
  if (!limit.empty() && limit[0] == '@') {
    FILE* file = open_regular_file(limit.c_str() + 1);
    if (!file) {
      console_error_printf("upgrd_util: --limit: cannot read %s (a regular "
                           "file is needed)\n",
                           limit.c_str() + 1);
      return false;
    }
    text.clear();
    char piece[4096];
    size_t got;
    // Far more than a fleet's addresses; a bound against a wrong file.
    while (text.size() < (1 << 20) &&
           (got = fread(piece, 1, sizeof(piece), file)) > 0)
      text.append(piece, got);
    fclose(file);
    separator = '\n';
  }
  std::string address;
  for (size_t at = 0; at <= text.size(); ++at) {
    char c = at < text.size() ? text[at] : separator;
    if (c == separator) {
      if (!address.empty())
        out->push_back(address);
      address.clear();
    } else if (c != ' ' && c != '\t' && c != '\r') {
      address += c;
    }
  }
  return true;
}

// Keeps of *cards only those --limit names, in the order of iplist.txt.
// Returns false, having named it, when it names an address iplist.txt does
// not hold.
bool KeepOnlyLimited(const std::string& limit, upgrade_target** cards,
                     int* count) {
  std::vector<std::string> addresses;
  if (!LimitAddresses(limit, &addresses))
    return false;
  if (addresses.empty()) {
    console_error_printf("upgrd_util: --limit names no card\n");
    return false;
  }
  std::set<std::string> wanted(addresses.begin(), addresses.end());
  for (const std::string& address : addresses) {
    bool listed = false;
    for (upgrade_target* card = *cards; card && !listed; card = card->next)
      listed = address == card->ip;
    if (!listed) {
      console_error_printf("upgrd_util: --limit: %s is not a card of "
                           "iplist.txt\n",
                           address.c_str());
      return false;
    }
  }
  upgrade_target** link = cards;
  *count = 0;
  while (upgrade_target* card = *link) {
    if (wanted.count(card->ip)) {
      ++*count;
      link = &card->next;
      continue;
    }
    *link = card->next;
    card->next = nullptr;
    free_upgrade_targets(card);
  }
  return true;
}

// The cards of the campaign: those of iplist.txt, checked, unless the
// operator enters one instead at the menu. Returns kGoOn, with the run's
// echo handle in *echo; otherwise the exit code of a campaign that ends
// before any card, *closing saying whether its closing dialogue is said.
int ChooseCards(const ToolOptions& options, const char* password,
                upgrade_target** cards, std::unique_ptr<IcmpEcho>* echo,
                bool* closing) {
  int count = 0;
  ListReading reading;
  switch (read_card_list(password, cards, &count, &reading)) {
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
  if (!options.limit.empty() && !KeepOnlyLimited(options.limit, cards, &count))
    return kBadInput;
  if (!check_campaign_cards(*cards, echo))
    return kBadInput;
  if (options.yes)
    return kGoOn;
  int answer = ask_start_menu(count);
  if (answer == '1')
    return kGoOn;
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

// Cards that an earlier run left running the modules of this one are left
// alone, and said so; its other cards run, and so does a card whose record
// was for other modules (said once). Returns the cards that run.
std::vector<upgrade_target*> CardsToRun(upgrade_target* cards,
                                        const Earlier& earlier,
                                        const std::string& resume) {
  std::vector<upgrade_target*> to_run;
  int other_modules = 0;
  for (upgrade_target* card = cards; card; card = card->next) {
    auto found = earlier.find(card->ip);
    const EarlierRecord* record =
        found == earlier.end() ? nullptr : &found->second;
    bool done = record && (record->outcome == "upgraded" ||
                           record->outcome == "already_current" ||
                           record->outcome == "skipped");
    bool same = done && record->zel_target == zel_module_name &&
                record->app_target == app_module_name;
    other_modules += done && !same;
    if (!same) {
      to_run.push_back(card);
      continue;
    }
    // A record of a record still knows when and where the card was done.
    bool carried = record->outcome == "skipped";
    card->state.upgraded_in_run =
        carried ? record->upgraded_in_run : record->run_id;
    card->state.upgraded_at = carried ? record->upgraded_at : record->end;
    card->state.zel_after = record->zel_after;
    card->status = STATUS_SKIPPED;
    card->state.outcome = OUTCOME_SKIPPED;
    console_printf("\t%-17s%s\n", card->ip,
                   outcome_words(OUTCOME_SKIPPED).said);
  }
  if (other_modules > 0)
    console_printf("\t%d cards run again: their records in %s were for "
                   "other modules.\n",
                   other_modules, resume.c_str());
  return to_run;
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
    console_printf("\t-j %d is more than this workstation allows: %d cards "
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

// Sets the rules of a rollout from the options: the failure rate, and the
// window (said on the console with its end).
void SetRolloutRules(const ToolOptions& options, CampaignEvents* events) {
  std::string ignored;
  if (!options.max_failure_rate.empty())
    failure_rate(options.max_failure_rate, &events->rate, &ignored);
  events->rate_per_card = options.waves.empty();
  events->retries = options.retry_unreachable;
  struct tm now = {};
  double seconds = 0;
  if (options.not_after.empty() || !platform().clock->LocalTime(&now) ||
      !seconds_until(options.not_after, now, &seconds, &ignored))
    return;
  events->window_end = platform().clock->Seconds() + seconds;
  // A card's mandated waits, and a minute for the rest of its path.
  events->card_seconds = mandated_wait_seconds() + 60;
  console_printf("\tThe window ends at %s, %s from now: a card starts only "
                 "if its upgrade can end before.\n",
                 iso_local_time(static_cast<long>(seconds)).c_str(),
                 duration_text(seconds).c_str());
}

// After a wave: its outcome, the failure rate, and without --yes the
// operator's word. Returns false when no further wave is to start.
bool NextWave(const ToolOptions& options, CampaignEvents* events,
              const std::vector<upgrade_target*>& wave, size_t number,
              size_t waves, size_t next_size) {
  int upgraded = 0, failed = 0;
  for (const upgrade_target* card : wave) {
    if (card->state.outcome == OUTCOME_NONE)
      continue;
    ++(outcome_words(card->state.outcome).failure ? failed : upgraded);
  }
  console_printf("\tWave %d of %d ended: %d upgraded, %d failed.\n",
                 static_cast<int>(number), static_cast<int>(waves), upgraded,
                 failed);
  if (!events->RateHolds(1))
    return false;
  if (options.yes)
    return true;
  console_printf("\tStart wave %d of %d (%d cards)?\n\t1: Go on\n\t3: "
                 "Stop\n\tAction: ",
                 static_cast<int>(number + 1), static_cast<int>(waves),
                 static_cast<int>(next_size));
  std::string answer;
  if (platform().console->ReadLine(&answer) && answer[0] == '1')
    return true;
  events->SetStopReason("stopped after wave " + std::to_string(number));
  return false;
}

// Runs the cards in the pool, wave after wave, with the console and the
// report told as they go; those that never start end not started, with the
// reason. Returns true when every card that ran ended well; *report_failed
// tells whether a record was lost.
bool RunCards(const ToolOptions& options, upgrade_target* cards,
              const Earlier& earlier, CampaignReport* report,
              bool* report_failed) {
  std::vector<upgrade_target*> to_run =
      CardsToRun(cards, earlier, options.resume);
  int parallel = CardsAtOnce(options.parallel, to_run.size());
  ShareTheDisk(parallel);
  catch_interrupts();
  // A dry run waits for nothing.
  StatusPrinter printer(to_run.size(), parallel, options.check,
                        options.check ? 0 : mandated_wait_seconds());
  CampaignEvents events(&printer, report, options.report);
  SetRolloutRules(options, &events);
  for (upgrade_target* card = cards; card; card = card->next) {
    if (card->state.outcome == OUTCOME_SKIPPED)
      events.Record(*card, 0);
  }
  std::vector<size_t> sizes;
  std::string ignored;
  if (options.waves.empty() ||
      !wave_sizes(options.waves, to_run.size(), &sizes, &ignored))
    sizes = {to_run.size()};
  for (size_t wave = 0, begin = 0; wave < sizes.size(); begin += sizes[wave++]) {
    for (size_t i = begin; i < begin + sizes[wave]; ++i)
      to_run[i]->state.wave = static_cast<int>(wave) + 1;
  }
  size_t begin = 0;
  int failed = 0;
  for (size_t wave = 0; wave < sizes.size(); begin += sizes[wave++]) {
    std::vector<upgrade_target*> cards_of_wave(
        to_run.begin() + begin, to_run.begin() + begin + sizes[wave]);
    CardPool pool(cards_of_wave, parallel, options.max_failures,
                  EachCardsTurn(options), &events, failed);
    pool.Run(printer.tick_ms());
    failed = pool.failed();
    printer.Show(true);
    if (pool.stopped() || wave + 1 == sizes.size() ||
        !NextWave(options, &events, cards_of_wave, wave + 1, sizes.size(),
                  sizes[wave + 1]))
      break;
  }
  for (upgrade_target* card : to_run) {
    if (card->state.outcome != OUTCOME_NONE)
      continue;
    card->status = STATUS_NOT_STARTED;
    card->state.outcome = OUTCOME_NOT_STARTED;
    card->state.reason = events.stop_reason();
    events.Record(*card, 0);
  }
  printer.Show(true);
  // Ctrl-C at the closing question ends the tool, as in the dialogue.
  end_on_interrupts();
  *report_failed = events.report_failed();
  return printer.succeeded() == static_cast<int>(to_run.size());
}

}  // namespace

int run_campaign(const ToolOptions& options) {
  const char* password = nullptr;
  Earlier earlier;
  CampaignReport report(options.report);
  CampaignReport* to_report = options.report.empty() ? nullptr : &report;
  if (!ReadOptionFiles(options, to_report, &password, &earlier))
    return kBadInput;
  bool wait_for_enter = !options.yes;
  StartResult started = start_upgrade_run();
  if (started == START_NO_LOG)
    return kBadInput;
  if (started == START_BAD_INPUT) {
    end_dialogue(nullptr, wait_for_enter);
    return kBadInput;
  }
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
  bool report_failed = false;
  bool all = RunCards(options, cards, earlier, to_report,
                      &report_failed);
  echo.reset();
  if (options.check)
    PrintCheckSummary(cards);
  else
    print_summary(cards);
  close_result_log();
  end_dialogue(nullptr, wait_for_enter);
  // A lost record is a failure too: the report is what scripts read.
  return all && !report_failed ? kAllUpgraded : kCardsFailed;
}
