#ifndef UPGRD_UTIL_PLATFORM_APPEND_FILE_H_
#define UPGRD_UTIL_PLATFORM_APPEND_FILE_H_

#include <cstdio>
#include <string>

/// A file of records (the report, result.txt's card blocks, a card's
/// journal) written through a descriptor of its own in append mode, never
/// through a stream's buffer: each record lands at the file's end, whole or
/// not at all, so that one that did not fit leaves no trace and the next one
/// follows the last whole record. Sync may run on one thread while another
/// appends; two appends at once may not, nor opening or closing beside
/// anything else.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }

  /// Opens `path` for appending (and reading), creating it when missing,
  /// only when it is a regular file of its own: never through a symbolic
  /// link, never a FIFO or device, never a file with a second hard link (it
  /// could lie outside the working directory). Returns false, with the
  /// reason in *reason, else.
  bool Open(const char* path, std::string* reason);

  /// Creates `path` as a new file, never through a symbolic link or over a
  /// file that is there. Returns false, with the reason, else.
  bool Create(const char* path, std::string* reason);

  /// A descriptor of its own on the file that `stream`, open for
  /// appending, writes to; records are stored as the stream stores its
  /// text (with "\r\n" line ends on Windows).
  bool Share(FILE* stream, std::string* reason);

  /// Writes `text` at the file's end, all of it. When the system takes only
  /// a part (a full disk, a size limit), the part is cut off again and
  /// false returned with the reason.
  bool Append(const std::string& text, std::string* reason);

  /// Whether the last Append failed for want of room on the disk (or in
  /// the user's quota): no later record is likely to fit either.
  bool full() const { return full_; }

  /// Returns once what was appended is on the disk itself (fdatasync;
  /// _commit on Windows), or false with the reason.
  bool Sync(std::string* reason);

  /// True when the file is empty or ends with a line end.
  bool EndsWithLineEnd();

  void Close();
  bool is_open() const { return fd_ >= 0; }

 private:
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  int fd_ = -1;
  bool full_ = false;
};

/// Hands what `stream` holds to the system and returns once it is on the
/// disk itself, as AppendFile::Sync does: for a file about to take another's
/// name, so that a power cut leaves the old file or the new one whole, never
/// an empty one. Returns false, with the reason, else.
bool sync_stream(FILE* stream, std::string* reason);

/// Whether the system's error `error` (an errno) says that the disk, or the
/// user's quota on it, is full.
bool disk_full_error(int error);

/// Renames `from` to `to` (replacing it) and returns once the rename is on
/// the disk itself (the directory synced; MOVEFILE_WRITE_THROUGH on
/// Windows). Returns false, with the reason, when the rename failed or,
/// with `from` renamed all the same, the sync did.
bool rename_durably(const std::string& from, const std::string& to,
                    std::string* reason);

/// What waits for the disk: every sync of the tool's files goes through
/// the installed one (AppendFile::Sync, sync_stream, rename_durably), the
/// system's calls unless a test installs a double that counts them.
struct DiskSyncs {
  virtual ~DiskSyncs() {}

  /// Returns once what was written to `fd` is on the disk itself
  /// (fdatasync; _commit on Windows); else false, with errno set.
  virtual bool SyncData(int fd);

  /// Returns once the names in `directory` are on the disk itself (its
  /// fsync; on Windows a rename writes through instead, and this is not
  /// called); else false, with errno set.
  virtual bool SyncDirectory(const std::string& directory);
};

/// Installs `syncs` for the whole process (nullptr: the system's again);
/// they must outlive their use.
void install_disk_syncs(DiskSyncs* syncs);

/// The installed DiskSyncs.
DiskSyncs* disk_syncs();

/// For benchmarks only, which measure what syncing costs: from then on
/// Sync and rename_durably no longer wait for the disk. Only the fast-clock
/// build of the tests calls it.
void skip_syncs_for_benchmarks();

/// Whether skip_syncs_for_benchmarks was called.
bool syncs_skipped();

#endif  // UPGRD_UTIL_PLATFORM_APPEND_FILE_H_
