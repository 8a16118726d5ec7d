// The POSIX platform. Paths are UTF-8; "/" separates.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <link.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

constexpr size_t kWriteBufferSize = 64 * 1024;

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The one place where errno becomes a library failure. `path` tells a
// missing file (its folder exists: 53) from a missing folder (76).
Failure PosixError(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      return Failure(IsDirectory(ParentOf(path)) ? error::kFileNotFound
                                                 : error::kPathNotFound);
    case ENOTDIR:
      return Failure(error::kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return Failure(error::kPermissionDenied);
    case EISDIR:
    case ENOTEMPTY:
      return Failure(error::kPathFileAccess);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Failure(error::kDiskFull);
    case EEXIST:
      return Failure(error::kFileExists);
    case EXDEV:
      return Failure(error::kRenameAcrossDrives);
    case EMFILE:
    case ENFILE:
      return Failure(error::kTooManyFiles);
    case ENAMETOOLONG:
    case EILSEQ:
    case ELOOP:
      return Failure(error::kBadFileName);
    case ENOMEM:
      return Failure(error::kOutOfMemory);
    case ENOEXEC:
    case EINVAL:
      return Failure(error::kInvalidCall);
    default:
      return Failure(error::kDeviceIo);
  }
}

// A failed rename names the target when the failure is about it: an
// existing target, or a missing folder (ENOENT with the source in place).
Failure RenameError(int err, const std::string& from, const std::string& to) {
  struct stat st;
  const bool about_target =
      err == EEXIST || (err == ENOENT && ::lstat(from.c_str(), &st) == 0);
  return PosixError(err, about_target ? to : from);
}

// A path for the system: UTF-8, and never holding NUL, which would silently
// name another file.
std::string SystemPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    throw Failure(error::kBadFileName);
  }
  return ToUtf8(path);
}

bool HasWildcards(TextView name) {
  return name.find_first_of(u"*?") != TextView::npos;
}

// Matches `name` against `pattern` (* any run, ? one character), case
// sensitive as POSIX names are. "*.*" matches every name, as on Windows.
bool WildcardMatch(TextView pattern, TextView name) {
  if (pattern == u"*.*") pattern = u"*";
  size_t p = 0, n = 0, star = TextView::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != TextView::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool KindMatches(const struct stat& st, LookupKind kind) {
  if (S_ISREG(st.st_mode)) return true;
  return kind == LookupKind::kFolder && S_ISDIR(st.st_mode);
}

bool IsHiddenName(TextView name) {
  return !name.empty() && name[0] == u'.' && name != u"." && name != u"..";
}

// Writes to `fd`. When `temp_` is set the bytes go to that fresh file,
// which Close() renames over `path_`; a file never closed is dropped,
// unless `keep` says that it takes its place all the same (a save's file
// keeps what was written before a failure, as one written in place
// would). `owner`, when set, is given to the file once it stands at
// `path_`: the owner and group of the older file it replaced.
struct Owner {
  uid_t uid;
  gid_t gid;
};

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path, std::string temp = {},
                    bool keep = false, std::optional<Owner> owner = {})
      : fd_(fd),
        path_(std::move(path)),
        temp_(std::move(temp)),
        keep_(keep),
        owner_(owner) {
    buffer_.reserve(kWriteBufferSize);
  }
  ~PosixWritableFile() override {
    if (keep_ && fd_ >= 0) {
      try {
        Commit();
      } catch (...) {
        // Closing quietly: the failure that ended the writing counts.
      }
    }
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }

  void Append(std::string_view bytes) override {
    if (fd_ < 0) throw Failure(error::kBadFileName);
    if (buffer_.size() + bytes.size() <= kWriteBufferSize) {
      buffer_.append(bytes);
      return;
    }
    Flush();
    if (bytes.size() <= kWriteBufferSize) {
      buffer_.append(bytes);
    } else {
      WriteAll(bytes);
    }
  }

  void Close() override {
    if (fd_ < 0) return;
    try {
      Flush();
    } catch (...) {
      // What was written stays, as for a file written in place.
      try {
        Commit();
      } catch (...) {
        // The failure to write is the one reported.
      }
      ::close(fd_);
      fd_ = -1;
      throw;
    }
    Commit();
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw PosixError(errno, path_);
  }

 private:
  // Puts the fresh file in place while it is still open, so that the owner
  // goes to the very file that was written, wherever its name went.
  void Commit() {
    if (temp_.empty()) return;
    std::string temp = std::move(temp_);
    temp_.clear();
    // rename(2) replaces a link planted meanwhile instead of following it.
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
      int err = errno;
      ::unlink(temp.c_str());
      throw PosixError(err, path_);
    }
    if (owner_ && ::fchown(fd_, owner_->uid, owner_->gid) != 0) {
      // Only root may give a file away; others keep at least the group
      // when they belong to it, as the older file's mode is meant for it.
      static_cast<void>(::fchown(fd_, static_cast<uid_t>(-1), owner_->gid));
    }
  }

  void Flush() {
    std::string pending;
    pending.swap(buffer_);
    buffer_.reserve(kWriteBufferSize);
    WriteAll(pending);
  }

  void WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        throw PosixError(errno, path_);
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }

  int fd_;
  std::string path_;
  std::string temp_;
  bool keep_;
  std::optional<Owner> owner_;
  std::string buffer_;
};

// The process's umask. Linux tells it in /proc without changing it; else it
// is set and put back at once.
mode_t Umask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// A fresh hidden name of ours, as TemporarySibling makes them:
// ".~pellar-" and 16 hex digits, ".tmp".
bool IsTemporaryName(std::string_view name) {
  constexpr std::string_view kHead = ".~pellar-", kTail = ".tmp";
  if (name.size() != kHead.size() + 16 + kTail.size() ||
      name.substr(0, kHead.size()) != kHead ||
      name.substr(name.size() - kTail.size()) != kTail) {
    return false;
  }
  for (char c : name.substr(kHead.size(), 16)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Removes the fresh hidden files of a writer killed before it could rename
// or remove them (they may hold a spool document with its password): in
// the folder of `path`, ordinary files of ours with our naming, untouched
// for a day. Links are never followed. Each folder is swept at most once
// an hour per thread, so writing many files into one folder stays linear.
void RemoveStaleTemporaries(const std::string& path) {
  constexpr time_t kStale = 24 * 60 * 60;
  const std::string folder = ParentOf(path);
  const time_t now = std::time(nullptr);
  thread_local std::map<std::string, time_t> swept;
  if (swept.size() > 1000) swept.clear();
  auto [it, fresh] = swept.try_emplace(folder, now);
  if (!fresh && now - it->second < 60 * 60) return;
  it->second = now;
  const int dir_fd =
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (dir_fd < 0) return;
  DIR* d = ::fdopendir(dir_fd);
  if (d == nullptr) {
    ::close(dir_fd);
    return;
  }
  const uid_t me = ::geteuid();
  while (struct dirent* entry = ::readdir(d)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat st;
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && st.st_uid == me && st.st_mtime < now - kStale) {
      ::unlinkat(dir_fd, entry->d_name, 0);
    }
  }
  ::closedir(d);
}

// Read-only as Windows means it: the owner may not write. Root may write
// anything, so the permission check of the kernel would never say so.
bool IsReadOnly(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// What may stand at a name that a file replaces: nothing, or an ordinary
// file that is not read-only. Links, devices, FIFOs, sockets and folders
// are never replaced.
void RequireReplaceable(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    throw PosixError(errno, path);
  }
  if (!S_ISREG(st.st_mode)) throw Failure(error::kPathFileAccess);
  if (IsReadOnly(st)) throw Failure(error::kPermissionDenied);
}

// Creates a new file beside `path` under a fresh hidden name: exclusively,
// never through a link, with `mode` less the umask, or with `mode` exactly
// when `exact`. Returns the descriptor and sets `temp` to its name.
int CreateFreshSibling(const std::string& path, mode_t mode, bool exact,
                       std::string& temp) {
  RemoveStaleTemporaries(path);
  for (int attempt = 0;; ++attempt) {
    temp = ToUtf8(TemporarySibling(FromUtf8(path), u'/'));
    int fd = ::open(temp.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      if (exact && ::fchmod(fd, mode) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        throw PosixError(err, path);
      }
      return fd;
    }
    if (errno != EEXIST || attempt == 100) throw PosixError(errno, path);
  }
}

class PosixSequentialFile final : public SequentialFile {
 public:
  PosixSequentialFile(int fd, std::string path, uint64_t size = 0)
      : fd_(fd), path_(std::move(path)), size_(size) {}
  ~PosixSequentialFile() override { ::close(fd_); }

  size_t Read(char* buffer, size_t n) override {
    while (true) {
      ssize_t got = ::read(fd_, buffer, n);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) throw PosixError(errno, path_);
    }
  }
  uint64_t SizeHint() override { return size_; }

 private:
  int fd_;
  std::string path_;
  uint64_t size_;
};

// Opens an ordinary file for reading and fills `st`. Only ordinary files are
// read: a device such as /dev/zero never ends and a FIFO would block the
// open (hence O_NONBLOCK, which ordinary files ignore).
int OpenForReading(const std::string& path, struct stat& st) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw PosixError(errno, path);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Failure(error::kPathFileAccess);
  }
  return fd;
}

// Whether a lookup finds the entry `path` named without wildcards, whose
// last component is `name`: a visible entry of the kind.
bool FoundAsNamed(TextView name, const std::string& path, LookupKind kind) {
  if (IsHiddenName(name)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw PosixError(errno, path);
  }
  return KindMatches(st, kind);
}

// Deletes one file; a read-only one stays (70).
void Unlink(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && IsReadOnly(st)) {
    throw Failure(error::kPermissionDenied);
  }
  if (::unlink(path.c_str()) != 0) throw PosixError(errno, path);
}

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

LocalDateTime LocalOf(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

// Deletes the folder `name` of the open folder `parent` and everything in
// it, by descriptors: each level is opened without following a link, so no
// link, planted before or during the walk, is ever entered. `shown` names
// the folder in failures.
void RemoveTreeAt(int parent, const char* name, bool force,
                  const std::string& shown) {
  const int fd =
      ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw PosixError(errno, shown);
  DIR* d = ::fdopendir(fd);
  if (d == nullptr) {
    const int err = errno;
    ::close(fd);
    throw PosixError(err, shown);
  }
  struct DirCloser {
    DIR* d;
    ~DirCloser() { ::closedir(d); }
  } closer{d};
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(d)) {
    if (std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  for (const std::string& entry : names) {
    const std::string path = shown + "/" + entry;
    struct stat st;
    if (::fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone already
      throw PosixError(errno, path);
    }
    if (S_ISDIR(st.st_mode)) {
      RemoveTreeAt(fd, entry.c_str(), force, path);
      continue;
    }
    if (!force && S_ISREG(st.st_mode) && IsReadOnly(st)) {
      throw Failure(error::kPermissionDenied);
    }
    if (::unlinkat(fd, entry.c_str(), 0) != 0) throw PosixError(errno, path);
  }
  if (::unlinkat(parent, name, AT_REMOVEDIR) != 0) {
    throw PosixError(errno, shown);
  }
}

// Whether the older entry at `path`, which `st` describes, may be replaced
// by the calling user: the folder must be writable, and in a sticky folder
// the entry or the folder must be ours. Checked before the new file is
// written, as deleting the older file first used to fail.
void RequireRemovable(const std::string& path, const struct stat& st) {
  const uid_t me = ::geteuid();
  if (me == 0) return;
  const std::string folder = ParentOf(path);
  struct stat dir;
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0 ||
      ::stat(folder.c_str(), &dir) != 0) {
    throw PosixError(errno, path);
  }
  if ((dir.st_mode & S_ISVTX) != 0 && st.st_uid != me && dir.st_uid != me) {
    throw Failure(error::kPermissionDenied);
  }
}

// A character device named for a save (a printer port, /dev/null) is
// written where it stands, never through a link: opened without following
// one and without creating anything, then checked to be the device `st`
// described.
std::unique_ptr<WritableFile> OpenDevice(std::string p, const struct stat& st) {
  // Non-blocking only for the open: a device that is not ready would block
  // it, and with it the host, for good.
  int fd = ::open(p.c_str(),
                  O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ELOOP) throw Failure(error::kPathFileAccess);
    throw PosixError(errno, p);
  }
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) ||
      opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    throw Failure(error::kPathFileAccess);
  }
  return std::make_unique<PosixWritableFile>(fd, std::move(p));
}

// A save's file (kNormal) at a name already made a system path. Nothing is
// ever written through a symbolic link or into an older file: the text goes
// to a fresh file beside the name, renamed over it once written (also after
// a failure, so what was written stays, as before). What stands at the name
// decides:
// - nothing: the new file gets 0666 less the umask;
// - an ordinary file: replaced; the new file gets its mode (permission bits
//   only) and, where the user may give it, its owner and group. A read-only
//   one stays (70);
// - a symbolic link whose target is missing, out of reach or an ordinary
//   file: the link itself is replaced, as deleting the older file used to
//   remove it, and its target is never touched;
// - a character device: written in place (see OpenDevice);
// - anything else, or a link to it: 75 (a FIFO 57), nothing written.
// `at` tells the step under way: kDeleteOld while the older entry is judged.
// What a save answers for an entry it cannot replace: a FIFO answers as
// opening it without a reader always has (57), anything else 75.
Failure NotSavable(const struct stat& st) {
  return Failure(S_ISFIFO(st.st_mode) ? error::kDeviceIo
                                      : error::kPathFileAccess);
}

std::unique_ptr<WritableFile> CreateSaved(std::string p, SaveStep& at) {
  at = SaveStep::kDeleteOld;
  struct stat st;
  bool found = ::lstat(p.c_str(), &st) == 0;
  if (!found && errno != ENOENT && errno != ENOTDIR) throw PosixError(errno, p);
  mode_t mode = 0666;
  bool exact = false;
  std::optional<Owner> owner;
  if (found) {
    if (S_ISCHR(st.st_mode)) {
      at = SaveStep::kCreate;
      return OpenDevice(std::move(p), st);
    }
    if (S_ISREG(st.st_mode)) {
      if (IsReadOnly(st)) throw Failure(error::kPermissionDenied);
      mode = st.st_mode & 0777;
      exact = true;
      if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
        owner = Owner{st.st_uid, st.st_gid};
      }
    } else if (S_ISLNK(st.st_mode)) {
      struct stat target;
      if (::stat(p.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        at = SaveStep::kCreate;
        throw NotSavable(target);
      }
    } else {
      at = SaveStep::kCreate;
      throw NotSavable(st);
    }
    RequireRemovable(p, st);
  }
  at = SaveStep::kCreate;
  std::string temp;
  int fd = CreateFreshSibling(p, mode, exact, temp);
  return std::make_unique<PosixWritableFile>(fd, std::move(p), std::move(temp),
                                             /*keep=*/true, owner);
}

// The file NewWritableFile creates, at a name already made a system path.
std::unique_ptr<WritableFile> CreateWritable(std::string p, FileAccess access,
                                             SaveStep& at) {
  if (access == FileAccess::kNormal) return CreateSaved(std::move(p), at);
  at = SaveStep::kCreate;
  const mode_t mode = access == FileAccess::kReplace   ? 0666
                      : access == FileAccess::kPrivate ? 0600
                                                       : 0700;
  RequireReplaceable(p);
  std::string temp;
  int fd = CreateFreshSibling(p, mode, access != FileAccess::kReplace, temp);
  return std::make_unique<PosixWritableFile>(fd, std::move(p), std::move(temp));
}

// The program and its arguments of a command line, as the system takes
// them; 53 without a program, 52 for a NUL.
std::vector<std::string> ProgramArguments(TextView command_line) {
  std::vector<Text> args = SplitCommandLine(command_line);
  if (args.empty() || args[0].empty()) throw Failure(error::kFileNotFound);
  std::vector<std::string> utf8;
  for (const Text& arg : args) {
    if (arg.find(u'\0') != Text::npos) throw Failure(error::kBadFileName);
    utf8.push_back(ToUtf8(arg));
  }
  return utf8;
}

// Anything whose address lies inside the library, for dladdr.
void ModuleAnchor() {}

class PosixPlatform final : public Platform {
 public:
  std::vector<Text> Lookup(TextView pattern, LookupKind kind) override {
    std::vector<Text> found;
    if (pattern.find(u'\0') != TextView::npos) {
      throw Failure(error::kBadFileName);
    }
    size_t slash = pattern.rfind(u'/');
    Text prefix(slash == TextView::npos ? TextView() : pattern.substr(0, slash + 1));
    TextView name = slash == TextView::npos ? pattern : pattern.substr(slash + 1);
    if (name.empty()) {
      // "dir/" names the folder itself; "" names nothing.
      if (!pattern.empty() && kind == LookupKind::kFolder &&
          IsDirectory(ToUtf8(pattern))) {
        found.emplace_back(pattern);
      }
      return found;
    }
    if (!HasWildcards(name)) {
      if (FoundAsNamed(name, ToUtf8(pattern), kind)) {
        found.emplace_back(pattern);
      }
      return found;
    }
    std::string dir = prefix.empty() ? std::string(".") : ToUtf8(prefix);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
      if (errno == ENOENT || errno == ENOTDIR) return found;
      throw PosixError(errno, dir);
    }
    struct DirCloser {
      DIR* d;
      ~DirCloser() { ::closedir(d); }
    } closer{d};
    while (struct dirent* entry = ::readdir(d)) {
      Text entry_name = FromUtf8(entry->d_name);
      if (!entry_name.empty() && entry_name[0] == u'.') continue;
      if (!WildcardMatch(name, entry_name)) continue;
      Text full = prefix + entry_name;
      struct stat st;
      if (::stat(ToUtf8(full).c_str(), &st) != 0) continue;  // vanished
      if (KindMatches(st, kind)) found.push_back(std::move(full));
    }
    return found;
  }

  void DeleteFile(TextView path) override { Unlink(SystemPath(path)); }

  void ForceDeleteFile(TextView path) override {
    std::string p = SystemPath(path);
    if (::unlink(p.c_str()) != 0) throw PosixError(errno, p);
  }

  void DeleteEmptyFolder(TextView path) override {
    std::string p = SystemPath(path);
    if (::rmdir(p.c_str()) != 0) {
      const int err = errno;
      // A file or link in the folder's place is no folder to remove.
      if (err == ENOENT || err == ENOTDIR) throw Failure(error::kPathNotFound);
      if (err == EEXIST) throw Failure(error::kPathFileAccess);
      throw PosixError(err, p);
    }
  }

  void DeleteFolderTree(TextView path, bool force) override {
    std::string p = SystemPath(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : p.substr(0, slash);
    const std::string name =
        slash == std::string::npos ? p : p.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
      throw Failure(error::kInvalidCall);
    }
    const int parent =
        ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) throw Failure(error::kPathNotFound);
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{parent};
    struct stat st;
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      throw Failure(error::kPathNotFound);
    }
    if (S_ISLNK(st.st_mode)) {
      // A link named as the folder goes, its target stays.
      if (::unlinkat(parent, name.c_str(), 0) != 0) throw PosixError(errno, p);
      return;
    }
    if (!S_ISDIR(st.st_mode)) throw Failure(error::kPathNotFound);
    RemoveTreeAt(parent, name.c_str(), force, p);
  }

  std::vector<FolderEntry> ListFolder(TextView folder) override {
    std::string dir = SystemPath(folder);
    // O_NOFOLLOW is not used: a link given as the folder itself is
    // listed, as the user named it; its entries are never followed.
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
      const int err = errno;
      if (err == ENOENT || err == ENOTDIR) throw Failure(error::kPathNotFound);
      throw PosixError(err, dir);
    }
    struct DirCloser {
      DIR* d;
      ~DirCloser() { ::closedir(d); }
    } closer{d};
    std::vector<FolderEntry> entries;
    while (struct dirent* entry = ::readdir(d)) {
      if (std::strcmp(entry->d_name, ".") == 0 ||
          std::strcmp(entry->d_name, "..") == 0) {
        continue;
      }
      struct stat st;
      if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;  // vanished
      }
      entries.push_back({FromUtf8(entry->d_name), KindOf(st.st_mode)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) {
                return a.name < b.name;
              });
    return entries;
  }

  EntryStatus Status(TextView path) override {
    std::string p = SystemPath(path);
    struct statx sx;
    if (::statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW,
                STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
      throw PosixError(errno, p);
    }
    EntryStatus status;
    status.kind = KindOf(sx.stx_mode);
    if (status.kind == EntryKind::kFile) status.size = sx.stx_size;
    status.modified = LocalOf(sx.stx_mtime.tv_sec);
    // Not every file system keeps a birth time.
    status.created =
        LocalOf((sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec
                                                 : sx.stx_ctime.tv_sec);
    return status;
  }

  Text CurrentFolder() override {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
      throw PosixError(errno, ".");
    }
    return FromUtf8(buffer);
  }

  void Rename(TextView from, TextView to) override {
    std::string f = SystemPath(from), t = SystemPath(to);
    // Renaming never replaces an existing entry, as on Windows.
    if (RenameNoReplace(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str()) != 0) {
      throw RenameError(errno, f, t);
    }
  }

  void CopyFile(TextView from, TextView to) override {
    std::string f = SystemPath(from);
    struct stat source;
    PosixSequentialFile in(OpenForReading(f, source), f);
    // The source's bits less the umask, as cp gives them: a private file
    // stays private wherever it is copied, and a copy is never wider than
    // the umask allows.
    const mode_t mode = source.st_mode & 0777 & ~Umask();
    std::string t = SystemPath(to);
    // A symbolic link at the name is never written through, nor is an
    // older file written into: the copy is made fresh and renamed over it.
    RequireReplaceable(t);
    std::string temp;
    int fd = CreateFreshSibling(t, mode, /*exact=*/true, temp);
    PosixWritableFile out(fd, t, std::move(temp));
    std::string buffer(kWriteBufferSize, '\0');
    while (size_t n = in.Read(buffer.data(), buffer.size())) {
      out.Append(std::string_view(buffer.data(), n));
    }
    out.Close();
  }

  void ReplaceFile(TextView from, TextView to) override {
    std::string f = SystemPath(from), t = SystemPath(to);
    struct stat st;
    if (::stat(t.c_str(), &st) == 0) {
      // Only an ordinary file is replaced: renaming over a device node
      // (/dev/null) or a folder is never what a copy means.
      if (!S_ISREG(st.st_mode)) throw Failure(error::kPathFileAccess);
      // rename(2) would replace a read-only file; overwriting may not.
      if (IsReadOnly(st)) throw Failure(error::kPermissionDenied);
      if (::faccessat(AT_FDCWD, t.c_str(), W_OK, AT_EACCESS) != 0) {
        throw PosixError(errno, t);
      }
    }
    if (::rename(f.c_str(), t.c_str()) != 0) throw RenameError(errno, f, t);
  }

  void CheckReplaceable(TextView path) override {
    std::string p = SystemPath(path);
    struct stat st;
    if (::stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw Failure(error::kPathFileAccess);
    }
  }

  bool SameFile(TextView a, TextView b) override {
    if (a.find(u'\0') != TextView::npos || b.find(u'\0') != TextView::npos) {
      return false;
    }
    struct stat sa, sb;
    return ::lstat(ToUtf8(a).c_str(), &sa) == 0 &&
           ::lstat(ToUtf8(b).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
  }

  void CreateFolder(TextView path) override {
    std::string p = SystemPath(path);
    if (::mkdir(p.c_str(), 0777) != 0) {
      // An existing entry is a path/file access error, as on Windows.
      throw errno == EEXIST ? Failure(error::kPathFileAccess)
                            : PosixError(errno, p);
    }
  }

  std::unique_ptr<WritableFile> NewWritableFile(TextView path,
                                                FileAccess access) override {
    SaveStep unused;
    return CreateWritable(SystemPath(path), access, unused);
  }

  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override {
    SaveStep unused;
    SaveStep& at = step != nullptr ? *step : unused;
    // An empty name has nothing older to judge; its creation fails.
    at = SaveStep::kCreate;
    return CreateWritable(SystemPath(path), access, at);
  }

  std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) override {
    std::string p = SystemPath(path);
    struct stat st;
    int fd = OpenForReading(p, st);
    return std::make_unique<PosixSequentialFile>(
        fd, std::move(p), static_cast<uint64_t>(st.st_size));
  }

  void StartProcess(TextView command_line, WindowStyle) override {
    std::vector<std::string> utf8 = ProgramArguments(command_line);
    // Everything the children use is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<char*> argv;
    for (std::string& arg : utf8) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) throw PosixError(errno, utf8[0]);
    // Fork twice so the program is adopted by init and never left as our
    // zombie; the middle child is reaped at once below. A failed exec
    // reports its errno through the close-on-exec pipe.
    pid_t middle = ::fork();
    if (middle < 0) {
      int err = errno;
      ::close(report[0]);
      ::close(report[1]);
      throw PosixError(err, utf8[0]);
    }
    if (middle == 0) {
      ::close(report[0]);
      pid_t child = ::fork();
      if (child < 0) {
        int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(1);
      }
      if (child == 0) {
        ::setsid();
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // Like a program in its own window: no share of our console.
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
          ::dup2(devnull, 0);
          ::dup2(devnull, 1);
          ::dup2(devnull, 2);
          if (devnull > 2) ::close(devnull);
        }
        ::execv(argv[0], argv.data());
        int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(127);
      }
      ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t got;
    do {
      got = ::read(report[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof err)) throw PosixError(err, utf8[0]);
  }

  int RunProcess(TextView command_line) override {
    std::vector<std::string> utf8 = ProgramArguments(command_line);
    std::vector<char*> argv;
    for (std::string& arg : utf8) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // As a program in a window of its own: its own session, no share of
    // our standard streams.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd) {
      ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int err = ::posix_spawnp(&child, argv[0], &actions, &attributes,
                                   argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (err != 0) throw PosixError(err, utf8[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) throw PosixError(errno, utf8[0]);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }

  Text TempFolder() override {
    const char* tmp = std::getenv("TMPDIR");
    Text folder = (tmp != nullptr && *tmp != '\0') ? FromUtf8(tmp) : u"/tmp/";
    if (folder.back() != u'/') folder.push_back(u'/');
    return folder;
  }

  LocalDateTime LocalTime() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                         tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  }

  Text MonthAbbreviation(int month) override {
    if (month < 1 || month > 12) throw Failure(error::kInvalidCall);
    // The user's locale for dates, read once; falls back to "C".
    static const locale_t locale = [] {
      locale_t l = ::newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", nullptr);
      return l != nullptr ? l : ::newlocale(LC_ALL_MASK, "C", nullptr);
    }();
    const char* name = ::nl_langinfo_l(ABMON_1 + month - 1, locale);
    const char* codeset = ::nl_langinfo_l(CODESET, locale);
    if (std::strcmp(codeset, "UTF-8") == 0) return FromUtf8(name);
    return FromAnsi(name);
  }

  Text ModuleFolder() override {
    std::string file;
    Dl_info info;
    struct link_map* map = nullptr;
    if (::dladdr1(reinterpret_cast<void*>(&ModuleAnchor), &info,
                  reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
      file = map->l_name;
    } else {
      // Linked into the executable itself.
      file = "/proc/self/exe";
    }
    char resolved[PATH_MAX];
    if (::realpath(file.c_str(), resolved) == nullptr) return u".";
    std::string folder = ParentOf(resolved);
    return FromUtf8(folder);
  }

  char16_t Separator() override { return u'/'; }

  uint64_t PhysicalMemory() override {
    // Asked at every Clear and BuildNew; the answer costs a system call
    // and does not change while the process runs.
    static const uint64_t memory = [] {
      long pages = ::sysconf(_SC_PHYS_PAGES);
      long size = ::sysconf(_SC_PAGE_SIZE);
      if (pages <= 0 || size <= 0) return uint64_t{0};
      return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
    }();
    return memory;
  }
};

}  // namespace

int RenameNoReplace(int from_dir, const char* from, int to_dir,
                    const char* to) {
  if (::renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
  const int refused = errno;
  if (refused != EINVAL && refused != ENOSYS) return -1;
  // The file system cannot rename without replacing (or says so for a
  // rename that is invalid anyway): a new link never replaces an entry
  // either. Checking for the target first and then renaming would race.
  if (::linkat(from_dir, from, to_dir, to, 0) != 0) {
    // Folders cannot be linked: the rename's own answer stands.
    if (errno == EPERM || errno == EISDIR) errno = refused;
    return -1;
  }
  if (::unlinkat(from_dir, from, 0) != 0) {
    const int err = errno;
    ::unlinkat(to_dir, to, 0);
    errno = err;
    return -1;
  }
  return 0;
}

Platform& Platform::Default() {
  static PosixPlatform* platform = new PosixPlatform();  // never destroyed
  return *platform;
}

}  // namespace pellar
