// The libcurl FTP library against a real FTP server on 127.0.0.1.

#include "upgrd_util/platform/ftp_library.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d)
    return names;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..")
      names.insert(name);
  }
  closedir(d);
  return names;
}

struct FtpLibraryTest : public LoopbackFtpTest {
  void SetUp() override {
    LoopbackFtpTest::SetUp();
    // The library's own files alone: the unused result log goes.
    ASSERT_EQ(0, remove("result.txt"));
  }
  int LogIn() { return real_ftp->Login("127.0.0.1", "admin", "secret", ""); }
  std::string Reply(int handle, int size = 200) {
    char buffer[1000];
    memset(buffer, 'x', sizeof(buffer));
    real_ftp->CopyReplyStr(handle, buffer, size);
    return buffer;
  }
};

TEST_F(FtpLibraryTest, LoginIsCheckedByTheServer) {
  int handle = LogIn();
  EXPECT_GT(handle, 0);
  EXPECT_EQ(0, Reply(handle).find("2")) << Reply(handle);

  EXPECT_EQ(-1, real_ftp->Login("127.0.0.1", "admin", "wrong", ""));
  EXPECT_EQ(0, Reply(-1).find("530")) << Reply(-1);
  // Another card's failed login, on a thread of its own, is not this one's.
  std::thread other([this] {
    EXPECT_EQ(-1, real_ftp->Login("localhost", "admin", "secret", ""));
  });
  other.join();
  EXPECT_EQ(0, Reply(-1).find("530")) << Reply(-1);
  EXPECT_EQ(-1, real_ftp->Login("127.0.0.1", "nobody", "secret", ""));

  // The password never travels in anything the server logs as a command.
  EXPECT_EQ(std::string::npos, server.Commands().find("secret"));
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, OnlyNumericIpv4HostsAreContacted) {
  for (const char* host : {"localhost", "", "127.0.0.1:21", "127.1", "::1",
                           "127.0.0.1 ", "300.0.0.1"}) {
    double start = MonotonicSeconds();
    EXPECT_EQ(-1, real_ftp->Login(host, "admin", "secret", "")) << host;
    EXPECT_LT(MonotonicSeconds() - start, 0.5) << host;
  }
  EXPECT_EQ("", server.Commands());
}

TEST_F(FtpLibraryTest, GetCopiesAFileAndAFailedGetKeepsTheEarlierCopy) {
  ASSERT_TRUE(
      WriteFile(card_dir + "/data.txt", "line 1\r\nline 2\r\n\x01\xff"));
  ASSERT_TRUE(WriteFile("127.0.0.1_event.txt", "saved last week\n"));
  int handle = LogIn();
  ASSERT_GT(handle, 0);

  EXPECT_NE(-1, real_ftp->Get(handle, "data.txt", "127.0.0.1_data.txt"));
  EXPECT_EQ("line 1\r\nline 2\r\n\x01\xff", ReadFile("127.0.0.1_data.txt"));
  // Saved like any other new file, not with a temporary file's private mode.
  struct stat info;
  ASSERT_EQ(0, stat("127.0.0.1_data.txt", &info));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(0666 & ~mask, info.st_mode & 0777);

  EXPECT_EQ(-1, real_ftp->Get(handle, "event.txt", "127.0.0.1_event.txt"));
  EXPECT_EQ(0, Reply(handle).find("550")) << Reply(handle);
  EXPECT_EQ("saved last week\n", ReadFile("127.0.0.1_event.txt"));
  EXPECT_EQ(-1, real_ftp->Get(handle, "event.txt", "127.0.0.1_new.txt"));

  // No partial or temporary file is left behind.
  std::set<std::string> expected = {"card", "127.0.0.1_data.txt",
                                    "127.0.0.1_event.txt"};
  EXPECT_EQ(expected, Entries(dir.path));

  // A second fetch replaces the copy with the card's current file.
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "newer"));
  EXPECT_NE(-1, real_ftp->Get(handle, "data.txt", "127.0.0.1_data.txt"));
  EXPECT_EQ("newer", ReadFile("127.0.0.1_data.txt"));
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, ASavedLogIsBoundedAndOneBeyondKeepsTheEarlierCopy) {
  int handle = LogIn();
  ASSERT_GT(handle, 0);
  std::string remote = card_dir + "/data.txt";
  struct stat info;
  ASSERT_TRUE(WriteFile(remote, ""));
  ASSERT_EQ(0, truncate(remote.c_str(), kMaxGetBytes));
  EXPECT_NE(-1, real_ftp->Get(handle, "data.txt", "data_copy.txt"));
  ASSERT_EQ(0, stat("data_copy.txt", &info));
  EXPECT_EQ(kMaxGetBytes, info.st_size);

  ASSERT_EQ(0, truncate(remote.c_str(), kMaxGetBytes + 1));
  EXPECT_EQ(-1, real_ftp->Get(handle, "data.txt", "data_copy.txt"));
  ASSERT_EQ(0, stat("data_copy.txt", &info));
  EXPECT_EQ(kMaxGetBytes, info.st_size);
  EXPECT_EQ((std::set<std::string>{"card", "data_copy.txt"}),
            Entries(dir.path));
  real_ftp->Quit(handle);
}

// The pace every transfer keeps, with the limits the tool ships with: over
// any 60 s once bytes move, at least 1 KiB a second; 30 minutes in all;
// for an upload, no stall of 10 s (60 s as shipped) once bytes move.
struct PaceCase {
  const char* name;
  long long (*bytes)(double seconds);  // moved by then
  double fails_at;                     // when the call is stopped
  double (*held)(double seconds) = nullptr;  // by the cap by then
  bool stalls = false;  // watched for stalls (an upload)
};

const PaceCase kPaceCases[] = {
    {"just below the floor", [](double t) { return (long long)(t * 1023); },
     60},
    {"at the floor", [](double t) { return (long long)(t * 1024); }, 1800},
    {"quiet at first, then fast",
     [](double t) { return t < 50 ? 0 : (long long)((t - 50) * 4096); }, 1800},
    {"a burst, then nothing",
     [](double t) { return t < 1 ? 0LL : 200LL << 10; }, 61},
    {"a burst of 100 KiB every 50 s",
     [](double t) { return (long long)(t / 50 + 1) * (100 << 10); }, 1800},
    // The window opens with the first byte.
    {"one byte a second", [](double t) { return (long long)t; }, 61},
    // The cap's hold is not the card's slowness, nor its stall, nor its
    // time: the first is never stopped within the 2000 s tried.
    {"held nine seconds in ten, 2 KiB a second when not",
     [](double t) { return (long long)(t * 205); }, 2000,
     [](double t) { return t * 0.9; }},
    {"held 100 s between bursts",
     [](double t) {
       return (long long)(std::min(t, 10.0) + std::max(t - 110, 0.0)) * 4096;
     },
     1900, [](double t) { return std::clamp(t - 10, 0.0, 100.0); }, true},
    {"standing still, not held", [](double t) { return t < 10 ? 0LL : 4096; },
     20, nullptr, true},
};

TEST(TransferPaceTest, StopsACallBelowTheFloorOrPastTheLongest) {
  for (const PaceCase& pace_case : kPaceCases) {
    FtpTimeouts limits;
    limits.stalled = 10;
    TransferPace pace(limits, 1000);
    pace.WatchStalls(pace_case.stalls);
    double t = 0;
    while (t < 2000 && pace.Allows(1000 + t, pace_case.bytes(t),
                                   pace_case.held ? pace_case.held(t) : 0))
      t += 0.25;
    EXPECT_NEAR(pace_case.fails_at, t, 0.5) << pace_case.name;
  }
}

TEST_F(FtpLibraryTest, PutUploadsBinaryUnderItsOwnName) {
  std::string module(1 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : module)
    c = static_cast<char>(random());
  // Line ends would be mangled by an ASCII-mode transfer.
  module.replace(100, 4, "\r\n\n\r");
  ASSERT_TRUE(WriteFile("kvn_hw02_zel_211.bin", module));
  int handle = LogIn();
  ASSERT_GT(handle, 0);

  EXPECT_NE(-1, real_ftp->Put(handle, "./kvn_hw02_zel_211.bin", ""));
  EXPECT_TRUE(ReadFile(card_dir + "/kvn_hw02_zel_211.bin") == module);
  EXPECT_EQ(1, CountLines(server.Commands(), "STOR kvn_hw02_zel_211.bin"))
      << server.Commands();

  EXPECT_EQ(-1, real_ftp->Put(handle, "no_such_module.bin", ""));
  EXPECT_EQ(-1, real_ftp->Put(handle, ".", ""));  // a directory is no module
  real_ftp->Quit(handle);
}

// Four cards take 1 MiB each at once over a link capped at 1 MiB/s: they
// end together after about 4 s, none taken for stalled, though the cap
// holds each to an even share below the floor of its pace.
TEST_F(FtpLibraryTest, UploadsAtOnceKeepToTheLinkRate) {
  // 4 MiB shared by four cards.
  const double kSize = 1 << 20;
  const double kRate = 1 << 20;
  ASSERT_TRUE(WriteFile("module.bin", std::string(1 << 20, 'm')));
  FtpTimeouts limits;
  limits.stalled = 1;
  limits.rate_window = 1;
  limits.min_rate = 300 << 10;
  CurlFtpLibrary ftp(server.port, limits);
  ftp.ShareUploadRate(kRate);
  int handles[4];
  for (int& handle : handles) {
    handle = ftp.Login("127.0.0.1", "admin", "secret", "");
    ASSERT_GT(handle, 0);
  }
  int results[4];
  std::vector<std::thread> uploads;
  double start = MonotonicSeconds();
  for (int i = 0; i < 4; ++i) {
    uploads.emplace_back([&, i] {
      std::string remote = "copy" + std::to_string(i) + ".bin";
      results[i] = ftp.Put(handles[i], "module.bin", remote.c_str());
    });
  }
  for (std::thread& upload : uploads)
    upload.join();
  double rate = 4 * kSize / (MonotonicSeconds() - start);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(0, results[i]) << i;
    ftp.Quit(handles[i]);
  }
  // Within a tenth of the cap (its burst is a tenth of a second's bytes);
  // not much less on a busy machine.
  EXPECT_LT(rate, kRate * 1.1);
  EXPECT_GT(rate, kRate / 1.6);
}

// A call that failed on this workstation's own files says so, with the
// file and the system's reason; one the card failed, or a later good one,
// does not.
TEST_F(FtpLibraryTest, ALocalFailureIsToldFromTheCards) {
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "data"));
  for (const char* taken : {"foundfir.txt", "127.0.0.1_data.txt"}) {
    ASSERT_TRUE(MakeDirectory(taken));
    ASSERT_TRUE(WriteFile(std::string(taken) + "/x", ""));
  }
  int handle = LogIn();
  ASSERT_GT(handle, 0);
  struct {
    std::function<int()> call;
    int result;
    const char* fault;  // empty: none of the workstation's
  } cases[] = {
      {[&] { return real_ftp->Ls(handle, "", "foundfir.txt"); }, -1,
       "cannot remove foundfir.txt: Is a directory"},
      {[&] { return real_ftp->Get(handle, "data.txt", "127.0.0.1_data.txt"); },
       -1, "cannot write 127.0.0.1_data.txt: Is a directory"},
      {[&] { return real_ftp->Put(handle, "no_such_module.bin", ""); }, -1,
       "cannot read no_such_module.bin: No such file or directory"},
      // The card has no such file.
      {[&] { return real_ftp->Get(handle, "event.txt", "event_copy.txt"); },
       -1, ""},
      {[&] { return real_ftp->Ls(handle, "", "listing.txt"); }, 0, ""},
  };
  for (const auto& c : cases) {
    LocalFault fault;
    EXPECT_EQ(c.result, c.call()) << c.fault;
    EXPECT_EQ(*c.fault != 0, real_ftp->LocalFailure(handle, &fault))
        << c.fault;
    EXPECT_EQ(c.fault, fault.what);
    EXPECT_FALSE(fault.disk_full);
  }
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, LsWritesOneNamePerLineAndAFailedLsLeavesNoListing) {
  for (const char* name : {"kvn_hw02_zel_211.bin", "data.txt", "event.txt"})
    ASSERT_TRUE(WriteFile(card_dir + "/" + name, "x"));
  int handle = LogIn();
  ASSERT_GT(handle, 0);

  ASSERT_TRUE(WriteFile("foundfir.txt", "an older, much longer listing\n"
                                        "kvn_hw02_zel_202.bin\n"));
  EXPECT_NE(-1, real_ftp->Ls(handle, "", "foundfir.txt"));
  std::string listing = ReadFile("foundfir.txt");
  EXPECT_EQ(std::string::npos, listing.find('\r'));
  std::istringstream lines(listing);
  std::set<std::string> names;
  for (std::string line; std::getline(lines, line);)
    names.insert(line);
  std::set<std::string> expected = {"kvn_hw02_zel_211.bin", "data.txt",
                                    "event.txt"};
  EXPECT_EQ(expected, names);
  EXPECT_EQ('\n', listing.back());

  EXPECT_EQ(-1, real_ftp->Ls(handle, "no_such_dir", "foundfir.txt"));
  EXPECT_EQ("<missing>", ReadFile("foundfir.txt"));

  ASSERT_TRUE(WriteFile("foundfir.txt", "kvn_hw02_zel_202.bin\n"));
  EXPECT_EQ(-1, real_ftp->Ls(-1, "", "foundfir.txt"));
  EXPECT_EQ("<missing>", ReadFile("foundfir.txt"));
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, AnEmptyDirectoryGivesAnEmptyListing) {
  int handle = LogIn();
  ASSERT_GT(handle, 0);
  EXPECT_NE(-1, real_ftp->Ls(handle, "", "foundfir.txt"));
  EXPECT_EQ("", ReadFile("foundfir.txt"));
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, ReplyTextIsCutToTheBufferWithItsNul) {
  int handle = LogIn();
  ASSERT_GT(handle, 0);
  std::string whole = Reply(handle);
  ASSERT_GT(whole.size(), 5u);
  EXPECT_EQ(whole.substr(0, 4), Reply(handle, 5));
  EXPECT_EQ("", Reply(handle, 1));
  real_ftp->Quit(handle);
}

TEST_F(FtpLibraryTest, OneLoginServesTheWholeSessionAndQuitIsSentOnce) {
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "d"));
  int handle = LogIn();
  ASSERT_GT(handle, 0);
  double start = MonotonicSeconds();
  for (int i = 0; i < 10; ++i)
    EXPECT_NE(-1, real_ftp->Get(handle, "data.txt", "copy.txt"));
  // Each transfer opens its data connection at once: a fixed pause per
  // connection (200 ms is libcurl's usual one) would show here.
  EXPECT_LT(MonotonicSeconds() - start, 1.5);
  EXPECT_NE(-1, real_ftp->Ls(handle, "", "foundfir.txt"));

  real_ftp->Quit(handle);
  real_ftp->Quit(handle);
  real_ftp->Quit(-1);
  real_ftp->Quit(0);
  real_ftp->Quit(12345);
  EXPECT_EQ(-1, real_ftp->Get(handle, "data.txt", "again.txt"));

  // Wait for the server to record the end of the session.
  for (int i = 0; i < 100 && CountLines(server.Commands(), "QUIT") == 0; ++i)
    usleep(20000);
  std::string commands = server.Commands();
  EXPECT_EQ(1, CountLines(commands, "USER admin")) << commands;
  EXPECT_EQ(1, CountLines(commands, "QUIT")) << commands;
}

TEST_F(FtpLibraryTest, SessionsAreIndependent) {
  int first = LogIn();
  int second = LogIn();
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  real_ftp->Quit(first);
  EXPECT_NE(-1, real_ftp->Ls(second, "", "foundfir.txt"));
  real_ftp->Quit(second);
}

// A socket on a free port of 127.0.0.1; listening when `listens`.
int LoopbackSocket(bool listens, int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof(address)) != 0 ||
      (listens && listen(fd, 4) != 0) ||
      getsockname(fd, (struct sockaddr*)&address, &length) != 0)
    return -1;
  *port = ntohs(address.sin_port);
  return fd;
}

std::string FailedLoginAnswer(CurlFtpLibrary* ftp) {
  char buffer[200];
  ftp->CopyReplyStr(-1, buffer, sizeof(buffer));
  return buffer;
}

// A server that accepts the connection (the kernel does) and never says a
// word: the login gives up after the connect time-out the tool ships with,
// and says so.
TEST(FtpLibraryTimeouts, ASilentServerCannotHangALogin) {
  int port = 0;
  int listener = LoopbackSocket(true, &port);
  ASSERT_GE(listener, 0);

  CurlFtpLibrary ftp(port);
  double start = MonotonicSeconds();
  EXPECT_EQ(-1, ftp.Login("127.0.0.1", "admin", "secret", ""));
  double took = MonotonicSeconds() - start;
  EXPECT_GT(took, 14.0);
  EXPECT_LT(took, 20.0);
  EXPECT_EQ("no reply in 15 s", FailedLoginAnswer(&ftp));
  close(listener);
}

// Nothing listens: the card is up, its FTP server is not (yet).
TEST(FtpLibraryTimeouts, ARefusedConnectionIsSaidSo) {
  int port = 0;
  int unused = LoopbackSocket(false, &port);
  ASSERT_GE(unused, 0);
  CurlFtpLibrary ftp(port);
  EXPECT_EQ(-1, ftp.Login("127.0.0.1", "admin", "secret", ""));
  EXPECT_EQ("connection refused", FailedLoginAnswer(&ftp));
  close(unused);
}

}  // namespace
