#ifndef UPGRD_TESTS_E2E_SUPPORT_H_
#define UPGRD_TESTS_E2E_SUPPORT_H_

// Runs of the real tool, on the fast clock, against simulated cards. The
// tests run in a network namespace of their own (tests/in_netns.sh), where
// cards listen on 127.0.0.x port 21 and real ICMP reaches them.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/expected_output.h"
#include "tests/test_support.h"

extern const char kZel211[];
extern const char kApp211[];
extern const char kZel252[];
/// Routed, inside the namespace, to a device that answers nothing.
extern const char kSilentAddress[];

/// One card of a test: a simulated card on its loopback address, a
/// misbehaving one (`fault`, served by tests/bad_card.py), or an address
/// nothing answers.
struct Card {
  Card(const char* address) : ip(address) {}
  std::string ip;
  std::string zel = "kvn_hw02_zel_203.bin";
  std::string password = "secret";       // what the card accepts
  std::string list_password = "secret";  // what iplist.txt says
  bool logs = true;                      // data.txt and event.txt present
  bool install = true;
  std::vector<std::string> before;
  int refuse_zel = 0;
  int refuse_app = 0;
  std::string fault;
  int refuse_logins = 0;  // logins refused at first
  std::string hold_uploads;  // a file: uploads wait until it exists
  // Seconds after its last upload was installed when it lists its old
  // modules again, or stops answering at all; -1: never.
  double revert_after = -1;
  double silent_after = -1;
};

/// `count` plain cards at 127.0.0.<first> and on.
std::vector<Card> Numbered(int first, int count);

struct EndToEndTest : public testing::Test {
  void SetUp() override;
  void TearDown() override;

  /// Writes config.txt naming `zel` and the APP module, both modules and
  /// the interim patch, iplist.txt for `cards` (unless !with_list), and
  /// starts the cards.
  void Prepare(const std::vector<Card>& cards, const char* zel = kZel211,
               bool with_list = true);

  /// Runs the tool with `input` at its console.
  ToolRun Run(const std::string& input);

  /// The result log after its header and the configuration lines.
  std::string Log();

  std::string sim_path(const char* name) { return sim_dir.path + "/" + name; }

  ScopedTempDir sim_dir;  // made first, so that `dir` is the working one
  ScopedTempDir dir;
  std::vector<pid_t> servers;

 private:
  void StartServer(const std::vector<std::string>& arguments,
                   const std::string& ready);
  std::string configured_zel_;
};

/// The records of a JSON lines report, by address.
std::map<std::string, nlohmann::json> Records(const std::string& path);

#endif  // UPGRD_TESTS_E2E_SUPPORT_H_
