#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/ipv4_address.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/interrupts.h"

// Longest server reply line kept for CopyReplyStr.
static const size_t kMaxReplyLength = 1024;

// Buffer of a downloaded file or listing: libcurl hands over 16 KiB at a
// time, which stdio's own 4 KiB buffer would write in two system calls; this
// one writes eight of them in one.
static const size_t kFileBufferSize = 128 * 1024;

// An upload's file, read as the cap allows.
struct CappedUpload {
  CappedUpload(FILE* file, long long size, std::vector<UploadRate*> buckets)
      : file(file), left(size), draw(std::move(buckets)) {}
  /// Seconds the cap has held the upload back by `now`.
  double Held(double now) const {
    return held + (paused ? now - paused_at : 0);
  }

  FILE* file;
  long long left;        // bytes not read yet
  RateDraw draw;
  bool paused = false;   // until the turn taken goes
  double paused_at = 0;
  double held = 0;       // in the pauses before
};

struct CurlFtpLibrary::Session : public FtpSession {
  explicit Session(const FtpTimeouts& limits)
      : limits(limits), pace(limits, 0) {}
  ~Session() override {
    // Closing the connection cache sends QUIT on a live control connection.
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
  }
  CURLM* multi = nullptr;  // holds the control connection between transfers
  CURL* easy = nullptr;
  std::string base_url;    // "ftp://host:port/"
  FtpTimeouts limits;
  TransferPace pace;       // of the request under way
  CappedUpload* upload = nullptr;  // of the request under way, if one
  curl_socket_t connecting = CURL_SOCKET_BAD;  // not yet seen writable
};

namespace {

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Longest wait between two looks at a request's pace.
const long kPaceCheckMs = 1000;

// libcurl's progress callback: a request that falls below the floor or
// runs out of time is aborted, and fails as any other.
int CheckPace(void* user, curl_off_t, curl_off_t downloaded,
              curl_off_t to_upload, curl_off_t uploaded) {
  CurlFtpLibrary::Session* session =
      static_cast<CurlFtpLibrary::Session*>(user);
  double now = Now();
  const CappedUpload* upload = session->upload;
  // Once the whole file has gone, the reply time-out watches for the
  // card's closing reply.
  session->pace.WatchStalls(upload && uploaded < to_upload);
  double held = upload ? upload->Held(now) : 0;
  return session->pace.Allows(now, downloaded + uploaded, held) ? 0 : 1;
}

// libcurl hands every socket it opens here, before it connects.
int NoteSocket(void* user, curl_socket_t socket, curlsocktype) {
  static_cast<CurlFtpLibrary::Session*>(user)->connecting = socket;
  return CURL_SOCKOPT_OK;
}

// libcurl's read callback of an upload: what the cap allows now, else a
// pause, which Perform ends when the turn taken goes.
size_t ReadCapped(char* buffer, size_t size, size_t count, void* user) {
  CappedUpload* in = static_cast<CappedUpload*>(user);
  long long wanted =
      std::min(static_cast<long long>(size * count), in->left);
  long long allowed = wanted > 0 ? in->draw.Take(Now(), wanted) : 0;
  if (wanted > 0 && allowed == 0) {
    in->paused = true;
    in->paused_at = Now();
    return CURL_READFUNC_PAUSE;
  }
  size_t got = fread(buffer, 1, static_cast<size_t>(allowed), in->file);
  in->left -= static_cast<long long>(got);
  return got;
}

// libcurl hands every server reply line of the control connection here.
size_t KeepReplyLine(char* data, size_t size, size_t count, void* user) {
  std::string* reply = static_cast<std::string*>(user);
  size_t length = size * count;
  // Only reply lines ("ddd text"); libcurl may pass made-up headers too.
  if (length < 3 || !isdigit(static_cast<unsigned char>(data[0])) ||
      !isdigit(static_cast<unsigned char>(data[1])) ||
      !isdigit(static_cast<unsigned char>(data[2])))
    return length;
  size_t kept = length;
  while (kept > 0 && (data[kept - 1] == '\n' || data[kept - 1] == '\r'))
    --kept;
  if (kept > kMaxReplyLength)
    kept = kMaxReplyLength;
  reply->assign(data, kept);
  return length;
}

// Percent-encodes a remote path for the URL, keeping its slashes.
std::string EncodePath(const char* path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
       *p; ++p) {
    if (isalnum(*p) || strchr("-._~/", *p)) {
      out.push_back(static_cast<char>(*p));
    } else {
      out.push_back('%');
      out.push_back(kHex[*p >> 4]);
      out.push_back(kHex[*p & 15]);
    }
  }
  return out;
}

// What the workstation failed to do with `path`, and the system's reason.
LocalFault FaultOf(const char* doing, const char* path, int error) {
  return {std::string(doing) + " " + path + ": " + strerror(error),
          disk_full_error(error)};
}

// A downloaded file, stopped once it would grow beyond its bound.
struct BoundedFile {
  FILE* file;
  long long received;
  long long bound;
  int error;  // of a write that failed here
};

// Returning less than was handed over stops the transfer with an error.
size_t WriteBounded(char* data, size_t size, size_t count, void* user) {
  BoundedFile* out = static_cast<BoundedFile*>(user);
  size_t length = size * count;
  out->received += static_cast<long long>(length);
  if (out->received > out->bound)
    return 0;
  size_t written = fwrite(data, 1, length, out->file);
  if (written < length && !out->error)
    out->error = errno;
  return written;
}

// A listing's lines arrive with CR LF; the local file gets plain line ends.
struct ListingFile {
  FILE* file;
  bool pending_cr;
  long long received;
  long long bound;
  int error;  // of a write that failed here
};

// A CR is dropped before an LF and kept anywhere else; one that ends a piece
// waits for the next. Text between CRs goes out in one write, not byte by
// byte: a listing of many names is mostly such text.
size_t WriteListing(char* data, size_t size, size_t count, void* user) {
  ListingFile* out = static_cast<ListingFile*>(user);
  size_t length = size * count;
  out->received += static_cast<long long>(length);
  if (out->received > out->bound)
    return 0;
  if (out->pending_cr && length > 0) {
    if (data[0] != '\n')
      fputc('\r', out->file);
    out->pending_cr = false;
  }
  size_t start = 0;
  while (start < length) {
    const char* cr =
        static_cast<const char*>(memchr(data + start, '\r', length - start));
    size_t end = cr ? static_cast<size_t>(cr - data) : length;
    fwrite(data + start, 1, end - start, out->file);
    if (!cr)
      break;
    if (end + 1 == length) {
      out->pending_cr = true;
      break;
    }
    if (data[end + 1] != '\n')
      fputc('\r', out->file);
    start = end + 1;
  }
  if (!ferror(out->file))
    return length;
  if (!out->error)
    out->error = errno;
  return 0;
}

// A new file beside `local`, so that the final rename stays on one file
// system, held for removal should an interrupt end the run.
struct TemporaryFile {
  std::string name;
  FILE* file = nullptr;
  int held = -1;
};

// Returns false, with the system's reason in *error, when no such file
// could be made.
bool OpenTemporaryBeside(const char* local, TemporaryFile* temp, int* error) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp->name = std::string(local) + ".part" + std::to_string(getpid()) +
                 "_" + std::to_string(++counter);
    // Held before it exists, so that no moment is left uncovered.
    temp->held = hold_temporary_file(temp->name.c_str());
    // A new file only, never one (or a link) that is there already; it gets
    // the permissions any new file would get.
    int fd = open(temp->name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0) {
      *error = errno;
      release_temporary_file(temp->held);
      if (*error == EEXIST)
        continue;
      return false;
    }
    temp->file = fdopen(fd, "wb");
    if (temp->file)
      return true;
    *error = errno;
    close(fd);
    unlink(temp->name.c_str());
    release_temporary_file(temp->held);
    return false;
  }
  return false;
}

// Closes the temporary file and, when `keep`, puts it in place of `local`
// in one step. Returns true when `local` now holds it; when closing it or
// putting it in place failed, *error (unless set already) says why.
bool FinishTemporary(TemporaryFile* temp, const char* local, bool keep,
                     int* error) {
  if (fclose(temp->file) != 0) {
    if (!*error)
      *error = errno;
    keep = false;
  }
  bool kept = keep && rename(temp->name.c_str(), local) == 0;
  if (keep && !kept)
    *error = errno;
  if (!kept)
    unlink(temp->name.c_str());
  release_temporary_file(temp->held);
  return kept;
}

// Runs one request of the session to its end, waiting between steps on
// its sockets until libcurl's next timer, an upload's turn or the next
// look at its pace, whichever comes first. libcurl (7.88) has one step with
// nothing to wait for: once the server has said where the data connection
// goes, it opens it only when run again, then waits on no socket until it
// has connected; a wait would last to the next look. So the loop looks
// again at once after anything happened, and waits on a socket libcurl
// opened until it is writable (connected).
CURLcode Perform(CurlFtpLibrary::Session* session) {
  session->pace = TransferPace(session->limits, Now());
  if (curl_multi_add_handle(session->multi, session->easy) != CURLM_OK)
    return CURLE_FAILED_INIT;
  CappedUpload* upload = session->upload;
  int running = 1;
  int ready = 1;  // as if something had happened
  CURLMcode status = CURLM_OK;
  while (status == CURLM_OK) {
    status = curl_multi_perform(session->multi, &running);
    if (status != CURLM_OK || !running)
      break;
    long wait_ms = -1;
    curl_multi_timeout(session->multi, &wait_ms);
    if (wait_ms < 0 || wait_ms > kPaceCheckMs)
      wait_ms = kPaceCheckMs;
    if (ready > 0)
      wait_ms = 0;
    if (upload && upload->paused) {
      double now = Now();
      double ready_at = upload->draw.ReadyAt();
      if (now >= ready_at) {
        upload->held += now - upload->paused_at;
        upload->paused = false;
        curl_easy_pause(session->easy, CURLPAUSE_CONT);
        continue;
      }
      wait_ms = std::min(wait_ms,
                         static_cast<long>(std::ceil((ready_at - now) * 1e3)));
    }
    struct curl_waitfd connecting = {session->connecting, CURL_WAIT_POLLOUT,
                                     0};
    int extra = session->connecting != CURL_SOCKET_BAD ? 1 : 0;
    status = curl_multi_poll(session->multi, &connecting, extra,
                             static_cast<int>(wait_ms), &ready);
    if (connecting.revents)
      session->connecting = CURL_SOCKET_BAD;
  }
  session->connecting = CURL_SOCKET_BAD;
  CURLcode result = CURLE_FAILED_INIT;
  int left;
  while (CURLMsg* message = curl_multi_info_read(session->multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == session->easy)
      result = message->data.result;
  }
  curl_multi_remove_handle(session->multi, session->easy);
  return result;
}

// What a failed login got from the card after `seconds`: its failure reply
// ("530 Login incorrect."), or what stood for one.
std::string LoginAnswer(CURLcode result, long os_error,
                        const std::string& reply, double seconds) {
  if (!reply.empty() && (reply[0] == '4' || reply[0] == '5'))
    return reply;
  // The connect time-out covers the greeting and the login too.
  if (result == CURLE_OPERATION_TIMEDOUT)
    return "no reply in " + std::to_string(std::lround(seconds)) + " s";
  if (result == CURLE_COULDNT_CONNECT)
    return os_error == ECONNREFUSED ? "connection refused" : "no connection";
  return "connection closed";
}

// The options of a new session's handle, kept for all its requests.
void SetOptions(CurlFtpLibrary::Session* session, const char* user,
                const char* password) {
  CURL* easy = session->easy;
  const FtpTimeouts& limits = session->limits;
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
  // Straight to the card, whatever proxy the environment names: a proxy
  // would fail every login, or see the cards' passwords.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // Credentials go in options, never in a URL that could end up in a message.
  curl_easy_setopt(easy, CURLOPT_USERNAME, user);
  curl_easy_setopt(easy, CURLOPT_PASSWORD, password);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, limits.connect);
  curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.reply);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits.stalled);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, limits.longest_call);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckPace);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, session);
  // No 200 ms head start for an IPv6 attempt that can never exist here.
  curl_easy_setopt(easy, CURLOPT_HAPPY_EYEBALLS_TIMEOUT_MS, 1L);
  // Data connections go to the card's own address, whatever PASV says.
  curl_easy_setopt(easy, CURLOPT_FTP_SKIP_PASV_IP, 1L);
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, (long)CURLFTPMETHOD_NOCWD);
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, NoteSocket);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, session);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, KeepReplyLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &session->last_reply);
}

}  // namespace

CurlFtpLibrary::CurlFtpLibrary(int port, FtpTimeouts timeouts)
    : port_(port), timeouts_(timeouts) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlFtpLibrary::Session* CurlFtpLibrary::Find(int handle) {
  return static_cast<Session*>(sessions_.Find(handle));
}

int CurlFtpLibrary::Login(const char* host, const char* user,
                          const char* password, const char* /*account*/) {
  // Only a numeric IPv4 address: no name lookup, nothing but the card.
  FtpSessions::FailedLogin().clear();
  if (!parse_ipv4_address(host))
    return -1;
  auto session = std::make_unique<Session>(timeouts_);
  session->multi = curl_multi_init();
  session->easy = curl_easy_init();
  if (!session->multi || !session->easy)
    return -1;
  CURL* easy = session->easy;
  char url[64];
  snprintf(url, sizeof(url), "ftp://%s:%d/", host, port_);
  session->base_url = url;

  SetOptions(session.get(), user, password);

  // Log in now, without a transfer, so that a refused login shows here.
  curl_easy_setopt(easy, CURLOPT_URL, url);
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  double started = Now();
  CURLcode result = Perform(session.get());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  if (result != CURLE_OK) {
    long os_error = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
    FtpSessions::FailedLogin() = LoginAnswer(
        result, os_error, session->last_reply, Now() - started);
    return -1;
  }
  return sessions_.Add(std::move(session));
}

int CurlFtpLibrary::Quit(int handle) {
  // The session ends as it leaves the table.
  sessions_.Remove(handle);
  return 0;
}

int CurlFtpLibrary::Get(int handle, const char* remote, const char* local) {
  Session* session = Find(handle);
  if (!session)
    return -1;
  session->fault = LocalFault();
  TemporaryFile temp;
  int error = 0;
  if (!OpenTemporaryBeside(local, &temp, &error)) {
    session->fault = FaultOf("cannot write", local, error);
    return -1;
  }
  std::unique_ptr<char[]> buffer(new char[kFileBufferSize]);
  setvbuf(temp.file, buffer.get(), _IOFBF, kFileBufferSize);
  long long allowed = budget_.Allowance(kMaxGetBytes);
  BoundedFile out = {temp.file, 0, allowed, 0};
  CURL* easy = session->easy;
  std::string url = session->base_url + EncodePath(remote);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBounded);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &out);
  CURLcode result = Perform(session);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, nullptr);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
  session->share_used_up = allowed < kMaxGetBytes && out.received > allowed;
  error = out.error;
  if (!FinishTemporary(&temp, local, result == CURLE_OK && !error, &error)) {
    if (error)
      session->fault = FaultOf("cannot write", local, error);
    return -1;
  }
  budget_.Kept(out.received);
  return 0;
}

int CurlFtpLibrary::Put(int handle, const char* local, const char* remote) {
  Session* session = Find(handle);
  if (!session)
    return -1;
  session->fault = LocalFault();
  FILE* file = fopen(local, "rb");
  if (!file) {
    session->fault = FaultOf("cannot read", local, errno);
    return -1;
  }
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    session->fault = {std::string("cannot read ") + local +
                      ": it is not a regular file"};
    fclose(file);
    return -1;
  }
  if (!remote || !*remote) {
    const char* slash = strrchr(local, '/');
    remote = slash ? slash + 1 : local;
  }
  CURL* easy = session->easy;
  std::string url = session->base_url + EncodePath(remote);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  CappedUpload upload(
      file, info.st_size,
      group_rates_.For(&link_rate_, ScopedUploadGroup::Current()));
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, ReadCapped);
  curl_easy_setopt(easy, CURLOPT_READDATA, &upload);
  curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE,
                   static_cast<curl_off_t>(info.st_size));
  // libcurl would count the cap's pauses as the card's time: the pace
  // keeps the upload to its stalled time-out and longest instead.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 0L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
  session->upload = &upload;
  CURLcode result = Perform(session);
  session->upload = nullptr;
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, session->limits.stalled);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, session->limits.longest_call);
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, nullptr);
  curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
  if (ferror(file))
    session->fault = {std::string("cannot read ") + local + ": a read failed"};
  fclose(file);
  return result == CURLE_OK ? 0 : -1;
}

int CurlFtpLibrary::Ls(int handle, const char* path, const char* local) {
  // Whatever happens, no earlier listing may stay behind to be read as this
  // card's.
  struct stat earlier;
  int stays = 0;  // why one could not be removed
  if (lstat(local, &earlier) == 0) {
    if (unlink(local) == 0)
      budget_.Kept(-static_cast<long long>(earlier.st_size));
    else
      stays = errno;
  }
  Session* session = Find(handle);
  if (!session)
    return -1;
  session->fault = LocalFault();
  // Nothing the card lists could take its place.
  if (stays) {
    session->fault = FaultOf("cannot remove", local, stays);
    return -1;
  }
  TemporaryFile temp;
  int error = 0;
  if (!OpenTemporaryBeside(local, &temp, &error)) {
    session->fault = FaultOf("cannot write", local, error);
    return -1;
  }
  std::unique_ptr<char[]> buffer(new char[kFileBufferSize]);
  setvbuf(temp.file, buffer.get(), _IOFBF, kFileBufferSize);
  std::string url = session->base_url + EncodePath(path);
  if (path[0] && url.back() != '/')
    url.push_back('/');
  long long allowed = budget_.Allowance(kMaxListingBytes);
  ListingFile listing = {temp.file, false, 0, allowed, 0};
  CURL* easy = session->easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteListing);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &listing);
  CURLcode result = Perform(session);
  curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 0L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, nullptr);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
  if (listing.pending_cr)
    fputc('\r', temp.file);
  session->share_used_up =
      allowed < kMaxListingBytes && listing.received > allowed;
  error = listing.error;
  if (!FinishTemporary(&temp, local, result == CURLE_OK && !error, &error)) {
    if (error)
      session->fault = FaultOf("cannot write", local, error);
    return -1;
  }
  budget_.Kept(listing.received);
  return 0;
}
