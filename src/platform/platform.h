// Everything the library asks of the operating system, behind one interface.
// Each platform file defines its implementation in an anonymous namespace and
// Platform::Default(); CMake picks the file, so callers hold no #ifdef.
//
// Every operation reports failure by throwing Failure with an automation
// error number (53 file not found, 76 path not found, 70 permission denied,
// 75 path/file access error, 61 disk full, 57 other I/O errors, ...); the
// mapping from the system's errors lives in one function per platform.
//
// Thread rules: implementations are stateless or internally synchronised;
// the current platform is chosen per thread (see Current()).
#ifndef PELLAR_PLATFORM_PLATFORM_H_
#define PELLAR_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <pellar/base/text.h>

namespace pellar {

// What a lookup matches. Hidden entries never match (on POSIX: names that
// begin with "."; on Windows: the hidden and system attributes).
enum class LookupKind {
  kFile,    // ordinary files only
  kFolder,  // folders and ordinary files
};

enum class WindowStyle { kMinimizedNoFocus, kMinimizedWithFocus };

// How a file is written and who may read it. No access ever writes through
// a symbolic link (on Windows: a reparse point) or into an older file: the
// text goes to a fresh file beside the name (created exclusively, with its
// final mode from the start), which takes the name once complete.
// - kNormal, a save's file: an older ordinary file of the name is replaced
//   and lends the new one its mode and, where the user may give it, its
//   owner; a read-only one fails with 70. A symbolic link whose target is
//   missing or an ordinary file is itself replaced, its target untouched.
//   A character device such as a printer port is written where it stands
//   (never through a link). Anything else at the name, a link to it
//   included, fails with 75. The new file takes the name also when the
//   writing failed, so what was written stays.
// - kReplace, kPrivate, kPrivateExecutable: a name that is a symbolic link
//   or not an ordinary file fails with 75 before anything is written; a
//   read-only file with 70. A file never closed is dropped and the older
//   file keeps its place. On POSIX kReplace gives the mode of any new
//   file, kPrivate 0600 (files holding secrets), kPrivateExecutable 0700
//   (programs).
enum class FileAccess { kNormal, kReplace, kPrivate, kPrivateExecutable };

// The step of CreateForSave under way, so that a caller can tell a failure
// to delete the older file from a failure to create the new one.
enum class SaveStep { kDeleteOld, kCreate };

struct LocalDateTime {
  int year = 0;
  int month = 1;  // 1..12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// What stands at a path, a symbolic link (on Windows: any reparse point)
// taken as itself, never followed.
enum class EntryKind { kFile, kFolder, kLink, kOther };

struct FolderEntry {
  Text name;
  EntryKind kind = EntryKind::kOther;
};

struct EntryStatus {
  EntryKind kind = EntryKind::kOther;
  uint64_t size = 0;  // a file's bytes; 0 for other kinds
  LocalDateTime modified;
  // When the entry was made where the system records it (POSIX: the birth
  // time statx reports), else the last change of its status (ctime).
  LocalDateTime created;
};

// A file open for writing. Bytes may be buffered; Close() flushes. The
// destructor closes a file that was not closed, ignoring errors; a file
// written under a fresh name with kReplace, kPrivate or kPrivateExecutable
// is then dropped and the older file keeps its place.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual void Append(std::string_view bytes) = 0;
  // Appends many whole lines, each ended by CR LF, from a writer of large
  // files. The file writes them in one go; a file may also write them line
  // by line, so a failure leaves whole lines behind.
  virtual void AppendLines(std::string_view lines) { Append(lines); }
  virtual void Close() = 0;
};

// A file open for reading from its start.
class SequentialFile {
 public:
  virtual ~SequentialFile() = default;
  // Reads up to `n` bytes into `buffer`; returns the count, 0 at the end.
  virtual size_t Read(char* buffer, size_t n) = 0;
  // The file's size when it was opened, 0 when unknown: a hint for sizing
  // buffers, since the file may change while it is read.
  virtual uint64_t SizeHint() { return 0; }
};

class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  virtual ~Platform() = default;

  // The real platform of this build; lives for the whole process.
  static Platform& Default();
  // The platform the calling thread uses: Default() unless a
  // ScopedPlatform is active on this thread.
  static Platform& Current();

  // The entries matching `pattern`, whose last component may hold the
  // wildcards * and ?, as paths (the pattern's folder part & name), in
  // directory order. No match (including a missing folder) gives an empty
  // list; a lookup that fails outright (unreadable folder, invalid name)
  // throws.
  virtual std::vector<Text> Lookup(TextView pattern, LookupKind kind) = 0;
  // Deletes one file (not a folder). A read-only file (on POSIX: its owner
  // has no write permission) fails with 70 and stays. A symbolic link is
  // removed itself, one to a folder too, never its target.
  virtual void DeleteFile(TextView path) = 0;
  // Renames a file or folder; fails with 58 when `to` exists, 74 across
  // file systems.
  virtual void Rename(TextView from, TextView to) = 0;
  // Copies a file's bytes to `to`, creating or replacing it; `to` gets the
  // permissions of `from` (never wider) and is never written through a
  // symbolic link.
  virtual void CopyFile(TextView from, TextView to) = 0;
  // Moves the file `from` to `to` on the same file system, replacing an
  // existing file `to` in one step (no moment without `to`); fails with 70
  // when `to` is read-only, 75 when it is a folder or another entry that is
  // not an ordinary file, 74 across file systems.
  // The default deletes `to` first and then renames.
  virtual void ReplaceFile(TextView from, TextView to);
  // Fails with 75, as ReplaceFile would, when `path` is a device, FIFO or
  // other entry that is not an ordinary file, so that nothing is written
  // before a replacement that cannot happen. The default accepts any name.
  virtual void CheckReplaceable(TextView path);
  // Whether both paths lead to the same file, a symbolic link in the last
  // component counting as a file of its own; false when either is missing.
  // The default compares the texts.
  virtual bool SameFile(TextView a, TextView b);
  // As DeleteFile, but a read-only file goes too.
  virtual void ForceDeleteFile(TextView path) = 0;
  // Creates one folder level; the parent must exist.
  virtual void CreateFolder(TextView path) = 0;
  // Removes one empty folder (never a symbolic link: DeleteFile removes a
  // link, to a folder too). A folder that is not empty fails with 75, a
  // missing one with 76.
  virtual void DeleteEmptyFolder(TextView path) = 0;
  // Deletes the folder `path` and everything in it. A symbolic link met
  // anywhere (`path` itself included) is removed as an entry of its own,
  // never entered; on POSIX the walk holds each folder open, so a folder
  // swapped for a link while it runs is not followed either. A read-only
  // file stops the deletion with 70 (what went before stays gone) unless
  // `force`. Nothing at `path` fails with 76.
  virtual void DeleteFolderTree(TextView path, bool force) = 0;
  // Every entry of `folder`, hidden ones included ("." and ".." never),
  // with its kind as EntryKind tells it, ordered by the names' code units.
  // A missing folder, or a file in its place, fails with 76.
  virtual std::vector<FolderEntry> ListFolder(TextView folder) = 0;
  // What stands at `path` (see EntryKind): fails with 53 when nothing does
  // (76 when its folder is missing too).
  virtual EntryStatus Status(TextView path) = 0;
  // The working folder relative paths are resolved against, without a
  // trailing separator (except a root's).
  virtual Text CurrentFolder() = 0;
  // Creates a file for writing, to replace any older one (see FileAccess).
  virtual std::unique_ptr<WritableFile> NewWritableFile(
      TextView path, FileAccess access = FileAccess::kNormal) = 0;
  // The file of a save, in one call that converts the name once, created as
  // NewWritableFile creates it. `step`, when given, holds the step under way
  // (also when the call throws): kDeleteOld while what stands at the name
  // is judged (a read-only older file fails there, as deleting it would),
  // kCreate from the creation on.
  virtual std::unique_ptr<WritableFile> CreateForSave(
      TextView path, FileAccess access, SaveStep* step = nullptr) = 0;
  // Opens an existing file for reading.
  virtual std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) = 0;
  // Starts `command_line` as a new process and does not wait for it; no
  // zombie is left behind. The line is split into program and arguments by
  // the Windows command-line rules, so a double-quoted program path stays
  // one argument. No shell is involved.
  virtual void StartProcess(TextView command_line, WindowStyle style) = 0;
  // Runs `command_line`, split as StartProcess splits it (the program is
  // also looked for on the search path), without a shell and without a
  // share of our console, and waits for it to end: its exit status (on
  // POSIX 128 + the signal's number when a signal ended it).
  virtual int RunProcess(TextView command_line) = 0;
  // The folder for temporary files, ending in the separator.
  virtual Text TempFolder() = 0;
  virtual LocalDateTime LocalTime() = 0;
  // The locale's abbreviated month name, month 1..12 ("Jan".."Dec" in an
  // English or C locale).
  virtual Text MonthAbbreviation(int month) = 0;
  // The folder the library was loaded from, without a trailing separator.
  virtual Text ModuleFolder() = 0;
  // The path separator: "/" on POSIX, "\" on Windows.
  virtual char16_t Separator() = 0;
  // Installed physical memory in bytes (0 when unknown).
  virtual uint64_t PhysicalMemory() = 0;
};

// Forwards every call to another platform, so a test can override one
// operation. Does not own the target.
class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& target) : target_(target) {}
  Platform& target() { return target_; }

  std::vector<Text> Lookup(TextView pattern, LookupKind kind) override {
    return target_.Lookup(pattern, kind);
  }
  void DeleteFile(TextView path) override { target_.DeleteFile(path); }
  void Rename(TextView from, TextView to) override { target_.Rename(from, to); }
  void CopyFile(TextView from, TextView to) override {
    target_.CopyFile(from, to);
  }
  void ReplaceFile(TextView from, TextView to) override {
    target_.ReplaceFile(from, to);
  }
  void CheckReplaceable(TextView path) override {
    target_.CheckReplaceable(path);
  }
  bool SameFile(TextView a, TextView b) override {
    return target_.SameFile(a, b);
  }
  void ForceDeleteFile(TextView path) override {
    target_.ForceDeleteFile(path);
  }
  void CreateFolder(TextView path) override { target_.CreateFolder(path); }
  void DeleteEmptyFolder(TextView path) override {
    target_.DeleteEmptyFolder(path);
  }
  void DeleteFolderTree(TextView path, bool force) override {
    target_.DeleteFolderTree(path, force);
  }
  std::vector<FolderEntry> ListFolder(TextView folder) override {
    return target_.ListFolder(folder);
  }
  EntryStatus Status(TextView path) override { return target_.Status(path); }
  Text CurrentFolder() override { return target_.CurrentFolder(); }
  std::unique_ptr<WritableFile> NewWritableFile(TextView path,
                                                FileAccess access) override {
    return target_.NewWritableFile(path, access);
  }
  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override {
    return target_.CreateForSave(path, access, step);
  }
  std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) override {
    return target_.NewSequentialFile(path);
  }
  void StartProcess(TextView command_line, WindowStyle style) override {
    target_.StartProcess(command_line, style);
  }
  int RunProcess(TextView command_line) override {
    return target_.RunProcess(command_line);
  }
  Text TempFolder() override { return target_.TempFolder(); }
  LocalDateTime LocalTime() override { return target_.LocalTime(); }
  Text MonthAbbreviation(int month) override {
    return target_.MonthAbbreviation(month);
  }
  Text ModuleFolder() override { return target_.ModuleFolder(); }
  char16_t Separator() override { return target_.Separator(); }
  uint64_t PhysicalMemory() override { return target_.PhysicalMemory(); }

 private:
  Platform& target_;
};

// Makes `platform` the calling thread's current platform for the scope's
// lifetime; scopes nest.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

// Splits a command line into arguments by the Windows rules: blanks and
// tabs separate; double quotes group; 2n backslashes before a quote give n
// backslashes and a quote toggle; 2n+1 give n backslashes and a literal
// quote; "" inside a quoted run gives a literal quote. The program name
// (first argument) ends at the first blank outside quotes and takes
// backslashes literally.
std::vector<Text> SplitCommandLine(TextView command_line);

#ifndef _WIN32
// Renames the entry `from` of the folder `from_dir` to `to` of `to_dir`
// (descriptors of open folders, or AT_FDCWD), never replacing an entry at
// `to`, as renameat2(2) with RENAME_NOREPLACE does: 0, or -1 with errno
// set (EEXIST when `to` exists). Where the file system cannot rename so,
// a file is linked at `to` (which never replaces either) and `from`
// unlinked; a folder then fails with the rename's EINVAL.
[[nodiscard]] int RenameNoReplace(int from_dir, const char* from, int to_dir,
                                  const char* to);
#endif

// A fresh hidden name (".~pellar-" & 16 random hex digits & ".tmp") in the
// folder of `path`, for a file that will replace `path` once complete.
// Windows (separator "\") also ends a folder part at "/" and at a drive's
// ":".
Text TemporarySibling(TextView path, char16_t separator);
// Restarts the calling thread's sequence of temporary names from `seed`, so
// that a test can know the next name.
void SeedTemporaryNames(uint64_t seed);

}  // namespace pellar

#endif  // PELLAR_PLATFORM_PLATFORM_H_
