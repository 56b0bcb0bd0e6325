#include "upgrd_util/card/firmware_version.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/test_support.h"

namespace {

using Calls = std::vector<std::string>;

const char kZel211[] = "kvn_hw02_zel_211.bin";

// A whole session: login, its reply, listing, its reply, quit.
const Calls kSession = {"login 192.0.2.10", "reply 1", "ls  foundfir.txt",
                        "reply 1", "quit 1"};

struct FirmwareVersionTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    card = upgrade_target();
    set_target_ip(&card, "192.0.2.10");
    set_target_user_name(&card, "user");
    set_target_password(&card, "pass");
  }
  int Query(const std::vector<std::string>& listing, int mode) {
    ftp.listing = listing;
    return query_firmware_version(&card, mode);
  }
  int Verify(const std::vector<std::string>& listing, const char* expected) {
    ftp.listing = listing;
    return verify_os_module(&card, expected);
  }

  upgrade_target card;
};

TEST_F(FirmwareVersionTest, VersionsAreClassifiedPerMode) {
  struct Row {
    const char* name;
    int mode0;
    int mode1;
  };
  const Row rows[] = {
      {"kvn_hw02_zel.bin", 2, 4},  // no digits after the prefix: version 0
      {"kvn_hw02_zel_200.bin", 2, 4}, {"kvn_hw02_zel_201.bin", -2, 4},
      {"kvn_hw02_zel_202.bin", 3, 4}, {"kvn_hw02_zel_203.bin", 1, 4},
      {"kvn_hw02_zel_210.bin", 1, 4}, {kZel211, 1, 1},
  };
  for (const Row& row : rows) {
    for (int mode : {0, 1}) {
      ftp.calls.clear();
      ftp.next_handle = 1;  // so that every session reads as kSession
      EXPECT_EQ(mode == 0 ? row.mode0 : row.mode1,
                Query({"data.txt", row.name}, mode))
          << row.name << " mode " << mode;
      // Even 201, which no class fits, is logged and its session ended.
      EXPECT_EQ(LogBefore(row.name), NewLog()) << row.name;
      EXPECT_EQ(kSession, ftp.calls) << row.name;
    }
  }
  EXPECT_EQ(VERSION_UNKNOWN, Query({kZel211}, 2));
  EXPECT_EQ("", console.output);
}

TEST_F(FirmwareVersionTest, FailedLoginAsksForNoListing) {
  ftp.password = "other";
  EXPECT_EQ(0, Query({kZel211}, 0));
  // The reply is copied before the login's result is looked at.
  EXPECT_EQ((Calls{"login 192.0.2.10", "reply -1"}), ftp.calls);
  EXPECT_EQ("ERROR!!! Login unsuccessful.\n"
            "Make sure the Card is in the network.\n\n",
            Log());
  EXPECT_EQ(-1, card.work.ftp_session);
}

TEST_F(FirmwareVersionTest, MissingListingFailsTheQuery) {
  ftp.listing_fails = true;
  EXPECT_EQ(0, Query({kZel211}, 0));
  EXPECT_EQ(kSession, ftp.calls);
  EXPECT_EQ("File foundfir.txt doesn't exist\n", Log());
}

TEST_F(FirmwareVersionTest, ListingWithoutModuleLogsNothing) {
  EXPECT_EQ(-2, Query({}, 0));
  EXPECT_EQ(kSession, ftp.calls);
  // Capitals or a leading blank are no module entry.
  EXPECT_EQ(-2, Query({"data.txt", "KVN_hw02_zel_211.bin",
                       " kvn_hw02_zel_211.bin", "Kvn_hw02_zel_211.bin"},
                      1));
  EXPECT_EQ("", Log());
}

TEST_F(FirmwareVersionTest, OnlyTheFirstModuleEntryCounts) {
  const std::vector<std::string> listing = {
      "data.txt", "event.txt", "KVN_hw02_zel_211.bin", "kvn_hw02_zel_202.bin",
      "kvn_hw02_zel_211.bin"};
  EXPECT_EQ(3, Query(listing, 0));
  EXPECT_EQ(LogBefore("kvn_hw02_zel_202.bin"), NewLog());
  // The listing is left for the operator, as the card gave it.
  EXPECT_EQ("data.txt\nevent.txt\nKVN_hw02_zel_211.bin\n"
            "kvn_hw02_zel_202.bin\nkvn_hw02_zel_211.bin\n",
            ReadFile("foundfir.txt"));
}

TEST_F(FirmwareVersionTest, CarriageReturnIsNoPartOfTheName) {
  EXPECT_EQ(1, Query({"kvn_hw02_zel_211.bin\r"}, 0));
  EXPECT_EQ(LogBefore(kZel211), NewLog());
  EXPECT_EQ(1, Verify({"kvn_hw02_zel_211.bin\r"}, kZel211));
}

TEST_F(FirmwareVersionTest, NameStopsAtTheFirstBlankOrTab) {
  EXPECT_EQ(1, Query({"kvn_hw02_zel_211.bin\t1048576 Jan 1"}, 0));
  EXPECT_EQ(LogBefore(kZel211), NewLog());
}

using VerifyOsModuleTest = FirmwareVersionTest;

TEST_F(VerifyOsModuleTest, ExpectedModuleListed) {
  EXPECT_EQ(1, Verify({"data.txt", kZel211, "kvn_hw02_app_305.bin"}, kZel211));
  // The caller completes the line after the trailing blank.
  EXPECT_EQ(LogAfter(kZel211, kZel211), Log());
  EXPECT_EQ(kSession, ftp.calls);
  EXPECT_EQ("", console.output);
}

TEST_F(VerifyOsModuleTest, NamesMustMatchInCaseToo) {
  EXPECT_EQ(0, Verify({"kvn_hw02_ZEL_211.bin"}, kZel211));
  EXPECT_EQ(LogAfter(kZel211, "kvn_hw02_ZEL_211.bin"), Log());
}

TEST_F(VerifyOsModuleTest, EmptyListingFindsNothing) {
  EXPECT_EQ(0, Verify({}, kZel211));
  EXPECT_EQ(LogAfter(kZel211, ""), Log());
  EXPECT_EQ(kSession, ftp.calls);
}

TEST_F(VerifyOsModuleTest, WithoutModuleEntryTheLastLinesWordIsCompared) {
  EXPECT_EQ(0, Verify({"data.txt", "event.txt 1234"}, kZel211));
  EXPECT_EQ(LogAfter(kZel211, "event.txt"), NewLog());
  // Which happens to verify when it is the expected name.
  EXPECT_EQ(1, Verify({"data.txt", "  event.txt"}, "event.txt"));
  EXPECT_EQ(LogAfter("event.txt", "event.txt"), NewLog());
  EXPECT_EQ(0, Verify({"data.txt", "   "}, kZel211));
  EXPECT_EQ(LogAfter(kZel211, ""), NewLog());
}

TEST_F(VerifyOsModuleTest, FailedLoginIsLogged) {
  ftp.password = "other";
  EXPECT_EQ(0, Verify({kZel211}, kZel211));
  EXPECT_EQ((Calls{"login 192.0.2.10", "reply -1"}), ftp.calls);
  EXPECT_EQ("Login failed while checking if download completed "
            "successfully.\n",
            Log());
  EXPECT_EQ("", console.output);
}

TEST_F(VerifyOsModuleTest, AFailedListingFailsTheLoadNotTheRun) {
  ftp.listing_fails = true;
  EXPECT_EQ(0, Verify({kZel211}, kZel211));
  EXPECT_EQ((Calls{"login 192.0.2.10", "reply 1", "ls  foundfir.txt",
                   "reply 1", "quit 1"}),
            ftp.calls);
  EXPECT_EQ("File foundfir.txt doesn't exist\n", Log());
  EXPECT_EQ("", console.output);
}

TEST_F(VerifyOsModuleTest, AListingFetchedButUnreadableIsNoMismatch) {
  ftp.listing_vanishes = true;
  EXPECT_EQ(-1, Verify({kZel211}, kZel211));
  EXPECT_EQ("", console.output);
  EXPECT_EQ("File foundfir.txt doesn't exist\n", Log());
  // Left for the caller, who ends what it runs, to quit.
  EXPECT_EQ(1, card.work.ftp_session);
  EXPECT_EQ(std::string("ls  foundfir.txt"), ftp.calls[2]);
  EXPECT_EQ(4u, ftp.calls.size());
}

TEST_F(VerifyOsModuleTest, LongerNameCannotVerifyAsItsBeginning) {
  // Cut to a piece, this would read as exactly the expected name.
  std::string expected = "kvn_hw02_zel_211" + std::string(63, 'x');
  ASSERT_EQ(79u, expected.size());
  std::string listed = expected + "yy.bin";
  EXPECT_EQ(0, Verify({listed}, expected.c_str()));
  EXPECT_EQ(LogAfter(expected, listed), Log());
}

TEST_F(VerifyOsModuleTest, NamesAreComparedAsReceivedAndLoggedPrintable) {
  // Alike once shown, yet not the same name.
  EXPECT_EQ(0, Verify({"kvn_hw02_zel_211\x1b.bin"}, "kvn_hw02_zel_211?.bin"));
  EXPECT_EQ(LogAfter("kvn_hw02_zel_211?.bin", "kvn_hw02_zel_211?.bin"), Log());
  EXPECT_EQ(1, Verify({"kvn_hw02_zel_211\x1b.bin"}, "kvn_hw02_zel_211\x1b.bin"));
}

// A listing read back through a real file, as the operations read it.
struct ScanListingTest : public ProgramTest {
  bool Scan(const std::string& content) {
    EXPECT_TRUE(WriteFile("listing.txt", content));
    FILE* file = fopen("listing.txt", "r");
    EXPECT_NE(nullptr, file);
    if (!file)
      return false;
    bool found = scan_listing(file, &name);
    fclose(file);
    return found;
  }
  std::string name = "left over";
};

TEST_F(ScanListingTest, LongNameIsTakenWholeAndNeverCut) {
  std::string long_name = "kvn_hw02_zel_211" + std::string(150, 'x') + ".bin";
  EXPECT_TRUE(Scan("data.txt\n" + long_name + " 42\nkvn_hw02_zel_202.bin\n"));
  EXPECT_EQ(long_name, name);
}

TEST_F(ScanListingTest, NameFillingAWholePieceEndsAtItsLineEnd) {
  std::string name79 = "kvn" + std::string(76, 'a');
  EXPECT_TRUE(Scan(name79 + "\nnext.bin\n"));
  EXPECT_EQ(name79, name);
  EXPECT_TRUE(Scan(name79 + "b"));
  EXPECT_EQ(name79 + "b", name);
}

TEST_F(ScanListingTest, WithoutModuleEntryGivesTheLastWord) {
  EXPECT_FALSE(Scan("one.txt\n\ttwo.txt three\n"));
  EXPECT_EQ("two.txt", name);
  EXPECT_FALSE(Scan("one.txt\n\n"));
  EXPECT_EQ("", name);
  EXPECT_FALSE(Scan(""));
  EXPECT_EQ("", name);
}

// What a campaign reads of a listing: never a line cut at a NUL and taken
// to go on in the next, nor one longer than any name.
TEST_F(ScanListingTest, OnlyListingsOfWholeBoundedLinesAreReadable) {
  using namespace std::string_literals;
  const std::string line1024(kMaxListingLine, 'x');
  // Short lines up to just before a read's end, so that a long line
  // straddles two reads.
  std::string lead;
  while (lead.size() < 8000)
    lead += "record.log\n";
  struct {
    const char* name;
    std::string content;
    const char* why;  // "": readable
  } cases[] = {
      {"Empty", "", ""},
      {"Names", "data.txt\r\nkvn_hw02_zel_211.bin\r\n", ""},
      {"LongestLine", line1024 + "\n" + line1024, ""},
      {"LongestLineAcrossReads", lead + line1024 + "\nkvn.bin\n", ""},
      {"NulInAName", "kvn_hw02_zel_20\0" "3.bin\n0_notes.txt\n"s,
       "it holds a NUL byte"},
      {"NulAlone", "data.txt\n\0\n"s, "it holds a NUL byte"},
      {"LineOverTheBound", "data.txt\n" + line1024 + "y\n",
       "a line of it is longer than 1024 bytes"},
      {"LastLineOverTheBound", line1024 + "y",
       "a line of it is longer than 1024 bytes"},
      {"LineOverTheBoundAcrossReads", lead + line1024 + "y\n",
       "a line of it is longer than 1024 bytes"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFile("listing.txt", c.content));
    std::string why = "left over";
    EXPECT_EQ(*c.why == '\0', listing_is_readable("listing.txt", &why))
        << c.name;
    EXPECT_EQ(c.why, why) << c.name;
  }
  std::string why;
  EXPECT_FALSE(listing_is_readable("missing.txt", &why));
  EXPECT_EQ("it cannot be opened", why);
}

// The listing of a real FTP server's folder, through the libcurl library.
struct FirmwareOnRealFtpTest : public LoopbackFtpTest {
  void SetUp() override {
    LoopbackFtpTest::SetUp();
    set_target_ip(&card, "127.0.0.1");
    set_target_user_name(&card, "admin");
    set_target_password(&card, "secret");
  }

  upgrade_target card{};
};

TEST_F(FirmwareOnRealFtpTest, QueryAndVerifyReadTheCardsListing) {
  for (const char* name : {"data.txt", "event.txt", "KVN_hw02_zel_211.bin",
                           "kvn_hw02_zel_202.bin", "kvn_hw02_zel_211.bin"})
    ASSERT_TRUE(WriteFile(card_dir + "/" + name, "module"));
  // The server lists in name order: the capitals first, then 202.
  EXPECT_EQ(3, query_firmware_version(&card, 0));
  EXPECT_EQ(LogBefore("kvn_hw02_zel_202.bin"), NewLog());
  EXPECT_EQ(4, query_firmware_version(&card, 1));
  EXPECT_EQ(LogBefore("kvn_hw02_zel_202.bin"), NewLog());
  EXPECT_NE(std::string::npos,
            ReadFile("foundfir.txt").find("kvn_hw02_zel_211.bin"));

  ASSERT_EQ(0, unlink((card_dir + "/kvn_hw02_zel_202.bin").c_str()));
  EXPECT_EQ(1, verify_os_module(&card, kZel211));
  EXPECT_EQ(LogAfter(kZel211, kZel211), NewLog());
  EXPECT_EQ(0, verify_os_module(&card, "kvn_hw02_zel_212.bin"));
  EXPECT_EQ(LogAfter("kvn_hw02_zel_212.bin", kZel211), NewLog());

  set_target_password(&card, "wrong");
  EXPECT_EQ(0, verify_os_module(&card, kZel211));
  EXPECT_EQ("Login failed while checking if download completed "
            "successfully.\n",
            NewLog());
  EXPECT_EQ(0, query_firmware_version(&card, 0));
  EXPECT_EQ("ERROR!!! Login unsuccessful.\n"
            "Make sure the Card is in the network.\n\n",
            NewLog());
}

TEST_F(FirmwareOnRealFtpTest, CardWithoutModuleIsUnknown) {
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "d"));
  EXPECT_EQ(-2, query_firmware_version(&card, 0));
  EXPECT_EQ("", Log());
  EXPECT_EQ(0, verify_os_module(&card, kZel211));
  EXPECT_EQ(LogAfter(kZel211, "data.txt"), Log());
}

}  // namespace
