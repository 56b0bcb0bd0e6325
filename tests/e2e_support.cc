#include "tests/e2e_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <nlohmann/json.hpp>

const char kZel211[] = "kvn_hw02_zel_211.bin";
const char kApp211[] = "kvn_hw02_app_211.bin";
const char kZel252[] = "kvn_hw02_zel_252.bin";
const char kSilentAddress[] = "192.0.2.99";

std::vector<Card> Numbered(int first, int count) {
  std::vector<Card> cards;
  for (int i = first; i < first + count; ++i)
    cards.push_back(Card(("127.0.0." + std::to_string(i)).c_str()));
  return cards;
}

void EndToEndTest::SetUp() {
  // Only in a namespace of its own, where loopback is all there is, may the
  // test take port 21 and add a device.
  std::string links = ReadFile("/proc/net/dev");
  if (std::count(links.begin(), links.end(), '\n') != 3)
    GTEST_SKIP() << "run it through tests/in_netns.sh";
  ASSERT_EQ(0, system("ip link add ifb0 type ifb && "
                      "ip addr add 192.0.2.1/24 dev ifb0 && "
                      "ip link set ifb0 up"));
}

void EndToEndTest::TearDown() {
  for (pid_t pid : servers)
    StopServer(pid);
}

void EndToEndTest::StartServer(const std::vector<std::string>& arguments,
                               const std::string& ready) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : arguments)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/usr/bin/python3", argv.data());
    _exit(127);
  }
  servers.push_back(pid);
  double deadline = MonotonicSeconds() + 10;
  while (ReadFile(ready) == "<missing>" && MonotonicSeconds() < deadline)
    usleep(10000);
  ASSERT_EQ("ready\n", ReadFile(ready));
}

void EndToEndTest::Prepare(const std::vector<Card>& cards, const char* zel,
                           bool with_list) {
  configured_zel_ = zel;
  ASSERT_TRUE(WriteFile("config.txt", std::string("ZEL = ") + zel +
                                          "\nAPP = " + kApp211 + "\n"));
  // Larger than what a card that cuts uploads short takes in.
  ASSERT_TRUE(WriteFile(zel, Module("211", "VRN OS", 8192)));
  ASSERT_TRUE(WriteFile(kApp211, Module("211", "VRN APP", 8192)));
  ASSERT_TRUE(WriteFile("kvn_hw02_zel_202.bin",
                        Module("202", "VRN PATCH", 8192)));
  std::string list = "; cards of the test\n";
  nlohmann::json json = nlohmann::json::array();
  for (const Card& card : cards) {
    list += "SystemIP=" + card.ip + "\nSystemUserName=admin\nSystemPassword=" +
            card.list_password + "\n\n";
    if (card.ip.rfind("127.", 0) != 0)
      continue;
    if (!card.fault.empty()) {
      // One ready file a card: several misbehaving cards may be started.
      std::string ready = sim_path(("ready_" + card.ip).c_str());
      StartServer({"python3", UPGRD_SOURCE_DIR "/tests/bad_card.py", "--ip",
                   card.ip, "--fault", card.fault, "--ready-file", ready,
                   "--decoy-file", sim_path("decoy"), "--lifetime", "300"},
                  ready);
      continue;
    }
    nlohmann::json sim = {{"ip", card.ip},
                          {"user", "admin"},
                          {"password", card.password},
                          {"zel", card.zel},
                          {"app", "kvn_hw02_app_203.bin"},
                          {"restart_s", 0.005},
                          {"refuse_zel", card.refuse_zel},
                          {"refuse_app", card.refuse_app},
                          {"before", card.before}};
    if (card.logs) {
      sim["data"] = "data of " + card.ip;
      sim["event"] = "events";
    }
    if (!card.install)
      sim["install"] = false;
    if (card.refuse_logins)
      sim["refuse_logins"] = card.refuse_logins;
    if (card.revert_after >= 0)
      sim["revert_after"] = card.revert_after;
    if (card.silent_after >= 0)
      sim["silent_after"] = card.silent_after;
    if (!card.hold_uploads.empty())
      sim["hold_uploads"] = card.hold_uploads;
    json.push_back(sim);
  }
  if (with_list) {
    ASSERT_TRUE(WriteFile("iplist.txt", list));
  }
  ASSERT_TRUE(WriteFile(sim_path("cards.json"), json.dump()));
  StartServer({"python3", UPGRD_SOURCE_DIR "/sim/sim_card.py", "--cards",
               sim_path("cards.json"), "--ready-file", sim_path("ready"),
               "--upload-log", sim_path("uploads"), "--contact-log",
               sim_path("contacts"), "--lifetime", "300"},
              sim_path("ready"));
}

ToolRun EndToEndTest::Run(const std::string& input) {
  return RunTool(dir.path, input, 240);
}

std::string EndToEndTest::Log() {
  std::string log = ReadFile("result.txt");
  std::string head = std::string(kFastLogHeader) +
                     "Using ZEL file        : ZEL = " + configured_zel_ +
                     "\nUsing Application file: APP = " + kApp211 + "\n\n\n";
  EXPECT_EQ(0u, log.find(head)) << log;
  return log.substr(std::min(log.size(), head.size()));
}

// The records of a JSON lines report, by address.
std::map<std::string, nlohmann::json> Records(const std::string& path) {
  std::map<std::string, nlohmann::json> records;
  std::istringstream lines(ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object())
      records[record["address"]] = record;
  }
  return records;
}
