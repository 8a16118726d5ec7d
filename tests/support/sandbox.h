// A platform that confines the library to one folder, for fuzzing and for
// calls with arbitrary arguments: nothing outside the folder can be
// created, changed, deleted or read, and no program is ever started.
#ifndef PELLAR_TESTING_SANDBOX_H_
#define PELLAR_TESTING_SANDBOX_H_

#include <cstdint>
#include <string>
#include <vector>

#include <pellar/base/text.h>
#include <pellar/platform/platform.h>

namespace pellar::testing {

class SandboxPlatform : public ForwardingPlatform {
 public:
  // `root` must be an existing folder; relative paths are resolved against
  // the process's working folder, which need not be `root`.
  explicit SandboxPlatform(const std::string& root,
                           Platform& target = Platform::Default());

  const std::string& root() const { return root_; }
  // What PhysicalMemory() reports: small, so that the work areas a call
  // may ask for stay small too.
  uint64_t physical_memory = uint64_t{64} << 20;
  // Command lines StartProcess was given (the last few) and their count.
  std::vector<Text> started;
  int start_count = 0;

  // Paths outside the root fail with 70 "Permission denied"; a lookup
  // there finds nothing.
  std::vector<Text> Lookup(TextView pattern, LookupKind kind) override;
  void DeleteFile(TextView path) override;
  void Rename(TextView from, TextView to) override;
  void CopyFile(TextView from, TextView to) override;
  void ReplaceFile(TextView from, TextView to) override;
  void CheckReplaceable(TextView path) override;
  bool SameFile(TextView a, TextView b) override;
  void ForceDeleteFile(TextView path) override;
  void CreateFolder(TextView path) override;
  void DeleteEmptyFolder(TextView path) override;
  void DeleteFolderTree(TextView path, bool force) override;
  std::vector<FolderEntry> ListFolder(TextView folder) override;
  EntryStatus Status(TextView path) override;
  std::unique_ptr<WritableFile> NewWritableFile(TextView path,
                                                FileAccess access) override;
  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override;
  std::unique_ptr<SequentialFile> NewSequentialFile(TextView path) override;
  // Checks the command line as the real platform does (53 without a
  // program, 52 for a NUL), records it and starts nothing.
  void StartProcess(TextView command_line, WindowStyle style) override;
  // Recorded as StartProcess records it, never run; answers status 0.
  int RunProcess(TextView command_line) override;
  Text TempFolder() override;
  Text ModuleFolder() override;
  uint64_t PhysicalMemory() override { return physical_memory; }

  // Whether `path` lies inside the root (the root itself included).
  bool Inside(TextView path) const;

 private:
  enum class Access { kChange, kOpen };
  // Throws 70 unless `path` may be used that way. Empty paths and paths
  // holding NUL pass: the real platform rejects them itself.
  void Check(TextView path, Access access) const;

  std::string root_;
};

}  // namespace pellar::testing

#endif  // PELLAR_TESTING_SANDBOX_H_
