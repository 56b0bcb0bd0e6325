#include "upgrd_util/run/start_up.h"

#include <cstdio>
#include <set>
#include <string>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/inputs/firmware_selection.h"
#include "upgrd_util/inputs/target_list.h"
#include "upgrd_util/modules/module_banner.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ipv4_address.h"
#include "upgrd_util/platform/platform.h"

namespace {

// Opens an echo handle as every probe will. Without ICMP no card would
// answer, and every card would fail alike.
bool OpenEcho(std::unique_ptr<IcmpEcho>* echo) {
  IcmpEcho* shared = platform().icmp;
  *echo = shared->Another();
  IcmpEcho* probe = *echo ? echo->get() : shared;
  std::string reason;
  if (!probe->StartUp() || !probe->Open(&reason)) {
    console_error_printf(
        "\tThe tool cannot send ICMP echo requests here, so no card "
        "would answer: run it as root, give it CAP_NET_RAW (setcap "
        "cap_net_raw+ep), or widen net.ipv4.ping_group_range to "
        "the user's group.\n");
    echo->reset();
    return false;
  }
  // An echo object that every thread shares is the probes' own to open.
  if (!*echo) {
    shared->Close();
    shared->ShutDown();
  }
  return true;
}

}  // namespace

bool lock_working_directory(bool* held) {
  std::string reason;
  bool in_use = false;
  if (lock_result_log(&reason, &in_use))
    return true;
  if (held)
    *held = in_use;
  if (in_use)
    console_error_printf(
        "\tAnother run of the tool is using this directory "
        "(%s is locked). No upgrade was started.\n",
        kResultLogName);
  else
    console_error_printf(
        "\tCannot open the result log '%s': %s. No upgrade was "
        "started.\n",
        kResultLogName, reason.c_str());
  return false;
}

void let_go_of_working_directory() {
  unlock_result_log();
}

StartResult start_upgrade_run() {
  // The lock held, the log opens with it.
  std::string reason;
  if (!lock_working_directory() || !open_result_log(&reason))
    return START_NO_LOG;
  if (!read_firmware_selection(zel_module_name, app_module_name) ||
      !show_module_banner(zel_module_name, app_module_name))
    return START_BAD_INPUT;
  return START_READY;
}

ListResult read_card_list(const char* default_password, upgrade_target** cards,
                          int* count, ListReading* reading) {
  *cards = nullptr;
  *count = 0;
  FILE* list_file = open_regular_file("iplist.txt");
  if (!list_file)
    return LIST_MISSING;
  ListReading read;
  *cards = read_target_list(count, list_file, default_password, &read);
  if (reading)
    *reading = read;
  // Passwords from the environment alone are nothing to warn of.
  iplist_found = *count <= 0 || read.any_password;
  if (*count == -2) {
    console_error_printf("\tSee error log for details.\n\n");
    return LIST_BAD;
  }
  return *count == 0 ? LIST_EMPTY : LIST_READ;
}

bool check_card_addresses(const upgrade_target* cards) {
  std::set<std::string> addresses;
  bool good = true;
  for (const upgrade_target* card = cards; card; card = card->next) {
    int line = card->state.list_line;
    if (!parse_ipv4_address(card->ip)) {
      if (line > 0)
        console_error_printf(
            "\tiplist.txt, line %d: %s is not an IPv4 address "
            "(four numbers from 0 to 255 with dots between them, "
            "none with a leading zero).\n",
            line, card->ip);
      else
        console_error_printf(
            "\t%s is not an IPv4 address (four numbers from 0 to "
            "255 with dots between them, none with a leading "
            "zero).\n",
            card->ip);
      good = false;
    } else if (!addresses.insert(card->ip).second) {
      console_error_printf(
          "\tiplist.txt, line %d: the card %s is listed a second "
          "time.\n",
          line, card->ip);
      good = false;
    }
  }
  return good;
}

bool check_campaign_cards(const upgrade_target* cards,
                          std::unique_ptr<IcmpEcho>* echo) {
  if (!check_card_addresses(cards) || !OpenEcho(echo))
    return false;
  if (!interim_patch_here())
    console_printf(
        "\tWarning: the interim patch %s%s is not here; cards at "
        "version 200 or below, or at 202, will fail.\n",
        kCurrentDirectoryPrefix, kInterimPatchName);
  return true;
}
