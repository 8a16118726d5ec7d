// Helpers shared by the tests: a temporary folder, a platform with a fixed
// clock and module folder, and a platform that fails on demand.
#ifndef PELLAR_TESTING_TEST_SUPPORT_H_
#define PELLAR_TESTING_TEST_SUPPORT_H_

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <pellar/base/text.h>
#include <pellar/platform/platform.h>

namespace pellar::testing {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing separator.
  const std::string& path() const { return path_; }
  Text text() const { return FromUtf8(path_); }
  // path() & "/" & name.
  std::string Path(std::string_view name) const;
  Text TextPath(std::string_view name) const { return FromUtf8(Path(name)); }

 private:
  std::string path_;
};

// The failure number `call` throws as Failure, or 0 when it returns.
int FailureOf(const std::function<void()>& call);

// Whole-file helpers working on raw bytes.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);
bool PathExists(const std::string& path);

// How long a test waits for another process before it gives up: a loaded
// machine (or Wine) may take minutes to get to it.
inline constexpr std::chrono::seconds kPatience{300};

// Polls `done` until it answers true or `limit` has passed; answers
// whether it did. Wait on what says the work is complete (a file renamed or
// written last), never on a file that may still be being written.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::seconds limit = kPatience);

#ifndef _WIN32
// Another local user, the attacker of the tests that run as root.
inline constexpr int kOtherUser = 4242;
// Runs `work` in a forked child that has become kOtherUser (user and group)
// and answers the child's id, or -1 when the test does not run as root.
// The child ends when `work` returns (status 0) or throws (status 1).
int StartAsOtherUser(const std::function<void()>& work);
// Waits for a child of StartAsOtherUser to end; its exit status, or -1
// when it was killed or could not be waited for. `kill` ends it first.
int WaitForChild(int pid, bool kill = false);
#endif

// The real platform with a settable clock and module folder.
class FakePlatform : public ForwardingPlatform {
 public:
  FakePlatform() : ForwardingPlatform(Platform::Default()) {}

  LocalDateTime now{2026, 12, 8, 14, 5, 9};
  Text module_folder;  // empty: the real one

  LocalDateTime LocalTime() override { return now; }
  Text MonthAbbreviation(int month) override;
  Text ModuleFolder() override {
    return module_folder.empty() ? target().ModuleFolder() : module_folder;
  }
};

// The header block of the library's XML files as FakePlatform's clock and
// the default developer make it.
std::string XmlHeader(const std::string& file_name);

// The operations a FailingPlatform can fail.
enum class Op {
  kLookup,
  kDelete,
  kRename,
  kCopy,
  kCreateFolder,
  kCreate,  // NewWritableFile, CreateForSave
  kWrite,   // WritableFile::Append
  kClose,   // WritableFile::Close
  kOpen,    // NewSequentialFile
  kRead,    // SequentialFile::Read
  kStartProcess,
  kReplace,  // ReplaceFile
  kAny,      // FailAt only: the nth call of any operation above
};

// The operation's name, for test messages ("Create", "Write", ...).
const char* OpName(Op op);

// Forwards to a FakePlatform and fails the `nth` (1-based) call of `op`
// with failure `number`; counts every operation's calls. Tracks files the
// library opened and has not yet closed or destroyed.
class FailingPlatform : public FakePlatform {
 public:
  FailingPlatform() = default;
  FailingPlatform(Op op, int nth, int number) { FailAt(op, nth, number); }

  void FailAt(Op op, int nth, int number) {
    op_ = op;
    nth_ = nth;
    number_ = number;
  }
  int Calls(Op op) const;
  int TotalCalls() const;
  // Whether the failure was injected.
  bool Fired() const { return fired_; }
  // Every operation called, in order (the failed one included).
  const std::vector<Op>& Trace() const { return trace_; }
  // Files opened through this platform and still open.
  int OpenFiles() const { return open_files_; }

  std::vector<Text> Lookup(TextView pattern, LookupKind kind) override;
  void DeleteFile(TextView path) override;
  void Rename(TextView from, TextView to) override;
  void CopyFile(TextView from, TextView to) override;
  void ReplaceFile(TextView from, TextView to) override;
  void CreateFolder(TextView path) override;
  std::unique_ptr<WritableFile> NewWritableFile(TextView path,
                                                FileAccess access) override;
  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override;
  std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) override;
  void StartProcess(TextView command_line, WindowStyle style) override;

  // Counts a call of `op`; throws when it is the one to fail.
  void Tick(Op op);
  void FileOpened() { ++open_files_; }
  void FileClosed() { --open_files_; }

 private:
  Op op_ = Op::kLookup;
  int nth_ = 0;  // 0: never fail
  int number_ = 0;
  bool fired_ = false;
  int open_files_ = 0;
  int total_calls_ = 0;
  std::map<Op, int> calls_;
  std::vector<Op> trace_;
};

}  // namespace pellar::testing

#endif  // PELLAR_TESTING_TEST_SUPPORT_H_
