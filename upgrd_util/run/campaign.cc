#include "upgrd_util/run/campaign.h"

#include <algorithm>
#include <cstdarg>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/upgrade_end.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/single_target.h"
#include "upgrd_util/inputs/target_list.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/campaign_report.h"
#include "upgrd_util/run/card_sequence.h"
#include "upgrd_util/run/start_menu.h"
#include "upgrd_util/run/upgrade_run.h"
#include "upgrd_util/run/upgrade_summary.h"

namespace {

// Wide enough to blank any status line.
const int kStatusWidth = 78;

// How a card ended: in words for its console line, as a stable word for
// the report, and whether that is what the campaign is for.
struct Ending {
  const char* said;
  const char* word;
  bool good;
};

Ending UpgradeEnding(int32_t status) {
  switch (status) {
    case STATUS_UPGRADED:
      return {"upgraded", "upgraded", true};
    case STATUS_OS_LOAD_FAILED:
      return {"failed: the ZEL module was not loaded", "os_load_failed", false};
    case STATUS_APP_LOAD_FAILED:
      return {"failed: the APP module was not loaded", "app_load_failed",
              false};
    case STATUS_UNRESPONSIVE:
      return {"failed: unresponsive", "unresponsive", false};
    case STATUS_UNKNOWN_VERSION:
      return {"failed: unknown version", "unknown_version", false};
    case STATUS_NOT_STARTED:
      return {"not started", "not_started", false};
    case STATUS_SKIPPED:
      return {"skipped: upgraded by an earlier campaign", "skipped", true};
    default:
      return {"failed: login failed", "login_failed", false};
  }
}

Ending CheckEnding(card_check check) {
  switch (check) {
    case CHECK_WOULD_UPGRADE:
      return {"would upgrade", "would_upgrade", true};
    case CHECK_WOULD_PATCH:
      return {"would apply the interim patch, then upgrade", "would_patch",
              true};
    case CHECK_UNKNOWN_VERSION:
      return {"unknown version: would not be upgraded", "unknown_version",
              false};
    case CHECK_UNRESPONSIVE:
      return {"unresponsive", "unresponsive", false};
    default:
      return {"login failed", "login_failed", false};
  }
}

std::string Duration(double seconds) {
  long whole = static_cast<long>(seconds + 0.5);
  char text[48];
  if (whole < 60)
    snprintf(text, sizeof(text), "%ld s", whole);
  else
    snprintf(text, sizeof(text), "%ld min %ld s", whole / 60, whole % 60);
  return text;
}

// One card's whole sequence (or its dry run) on a thread of its own: its own
// console (none), echo handle, listing file and journal; its entries go to
// result.txt as one block when it ends.
Ending UpgradeBesideOthers(upgrade_target* card, const Platform& shared,
                           bool check) {
  SilentConsole silent;
  std::unique_ptr<IcmpEcho> icmp = shared.icmp->Another();
  Platform own = shared;
  own.console = &silent;
  if (icmp)
    own.icmp = icmp.get();
  install_thread_platform(&own);

  card->state.beside_others = true;
  snprintf(card->state.listing_file, sizeof(card->state.listing_file),
           "%s_foundfir.txt", card->ip);
  char journal_name[64];
  snprintf(journal_name, sizeof(journal_name), "%s_upgrade.txt", card->ip);
  card_log log;
  log.journal = fopen(journal_name, "a");
  route_log_to(&log);
  Ending ending;
  if (check) {
    ending = CheckEnding(check_card(card));
    log_printf("Dry run: %s\n", ending.said);
    log_flush();
  } else {
    upgrade_card(card);
    ending = UpgradeEnding(card->status);
  }
  route_log_to(nullptr);
  if (log.journal)
    fclose(log.journal);
  std::string block = "\n*** Card ";
  block += card->ip;
  block += " ***\n";
  block += log.text;
  log_append_block(block);
  install_thread_platform(nullptr);
  return ending;
}

struct Campaign {
  Campaign(std::vector<upgrade_target*> cards, const campaign_options& options,
           campaign_report* report)
      : cards(std::move(cards)), options(options), report(report) {}

  // Takes cards until there is none left or no further card may start.
  void Work() {
    std::unique_lock<std::mutex> lock(mutex);
    while (MayStartAnother()) {
      upgrade_target* card = cards[next++];
      ++running;
      Say("\t%-17sstarted\n", card->ip);
      lock.unlock();
      std::string started_at = iso_local_time();
      double start = shared.clock->Seconds();
      Ending ending = UpgradeBesideOthers(card, shared, options.check);
      double taken = shared.clock->Seconds() - start;
      lock.lock();
      --running;
      ++ended;
      seconds_taken += taken;
      if (ending.good)
        ++upgraded;
      else
        ++failed;
      Say("\t%-17s%s in %s\n", card->ip, ending.said, Duration(taken).c_str());
      Record(card_record(*card, ending.word, started_at, iso_local_time(),
                         taken));
      if (options.max_failures > 0 && failed >= options.max_failures &&
          !stop_starting && next < cards.size()) {
        stop_starting = true;
        Say("\t%d cards have failed: no further card will be started.\n",
            failed);
      }
    }
    --workers;
    wake.notify_all();
  }

  // Runs the workers and reports on the console until all have ended.
  void Run() {
    shared = platform();
    terminal = shared.console->IsTerminal();
    size_t count = std::min(cards.size(), static_cast<size_t>(options.parallel));
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex);
      workers = count;
    }
    for (size_t i = 0; i < count; ++i)
      threads.emplace_back([this] { Work(); });
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      MayStartAnother();
      Show(workers == 0);
      if (workers == 0)
        break;
      // On a terminal, often enough to redraw each second.
      wake.wait_for(lock, terminal ? std::chrono::milliseconds(50)
                                   : std::chrono::milliseconds(1000));
    }
    lock.unlock();
    for (std::thread& thread : threads)
      thread.join();
    for (size_t i = next; i < cards.size(); ++i) {
      cards[i]->status = STATUS_NOT_STARTED;
      Record(card_record(*cards[i], "not_started", "", "", 0));
    }
    Show(true);
  }

  // Writes a card's record to the report, if there is one; the first
  // failure is said once (mutex held).
  void Record(const report_record& record) {
    std::string reason;
    if (!report || report->Write(record, &reason) || report_failed)
      return;
    report_failed = true;
    Say("\tCannot write the report %s: %s\n", options.report.c_str(),
        reason.c_str());
  }

  // Tells whether a further card may start, once an interrupt came too
  // (mutex held).
  bool MayStartAnother() {
    if (interrupts_received() > 0 && !interrupted) {
      interrupted = true;
      if (!stop_starting && next < cards.size())
        Say("\tInterrupted: no further card will be started; %d still "
            "running will finish (interrupt again to end at once).\n",
            static_cast<int>(running));
      stop_starting = true;
    }
    return !stop_starting && next < cards.size();
  }

  // Queues a whole console line for the reporting thread (mutex held).
  void Say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    lines.push_back(line);
    wake.notify_all();
  }

  // Prints the queued lines; on a terminal, at most once a second and with
  // the status line below them until the `last` time (mutex held).
  void Show(bool last) {
    if (!terminal) {
      for (const std::string& line : lines)
        console_printf("%s", line.c_str());
      lines.clear();
      return;
    }
    double now = shared.clock->Seconds();
    if (!last && drawn && now - drawn_at < 1.0)
      return;
    console_printf("\r%*s\r", kStatusWidth, "");
    for (const std::string& line : lines)
      console_printf("%s", line.c_str());
    lines.clear();
    if (!last)
      console_printf("%s", StatusLine().c_str());
    drawn = true;
    drawn_at = now;
  }

  std::string StatusLine() {
    size_t waiting = stop_starting ? 0 : cards.size() - next;
    char text[160];
    int length = snprintf(text, sizeof(text),
                          "\t%d running, %d upgraded, %d failed, %d waiting",
                          static_cast<int>(running), upgraded, failed,
                          static_cast<int>(waiting));
    std::string line(text, static_cast<size_t>(std::max(length, 0)));
    if (ended > 0) {
      // Cards take about as long as those that ended; the running ones are
      // half done, on average.
      double per_card = seconds_taken / ended;
      size_t waves = (waiting + options.parallel - 1) / options.parallel;
      double left = per_card * (static_cast<double>(waves) + 0.5);
      line += ", about ";
      line += Duration(left);
      line += " left";
    }
    return line;
  }

  std::vector<upgrade_target*> cards;
  campaign_options options;
  campaign_report* report;
  Platform shared;
  bool terminal = false;
  bool drawn = false;  // the status line, on a terminal
  double drawn_at = 0;

  std::mutex mutex;  // guards everything below
  std::condition_variable wake;
  size_t next = 0;
  size_t running = 0;
  size_t workers = 0;
  int ended = 0;
  int upgraded = 0;
  int failed = 0;
  double seconds_taken = 0;
  bool stop_starting = false;
  bool interrupted = false;
  bool report_failed = false;
  std::deque<std::string> lines;
};

// Four decimal numbers from 0 to 255 with dots between them, and nothing
// else: what the probe and the FTP library take as an address.
bool IsDottedIpv4(const char* text) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.')
      return false;
    int value = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9' && digits < 4) {
      value = value * 10 + (*text++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255)
      return false;
  }
  return *text == '\0';
}

// The end of a dry run: how many cards would be upgraded, and why the others
// would not.
void PrintCheckSummary(const upgrade_target* cards, int would_upgrade) {
  int total = 0;
  for (const upgrade_target* card = cards; card; card = card->next)
    ++total;
  console_printf("\n\t*********** Dry Run Summary *********** \n");
  console_printf("\t%d of %d cards would be upgraded.\n", would_upgrade, total);
  log_printf("\n\n************************************************************\n");
  log_printf("\nDry run: %d of %d cards would be upgraded.\n", would_upgrade,
             total);
  for (const upgrade_target* card = cards; card; card = card->next) {
    if (card->status <= STATUS_UPGRADED || card->status == STATUS_SKIPPED)
      continue;
    // The words of the card's own line.
    card_check check = card->status == STATUS_UNRESPONSIVE ? CHECK_UNRESPONSIVE
                       : card->status == STATUS_UNKNOWN_VERSION
                           ? CHECK_UNKNOWN_VERSION
                           : CHECK_LOGIN_FAILED;
    const char* said = card->status == STATUS_NOT_STARTED
                           ? UpgradeEnding(card->status).said
                           : CheckEnding(check).said;
    console_printf("\t%s: %s\n", card->ip, said);
    log_printf("\t%s: %s\n", card->ip, said);
  }
  log_printf("************************************************************\n\n\n");
  log_flush();
}

// Ends a campaign that cannot start with the given line: bad input.
[[noreturn]] void RefuseInput(const char* line) {
  console_printf("%s", line);
  finish_and_exit();
}

}  // namespace

int run_campaign(const campaign_options& options) {
  // What is wrong with the options' files is said before anything is done.
  const char* password = nullptr;
  if (!options.password_variable.empty()) {
    password = getenv(options.password_variable.c_str());
    if (!password || !*password || strlen(password) >= sizeof(upgrade_target::password)) {
      console_printf("upgrd_util: --password-from-env: the environment "
                     "variable %s %s\n",
                     options.password_variable.c_str(),
                     password && *password
                         ? "holds a password longer than 10 characters"
                         : "is not set");
      return 2;
    }
  }
  std::set<std::string> upgraded_before;
  std::string error;
  if (!options.resume.empty() &&
      !read_upgraded_cards(options.resume, &upgraded_before, &error)) {
    console_printf("upgrd_util: --resume: %s\n", error.c_str());
    return 2;
  }

  // Bad inputs end the run with 2, so that a script can tell them from
  // failed cards.
  end_exit_code = 2;
  unattended = options.yes;
  if (!start_upgrade_run())
    return 2;
  FILE* list_file = open_regular_file("iplist.txt");
  if (!list_file)
    RefuseInput("\tA campaign upgrades the cards of iplist.txt, and there is "
                "no iplist.txt in this directory.\n");
  // The file stays open for the whole run.
  iplist_found = true;
  int count = 0;
  upgrade_target* listed = read_target_list(&count, list_file, password);
  if (count == -2)
    RefuseInput("\tSee error log for details.\n\n");
  if (count == 0)
    RefuseInput("\tiplist.txt lists no card.\n");
  // What would fail every card the same way is said once, before any card
  // is touched.
  std::set<std::string> addresses;
  bool addresses_bad = false;
  for (upgrade_target* card = listed; card; card = card->next) {
    if (!IsDottedIpv4(card->ip)) {
      console_printf("\tiplist.txt, line %d: %s is not an IPv4 address "
                     "(four numbers from 0 to 255 with dots between them).\n",
                     card->state.list_line, card->ip);
      addresses_bad = true;
    } else if (!addresses.insert(card->ip).second) {
      // Two sequences at once on one card would upload over each other.
      console_printf("\tiplist.txt, line %d: the card %s is listed a second "
                     "time.\n",
                     card->state.list_line, card->ip);
      addresses_bad = true;
    }
  }
  if (addresses_bad)
    finish_and_exit();
  std::string reason;
  if (!platform().icmp->StartUp() || !platform().icmp->Open(&reason)) {
    console_printf("\tThe tool cannot send ICMP echo requests here, so no card "
                   "would answer: run it as root, give it CAP_NET_RAW (setcap "
                   "cap_net_raw+ep), or widen net.ipv4.ping_group_range to "
                   "the user's group.\n");
    finish_and_exit();
  }
  platform().icmp->Close();
  platform().icmp->ShutDown();
  std::string patch = std::string(kCurrentDirectoryPrefix) + kInterimPatchName;
  if (FILE* file = open_regular_file(patch.c_str()))
    fclose(file);
  else
    console_printf("\tWarning: the interim patch %s is not here; cards at "
                   "version 202 or below will fail.\n",
                   patch.c_str());

  end_exit_code = 1;
  if (!options.yes) {
    char answer = ask_start_menu(count);
    if (answer == '3')
      finish_and_exit();
    if (answer == '2') {
      free_upgrade_targets(listed);
      listed = enter_single_target();
    }
  }

  campaign_report report(options.report);
  campaign_report* to_report = options.report.empty() ? nullptr : &report;
  std::vector<upgrade_target*> cards;
  for (upgrade_target* card = listed; card; card = card->next) {
    if (!upgraded_before.count(card->ip)) {
      cards.push_back(card);
      continue;
    }
    card->status = STATUS_SKIPPED;
    console_printf("\t%-17s%s\n", card->ip, UpgradeEnding(card->status).said);
    std::string reason;
    if (to_report)
      to_report->Write(card_record(*card, "skipped", "", "", 0), &reason);
  }

  raise_open_file_limit();
  catch_interrupts();
  Campaign campaign(cards, options, to_report);
  campaign.Run();
  if (options.check)
    PrintCheckSummary(listed, campaign.upgraded);
  else
    print_summary(listed);
  close_result_log();
  bool all = campaign.upgraded == static_cast<int>(cards.size());
  end_exit_code = all ? 0 : 1;
  finish_and_exit();
}
