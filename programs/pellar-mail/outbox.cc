// The outbox run: lock, list, then per document read, build, send and move.
#include "outbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include <pellar/platform/platform.h>

#include "mime.h"
#include "printable.h"
#include "spool_reader.h"

namespace pellar::mail {

using programs::Printable;

namespace {

constexpr char kLockName[] = ".pellar-mail.lock";
constexpr char kSentFolder[] = "sent";
constexpr char kFailedFolder[] = "failed";
// Every run appends its lines here, stamped with the time.
constexpr char kRunLogName[] = "pellar-mail.log";
// A document that ends early and changed this recently is taken to be
// still being written by the library.
constexpr std::time_t kWritingSeconds = 60;
// Names tried in sent/ or failed/ before giving up: NAME.xml, NAME-1.xml...
constexpr int kMaxNameTries = 10000;

std::string ErrorText(int number) { return std::strerror(number); }

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The document open as `fd`, whose status is `st`, if it holds at most
// `limit` bytes.
[[nodiscard]] bool ReadOpenFile(int fd, const struct stat& st, uint64_t limit,
                                std::string* bytes, std::string* error) {
  if (!S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "it is a folder" : "not an ordinary file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    *error = "it is larger than the message size limit (" +
             std::to_string(st.st_size) + " bytes)";
    return false;
  }
  // One read past the size the file had tells its end.
  size_t size = 0;
  bytes->resize(static_cast<size_t>(st.st_size) + 1);
  for (;;) {
    if (size == bytes->size()) {
      if (size > limit) {
        *error = "it grew beyond the message size limit";
        return false;
      }
      bytes->resize(bytes->size() * 2);
    }
    const ssize_t n = read(fd, bytes->data() + size, bytes->size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = ErrorText(errno);
      return false;
    }
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  bytes->resize(size);
  return true;
}

class FileSource : public Source {
 public:
  FileSource(Fd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}
  uint64_t size() const override { return size_; }
  ptrdiff_t Read(uint64_t offset, char* to, size_t n,
                 std::string* error) override {
    for (;;) {
      const ssize_t got = pread(fd_.get(), to, n, static_cast<off_t>(offset));
      if (got >= 0) return got;
      if (errno != EINTR) {
        *error = ErrorText(errno);
        return -1;
      }
    }
  }

 private:
  Fd fd_;
  uint64_t size_;
};

bool TrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

// Why the outbox's lock, run log, sent/ or failed/ must not be used, or "":
// another user who owns one or may change it could hold the queue, read
// what the run logs, or take a sent document back to be sent again.
std::string Foreign(const struct stat& st) {
  if (!TrustedOwner(st.st_uid)) {
    return "it belongs to another user (uid " + std::to_string(st.st_uid) +
           "); only the user running pellar-mail or root may own it";
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
    return std::string("others may change it (mode ") + mode + ")";
  }
  return "";
}

// The reason for a failed open of an outbox entry; O_NOFOLLOW tells a
// symbolic link by ELOOP.
std::string OpenError(int number) {
  return number == ELOOP ? "it is a symbolic link" : ErrorText(number);
}

// The most symbolic links followed in one name, as the kernel allows.
constexpr int kMaxLinks = 40;

// Opens `path` (relative names from the working folder) for reading as an
// ordinary file. A symbolic link anywhere in it is followed only when it
// belongs to the user running the program or to root: a link another user
// planted, in a shared outbox say, never leads to a file they could not
// read themselves. Devices, FIFOs and folders are refused without being
// opened.
std::unique_ptr<Source> OpenNamedFile(const std::string& path,
                                      std::string* error) {
  if (path.empty()) {
    *error = ErrorText(ENOENT);
    return nullptr;
  }
  std::deque<std::string> rest;
  auto push_front = [&rest](std::string_view name) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
      size_t end = name.find('/', start);
      if (end == std::string_view::npos) end = name.size();
      if (end > start) parts.emplace_back(name.substr(start, end - start));
      start = end + 1;
    }
    rest.insert(rest.begin(), parts.begin(), parts.end());
  };
  auto root_or_here = [](std::string_view name) {
    return Fd(open(name.starts_with('/') ? "/" : ".",
                   O_PATH | O_DIRECTORY | O_CLOEXEC));
  };
  Fd folder = root_or_here(path);
  push_front(path);
  if (rest.empty()) rest.emplace_back(".");
  int links = 0;
  while (folder.ok()) {
    const std::string name = std::move(rest.front());
    rest.pop_front();
    Fd node(
        openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!node.ok() || fstat(node.get(), &st) != 0) break;
    if (S_ISLNK(st.st_mode)) {
      if (!TrustedOwner(st.st_uid)) {
        *error = "a symbolic link of another user: " + name;
        return nullptr;
      }
      char target[PATH_MAX];
      const ssize_t n = readlinkat(node.get(), "", target, sizeof target);
      if (n < 0 || ++links > kMaxLinks) {
        *error = ErrorText(n < 0 ? errno : ELOOP);
        return nullptr;
      }
      const std::string_view text(target, static_cast<size_t>(n));
      if (text.starts_with('/')) folder = root_or_here(text);
      push_front(text);
      if (rest.empty()) rest.emplace_back(".");
      continue;
    }
    if (!rest.empty()) {
      if (!S_ISDIR(st.st_mode)) {
        *error = ErrorText(ENOTDIR);
        return nullptr;
      }
      folder = std::move(node);
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = S_ISDIR(st.st_mode) ? "it is a folder" : "not an ordinary file";
      return nullptr;
    }
    // Opened for reading only now that it is known to be a file, and
    // checked to be the same one.
    Fd file(openat(folder.get(), name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!file.ok() || fstat(file.get(), &opened) != 0) break;
    if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
      *error = "the file was replaced while it was opened";
      return nullptr;
    }
    return std::make_unique<FileSource>(std::move(file),
                                        static_cast<uint64_t>(opened.st_size));
  }
  *error = ErrorText(errno);
  return nullptr;
}

bool EndsWithXml(std::string_view name) {
  if (name.size() <= 4) return false;
  std::string_view end = name.substr(name.size() - 4);
  return end[0] == '.' &&
         std::tolower(static_cast<unsigned char>(end[1])) == 'x' &&
         std::tolower(static_cast<unsigned char>(end[2])) == 'm' &&
         std::tolower(static_cast<unsigned char>(end[3])) == 'l';
}

// A document being sent is renamed to this, so that what is sent is what
// moves to sent/ even when the library spools the same name meanwhile. It
// is hidden and does not end in ".xml", so no listing takes it.
constexpr std::string_view kClaimEnd = ".sending";

std::string ClaimName(const std::string& name) {
  return "." + name + std::string(kClaimEnd);
}

// The document name of a claim name, or "".
std::string ClaimedName(std::string_view claim) {
  if (!claim.starts_with('.') || !claim.ends_with(kClaimEnd)) return "";
  claim.remove_prefix(1);
  claim.remove_suffix(kClaimEnd.size());
  return EndsWithXml(claim) ? std::string(claim) : "";
}

// The ordinary files "*.xml" of the outbox in byte order of their names
// (or, with `claims`, those left claimed by a run that ended early). Links
// are never taken: they could lead anywhere.
std::vector<std::string> ListDocuments(int dir, bool claims = false) {
  std::vector<std::string> names;
  // fdopendir owns its descriptor: give it one of its own.
  DIR* listing =
      fdopendir(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) return names;
  while (const dirent* entry = readdir(listing)) {
    if (claims ? ClaimedName(entry->d_name).empty()
               : !EndsWithXml(entry->d_name)) {
      continue;
    }
    struct stat st {};
    if (fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode)) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// The subfolder `name` of the outbox, made for its owner only if missing;
// refused unless it is this user's or root's and no one else may change
// it. What is checked is the folder opened, which every move then uses.
Fd OpenSubfolder(int dir, const char* name, std::string* error) {
  if (mkdirat(dir, name, 0700) != 0 && errno != EEXIST) {
    *error = ErrorText(errno);
    return Fd();
  }
  Fd folder(openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!folder.ok() || fstat(folder.get(), &st) != 0) {
    *error = OpenError(errno);
    return Fd();
  }
  *error = Foreign(st);
  return error->empty() ? std::move(folder) : Fd();
}

// Moves the document `from_name` of the folder `from` into the folder `to`
// without replacing anything there: as `name`, else as NAME-1.xml,
// NAME-2.xml, ...; with `with_log`, the log name (moved name & ".log") must
// be free too. The move keeps the document's mode. Answers "" and the name
// used, or why not.
[[nodiscard]] std::string MoveDocument(int from, const std::string& from_name,
                                       int to, const std::string& name,
                                       bool with_log, std::string* moved_as) {
  const std::string stem = name.substr(0, name.size() - 4);
  const std::string extension = name.substr(name.size() - 4);
  for (int n = 0; n < kMaxNameTries; ++n) {
    const std::string target =
        n == 0 ? name : stem + "-" + std::to_string(n) + extension;
    struct stat st {};
    if (with_log &&
        fstatat(to, (target + ".log").c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      continue;
    }
    const int done =
        RenameNoReplace(from, from_name.c_str(), to, target.c_str());
    if (done == 0) {
      // Make the move outlast a crash, so a sent document is not sent
      // again after one.
      fsync(to);
      fsync(from);
      *moved_as = target;
      return "";
    }
    if (errno != EEXIST) return ErrorText(errno);
  }
  return "no free name";
}

// Writes `text` as the file `name` in `folder`: created under a fresh name
// for its owner only, never through a link, then renamed into place.
[[nodiscard]] std::string WriteLog(int folder, const std::string& name,
                                   const std::string& text) {
  std::string temporary;
  Fd fd;
  for (int n = 0; !fd.ok(); ++n) {
    // Not derived from `name`, so that a log whose name just fits needs no
    // longer name on its way.
    temporary = ".log." + std::to_string(getpid()) + "." + std::to_string(n);
    fd = Fd(openat(folder, temporary.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.ok() && (errno != EEXIST || n >= kMaxNameTries)) {
      return ErrorText(errno);
    }
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t n = write(fd.get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int number = errno;
      unlinkat(folder, temporary.c_str(), 0);
      return ErrorText(number);
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  if (fsync(fd.get()) != 0 ||
      renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    const int number = errno;
    unlinkat(folder, temporary.c_str(), 0);
    return ErrorText(number);
  }
  return "";
}

// The same for every attempt at the same document, so that a receiver can
// tell a message sent again after an unclear ending from a new one.
std::string MessageId(std::string_view bytes, const struct stat& st,
                      const std::string& sender) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : bytes) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  // The sender's domain: the name characters after its last "@".
  std::string domain;
  for (size_t at = sender.rfind('@') + 1; at > 0 && at < sender.size(); ++at) {
    const char c = sender[at];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') {
      break;
    }
    domain += c;
  }
  if (domain.empty()) domain = "localhost";
  char id[64];
  std::snprintf(id, sizeof id, "%016" PRIx64 ".%" PRIx64, hash,
                static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                    static_cast<uint64_t>(st.st_mtim.tv_nsec));
  return "<" + std::string(id) + ".pellar-mail@" + domain + ">";
}

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += ", ";
    joined += item;
  }
  return joined;
}

std::string EncryptionName(Encryption encryption) {
  switch (encryption) {
    case Encryption::kTls:
      return "TLS";
    case Encryption::kSsl:
      return "SSL";
    case Encryption::kNone:
      break;
  }
  return "None";
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

class Run {
 public:
  Run(int dir, int sent, int failed, int log, const RunOptions& options,
      std::ostream& out, std::ostream& err, MessageSender& sender)
      : dir_(dir),
        sent_folder_(sent),
        failed_folder_(failed),
        log_(log),
        options_(options),
        out_(out),
        err_(err),
        sender_(sender) {}

  // Handles one document; false when the run must stop. Whatever goes
  // wrong with one document, running out of memory included, fails that
  // document only: one poison document must not hold up the queue.
  bool Document(const std::string& name) {
    held_ = name;
    try {
      return Handle(name);
    } catch (const std::bad_alloc&) {
      return Fail(name, "out of memory");
    } catch (const std::exception& e) {
      return Fail(name, e.what());
    }
  }

  // Puts back documents claimed by a run that ended before it moved them:
  // each may or may not have been sent (as when a reply is lost).
  void Recover() {
    for (const std::string& claim : ListDocuments(dir_, true)) {
      held_ = claim;
      const std::string name = ClaimedName(claim);
      const std::string why = "a run that ended early was sending it";
      if (PutBack(name)) {
        Say("recovered " + name + ": " + why);
      } else {
        Superseded(name, why);
      }
    }
  }

  // The summary line; answers the exit status.
  int Finish() {
    if (options_.dry_run) {
      Say(std::to_string(sent_) + " to send, " + std::to_string(failed_) +
          " failed, " + std::to_string(deferred_) + " deferred (dry run)");
    } else {
      Say(std::to_string(sent_) + " sent, " + std::to_string(failed_) +
          " failed, " + std::to_string(deferred_) + " deferred");
    }
    if (failed_ > 0) return kExitSomeFailed;
    if (deferred_ > 0) return kExitSomeDeferred;
    return kExitAllSent;
  }

 private:
  bool Handle(const std::string& name) {
    struct stat st {};
    if (fstatat(dir_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return true;  // gone since the listing
    }
    std::string error = Distrust(st);
    if (!error.empty()) return Fail(name, error);
    if (!options_.dry_run) {
      // Claimed: from here on the name may be spooled again without
      // touching what this run sends.
      const std::string claim = ClaimName(name);
      if (RenameNoReplace(dir_, name.c_str(), dir_, claim.c_str()) != 0) {
        if (errno == ENOENT) return true;
        return Fail(name, "cannot claim the document: " + ErrorText(errno));
      }
      held_ = claim;
    }
    Fd fd(openat(dir_, held_.c_str(),
                 O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    std::string bytes;
    if (!fd.ok() || fstat(fd.get(), &st) != 0) {
      return Fail(name, "cannot read the document: " + ErrorText(errno));
    }
    error = Distrust(st);  // the file opened may not be the one looked at
    if (!error.empty()) return Fail(name, error);
    if (!ReadOpenFile(fd.get(), st, options_.max_size, &bytes, &error)) {
      return Fail(name, "cannot read the document: " + error);
    }
    SpoolDocument document;
    const ReadResult read = ReadSpoolDocument(bytes, &document);
    if (read.status == ReadResult::Status::kIncomplete &&
        std::time(nullptr) - st.st_mtime < kWritingSeconds) {
      return Defer(name, "the document is still being written");
    }
    if (read.status != ReadResult::Status::kRead) {
      return Fail(name, "cannot read the document: " + read.error);
    }
    SmtpServer server;
    error = ServerOfDocument(document, &server);
    if (!error.empty()) return Fail(name, error);
    OutgoingMessage message;
    const std::string* from = document.Find("From");
    const BuildContext context{&OpenNamedFile, std::time(nullptr),
                               MessageId(bytes, st, from ? *from : ""),
                               options_.max_size};
    bytes = std::string();
    error = BuildMessage(document, context, &message);
    if (!error.empty()) return Fail(name, error);

    const std::string to = Join(message.recipients);
    if (options_.dry_run) {
      const std::string text = message.Text(&error);
      if (!error.empty()) return Fail(name, error);
      out_ << "would send " << name << " to " << to << " via " << server.Url()
           << " (encryption " << EncryptionName(server.encryption);
      if (!server.user.empty()) out_ << ", login " << server.user;
      out_ << ")\n" << text << "\n" << std::flush;
      ++sent_;
      return true;
    }
    const std::string url = server.Url();
    if (auto down = unreachable_.find(url); down != unreachable_.end()) {
      return Defer(name, down->second);
    }
    const SendResult result = sender_.Send(server, message);
    switch (result.outcome) {
      case SendResult::Outcome::kAccepted:
        return Sent(name, to, st);
      case SendResult::Outcome::kRefused:
        return Fail(name, result.reason);
      case SendResult::Outcome::kDeferred:
        if (result.unreachable) unreachable_[url] = result.reason;
        return Defer(name, result.reason);
    }
    return true;
  }

  // Why a document must not be sent by this user, or "".
  std::string Distrust(const struct stat& st) const {
    if (options_.trust_any_owner) return "";
    if (!TrustedOwner(st.st_uid)) {
      return "the document belongs to another user (uid " +
             std::to_string(st.st_uid) +
             "); only the user running pellar-mail or root may spool here "
             "(--trust-any-owner sends it anyway)";
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
      return std::string("the document can be changed by others (mode ") +
             mode + "; --trust-any-owner sends it anyway)";
    }
    return "";
  }

  // A line for the person running the program, and for the run log: a
  // program started by SendOutbox has no output anyone sees.
  void Say(const std::string& line) {
    const std::string printable = Printable(line);
    out_ << printable << "\n" << std::flush;
    if (log_ < 0) return;
    const std::string stamped = Now() + " " + printable + "\n";
    // Appending; a failing log write must not stop the run.
    if (write(log_, stamped.data(), stamped.size()) < 0) return;
  }

  bool Sent(const std::string& name, const std::string& to,
            const struct stat& read) {
    ++sent_;
    Say("sent " + name + " to " + to);
    struct stat now {};
    if (fstatat(dir_, held_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != read.st_dev || now.st_ino != read.st_ino ||
        now.st_size != read.st_size ||
        now.st_mtim.tv_sec != read.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != read.st_mtim.tv_nsec) {
      // Written to in place while it was sent: what is there now was not.
      const std::string why = "it changed while it was sent";
      if (PutBack(name)) {
        Say("left " + name + " for the next run: " + why);
      } else {
        Superseded(name, why);
      }
      return true;
    }
    std::string moved_as;
    const std::string error =
        MoveDocument(dir_, held_, sent_folder_, name, false, &moved_as);
    if (error.empty()) return true;
    // Left in the outbox, it would be sent again by the next run.
    ++failed_;
    err_ << "pellar-mail: " << Printable(name)
         << " was sent but cannot be moved to " << kSentFolder << "/ (" << error
         << "): take it out of the outbox by hand, or it is sent again; "
            "stopping\n";
    return false;
  }

  bool Fail(const std::string& name, const std::string& reason) {
    ++failed_;
    Say("failed " + name + ": " + reason);
    if (options_.dry_run) return true;
    Discard(name, reason);
    return true;
  }

  // Moves the held document to failed/ beside its reason.
  void Discard(const std::string& name, const std::string& reason) {
    std::string moved_as;
    std::string error =
        MoveDocument(dir_, held_, failed_folder_, name, true, &moved_as);
    if (error.empty()) {
      error = WriteLog(
          failed_folder_, moved_as + ".log",
          Now() + " " + Printable("failed " + name + ": " + reason) + "\n");
      if (error.empty()) return;
      err_ << "pellar-mail: cannot write " << kFailedFolder << "/"
           << Printable(moved_as) << ".log: " << error << "\n";
    } else {
      err_ << "pellar-mail: cannot move " << Printable(held_) << " to "
           << kFailedFolder << "/ (" << error << "); it stays in the outbox\n";
    }
  }

  bool Defer(const std::string& name, const std::string& reason) {
    if (!PutBack(name)) return Superseded(name, reason);
    ++deferred_;
    Say("deferred " + name + ": " + reason);
    return true;
  }

  // Gives a claimed document its name back for the next run; false when
  // the library has spooled that name again meanwhile.
  bool PutBack(const std::string& name) {
    if (held_ == name) return true;
    if (RenameNoReplace(dir_, held_.c_str(), dir_, name.c_str()) == 0) {
      held_ = name;
      return true;
    }
    if (errno == EEXIST) return false;
    // It stays claimed; the next run puts it back.
    err_ << "pellar-mail: cannot give " << Printable(held_) << " its name "
         << Printable(name) << " back: " << ErrorText(errno) << "\n";
    return true;
  }

  // The newer document of the same name stands; the older one is kept in
  // failed/.
  bool Superseded(const std::string& name, const std::string& why) {
    return Fail(name, why + "; a newer " + name + " was spooled meanwhile");
  }

  int dir_;
  int sent_folder_;
  int failed_folder_;
  int log_;  // the run log, or -1
  const RunOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  MessageSender& sender_;
  std::string held_;  // the document's name in the outbox: its claim, if any
  // Servers that could not be reached in this run, with the reason.
  std::map<std::string, std::string> unreachable_;
  int sent_ = 0;
  int failed_ = 0;
  int deferred_ = 0;
};

// Opens the outbox's file `name`, made for its owner only if missing,
// without following a link or waiting on a FIFO; refused unless it is an
// ordinary file of this user or root that no one else may change.
Fd OpenOwnFile(int dir, const char* name, int flags, std::string* error) {
  flags |= O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // Created only when missing, so that another user's file is opened and
  // refused with the reason (a sticky folder may refuse O_CREAT on it).
  // Another run may create it in between: then it is opened.
  Fd fd;
  for (int tries = 0; tries < 3; ++tries) {
    fd = Fd(openat(dir, name, flags));
    if (fd.ok() || errno != ENOENT) break;
    fd = Fd(openat(dir, name, flags | O_CREAT | O_EXCL, 0600));
    if (fd.ok() || errno != EEXIST) break;
  }
  struct stat st {};
  if (!fd.ok() || fstat(fd.get(), &st) != 0) {
    *error = OpenError(errno);
    return Fd();
  }
  *error = S_ISREG(st.st_mode) ? Foreign(st) : "not an ordinary file";
  return error->empty() ? std::move(fd) : Fd();
}

// Takes the outbox's lock, waiting up to `seconds` for another run.
// Answers "" or why not; `*busy` when another run kept it.
[[nodiscard]] std::string Lock(int fd, long seconds, std::ostream& err,
                               const std::string& outbox, bool* busy) {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool said = false;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return ErrorText(errno);
    if (std::chrono::steady_clock::now() >= give_up) {
      *busy = true;
      return "another run has kept it for " + std::to_string(seconds) +
             " seconds (--lock-timeout); try again later";
    }
    if (!said) {
      err << "pellar-mail: another run is sending from " << outbox
          << "; waiting for it\n"
          << std::flush;
      said = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

}  // namespace

int RunOutbox(const std::string& outbox, const RunOptions& options,
              std::ostream& out, std::ostream& err, MessageSender* sender) {
  auto trouble = [&](std::string_view what, const std::string& error,
                     int status = kExitUsage) {
    err << "pellar-mail: " << what << ": " << error << "\n";
    return status;
  };
  Fd dir(open(outbox.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) {
    return trouble("cannot open the outbox " + outbox, ErrorText(errno));
  }
  Fd lock, sent, failed, log;
  if (!options.dry_run) {
    std::string error;
    lock = OpenOwnFile(dir.get(), kLockName, O_RDWR, &error);
    if (!lock.ok()) {
      return trouble("cannot open the lock file " + outbox + "/" + kLockName,
                     error);
    }
    // Runs take turns: a second one waits, then finds what the first left.
    bool busy = false;
    error = Lock(lock.get(), options.lock_timeout, err, outbox, &busy);
    if (!error.empty()) {
      return trouble("cannot lock the outbox " + outbox, error,
                     busy ? kExitSomeDeferred : kExitUsage);
    }
    sent = OpenSubfolder(dir.get(), kSentFolder, &error);
    if (!sent.ok()) return trouble(outbox + "/" + kSentFolder, error);
    failed = OpenSubfolder(dir.get(), kFailedFolder, &error);
    if (!failed.ok()) return trouble(outbox + "/" + kFailedFolder, error);
    log = OpenOwnFile(dir.get(), kRunLogName, O_WRONLY | O_APPEND, &error);
    if (!log.ok()) return trouble(outbox + "/" + kRunLogName, error);
  }
  std::unique_ptr<SmtpSender> smtp;
  if (sender == nullptr) {
    smtp = std::make_unique<SmtpSender>(options.sender);
    sender = smtp.get();
  }
  Run run(dir.get(), sent.get(), failed.get(), log.get(), options, out, err,
          *sender);
  if (!options.dry_run) run.Recover();
  for (const std::string& name : ListDocuments(dir.get())) {
    if (!run.Document(name)) break;
  }
  return run.Finish();
}

}  // namespace pellar::mail
