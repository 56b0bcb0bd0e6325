#include "upgrd_util/card/card_sequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kZel210[] = "kvn_hw02_zel_210.bin";
const char kZel211[] = "kvn_hw02_zel_211.bin";
const char kApp211[] = "kvn_hw02_app_211.bin";
const char kZelCurrent[] =
    "\nThe card already runs kvn_hw02_zel_211.bin: only "
    "kvn_hw02_app_211.bin is loaded.\n";

using Names = std::vector<std::string>;

// A card that lists each module it takes first, so that a ZEL load
// verifies, and then `listed_after_upload` last. Once it took a module,
// `taken_after_upload`, a local file, becomes a directory (not empty).
struct CardListingItsUploads : public FakeFtpLibrary {
  int Put(int handle, const char* local, const char* remote) override {
    int put = FakeFtpLibrary::Put(handle, local, remote);
    if (put == 0)
      listing.insert(listing.begin(), uploads.back());
    if (put == 0 && !listed_after_upload.empty())
      listing.push_back(listed_after_upload);
    if (put == 0 && !taken_after_upload.empty())
      MakeADirectoryOf(taken_after_upload);
    return put;
  }
  static void MakeADirectoryOf(const std::string& path) {
    remove(path.c_str());
    MakeDirectory(path);
    WriteFile(path + "/x", "");
  }
  std::string listed_after_upload;
  std::string taken_after_upload;
};

struct CardSequenceTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    platform().ftp = &card;
    ASSERT_TRUE(set_target_ip(&target, "127.0.0.2"));
    ASSERT_TRUE(set_target_user_name(&target, "user"));
    ASSERT_TRUE(set_target_password(&target, "pass"));
    strcpy(zel_module_name, kZel211);
    strcpy(app_module_name, kApp211);
    for (const char* name : {kZel211, kApp211})
      ASSERT_TRUE(WriteFile(name, std::string("module ") + name));
    card.files = {{"data.txt", "data\n"}, {"event.txt", "events\n"}};
    icmp.default_reply = 1;
  }

  CardListingItsUploads card;
  upgrade_target target{};
};

// ---- What a current card is loaded with ----

struct CurrentCardCase {
  const char* name;
  Names listing;  // the card's modules before the run
  bool leave_current;
  CardOutcome outcome;
  Names uploads;
  int zel_attempts;
  bool zel_already_current;
};

void PrintTo(const CurrentCardCase& c, std::ostream* out) {
  *out << c.name;
}

struct CurrentCardTest : public CardSequenceTest,
                         public testing::WithParamInterface<CurrentCardCase> {
};

TEST_P(CurrentCardTest, LoadsOnlyWhatItLacks) {
  const CurrentCardCase& c = GetParam();
  card.listing = c.listing;
  CampaignRules rules;
  rules.leave_current = c.leave_current;

  EXPECT_EQ(c.outcome, upgrade_card(&target, rules));
  EXPECT_EQ(c.uploads, card.uploads);
  EXPECT_EQ(c.zel_attempts, target.state.zel_attempts);
  // Every card that was loaded at all took one APP load.
  EXPECT_EQ(c.uploads.empty() ? 0 : 1, target.state.app_attempts);
  EXPECT_EQ(c.zel_already_current, target.state.zel_already_current);
  // What the report gives as the ZEL after, whether it was loaded or not.
  if (c.outcome == OUTCOME_UPGRADED) {
    EXPECT_EQ(kZel211, target.state.zel_after);
  }
  EXPECT_EQ(c.zel_already_current ? 1 : 0, Occurrences(Log(), kZelCurrent))
      << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CurrentCardTest,
    testing::Values(
        CurrentCardCase{"ZelCurrent", {"data.txt", kZel211}, true,
                        OUTCOME_UPGRADED, {kApp211}, 0, true},
        // --force loads everything.
        CurrentCardCase{"ZelCurrentForced", {"data.txt", kZel211}, false,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        CurrentCardCase{"OtherZel", {"data.txt", kZel210}, true,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        // Only the first "kvn" entry is the card's ZEL.
        CurrentCardCase{"ZelListedSecond", {kZel210, kZel211}, true,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        CurrentCardCase{"BothCurrent", {kZel211, kApp211}, true,
                        OUTCOME_ALREADY_CURRENT, {}, 0, false}),
    [](const testing::TestParamInfo<CurrentCardCase>& info) {
      return std::string(info.param.name);
    });

// ---- What a card says, read by a campaign's rules and the dialogue's ----

struct CardWordsCase {
  const char* name;
  bool strict;  // a campaign's rules (else the dialogue's)
  bool dry;     // the dry run
  // The card: what it answers a login with the wrong password (empty: the
  // login is right), its listing, and its answer to NLST (empty: it lists).
  std::string login_failure;
  Names listing;
  std::string listing_failure;
  std::string listed_after_upload;
  // What comes of it.
  CardOutcome outcome;
  int32_t status;
  std::string reply;
  std::string block;  // in the card's log, once
  Names uploads;
};

void PrintTo(const CardWordsCase& c, std::ostream* out) {
  *out << c.name;
}

struct CardWordsTest : public CardSequenceTest,
                       public testing::WithParamInterface<CardWordsCase> {};

TEST_P(CardWordsTest, AreKeptAndReadStrictlyInACampaignOnly) {
  const CardWordsCase& c = GetParam();
  if (!c.login_failure.empty()) {
    card.login_failure = c.login_failure;
    ASSERT_TRUE(set_target_password(&target, "wrong"));
  }
  card.listing = c.listing;
  card.listing_fails = !c.listing_failure.empty();
  card.listing_failure = c.listing_failure;
  card.listed_after_upload = c.listed_after_upload;
  CampaignRules rules;
  rules.leave_current = true;
  rules.strict_card_words = c.strict;

  EXPECT_EQ(c.outcome,
            c.dry ? check_card(&target, rules) : upgrade_card(&target, rules));
  EXPECT_EQ(c.status, target.status);
  EXPECT_EQ(c.reply, target.state.reply);
  EXPECT_EQ(1, Occurrences(Log(), c.block)) << Log();
  if (!c.strict) {
    EXPECT_EQ(0, Occurrences(Log(), "The card's answer")) << Log();
  }
  EXPECT_EQ(c.uploads, card.uploads);
}

const char kLoginFailed[] = "ERROR!!! Login unsuccessful.\n\n";
const char kQuery[] = "Checking version information ... ";
const char kNulListed[] = "kvn_hw02_zel_20\0" "3.bin";
const char kUnreadable[] =
    "\nCould not be upgraded, its listing cannot be read.\n\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CardWordsTest,
    testing::Values(
        // A failed login keeps the card's answer, whatever it was.
        CardWordsCase{"WrongPassword", true, false,
                      "530 Authentication failed.", {}, "", "",
                      OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED,
                      "530 Authentication failed.",
                      std::string(kLoginFailed) +
                          "The card's answer: 530 Authentication failed.\n",
                      {}},
        CardWordsCase{"Refused", true, false, "connection refused", {}, "",
                      "", OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED,
                      "connection refused",
                      std::string(kLoginFailed) +
                          "The card's answer: connection refused\n", {}},
        CardWordsCase{"Silent", true, true, "no reply in 15 s", {}, "", "",
                      OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED,
                      "no reply in 15 s",
                      std::string(kLoginFailed) +
                          "The card's answer: no reply in 15 s\n", {}},
        CardWordsCase{"ControlBytes", true, false, "421 \x1b[2JBusy", {}, "",
                      "", OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED,
                      "421 ?[2JBusy",
                      std::string(kLoginFailed) +
                          "The card's answer: 421 ?[2JBusy\n", {}},
        CardWordsCase{"WrongPasswordInTheDialogue", false, false,
                      "530 Authentication failed.", {}, "", "",
                      OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED, "",
                      kLoginFailed, {}},
        // After a good login (the logs were saved over it), NLST refused
        // for good ends the card; for now, it may be tried again.
        CardWordsCase{"NlstRefused", true, false, "", {kZel211},
                      "550 Listing failed.", "", OUTCOME_LISTING_REFUSED,
                      STATUS_LISTING_REFUSED, "550 Listing failed.",
                      std::string(kQuery) +
                          "Listing refused.\n"
                          "The card's answer: 550 Listing failed.\n"
                          "\nCould not be upgraded, it refused to list its "
                          "files.\n\n", {}},
        CardWordsCase{"NlstRefusedInADryRun", true, true, "", {kZel211},
                      "550 Listing failed.", "", OUTCOME_LISTING_REFUSED,
                      STATUS_LISTING_REFUSED, "550 Listing failed.",
                      "Dry run: it refused to list its files\n", {}},
        CardWordsCase{"NlstRefusedInTheDialogue", false, false, "", {kZel211},
                      "550 Listing failed.", "", OUTCOME_LOGIN_FAILED,
                      STATUS_LOGIN_FAILED, "",
                      std::string(kQuery) +
                          "File foundfir.txt doesn't exist\n"
                          "\nLog in failed\n", {}},
        CardWordsCase{"NlstBusy", true, false, "", {kZel211}, "450 Busy.", "",
                      OUTCOME_LOGIN_FAILED, STATUS_LOGIN_FAILED, "450 Busy.",
                      std::string(kQuery) +
                          "File foundfir.txt doesn't exist\n"
                          "The card's answer: 450 Busy.\n", {}},
        // Lines are never joined: a card at 203 whose name holds a NUL
        // would read as 200 and take the interim patch.
        CardWordsCase{"NulInAName", true, false, "",
                      {std::string(kNulListed, sizeof(kNulListed) - 1),
                       "0_notes.txt"},
                      "", "", OUTCOME_LISTING_UNREADABLE,
                      STATUS_LISTING_UNREADABLE, "",
                      std::string(kQuery) +
                          "The listing cannot be read: it holds a NUL "
                          "byte.\n" + kUnreadable, {}},
        CardWordsCase{"LineOverTheBound", true, true, "",
                      {"data.txt", std::string(kMaxListingLine + 1, 'x'),
                       kZel211},
                      "", "", OUTCOME_LISTING_UNREADABLE,
                      STATUS_LISTING_UNREADABLE, "",
                      std::string(kQuery) +
                          "The listing cannot be read: a line of it is "
                          "longer than 1024 bytes.\n" + kUnreadable, {}},
        // The listing that checks the ZEL load, too.
        CardWordsCase{"NulAfterTheZelLoad", true, false, "", {kZel210}, "",
                      std::string("x\0y", 3), OUTCOME_LISTING_UNREADABLE,
                      STATUS_OS_LOAD_FAILED, "",
                      "The listing cannot be read: it holds a NUL byte.\n",
                      {kZel211}}),
    [](const testing::TestParamInfo<CardWordsCase>& info) {
      return std::string(info.param.name);
    });

// ---- A file of the workstation that fails is never the card's ----

struct LocalFaultCase {
  const char* name;
  const char* directory;        // a local file that is a directory at first
  const char* after_upload;     // one that becomes a directory after a load
  bool disk_full;               // every local file written fails so
  std::string fault;            // the card's reason
  Names uploads;
};

void PrintTo(const LocalFaultCase& c, std::ostream* out) {
  *out << c.name;
}

struct LocalFaultTest : public CardSequenceTest,
                        public testing::WithParamInterface<LocalFaultCase> {
};

// The card ends local_error there, nothing is loaded again for it, and its
// log says which file and why; in the dialogue too.
TEST_P(LocalFaultTest, EndsTheCardWithoutBlamingIt) {
  const LocalFaultCase& c = GetParam();
  if (*c.directory)
    CardListingItsUploads::MakeADirectoryOf(c.directory);
  card.taken_after_upload = c.after_upload;
  card.disk_full = c.disk_full;
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "campaign" : "dialogue");
    card.listing = {"data.txt", kZel210};
    card.uploads.clear();
    if (*c.after_upload) {
      remove((std::string(c.after_upload) + "/x").c_str());
      remove(c.after_upload);
    }
    target.status = 0;
    target.state = CardState();
    target.work = CardWork();
    CampaignRules rules;
    rules.strict_card_words = strict;
    EXPECT_EQ(OUTCOME_LOCAL_ERROR, upgrade_card(&target, rules));
    EXPECT_EQ(STATUS_LOCAL_ERROR, target.status);
    EXPECT_EQ(c.fault, target.state.reason);
    EXPECT_EQ(c.disk_full, target.work.disk_full);
    EXPECT_EQ(c.uploads, card.uploads);
    EXPECT_EQ(1, Occurrences(NewLog(),
                             "Failed on this workstation, not on the card: " +
                                 c.fault + ".\n"));
    EXPECT_EQ(std::string::npos, console.output.find("ZEL load error"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LocalFaultTest,
    testing::Values(
        LocalFaultCase{"SavedLogOnAFullDisk", "", "", true,
                       "cannot write 127.0.0.2_data.txt: No space left on "
                       "device",
                       {}},
        LocalFaultCase{"ListingFileADirectory", "foundfir.txt", "", false,
                       "cannot write foundfir.txt: Is a directory", {}},
        // Checked after the ZEL load: not taken for a load that failed.
        LocalFaultCase{"ListingFileADirectoryAfterTheZel", "", "foundfir.txt",
                       false, "cannot write foundfir.txt: Is a directory",
                       {kZel211}}),
    [](const testing::TestParamInfo<LocalFaultCase>& info) {
      return std::string(info.param.name);
    });

// The dry run says so too, and changes nothing.
TEST_F(CardSequenceTest, DryRunSaysOnlyTheAppWouldBeLoaded) {
  card.listing = {"data.txt", kZel211};
  CampaignRules rules;
  rules.leave_current = true;

  EXPECT_EQ(OUTCOME_WOULD_UPGRADE, check_card(&target, rules));
  EXPECT_TRUE(card.uploads.empty());
  EXPECT_EQ(1, Occurrences(Log(),
                           "\nThe card already runs kvn_hw02_zel_211.bin: "
                           "only kvn_hw02_app_211.bin would be loaded.\n"
                           "Dry run: would upgrade\n"))
      << Log();
}

}  // namespace
