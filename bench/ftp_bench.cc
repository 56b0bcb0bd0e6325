// One FTP transfer through CurlFtpLibrary, as the card operations make it:
// log in, one Put, Get or Ls, quit. scripts/bench.sh times the whole process
// against curl doing the same transfer to the same server.
//
//   upgrd_ftp_bench put|get|ls HOST PORT USER PASSWORD LOCAL REMOTE
//
// put uploads LOCAL as REMOTE; get copies REMOTE to LOCAL; ls writes the
// names in the directory REMOTE to LOCAL. Exits 0 on success, else 1.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrd_util/platform/ftp_library.h"

int main(int argc, char** argv) {
  if (argc != 8) {
    fprintf(stderr,
            "usage: %s put|get|ls HOST PORT USER PASSWORD LOCAL REMOTE\n",
            argv[0]);
    return 2;
  }
  const char* op = argv[1];
  const char* local = argv[6];
  const char* remote = argv[7];
  CurlFtpLibrary ftp(atoi(argv[3]));
  int handle = ftp.Login(argv[2], argv[4], argv[5], "");
  if (handle == -1) {
    char reply[256];
    ftp.CopyReplyStr(-1, reply, sizeof(reply));
    fprintf(stderr, "login failed: %s\n", reply);
    return 1;
  }
  int result = -1;
  if (strcmp(op, "put") == 0)
    result = ftp.Put(handle, local, remote);
  else if (strcmp(op, "get") == 0)
    result = ftp.Get(handle, remote, local);
  else if (strcmp(op, "ls") == 0)
    result = ftp.Ls(handle, remote, local);
  if (result != 0) {
    char reply[256];
    ftp.CopyReplyStr(handle, reply, sizeof(reply));
    fprintf(stderr, "%s failed: %s\n", op, reply);
  }
  ftp.Quit(handle);
  return result == 0 ? 0 : 1;
}
