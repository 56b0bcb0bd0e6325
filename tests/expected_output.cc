#include "tests/expected_output.h"

namespace {

// The spinner's turn, "|/-\" over and over, for `count` marks.
std::string Turning(int count) {
  std::string marks;
  for (int i = 0; i < count; ++i)
    marks += "|/-\\"[i % 4];
  return marks;
}

}  // namespace

std::string Marks(const std::string& marks) {
  std::string bytes;
  for (char mark : marks)
    bytes += std::string("\b\b ") + mark;
  return bytes;
}

const char kMarkAnswered[] = "\b\b    ";
const char kMarkBlanked[] = "\b\b     ";

std::string ProbeAnswered() {
  return Marks(std::string(20, '|')) + kMarkAnswered;
}

std::string ProbeSilent(int requests) {
  return Marks(Turning(requests)) + kMarkBlanked;
}

std::string Spin(int seconds) {
  return Marks(Turning(4 * seconds)) + kMarkBlanked;
}

const char kFastLogHeader[] =
    "VRN Upgrade Tool v1.6c\nMon Dec  7 09:30:00 AM\n\n";
const char kBannerRule[] =
    "-----------------------------------------------------------------------"
    "------\n";

std::string Banner(const std::string& zel_column, const std::string& app_column,
                   const std::string& header) {
  return header + "\n\nKorvane" + std::string(33, ' ') + zel_column +
         "\n(c) Korvane. All rights reserved." + std::string(7, ' ') +
         app_column + "\n" + kBannerRule;
}

std::string Banner() {
  return Banner("VRN OS" + std::string(25, ' ') + "v2.1.1",
                "VRN APP" + std::string(24, ' ') + "v2.1.1");
}

std::string Menu(int count) {
  return "\tConfiguration detected ( iplist.txt ).\n\tFound " +
         std::to_string(count) +
         " upgrade configuration(s)\n\n"
         "\t1: Use parameters in configuration file  \n"
         "\t2: Enter parameters for single upgrade\n"
         "\t3: Exit Firmware upgrade tool\n"
         "\tAction: ";
}

const char kListWarning[] =
    "\tWarning: A file called 'iplist.txt' exists in this directory\n"
    "\tthat may contain user names and passwords in clear text.\n"
    "\tYou may want to delete this file if other users have access\n"
    "\tto this directory.\n";
const char kClosing[] =
    "\n\n\tThank you for using KVN products\n\n\tPress <Enter> to exit.\n";

const char kClearTextWarning[] =
    "\n\t*************************************************************\n"
    "\tWarning: User name and password information will be displayed\n"
    "\tto the screen in clear text.\n";
const char kEntryStars[] =
    "\t*************************************************************\n\n";
const char kIpPrompt[] = "\n\tIP Address of target to upgrade: ";
const char kUserPrompt[] = "\tUser Name: ";
const char kPasswordPrompt[] = "\tPassword: ";

std::string EntryStart() {
  return std::string(kClearTextWarning) + kEntryStars + kIpPrompt;
}

std::string Shown(const std::string& ip, const std::string& user,
                  const std::string& password) {
  return "\n\n\tYou have entered:\n\tIP Address: " + ip +
         "\n\tUsername:   " + user + "\n\tPassword:   " + password +
         "\n\n\t1: Continue with upgrade\n\t2: Re-enter parameters\n"
         "\t3: Quit\n\tAction: ";
}

std::string Entry(const std::string& ip, const std::string& user,
                  const std::string& password) {
  return std::string(kEntryStars) + kIpPrompt + kUserPrompt + kPasswordPrompt +
         Shown(ip, user, password);
}

const char kEntryXpWarning[] =
    "\t**************************************************************"
    "\n\tWarning: There is a known issue with Windows XP when upgrading\n"
    "\tfrom devices running pre kvn_hw02_zel_211.bin firmware.\n"
    "\tIf you are running Windows XP you should stop this upgrade and\n"
    "\trun it from a pre-XP Windows machine.\n\n"
    "\t1: Continue with upgrade\n\t2: Re-enter parameters\n"
    "\t3: Exit Firmware upgrade tool\n\tAction: ";

const char kLogInLabel[] = "\tAttempting to log in ...                 ";
const char kLoadingOs[] = "\tLoading OS, please wait ... ";
const char kLoadingApp[] = "\tLoading application, please wait ... ";
const char kVerifyLabel[] = "\tAttempting connection to verify restart  ";
const char kZelWait60[] = "\tPlease wait (1 minute) for system updates     ";
const char kZelWait180[] = "\tPlease wait (3 minutes) for system updates    ";
const char kPatchWait[] = "\tPlease wait (30 seconds) for system restart   ";
const char kPatchWaitLog[] = "Please wait (30 seconds) for system restart  ";
const char kAppWait30[] = "\tPlease wait (60 seconds) for system updates  ";
const char kAppWait30Log[] = "Please wait (60 seconds) for system updates \n";
const char kAppWait210[] = "\tPlease wait (3-4 minutes) for system updates ";
const char kAppWait210Log[] = "Please wait (3-4 minutes) for system updates\n";

std::string ZelToProbe(const std::string& wait_line, int seconds) {
  return std::string(kLogInLabel) + "        OK\n" + kLoadingOs +
         "                     OK\n" + wait_line + Spin(seconds) + "OK\n" +
         kVerifyLabel;
}

std::string AppToProbe(const std::string& wait_line, int seconds) {
  return std::string(kLogInLabel) + "        OK\n" + kLoadingApp +
         "            OK\n" + wait_line + Spin(seconds) + " OK\n" +
         kVerifyLabel;
}

std::string LogZelToProbe(const std::string& wait_log, const std::string& ip) {
  return "Attempting to log in to " + ip + " ... Log in successful\n"
         "Loading OS, please wait ... " + wait_log +
         "OK\nAttempting connection to verify restart  ";
}

std::string LogAppToProbe(const std::string& wait_log) {
  return "Attempting to log in ...                         OK\n"
         "Loading application, please wait ...             OK\n" +
         wait_log + "Attempting connection to verify restart  ";
}

std::string LogBefore(const std::string& zel) {
  return "\n " + std::string(29, '*') + " \n" +
         "Before Upgrading the VRN the ZEL is: " + zel + "\n";
}

std::string LogAfter(const std::string& expected, const std::string& found) {
  return "\nAfter the upgrade process has completed,\nlooking for ZEL: " +
         expected + "\nFound ZEL      : " + found + " ";
}

std::string Module(const std::string& version, const std::string& name,
                   size_t size, char body) {
  std::string module(256, '\0');
  module.replace(42, version.size(), version);
  module.replace(91, name.size(), name);
  module.resize(size, body);
  return module;
}
