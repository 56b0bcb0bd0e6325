#include "upgrd_util/platform/ftp_sessions.h"

#include <cstdio>
#include <utility>

#include "upgrd_util/platform/console.h"

int FtpSessions::Add(std::unique_ptr<FtpSession> session) {
  std::lock_guard<std::mutex> lock(mutex_);
  int handle = next_handle_++;
  sessions_[handle] = std::move(session);
  return handle;
}

FtpSession* FtpSessions::Find(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(handle);
  return it == sessions_.end() ? nullptr : it->second.get();
}

std::unique_ptr<FtpSession> FtpSessions::Remove(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(handle);
  if (it == sessions_.end())
    return nullptr;
  std::unique_ptr<FtpSession> session = std::move(it->second);
  sessions_.erase(it);
  return session;
}

void FtpSessions::Clear() {
  std::map<int, std::unique_ptr<FtpSession>> ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending.swap(sessions_);
  }
  // Ended outside the lock: ending one may wait on its connection.
  ending.clear();
}

bool FtpSessions::ShareUsedUp(int handle) {
  FtpSession* session = Find(handle);
  return session && session->share_used_up;
}

bool FtpSessions::LocalFailure(int handle, LocalFault* fault) {
  FtpSession* session = Find(handle);
  if (!session || session->fault.what.empty())
    return false;
  *fault = session->fault;
  return true;
}

int FtpSessions::CopyReplyStr(int handle, char* buffer, int size) {
  if (size <= 0)
    return -1;
  // A session's replies are written by the one thread that uses it.
  FtpSession* session = Find(handle);
  const std::string& reply = session ? session->last_reply : FailedLogin();
  snprintf(buffer, static_cast<size_t>(size), "%s",
           printable_text(reply).c_str());
  return 0;
}

std::string& FtpSessions::FailedLogin() {
  thread_local std::string answer;
  return answer;
}
