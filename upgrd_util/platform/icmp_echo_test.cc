#include "upgrd_util/platform/icmp_echo.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Traffic rule: these tests send only to 127.0.0.0/8, or to addresses inside a
// network namespace that the test itself created.

namespace {

constexpr uint16_t kId = 0x1234;
constexpr uint16_t kSeq = 0x0102;

uint32_t Ipv4(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

// An ICMP message as an echo socket returns it: behind an IPv4 header of `ihl`
// 32-bit words (options zero-filled) for a raw socket, bare when `ihl` is 0.
std::vector<uint8_t> Packet(uint8_t type, uint16_t id, uint16_t seq,
                            int ihl = 0, uint8_t code = 0) {
  std::vector<uint8_t> packet(static_cast<size_t>(ihl) * 4, 0);
  if (ihl > 0) {
    packet[0] = static_cast<uint8_t>(0x40 | ihl);
    packet[9] = IPPROTO_ICMP;
  }
  const uint8_t icmp[8] = {type,
                           code,
                           0,
                           0,
                           static_cast<uint8_t>(id >> 8),
                           static_cast<uint8_t>(id),
                           static_cast<uint8_t>(seq >> 8),
                           static_cast<uint8_t>(seq)};
  packet.insert(packet.end(), icmp, icmp + sizeof(icmp));
  return packet;
}

// Checks the first `length` bytes of `packet`, copied to a buffer of exactly
// that size so the sanitizers catch a read past the end.
bool Accepted(const std::vector<uint8_t>& packet, size_t length,
              bool has_ip_header, uint16_t id = kId, uint16_t seq = kSeq,
              const char* from = "192.0.2.7") {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
  memcpy(exact.get(), packet.data(), length);
  return is_own_echo_reply(exact.get(), length, has_ip_header, id, seq,
                           Ipv4("192.0.2.7"), Ipv4(from));
}

bool Accepted(const std::vector<uint8_t>& packet, bool has_ip_header,
              uint16_t id = kId, uint16_t seq = kSeq,
              const char* from = "192.0.2.7") {
  return Accepted(packet, packet.size(), has_ip_header, id, seq, from);
}

TEST(IsOwnEchoReplyTest, AcceptsMatchingReplyWithOrWithoutIpHeader) {
  EXPECT_TRUE(Accepted(Packet(0, kId, kSeq), false));
  EXPECT_TRUE(Accepted(Packet(0, kId, kSeq, 5), true));
  // With IP options the ICMP header starts after IHL words, not at byte 20.
  EXPECT_TRUE(Accepted(Packet(0, kId, kSeq, 6), true));
  EXPECT_TRUE(Accepted(Packet(0, kId, kSeq, 15), true));
}

TEST(IsOwnEchoReplyTest, RejectsMessagesThatAreNotEchoReplies) {
  for (const bool has_ip_header : {false, true}) {
    const int ihl = has_ip_header ? 5 : 0;
    SCOPED_TRACE(has_ip_header ? "with IP header" : "without IP header");
    // A raw socket on loopback reads our own request back.
    EXPECT_FALSE(Accepted(Packet(8, kId, kSeq, ihl), has_ip_header));
    EXPECT_FALSE(Accepted(Packet(3, kId, kSeq, ihl), has_ip_header));
    EXPECT_FALSE(Accepted(Packet(0, kId, kSeq, ihl, 1), has_ip_header));
  }
}

TEST(IsOwnEchoReplyTest, RejectsRepliesToOtherRequests) {
  for (const bool has_ip_header : {false, true}) {
    const int ihl = has_ip_header ? 5 : 0;
    SCOPED_TRACE(has_ip_header ? "with IP header" : "without IP header");
    const std::vector<uint8_t> reply = Packet(0, kId, kSeq, ihl);
    // Another process's echo, and the byte-swapped identifier.
    EXPECT_FALSE(Accepted(reply, has_ip_header, kId + 1, kSeq));
    EXPECT_FALSE(Accepted(reply, has_ip_header, 0x3412, kSeq));
    // A late reply to our previous request.
    EXPECT_FALSE(Accepted(reply, has_ip_header, kId, kSeq + 1));
    EXPECT_FALSE(Accepted(reply, has_ip_header, kId, kSeq, "192.0.2.8"));
  }
}

TEST(IsOwnEchoReplyTest, RejectsTruncatedAndMalformedPackets) {
  for (const int ihl : {0, 5, 6}) {
    const std::vector<uint8_t> reply = Packet(0, kId, kSeq, ihl);
    for (size_t length = 0; length < reply.size(); ++length) {
      EXPECT_FALSE(Accepted(reply, length, ihl > 0))
          << "ihl " << ihl << ", length " << length;
    }
  }
  // A well-formed reply after a 16-byte header: only the IHL check rejects it.
  EXPECT_FALSE(Accepted(Packet(0, kId, kSeq, 4), true));

  std::vector<uint8_t> ipv6_version = Packet(0, kId, kSeq, 5);
  ipv6_version[0] = 0x65;
  EXPECT_FALSE(Accepted(ipv6_version, true));

  std::vector<uint8_t> header_past_end = Packet(0, kId, kSeq, 5);
  header_past_end[0] = 0x4f;  // 60-byte header in a 28-byte packet
  EXPECT_FALSE(Accepted(header_past_end, true));

  EXPECT_FALSE(is_own_echo_reply(nullptr, 0, false, kId, kSeq, 1, 1));
}

TEST(RealIcmpEchoTest, WithoutOpenHandleSendsNothingAndCloseFails) {
  RealIcmpEcho echo;
  EXPECT_EQ(echo.SendEcho("127.0.0.1"), 0);
  EXPECT_FALSE(echo.Close());
}

// Loopback only. Without root the account may not be allowed ICMP at all.
TEST(RealIcmpEchoTest, DefaultKindGetsReplyFromLoopback) {
  RealIcmpEcho echo;
  std::string reason;
  if (!echo.Open(&reason)) {
    if (geteuid() == 0) FAIL() << reason;
    GTEST_SKIP() << reason;
  }
  std::string again;
  EXPECT_FALSE(echo.Open(&again));
  EXPECT_FALSE(again.empty());
  EXPECT_EQ(echo.SendEcho("127.0.0.1"), 1);
  // The previous request's reply must not stand in for this one's.
  EXPECT_EQ(echo.SendEcho("127.0.0.1"), 1);
  EXPECT_TRUE(echo.Close());
  EXPECT_FALSE(echo.Close());
  EXPECT_EQ(echo.SendEcho("127.0.0.1"), 0);
}

TEST(RealIcmpEchoTest, RawSocketGetsReplyFromLoopback) {
  RealIcmpEcho echo(RealIcmpEcho::kRawOnly);
  std::string reason;
  if (!echo.Open(&reason)) {
    if (geteuid() == 0) FAIL() << reason;
    GTEST_SKIP() << reason;
  }
  EXPECT_TRUE(echo.is_raw());
  EXPECT_EQ(echo.SendEcho("127.0.0.1"), 1);
  // The reply comes from the address we sent to, not always 127.0.0.1.
  EXPECT_EQ(echo.SendEcho("127.0.0.2"), 1);
  EXPECT_TRUE(echo.Close());
}

// --- Inside a network namespace of our own --------------------------------

enum ChildExit { kChildPassed = 0, kChildFailed = 1, kChildSkipped = 77 };
constexpr unsigned kChildAlarmSeconds = 20;
constexpr auto kParentWait = std::chrono::seconds(30);

struct ChildOutcome {
  int code;
  std::string message;
};

// Collects failures in the child, where gtest assertions would not reach the
// parent's report.
struct Checks {
  std::string failures;
  void Expect(bool ok, const std::string& what) {
    if (!ok) failures += what + "\n";
  }
  ChildOutcome Done() const {
    return {failures.empty() ? kChildPassed : kChildFailed, failures};
  }
};

bool WriteProc(const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t length = static_cast<ssize_t>(strlen(text));
  const bool ok = write(fd, text, strlen(text)) == length;
  return close(fd) == 0 && ok;
}

double SecondsOfEcho(RealIcmpEcho& echo, const char* ip, int* result) {
  const auto start = std::chrono::steady_clock::now();
  *result = echo.SendEcho(ip);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs `body` in a forked child inside a new network namespace with lo up, so
// that whatever it sends stays there. The child is bounded by an alarm and
// reaped by pid.
ChildOutcome RunInNewNetns(const std::function<ChildOutcome()>& body) {
  if (geteuid() != 0)
    return {kChildSkipped, "needs root to create a network namespace"};
  int pipe_fds[2];
  // Close-on-exec, so a shell left behind by system() cannot hold it open.
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {kChildFailed, strerror(errno)};
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return {kChildFailed, std::string("fork: ") + strerror(errno)};
  }
  if (pid == 0) {
    close(pipe_fds[0]);
    alarm(kChildAlarmSeconds);
    ChildOutcome outcome{kChildFailed, ""};
    if (unshare(CLONE_NEWNET) != 0) {
      outcome = {errno == EPERM ? kChildSkipped : kChildFailed,
                 std::string("unshare(CLONE_NEWNET): ") + strerror(errno)};
    } else if (system("ip link set lo up") != 0) {
      outcome.message = "ip link set lo up failed";
    } else {
      outcome = body();
    }
    const size_t length = std::min<size_t>(outcome.message.size(), 4096);
    if (write(pipe_fds[1], outcome.message.data(), length) < 0)
      outcome.code = kChildFailed;
    _exit(outcome.code);
  }

  close(pipe_fds[1]);
  std::string message;
  const auto deadline = std::chrono::steady_clock::now() + kParentWait;
  bool timed_out = true;
  while (std::chrono::steady_clock::now() < deadline && message.size() < 8192) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd readable{pipe_fds[0], POLLIN, 0};
    const int polled = poll(&readable, 1, static_cast<int>(left.count()) + 1);
    if (polled < 0 && errno != EINTR) break;
    if (polled <= 0) continue;
    char chunk[512];
    const ssize_t got = read(pipe_fds[0], chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      timed_out = false;
      break;
    }
    message.append(chunk, static_cast<size_t>(got));
  }
  close(pipe_fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    return {kChildFailed,
            "child killed by signal " + std::to_string(WTERMSIG(status)) +
                (WTERMSIG(status) == SIGALRM ? " (time limit)" : "") + "\n" +
                message};
  }
  if (!WIFEXITED(status))
    return {kChildFailed, "child did not exit\n" + message};
  return {WEXITSTATUS(status), message};
}

// Variadic because the lambda's commas would split a one-parameter macro.
#define EXPECT_CHILD_PASSES(...)                                          \
  do {                                                                    \
    const ChildOutcome outcome_ = RunInNewNetns(__VA_ARGS__);             \
    if (outcome_.code == kChildSkipped) GTEST_SKIP() << outcome_.message; \
    EXPECT_EQ(outcome_.code, kChildPassed) << outcome_.message;           \
  } while (0)

const char kPingGroupRange[] = "/proc/sys/net/ipv4/ping_group_range";

TEST(RealIcmpEchoNetnsTest, DatagramSocketWorksWhenPingGroupRangeAllowsIt) {
  EXPECT_CHILD_PASSES([] {
    Checks checks;
    if (!WriteProc(kPingGroupRange, "0 2147483647"))
      return ChildOutcome{kChildFailed, "cannot widen ping_group_range"};
    RealIcmpEcho echo(RealIcmpEcho::kDatagramOnly);
    std::string reason;
    checks.Expect(echo.Open(&reason), "datagram Open failed: " + reason);
    checks.Expect(!echo.is_raw(), "datagram handle reports raw");
    checks.Expect(echo.SendEcho("127.0.0.1") == 1,
                  "first echo on datagram socket got no reply");
    checks.Expect(echo.SendEcho("127.0.0.1") == 1,
                  "second echo on datagram socket got no reply");
    checks.Expect(echo.Close(), "Close failed");
    return checks.Done();
  });
}

TEST(RealIcmpEchoNetnsTest, FallsBackToRawWhenPingGroupRangeForbidsDatagram) {
  EXPECT_CHILD_PASSES([] {
    Checks checks;
    if (!WriteProc(kPingGroupRange, "1 0"))
      return ChildOutcome{kChildFailed, "cannot set ping_group_range"};
    RealIcmpEcho datagram_only(RealIcmpEcho::kDatagramOnly);
    std::string reason;
    checks.Expect(!datagram_only.Open(&reason),
                  "datagram Open succeeded with range \"1 0\"");
    for (const char* hint : {"root", "CAP_NET_RAW", "ping_group_range"}) {
      checks.Expect(reason.find(hint) != std::string::npos,
                    "reason lacks " + std::string(hint) + ": " + reason);
    }
    checks.Expect(reason.find(strerror(EACCES)) != std::string::npos,
                  "reason lacks the system error: " + reason);

    RealIcmpEcho fallback;
    checks.Expect(fallback.Open(&reason), "default Open failed: " + reason);
    checks.Expect(fallback.is_raw(), "default kind did not fall back to raw");
    checks.Expect(fallback.SendEcho("127.0.0.1") == 1,
                  "raw fallback got no reply");
    return checks.Done();
  });
}

TEST(RealIcmpEchoNetnsTest, UnansweredEchoGivesZeroAfterOneSecond) {
  EXPECT_CHILD_PASSES([] {
    // A NOARP interface that drops what it is given: 192.0.2.2 is routed
    // there and never answers.
    if (system(
            "ip link add ifb0 type ifb && ip addr add 192.0.2.1/24 dev ifb0 && "
            "ip link set ifb0 up") != 0) {
      return ChildOutcome{kChildSkipped, "cannot create an ifb interface"};
    }
    if (!WriteProc(kPingGroupRange, "0 2147483647"))
      return ChildOutcome{kChildFailed, "cannot widen ping_group_range"};
    Checks checks;
    for (const auto kind :
         {RealIcmpEcho::kRawOnly, RealIcmpEcho::kDatagramOnly}) {
      const std::string name =
          kind == RealIcmpEcho::kRawOnly ? "raw" : "datagram";
      RealIcmpEcho echo(kind);
      std::string reason;
      checks.Expect(echo.Open(&reason), name + " Open failed: " + reason);
      int result = -1;
      const double seconds = SecondsOfEcho(echo, "192.0.2.2", &result);
      checks.Expect(result == 0, name + ": unanswered echo returned " +
                                     std::to_string(result));
      checks.Expect(seconds >= 0.9 && seconds <= 1.6,
                    name + ": gave up after " + std::to_string(seconds) + " s");
    }
    return checks.Done();
  });
}

TEST(RealIcmpEchoNetnsTest, RawSocketDoesNotTakeItsOwnRequestForAReply) {
  EXPECT_CHILD_PASSES([] {
    if (!WriteProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
      return ChildOutcome{kChildFailed, "cannot set icmp_echo_ignore_all"};
    Checks checks;
    // Shows the request really is looped back to raw sockets, which is what
    // makes this case worth testing.
    const int watcher = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    checks.Expect(watcher >= 0,
                  std::string("watcher socket: ") + strerror(errno));

    RealIcmpEcho echo(RealIcmpEcho::kRawOnly);
    std::string reason;
    checks.Expect(echo.Open(&reason), "raw Open failed: " + reason);
    int result = -1;
    const double seconds = SecondsOfEcho(echo, "127.0.0.1", &result);
    checks.Expect(result == 0, "echo with replies disabled returned " +
                                   std::to_string(result));
    checks.Expect(seconds >= 0.9 && seconds <= 1.6,
                  "gave up after " + std::to_string(seconds) + " s");

    if (watcher >= 0) {
      uint8_t packet[1500];
      const ssize_t length =
          recv(watcher, packet, sizeof(packet), MSG_DONTWAIT);
      const ssize_t ihl = (packet[0] & 0x0f) * 4;
      checks.Expect(length >= ihl + 8 && packet[ihl] == 8,
                    "raw sockets did not see the echo request");
      close(watcher);
    }
    return checks.Done();
  });
}

TEST(RealIcmpEchoNetnsTest,
     RequestsOnTheWireAreBareWithFreshSequenceAndPerHandleId) {
  EXPECT_CHILD_PASSES([] {
    Checks checks;
    // Only this process sends ICMP here, so the watcher sees just our requests.
    const int watcher = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (watcher < 0)
      return ChildOutcome{kChildFailed,
                          std::string("watcher socket: ") + strerror(errno)};
    RealIcmpEcho first(RealIcmpEcho::kRawOnly);
    RealIcmpEcho second(RealIcmpEcho::kRawOnly);
    std::string reason;
    checks.Expect(first.Open(&reason) && second.Open(&reason),
                  "raw Open failed: " + reason);
    checks.Expect(first.SendEcho("127.0.0.1") == 1, "first handle, first echo");
    checks.Expect(first.SendEcho("127.0.0.1") == 1,
                  "first handle, second echo");
    checks.Expect(second.SendEcho("127.0.0.1") == 1, "second handle");

    struct Request {
      uint16_t id;
      uint16_t seq;
    };
    std::vector<Request> requests;
    uint8_t packet[1500];
    for (int i = 0; i < 20; ++i) {
      const ssize_t length =
          recv(watcher, packet, sizeof(packet), MSG_DONTWAIT);
      if (length < 20) break;
      const size_t ihl = static_cast<size_t>(packet[0] & 0x0f) * 4;
      if (static_cast<size_t>(length) < ihl + 8 || packet[ihl] != 8) continue;
      const uint8_t* icmp = packet + ihl;
      checks.Expect(static_cast<size_t>(length) == ihl + 8,
                    "request carries data");
      uint32_t sum = 0;
      for (size_t at = 0; at < 8; at += 2)
        sum += static_cast<uint32_t>(icmp[at] << 8 | icmp[at + 1]);
      while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
      checks.Expect(sum == 0xffff, "request checksum is wrong");
      requests.push_back({static_cast<uint16_t>(icmp[4] << 8 | icmp[5]),
                          static_cast<uint16_t>(icmp[6] << 8 | icmp[7])});
    }
    close(watcher);
    if (requests.size() != 3) {
      checks.Expect(false, "watcher saw " + std::to_string(requests.size()) +
                               " requests, not 3");
      return checks.Done();
    }
    checks.Expect(requests[0].id == requests[1].id,
                  "one handle changed its identifier");
    checks.Expect(requests[0].id != requests[2].id,
                  "two handles share an identifier");
    checks.Expect(requests[0].seq != requests[1].seq &&
                      requests[1].seq != requests[2].seq &&
                      requests[0].seq != requests[2].seq,
                  "a sequence number was reused");
    return checks.Done();
  });
}

TEST(RealIcmpEchoNetnsTest, AddressTextThatIsNotIpv4SendsNothing) {
  EXPECT_CHILD_PASSES([] {
    // Every address is local in this namespace, so anything sent is answered:
    // a text wrongly parsed into some address would get 1.
    if (system("ip route add local 0.0.0.0/0 dev lo") != 0)
      return ChildOutcome{kChildFailed, "cannot route all addresses to lo"};
    Checks checks;
    RealIcmpEcho echo;
    std::string reason;
    checks.Expect(echo.Open(&reason), "Open failed: " + reason);
    checks.Expect(echo.SendEcho("198.51.100.7") == 1,
                  "namespace does not answer every address");
    // inet_aton would take "1.2.3" as 1.2.0.3 and each of the last four as
    // 127.0.0.1.
    for (const char* text :
         {"256.1.1.1", "", "localhost", "1.2.3", "127.0.0.1 ", "0x7f.0.0.1",
          "127.1", "2130706433"}) {
      int result = -1;
      const double seconds = SecondsOfEcho(echo, text, &result);
      checks.Expect(result == 0, "\"" + std::string(text) + "\" returned " +
                                     std::to_string(result));
      checks.Expect(seconds < 0.1, "\"" + std::string(text) + "\" took " +
                                       std::to_string(seconds) + " s");
    }
    return checks.Done();
  });
}

}  // namespace
