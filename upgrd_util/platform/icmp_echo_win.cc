#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/ipv4_address.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <string>

RealIcmpEcho::~RealIcmpEcho() {
  if (handle_)
    Close();
  ShutDown();
}

bool RealIcmpEcho::StartUp() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
    return false;
  if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
    WSACleanup();
    return false;
  }
  started_ = true;
  return true;
}

void RealIcmpEcho::ShutDown() {
  if (started_)
    WSACleanup();
  started_ = false;
}

bool RealIcmpEcho::Open(std::string* reason) {
  HANDLE handle = IcmpCreateFile();
  if (handle == INVALID_HANDLE_VALUE) {
    if (reason)
      *reason = "IcmpCreateFile failed with error " +
                std::to_string(GetLastError());
    return false;
  }
  handle_ = handle;
  return true;
}

int RealIcmpEcho::SendEcho(const char* ip) {
  if (!handle_ || !ip)
    return 0;
  // Not inet_addr: its failure value is the broadcast address.
  uint32_t address;
  if (!parse_ipv4_address(ip, &address))
    return 0;
  // Room for one reply record without data, and the few bytes the service
  // wants beyond it.
  char reply[sizeof(ICMP_ECHO_REPLY) + 8];
  DWORD replies = IcmpSendEcho(handle_, address, nullptr, 0,
                               nullptr, reply, sizeof(reply),
                               static_cast<DWORD>(reply_wait_ms_));
  if (replies == 0)
    GetLastError();
  return answered_echo_replies(reply, replies, address);
}

int answered_echo_replies(const void* reply_area, unsigned long replies,
                          unsigned long destination) {
  const ICMP_ECHO_REPLY* reply =
      static_cast<const ICMP_ECHO_REPLY*>(reply_area);
  int answered = 0;
  for (unsigned long i = 0; i < replies; ++i) {
    if (reply[i].Status == IP_SUCCESS && reply[i].Address == destination)
      ++answered;
  }
  return answered;
}

bool RealIcmpEcho::Close() {
  if (!handle_)
    return false;
  BOOL closed = IcmpCloseHandle(handle_);
  handle_ = nullptr;
  return closed != FALSE;
}
