#include "workbook_file.h"

#include <fcntl.h>
#include <pellar/platform/platform.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace pellar::sheet {

TempFile::TempFile(const std::filesystem::path& path) {
  std::string name = (path.parent_path() /
                      ("." + path.filename().string() + ".pellar-sheet-XXXXXX"))
                         .string();
  fd_ = mkstemp(name.data());
  if (fd_ >= 0) path_ = name;
}

TempFile::~TempFile() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) unlink(path_.c_str());
}

std::string TempFile::Keep(const std::string& target, const struct stat& was) {
  // The writer renamed its own file over the name: what is there now is
  // opened, never through a link.
  const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat now;
  std::string why;
  if (fstat(fd, &now) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(now.st_mode)) {
    why = "what was written is not an ordinary file";
  } else if ((now.st_uid != was.st_uid || now.st_gid != was.st_gid) &&
             fchown(fd, was.st_uid, was.st_gid) != 0) {
    if (errno != EPERM) why = std::strerror(errno);
    (void)!fchown(fd, uid_t(-1), was.st_gid);  // a group of this user's
  }
  // After the owner: a change of owner clears the set-ID bits.
  if (why.empty() && fchmod(fd, was.st_mode & 07777) != 0) {
    why = std::strerror(errno);
  }
  close(fd);
  if (why.empty() && rename(path_.c_str(), target.c_str()) != 0) {
    why = std::strerror(errno);
  }
  if (why.empty()) path_.clear();
  return why;
}

std::string TempFile::KeepNew(const std::string& target, mode_t mode) {
  if (chmod(path_.c_str(), mode) != 0) return std::strerror(errno);
  if (RenameNoReplace(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str()) != 0) {
    return errno == EEXIST ? std::string(kAppeared) : std::strerror(errno);
  }
  path_.clear();
  return "";
}

std::string WorkbookLock::Lock(const std::filesystem::path& path,
                               int timeout_seconds, struct stat* st) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  for (;;) {
    Release();
    fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      return errno == ELOOP
                 ? std::string("is a link")
                 : std::string("cannot be opened: ") + std::strerror(errno);
    }
    struct stat locked;
    if (fstat(fd_, &locked) != 0) {
      return std::string("cannot be read: ") + std::strerror(errno);
    }
    if (!S_ISREG(locked.st_mode)) return "is a device or other special file";
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        return std::string("cannot be locked: ") + std::strerror(errno);
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        return "is being updated by another run (waited " +
               std::to_string(timeout_seconds) + " s)";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    struct stat now;
    if (lstat(path.c_str(), &now) != 0) {
      return errno == ENOENT
                 ? std::string("was removed while this run waited")
                 : std::string("cannot be read: ") + std::strerror(errno);
    }
    if (now.st_dev == locked.st_dev && now.st_ino == locked.st_ino) {
      // As spreadsheet programs do, a file this user may not write is
      // not saved over, though its folder would allow it.
      if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return errno == EACCES || errno == EPERM
                   ? std::string(
                         "is read-only for this user; it is left "
                         "as it was")
                   : std::string("cannot be written: ") + std::strerror(errno);
      }
      *st = locked;
      return "";
    }
  }
}

void WorkbookLock::Release() {
  if (fd_ >= 0) close(fd_);  // drops the lock
  fd_ = -1;
}

}  // namespace pellar::sheet
