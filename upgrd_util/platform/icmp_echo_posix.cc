#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/ipv4_address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kIcmpEchoReply = 0;
constexpr uint8_t kIcmpEchoRequest = 8;
constexpr size_t kIcmpHeaderLength = 8;
constexpr size_t kIpv4MinHeaderLength = 20;
// Our requests carry no data, so a reply fits in one Ethernet MTU; longer
// packets are someone else's and are truncated harmlessly by recvfrom.
constexpr size_t kReceiveBufferLength = 1500;
// sendto is only retried after a signal, and not forever.
constexpr int kSendAttempts = 10;

// Advances per request for the life of the process (shared by all handles),
// so a late reply to an earlier request never matches the current one.
std::atomic<uint16_t> g_next_sequence{1};
// Mixed into raw-socket identifiers so that two handles in one process differ.
std::atomic<uint16_t> g_raw_handles_opened{0};

uint16_t ReadBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void WriteBe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value & 0xff);
}

// The Internet checksum (RFC 1071). Datagram sockets fill it in themselves,
// raw sockets send what we give them.
uint16_t InternetChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += ReadBe16(data + i);
  if (i < length) sum += static_cast<uint32_t>(data[i]) << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xffff);
}

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string ErrnoText(const char* what, int error) {
  return std::string(what) + ": " + strerror(error);
}

// Every raw ICMP socket receives every echo reply of the host: a thousand
// cards probed at once on a thousand raw sockets would copy each reply a
// thousand times. The raw handles of the process share one socket instead
// and take turns reading it; each reply goes to the request whose
// identifier and sequence it carries.
struct SharedRawSocket {
  struct Request {
    uint16_t id;
    uint16_t seq;
    uint32_t to;
    bool answered;
    // Woken when answered, or when it is its turn to read.
    std::condition_variable wake;
  };
  std::mutex mutex;  // guards everything below
  int fd = -1;
  int handles = 0;
  bool reading = false;
  std::vector<Request*> waiting;
};
SharedRawSocket g_raw;

// Reads what the shared socket holds and marks the requests it answers
// (g_raw.mutex held).
void DispatchRawReplies() {
  uint8_t packet[kReceiveBufferLength];
  for (;;) {
    sockaddr_in from{};
    socklen_t from_length = sizeof(from);
    const ssize_t length =
        recvfrom(g_raw.fd, packet, sizeof(packet), MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&from), &from_length);
    if (length < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (from_length < sizeof(from) || from.sin_family != AF_INET) continue;
    for (SharedRawSocket::Request* request : g_raw.waiting) {
      if (!request->answered &&
          is_own_echo_reply(packet, static_cast<size_t>(length), true,
                            request->id, request->seq, request->to,
                            from.sin_addr.s_addr)) {
        request->answered = true;
        request->wake.notify_one();
      }
    }
  }
}

// Waits until `deadline` for the reply to `request`, reading the shared
// socket whenever no other thread is. Returns 1 when it came, else 0.
int AwaitRawReply(SharedRawSocket::Request* request, int64_t deadline) {
  std::unique_lock<std::mutex> lock(g_raw.mutex);
  for (;;) {
    const int64_t remaining = deadline - MonotonicNs();
    if (request->answered || remaining <= 0)
      break;
    if (g_raw.reading) {
      request->wake.wait_for(lock, std::chrono::nanoseconds(remaining));
      continue;
    }
    g_raw.reading = true;
    pollfd ready{};
    ready.fd = g_raw.fd;
    lock.unlock();
    ready.events = POLLIN;
    // Round up, or the last millisecond would spin on poll(0).
    poll(&ready, 1, static_cast<int>((remaining + 999999) / 1000000));
    lock.lock();
    DispatchRawReplies();
    g_raw.reading = false;
  }
  g_raw.waiting.erase(
      std::find(g_raw.waiting.begin(), g_raw.waiting.end(), request));
  // Someone still waiting reads next.
  for (SharedRawSocket::Request* other : g_raw.waiting) {
    if (!other->answered) {
      other->wake.notify_one();
      break;
    }
  }
  return request->answered ? 1 : 0;
}

}  // namespace

RealIcmpEcho::~RealIcmpEcho() {
  if (fd_ >= 0) Close();
}

bool RealIcmpEcho::Open(std::string* reason) {
  if (fd_ >= 0) {
    // Opening again would leak the handle we already hold.
    if (reason != nullptr) *reason = "the ICMP echo handle is already open";
    return false;
  }
  std::string failures;

  if (kind_ != kRawOnly) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
      failures = ErrnoText("datagram ICMP socket", errno);
    } else {
      // The kernel puts the socket's local port into the identifier of every
      // request; binding to port 0 assigns one now so that replies can be
      // checked against it.
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = htonl(INADDR_ANY);
      socklen_t local_length = sizeof(local);
      if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) !=
          0) {
        failures = ErrnoText("datagram ICMP socket bind", errno);
        close(fd);
      } else if (getsockname(fd, reinterpret_cast<sockaddr*>(&local),
                             &local_length) != 0) {
        failures = ErrnoText("datagram ICMP socket getsockname", errno);
        close(fd);
      } else {
        fd_ = fd;
        raw_ = false;
        id_ = ntohs(local.sin_port);
        return true;
      }
    }
  }

  if (kind_ != kDatagramOnly) {
    std::lock_guard<std::mutex> lock(g_raw.mutex);
    // Made by the first handle and kept while any is open (a campaign holds
    // one for the whole run), so the descriptor never changes under readers.
    if (g_raw.fd < 0)
      g_raw.fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    int fd = g_raw.fd;
    if (fd < 0) {
      if (!failures.empty()) failures += "; ";
      failures += ErrnoText("raw ICMP socket", errno);
    } else {
      ++g_raw.handles;
      // A raw socket sees every ICMP packet of the host, so the identifier must
      // set our requests apart from other processes' and other handles'.
      // The odd multiplier keeps the counter's values distinct mod 2^16.
      const uint16_t handle = g_raw_handles_opened.fetch_add(1);
      fd_ = fd;
      raw_ = true;
      id_ = static_cast<uint16_t>(static_cast<uint32_t>(getpid()) ^
                                  (handle * 0x9e37u));
      return true;
    }
  }

  if (reason != nullptr) {
    *reason = "cannot open an ICMP socket (" + failures +
              "); to allow ICMP, run as root, give the binary CAP_NET_RAW "
              "(setcap cap_net_raw+ep), or widen net.ipv4.ping_group_range "
              "to include the user's group";
  }
  return false;
}

int RealIcmpEcho::SendEcho(const char* ip) {
  if (fd_ < 0 || ip == nullptr) return 0;
  // Not inet_addr/inet_aton: those also take "1.2.3", hex parts and
  // trailing junk, and inet_addr's failure value is the broadcast address.
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!parse_ipv4_address(ip, &to.sin_addr.s_addr)) return 0;

  const uint16_t seq = g_next_sequence.fetch_add(1);
  uint8_t request[kIcmpHeaderLength] = {kIcmpEchoRequest, 0, 0, 0, 0, 0, 0, 0};
  WriteBe16(request + 4, id_);
  WriteBe16(request + 6, seq);
  WriteBe16(request + 2, InternetChecksum(request, sizeof(request)));

  // On the shared raw socket the request waits for its reply before it is
  // sent, so that whichever thread reads the reply finds it.
  SharedRawSocket::Request waiting{id_, seq, to.sin_addr.s_addr, false, {}};
  if (raw_) {
    std::lock_guard<std::mutex> lock(g_raw.mutex);
    g_raw.waiting.push_back(&waiting);
  }
  ssize_t sent = -1;
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    sent = sendto(fd_, request, sizeof(request), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent >= 0 || errno != EINTR) break;
  }
  const int64_t deadline = MonotonicNs() + reply_wait_ms_ * 1000000LL;
  if (raw_) {
    // A failed send waits for nothing.
    return AwaitRawReply(&waiting,
                         sent == static_cast<ssize_t>(sizeof(request))
                             ? deadline
                             : 0);
  }
  if (sent != static_cast<ssize_t>(sizeof(request))) return 0;

  uint8_t packet[kReceiveBufferLength];
  for (;;) {
    const int64_t remaining = deadline - MonotonicNs();
    if (remaining <= 0) return 0;
    pollfd ready{};
    ready.fd = fd_;
    ready.events = POLLIN;
    // Round up, or the last millisecond would spin on poll(0).
    const int timeout_ms = static_cast<int>((remaining + 999999) / 1000000);
    const int polled = poll(&ready, 1, timeout_ms);
    if (polled < 0 && errno != EINTR) return 0;
    if (polled <= 0) continue;

    // Read everything queued: other processes' replies, our own requests
    // (raw sockets on loopback) and stale replies can come before ours.
    while (MonotonicNs() < deadline) {
      sockaddr_in from{};
      socklen_t from_length = sizeof(from);
      const ssize_t length =
          recvfrom(fd_, packet, sizeof(packet), MSG_DONTWAIT,
                   reinterpret_cast<sockaddr*>(&from), &from_length);
      if (length < 0) {
        if (errno == EINTR) continue;
        // EAGAIN: drained. Anything else is a pending socket error (e.g. an
        // ICMP error on a datagram socket), which reading has cleared; keep
        // waiting, since it may concern an earlier request.
        break;
      }
      if (from_length < sizeof(from) || from.sin_family != AF_INET) continue;
      if (is_own_echo_reply(packet, static_cast<size_t>(length), raw_, id_, seq,
                            to.sin_addr.s_addr, from.sin_addr.s_addr)) {
        return 1;
      }
    }
  }
}

bool RealIcmpEcho::Close() {
  if (fd_ < 0) return false;
  int result = 0;
  if (raw_) {
    // The shared socket closes with its last handle.
    std::lock_guard<std::mutex> lock(g_raw.mutex);
    if (--g_raw.handles == 0) {
      result = close(g_raw.fd);
      g_raw.fd = -1;
    }
  } else {
    // No retry on EINTR: Linux has released the descriptor either way, and
    // a second close could hit one that another thread has just opened.
    result = close(fd_);
  }
  fd_ = -1;
  raw_ = false;
  id_ = 0;
  return result == 0;
}

// Addresses are compared as stored in in_addr.s_addr; only equality matters.
bool is_own_echo_reply(const uint8_t* packet, size_t length, bool has_ip_header,
                       uint16_t id, uint16_t seq, uint32_t from_expected,
                       uint32_t from_actual) {
  if (packet == nullptr) return false;
  if (from_actual != from_expected) return false;

  size_t offset = 0;
  if (has_ip_header) {
    if (length < kIpv4MinHeaderLength) return false;
    if ((packet[0] >> 4) != 4) return false;
    // IHL counts 32-bit words; options make the header longer than 20 bytes.
    const size_t header_length = static_cast<size_t>(packet[0] & 0x0f) * 4;
    if (header_length < kIpv4MinHeaderLength) return false;
    offset = header_length;
  }
  if (length < offset || length - offset < kIcmpHeaderLength) return false;

  const uint8_t* icmp = packet + offset;
  return icmp[0] == kIcmpEchoReply && icmp[1] == 0 &&
         ReadBe16(icmp + 4) == id && ReadBe16(icmp + 6) == seq;
}
