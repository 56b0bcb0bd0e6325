#ifndef UPGRD_UTIL_PLATFORM_ICMP_ECHO_H_
#define UPGRD_UTIL_PLATFORM_ICMP_ECHO_H_

#include <cstdint>
#include <memory>
#include <string>

/// ICMP echo exchanges over a handle that one probe opens, uses and closes.
struct IcmpEcho {
  virtual ~IcmpEcho() {}

  /// Starts the system's socket layer where it needs starting (Windows).
  /// Returns false when it cannot be had in the version the tool needs.
  virtual bool StartUp() { return true; }

  /// Ends what StartUp started.
  virtual void ShutDown() {}

  /// Opens the echo handle. Returns true on success; on failure returns false
  /// and stores the system's reason (and how to allow ICMP) in *reason.
  virtual bool Open(std::string* reason) = 0;

  /// Sends one echo request without data to the dotted IPv4 address `ip`
  /// and waits at most 1000 ms for its reply. Returns the number of replies
  /// received: 1, or 0 when none came in time, the send failed, no handle is
  /// open, or `ip` is not an IPv4 address (then nothing is sent).
  virtual int SendEcho(const char* ip) = 0;

  /// Closes the handle. Returns true on success, false when the close failed
  /// or no handle was open.
  virtual bool Close() = 0;

  /// A new echo object of the same kind, for a probe on another thread.
  /// Returns nullptr when this one may be used from every thread.
  virtual std::unique_ptr<IcmpEcho> Another() { return nullptr; }
};

/// The system's ICMP. On Windows: the ICMP echo service (IcmpSendEcho) after
/// the socket layer's start-up. Elsewhere: an unprivileged datagram socket
/// where the system allows it (net.ipv4.ping_group_range), else a raw socket
/// (root or CAP_NET_RAW). An echo is answered within `reply_wait_ms` or
/// not at all; the tool waits the whole second, the fast-clock test build
/// less.
struct RealIcmpEcho : public IcmpEcho {
  enum Kind { kDatagramThenRaw, kRawOnly, kDatagramOnly };
  explicit RealIcmpEcho(Kind kind = kDatagramThenRaw, int reply_wait_ms = 1000)
      : kind_(kind), reply_wait_ms_(reply_wait_ms) {}
  ~RealIcmpEcho() override;

#ifdef _WIN32
  bool StartUp() override;
  void ShutDown() override;
#endif
  bool Open(std::string* reason) override;
  int SendEcho(const char* ip) override;
  bool Close() override;
  std::unique_ptr<IcmpEcho> Another() override {
    return std::make_unique<RealIcmpEcho>(kind_, reply_wait_ms_);
  }

  /// True when the open handle is a raw socket (replies carry the IP header).
  bool is_raw() const { return raw_; }

 private:
  // Owns a descriptor: a copy would close it twice.
  RealIcmpEcho(const RealIcmpEcho&) = delete;
  RealIcmpEcho& operator=(const RealIcmpEcho&) = delete;

  Kind kind_;
  int reply_wait_ms_;
  int fd_ = -1;
  bool raw_ = false;
  uint16_t id_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
  bool started_ = false;
#endif
};

/// Tells whether `packet` (as read from the echo socket; it starts with the
/// IPv4 header when `has_ip_header`) is the echo reply from `from_expected`
/// to our request `id`/`seq`. Our own requests, other processes' replies and
/// ICMP errors are not. `from_actual` is the sender the socket reported.
bool is_own_echo_reply(const uint8_t* packet, size_t length,
                       bool has_ip_header, uint16_t id, uint16_t seq,
                       uint32_t from_expected, uint32_t from_actual);

#ifdef _WIN32
/// Counts the records of an IcmpSendEcho reply area (`replies` of them) that
/// are echo replies from `destination` (network byte order). "Destination
/// unreachable" and other errors that a router sends back are records too,
/// and are not the card answering.
int answered_echo_replies(const void* reply_area, unsigned long replies,
                          unsigned long destination);
#endif

#endif  // UPGRD_UTIL_PLATFORM_ICMP_ECHO_H_
