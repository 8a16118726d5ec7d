// The workbook file itself: the fresh file a run writes beside it and the
// lock that makes two runs on one workbook take turns.
#ifndef PELLAR_SHEET_WORKBOOK_FILE_H_
#define PELLAR_SHEET_WORKBOOK_FILE_H_

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace pellar::sheet {

// A fresh file beside `path`, removed again unless kept.
class TempFile {
 public:
  explicit TempFile(const std::filesystem::path& path);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Renames the file into place with the owner, group and mode of the
  // workbook it replaces (`was`), so that its owner can still save it. A
  // user who may not give the file away keeps what of it they may.
  [[nodiscard]] std::string Keep(const std::string& target,
                                 const struct stat& was);
  // As Keep, but never over a file at `target`: answers kAppeared when
  // there is one.
  [[nodiscard]] std::string KeepNew(const std::string& target, mode_t mode);
  static constexpr std::string_view kAppeared =
      "appeared while this run made it";

 private:
  int fd_ = -1;
  std::string path_;
};

// An exclusive lock on an existing workbook while it is updated: two runs
// on one workbook take turns instead of the later rename dropping the
// earlier run's cells. A run that waited finds the workbook replaced by the
// run before it, and locks and updates that one.
class WorkbookLock {
 public:
  WorkbookLock() = default;
  WorkbookLock(const WorkbookLock&) = delete;
  WorkbookLock& operator=(const WorkbookLock&) = delete;
  ~WorkbookLock() { Release(); }

  // Answers "" once the workbook at `path` is locked, with what it is in
  // `*st`, or why not (to follow the workbook's name). Refuses a link, a
  // special file and a file this user may not write.
  [[nodiscard]] std::string Lock(const std::filesystem::path& path,
                                 int timeout_seconds, struct stat* st);

 private:
  void Release();
  int fd_ = -1;
};

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_WORKBOOK_FILE_H_
