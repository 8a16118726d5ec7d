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
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include "mime.h"
#include "spool_reader.h"

namespace pellar::mail {
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

bool ReadOpenFile(int fd, std::string* bytes, std::string* error) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    *error = ErrorText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "it is a folder" : "not an ordinary file";
    return false;
  }
  // One read past the size the file had tells its end.
  size_t size = 0;
  bytes->resize(static_cast<size_t>(st.st_size) + 1);
  for (;;) {
    if (size == bytes->size()) bytes->resize(bytes->size() * 2);
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

// The files a document names. Relative names are relative to the working
// folder, which the program shares with the report that started it.
bool ReadNamedFile(const std::string& path, std::string* bytes,
                   std::string* error) {
  // Non-blocking, so that a named pipe cannot hold the run.
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) {
    *error = ErrorText(errno);
    return false;
  }
  return ReadOpenFile(fd.get(), bytes, error);
}

bool EndsWithXml(std::string_view name) {
  if (name.size() <= 4) return false;
  std::string_view end = name.substr(name.size() - 4);
  return end[0] == '.' &&
         std::tolower(static_cast<unsigned char>(end[1])) == 'x' &&
         std::tolower(static_cast<unsigned char>(end[2])) == 'm' &&
         std::tolower(static_cast<unsigned char>(end[3])) == 'l';
}

// The ordinary files "*.xml" of the outbox in byte order of their names.
std::vector<std::string> ListDocuments(int dir) {
  std::vector<std::string> names;
  // fdopendir owns its descriptor: give it one of its own.
  DIR* listing =
      fdopendir(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) return names;
  while (const dirent* entry = readdir(listing)) {
    if (!EndsWithXml(entry->d_name)) continue;
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

// The subfolder `name` of the outbox, made for its owner only if missing.
Fd OpenSubfolder(int dir, const char* name, std::string* error) {
  if (mkdirat(dir, name, 0700) != 0 && errno != EEXIST) {
    *error = ErrorText(errno);
    return Fd();
  }
  Fd folder(openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.ok()) *error = ErrorText(errno);
  return folder;
}

// Moves the document `name` into the folder `to` without replacing
// anything there: as `name`, else as NAME-1.xml, NAME-2.xml, ...; with
// `with_log`, the log name (moved name & ".log") must be free too. The
// move keeps the document's mode. Answers "" and the name used, or why not.
std::string MoveDocument(int from, const std::string& name, int to,
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
    int done =
        renameat2(from, name.c_str(), to, target.c_str(), RENAME_NOREPLACE);
    if (done != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // Without RENAME_NOREPLACE: a new link never replaces a file either.
      done = linkat(from, name.c_str(), to, target.c_str(), 0);
      if (done == 0 && unlinkat(from, name.c_str(), 0) != 0) {
        const int number = errno;
        unlinkat(to, target.c_str(), 0);
        return ErrorText(number);
      }
    }
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
std::string WriteLog(int folder, const std::string& name,
                     const std::string& text) {
  std::string temporary;
  Fd fd;
  for (int n = 0; !fd.ok(); ++n) {
    temporary =
        "." + name + "." + std::to_string(getpid()) + "." + std::to_string(n);
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
      std::ostream& out, std::ostream& err)
      : dir_(dir),
        sent_folder_(sent),
        failed_folder_(failed),
        log_(log),
        options_(options),
        out_(out),
        err_(err),
        sender_(options.sender) {}

  // Handles one document; false when the run must stop.
  bool Document(const std::string& name) {
    Fd fd(openat(dir_, name.c_str(),
                 O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.ok() && errno == ENOENT) return true;  // gone since the listing
    std::string bytes, error = fd.ok() ? "" : ErrorText(errno);
    struct stat st {};
    if (!fd.ok() || fstat(fd.get(), &st) != 0 ||
        !ReadOpenFile(fd.get(), &bytes, &error)) {
      return Fail(name, "cannot read the document: " + error);
    }
    fd = Fd();
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
    const BuildContext context{&ReadNamedFile, std::time(nullptr),
                               MessageId(bytes, st, from ? *from : "")};
    error = BuildMessage(document, context, &message);
    if (!error.empty()) return Fail(name, error);

    const std::string to = Join(message.recipients);
    if (options_.dry_run) {
      out_ << "would send " << name << " to " << to << " via " << server.Url()
           << " (encryption " << EncryptionName(server.encryption);
      if (!server.user.empty()) out_ << ", login " << server.user;
      out_ << ")\n" << message.data << "\n" << std::flush;
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
        return Sent(name, to);
      case SendResult::Outcome::kRefused:
        return Fail(name, result.reason);
      case SendResult::Outcome::kDeferred:
        if (result.unreachable) unreachable_[url] = result.reason;
        return Defer(name, result.reason);
    }
    return true;
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
  // A line for the person running the program, and for the run log: a
  // program started by SendOutbox has no output anyone sees.
  void Say(const std::string& line) {
    out_ << line << "\n" << std::flush;
    if (log_ < 0) return;
    const std::string stamped = Now() + " " + line + "\n";
    // Appending; a failing log write must not stop the run.
    if (write(log_, stamped.data(), stamped.size()) < 0) return;
  }

  bool Sent(const std::string& name, const std::string& to) {
    ++sent_;
    Say("sent " + name + " to " + to);
    std::string moved_as;
    const std::string error =
        MoveDocument(dir_, name, sent_folder_, false, &moved_as);
    if (error.empty()) return true;
    // Left in the outbox, it would be sent again by the next run.
    ++failed_;
    err_ << "pellar-mail: " << name << " was sent but cannot be moved to "
         << kSentFolder << "/ (" << error
         << "): take it out of the outbox by hand, or it is sent again; "
            "stopping\n";
    return false;
  }

  bool Fail(const std::string& name, const std::string& reason) {
    ++failed_;
    Say("failed " + name + ": " + reason);
    if (options_.dry_run) return true;
    std::string moved_as;
    std::string error =
        MoveDocument(dir_, name, failed_folder_, true, &moved_as);
    if (error.empty()) {
      error = WriteLog(failed_folder_, moved_as + ".log",
                       Now() + " failed " + name + ": " + reason + "\n");
      if (error.empty()) return true;
      err_ << "pellar-mail: cannot write " << kFailedFolder << "/" << moved_as
           << ".log: " << error << "\n";
    } else {
      err_ << "pellar-mail: cannot move " << name << " to " << kFailedFolder
           << "/ (" << error << "); it stays in the outbox\n";
    }
    return true;
  }

  bool Defer(const std::string& name, const std::string& reason) {
    ++deferred_;
    Say("deferred " + name + ": " + reason);
    return true;
  }

  int dir_;
  int sent_folder_;
  int failed_folder_;
  int log_;  // the run log, or -1
  const RunOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  SmtpSender sender_;
  // Servers that could not be reached in this run, with the reason.
  std::map<std::string, std::string> unreachable_;
  int sent_ = 0;
  int failed_ = 0;
  int deferred_ = 0;
};

}  // namespace

int RunOutbox(const std::string& outbox, const RunOptions& options,
              std::ostream& out, std::ostream& err) {
  auto trouble = [&](std::string_view what, const std::string& error) {
    err << "pellar-mail: " << what << ": " << error << "\n";
    return kExitUsage;
  };
  Fd dir(open(outbox.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) {
    return trouble("cannot open the outbox " + outbox, ErrorText(errno));
  }
  Fd lock, sent, failed, log;
  if (!options.dry_run) {
    lock = Fd(openat(dir.get(), kLockName,
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.ok()) {
      return trouble("cannot open the lock file " + outbox + "/" + kLockName,
                     ErrorText(errno));
    }
    // Runs take turns: a second one waits, then finds what the first left.
    if (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK)
        return trouble("cannot lock the outbox", ErrorText(errno));
      err << "pellar-mail: another run is sending from " << outbox
          << "; waiting for it\n"
          << std::flush;
      while (flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
          return trouble("cannot lock the outbox", ErrorText(errno));
      }
    }
    std::string error;
    sent = OpenSubfolder(dir.get(), kSentFolder, &error);
    if (!sent.ok()) return trouble(outbox + "/" + kSentFolder, error);
    failed = OpenSubfolder(dir.get(), kFailedFolder, &error);
    if (!failed.ok()) return trouble(outbox + "/" + kFailedFolder, error);
    log = Fd(openat(dir.get(), kRunLogName,
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                    0600));
    if (!log.ok()) return trouble(outbox + "/" + kRunLogName, ErrorText(errno));
  }
  Run run(dir.get(), sent.get(), failed.get(), log.get(), options, out, err);
  for (const std::string& name : ListDocuments(dir.get())) {
    if (!run.Document(name)) break;
  }
  return run.Finish();
}

}  // namespace pellar::mail
