#include "upgrd_util/platform/ftp_library.h"

#include "upgrd_util/platform/platform.h"

int ftp_login(const char* host, const char* user, const char* password,
              const char* account) {
  return platform().ftp->Login(host, user, password, account);
}

int ftp_quit(int handle) {
  return platform().ftp->Quit(handle);
}

int ftp_get(int handle, const char* remote, const char* local) {
  return platform().ftp->Get(handle, remote, local);
}

int ftp_put(int handle, const char* local, const char* remote) {
  return platform().ftp->Put(handle, local, remote);
}

int ftp_ls(int handle, const char* path, const char* local) {
  return platform().ftp->Ls(handle, path, local);
}

int ftp_copyreplystr(int handle, char* buffer, int size) {
  return platform().ftp->CopyReplyStr(handle, buffer, size);
}
