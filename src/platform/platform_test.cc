// Contract tests run against every platform implementation that builds
// here, so the implementations cannot drift apart.
//
// The contract is one; a few facts differ by system and have a variant per
// platform here (never in the library): what makes an entry hidden, how
// rights are taken away, and what a program to start looks like.
#include <pellar/platform/platform.h>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// The platform's methods carry the names of these macros.
#undef DeleteFile
#undef CopyFile
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>

#include <pellar/base/failure.h>
#include <pellar/io/textfile.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WaitUntil;
using testing::WriteBytes;

void MakeFolder(const std::string& path) {
  std::filesystem::create_directory(path);
}

#ifdef _WIN32
constexpr bool kWindows = true;
// On Windows the hidden and system attributes hide an entry, so the
// entries below have ordinary names. (A leading "." is an ordinary name on
// Windows, but Wine hides such names too, as POSIX does.)
std::string Hidden(std::string_view name) { return std::string(name); }
void MakeHidden(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
}
void MakeSystem(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_SYSTEM);
}
#else
constexpr bool kWindows = false;
// On POSIX a leading "." hides an entry.
std::string Hidden(std::string_view name) { return "." + std::string(name); }
void MakeHidden(const std::string&) {}
void MakeSystem(const std::string&) {}
#endif

// What a started program wrote to `name` in `dir` once it let the test
// know, by creating `marker` after closing that file, that the file is
// complete; "<nothing>" when the marker did not come.
std::string AwaitOutput(const TempDir& dir, std::string_view name,
                        std::string_view marker) {
  const std::string done = dir.Path(marker);
  if (!WaitUntil([&] { return PathExists(done); })) return "<nothing>";
  return ReadBytes(dir.Path(name));
}

using ::pellar::testing::FailureOf;

class PlatformContractTest : public ::testing::TestWithParam<Platform*> {
 protected:
  void SetUp() override {
    WriteBytes(dir_.Path("a.txt"), "a");
    WriteBytes(dir_.Path("b.txt"), "b");
    WriteBytes(dir_.Path("c.log"), "c");
    WriteBytes(dir_.Path(Hidden("hidden.txt")), "h");
    MakeHidden(dir_.Path(Hidden("hidden.txt")));
    WriteBytes(dir_.Path(Hidden("system.txt")), "s");
    MakeSystem(dir_.Path(Hidden("system.txt")));
    MakeFolder(dir_.Path("sub"));
    MakeFolder(dir_.Path(Hidden("hiddendir")));
    MakeHidden(dir_.Path(Hidden("hiddendir")));
  }

  Platform& platform() { return *GetParam(); }
  Text P(std::string_view name) { return dir_.TextPath(name); }
  std::vector<Text> Names(TextView pattern, LookupKind kind) {
    std::vector<Text> names = platform().Lookup(pattern, kind);
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
};

TEST_P(PlatformContractTest, FileLookupMatchesOrdinaryFilesOnly) {
  EXPECT_EQ(Names(P("a.txt"), LookupKind::kFile),
            std::vector<Text>{P("a.txt")});
  EXPECT_TRUE(Names(P("sub"), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P(Hidden("hidden.txt")), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P(Hidden("system.txt")), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P("missing"), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P("nofolder/a.txt"), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P("a.txt/x"), LookupKind::kFile).empty());
  if (!kWindows) {
    EXPECT_TRUE(Names(u"/dev/null", LookupKind::kFile).empty());
  }
}

TEST_P(PlatformContractTest, FolderLookupMatchesFoldersAndFiles) {
  EXPECT_EQ(Names(P("sub"), LookupKind::kFolder), std::vector<Text>{P("sub")});
  EXPECT_EQ(Names(P("a.txt"), LookupKind::kFolder).size(), 1u);
  EXPECT_TRUE(Names(P(Hidden("hiddendir")), LookupKind::kFolder).empty());
  EXPECT_EQ(Names(dir_.text() + u"/", LookupKind::kFolder).size(), 1u);
}

TEST_P(PlatformContractTest, WildcardsInTheLastComponent) {
  EXPECT_EQ(Names(P("*.txt"), LookupKind::kFile),
            (std::vector<Text>{P("a.txt"), P("b.txt")}));
  EXPECT_EQ(Names(P("?.log"), LookupKind::kFile),
            std::vector<Text>{P("c.log")});
  EXPECT_EQ(Names(P("*.*"), LookupKind::kFile).size(), 3u);
  EXPECT_EQ(Names(P("*"), LookupKind::kFolder).size(), 4u);  // + sub
  EXPECT_TRUE(Names(P("*.doc"), LookupKind::kFile).empty());
  EXPECT_TRUE(Names(P("nofolder/*"), LookupKind::kFile).empty());
}

TEST_P(PlatformContractTest, ErrorsMapOntoAutomationNumbers) {
  EXPECT_EQ(FailureOf([&] { platform().NewSequentialFile(P("none")); }),
            error::kFileNotFound);
  EXPECT_EQ(FailureOf([&] { platform().NewWritableFile(P("no/x"), {}); }),
            error::kPathNotFound);
  EXPECT_EQ(FailureOf([&] { platform().NewWritableFile(P("sub"), {}); }),
            error::kPathFileAccess);
  EXPECT_EQ(FailureOf([&] { platform().NewSequentialFile(P("sub")); }),
            error::kPathFileAccess);
  EXPECT_EQ(FailureOf([&] { platform().DeleteFile(P("none")); }),
            error::kFileNotFound);
  EXPECT_EQ(FailureOf([&] { platform().CreateFolder(P("x/y")); }),
            error::kPathNotFound);
  EXPECT_EQ(FailureOf([&] { platform().CreateFolder(P("sub")); }),
            error::kPathFileAccess);
  EXPECT_EQ(FailureOf([&] { platform().Rename(P("a.txt"), P("b.txt")); }),
            error::kFileExists);
  EXPECT_EQ(
      FailureOf([&] { platform().NewWritableFile(Text(u"a\0b", 3), {}); }),
      error::kBadFileName);
}

#ifndef _WIN32
// Nodes of the test's own, never the machine's: a writer must fill them
// without replacing them or changing their mode.
TEST_P(PlatformContractTest, DevicesAreWrittenNeverReplacedOrChanged) {
  const std::string full = dir_.Path("full");
  if (::geteuid() != 0 ||
      ::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) != 0) {
    GTEST_SKIP() << "device nodes cannot be made here";
  }
  ::chmod(full.c_str(), 0666);
  EXPECT_EQ(FailureOf([&] {
              auto f = platform().NewWritableFile(P("full"), {});
              f->Append("x");
              f->Close();
            }),
            error::kDiskFull);
  for (FileAccess access : {FileAccess::kReplace, FileAccess::kPrivate,
                            FileAccess::kPrivateExecutable}) {
    EXPECT_EQ(FailureOf([&] { platform().NewWritableFile(P("full"), access); }),
              error::kPathFileAccess);
  }
  struct stat st;
  ASSERT_EQ(::lstat(full.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0666u);
}
#endif

#ifdef _WIN32
TEST_P(PlatformContractTest, ReadOnlyFilesArePermissionDenied) {
  WriteBytes(dir_.Path("ro.txt"), "r");
  ::SetFileAttributesA(dir_.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE probe = ::CreateFileA(dir_.Path("ro.txt").c_str(), GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    ::SetFileAttributesA(dir_.Path("ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "the read-only attribute is not enforced here (Wine "
                    "running as root)";
  }
  EXPECT_EQ(FailureOf([&] { platform().NewWritableFile(P("ro.txt"), {}); }),
            error::kPermissionDenied);
  EXPECT_EQ(FailureOf([&] { platform().DeleteFile(P("ro.txt")); }),
            error::kPermissionDenied);
  EXPECT_EQ(FailureOf([&] { platform().ReplaceFile(P("a.txt"), P("ro.txt")); }),
            error::kPermissionDenied);
  EXPECT_EQ(ReadBytes(dir_.Path("ro.txt")), "r");
  ::SetFileAttributesA(dir_.Path("ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}
#else
TEST_P(PlatformContractTest, NoRightsIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root bypasses file modes";
  ::mkdir(dir_.Path("ro").c_str(), 0555);
  EXPECT_EQ(FailureOf([&] { platform().NewWritableFile(P("ro/x"), {}); }),
            error::kPermissionDenied);
}
#endif

TEST_P(PlatformContractTest, ReplaceFileSwapsInTheNewContent) {
  platform().ReplaceFile(P("a.txt"), P("b.txt"));
  EXPECT_EQ(ReadBytes(dir_.Path("b.txt")), "a");
  EXPECT_FALSE(PathExists(dir_.Path("a.txt")));
  platform().ReplaceFile(P("b.txt"), P("new.txt"));
  EXPECT_EQ(ReadBytes(dir_.Path("new.txt")), "a");
  EXPECT_EQ(FailureOf([&] { platform().ReplaceFile(P("c.log"), P("sub")); }),
            error::kPathFileAccess);
  EXPECT_EQ(ReadBytes(dir_.Path("c.log")), "c");
}

TEST_P(PlatformContractTest, SameFileComparesFilesNotSpellings) {
  EXPECT_TRUE(platform().SameFile(P("a.txt"), P("sub/../a.txt")));
  EXPECT_FALSE(platform().SameFile(P("a.txt"), P("b.txt")));
  EXPECT_FALSE(platform().SameFile(P("a.txt"), P("missing")));
}

TEST_P(PlatformContractTest, ReadersKnowTheSizeTheFileHadWhenOpened) {
  WriteBytes(dir_.Path("sized.txt"), std::string(70000, 'x'));
  auto file = platform().NewSequentialFile(P("sized.txt"));
  EXPECT_EQ(file->SizeHint(), 70000u);
  char buffer[100];
  EXPECT_EQ(file->Read(buffer, sizeof buffer), sizeof buffer);
  EXPECT_EQ(file->SizeHint(), 70000u);
  EXPECT_EQ(platform().NewSequentialFile(P("a.txt"))->SizeHint(), 1u);
}

TEST_P(PlatformContractTest, RenameCopyDeleteAndCreateFolder) {
  platform().Rename(P("a.txt"), P("sub/moved.txt"));
  EXPECT_EQ(ReadBytes(dir_.Path("sub/moved.txt")), "a");
  EXPECT_FALSE(PathExists(dir_.Path("a.txt")));
  platform().CopyFile(P("b.txt"), P("c.log"));
  EXPECT_EQ(ReadBytes(dir_.Path("c.log")), "b");
  platform().DeleteFile(P("b.txt"));
  EXPECT_FALSE(PathExists(dir_.Path("b.txt")));
  platform().CreateFolder(P("new"));
  EXPECT_EQ(Names(P("new"), LookupKind::kFolder).size(), 1u);
}

TEST_P(PlatformContractTest, ListFolderGivesEveryEntryWithItsKindByName) {
  std::vector<Text> names;
  for (const FolderEntry& entry : platform().ListFolder(dir_.text())) {
    names.push_back(entry.name);
    const bool folder =
        entry.name == u"sub" || entry.name.find(u"hiddendir") != Text::npos;
    EXPECT_EQ(entry.kind, folder ? EntryKind::kFolder : EntryKind::kFile)
        << ToUtf8(entry.name);
  }
  // Hidden entries too, in the order of the names' code units.
  std::vector<Text> expected = {u"a.txt", u"b.txt", u"c.log", u"sub"};
  for (const char* name : {"hidden.txt", "system.txt", "hiddendir"}) {
    expected.push_back(FromUtf8(Hidden(name)));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(platform().ListFolder(P("sub")).empty());
  EXPECT_EQ(FailureOf([&] { platform().ListFolder(P("missing")); }),
            error::kPathNotFound);
  EXPECT_EQ(FailureOf([&] { platform().ListFolder(P("a.txt")); }),
            error::kPathNotFound);
}

TEST_P(PlatformContractTest, StatusGivesKindSizeAndLocalTimes) {
  WriteBytes(dir_.Path("sub/big.bin"), std::string(70000, 'x'));
  const EntryStatus file = platform().Status(P("sub/big.bin"));
  EXPECT_EQ(file.kind, EntryKind::kFile);
  EXPECT_EQ(file.size, 70000u);
  // Just written: today's date, in local time as LocalTime() gives it.
  const LocalDateTime now = platform().LocalTime();
  for (const LocalDateTime& t : {file.modified, file.created}) {
    EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day,
              now.year * 10000 + now.month * 100 + now.day);
  }
  const EntryStatus folder = platform().Status(P("sub"));
  EXPECT_EQ(folder.kind, EntryKind::kFolder);
  EXPECT_EQ(folder.size, 0u);
  EXPECT_EQ(FailureOf([&] { platform().Status(P("missing")); }),
            error::kFileNotFound);
  EXPECT_EQ(FailureOf([&] { platform().Status(P("missing/x")); }),
            error::kPathNotFound);
}

TEST_P(PlatformContractTest, DeleteEmptyFolderRemovesOnlyEmptyFolders) {
  WriteBytes(dir_.Path("sub/x"), "x");
  EXPECT_EQ(FailureOf([&] { platform().DeleteEmptyFolder(P("sub")); }),
            error::kPathFileAccess);
  EXPECT_EQ(FailureOf([&] { platform().DeleteEmptyFolder(P("missing")); }),
            error::kPathNotFound);
  EXPECT_EQ(FailureOf([&] { platform().DeleteEmptyFolder(P("a.txt")); }),
            error::kPathNotFound);
  EXPECT_TRUE(PathExists(dir_.Path("a.txt")));
  platform().DeleteFile(P("sub/x"));
  platform().DeleteEmptyFolder(P("sub"));
  EXPECT_FALSE(PathExists(dir_.Path("sub")));
}

TEST_P(PlatformContractTest, DeleteFolderTreeTakesEverythingBelow) {
  MakeFolder(dir_.Path("sub/deeper"));
  WriteBytes(dir_.Path("sub/deeper/x.txt"), "x");
  WriteBytes(dir_.Path(std::string("sub/") + Hidden("h.txt")), "h");
  platform().DeleteFolderTree(P("sub"), false);
  EXPECT_FALSE(PathExists(dir_.Path("sub")));
  EXPECT_EQ(FailureOf([&] { platform().DeleteFolderTree(P("sub"), false); }),
            error::kPathNotFound);
  EXPECT_EQ(FailureOf([&] { platform().DeleteFolderTree(P("a.txt"), true); }),
            error::kPathNotFound);
  EXPECT_TRUE(PathExists(dir_.Path("a.txt")));
}

#ifndef _WIN32
TEST_P(PlatformContractTest, DeleteFolderTreeNeverEntersLinks) {
  TempDir outside;
  WriteBytes(outside.Path("keep.txt"), "k");
  MakeFolder(dir_.Path("sub/deeper"));
  ASSERT_EQ(::symlink(outside.path().c_str(), dir_.Path("sub/deeper/out").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), dir_.Path("link").c_str()), 0);
  platform().DeleteFolderTree(P("link"), true);
  EXPECT_FALSE(PathExists(dir_.Path("link")));
  WriteBytes(dir_.Path("sub/ro.txt"), "r");
  ::chmod(dir_.Path("sub/ro.txt").c_str(), 0444);
  EXPECT_EQ(FailureOf([&] { platform().DeleteFolderTree(P("sub"), false); }),
            error::kPermissionDenied);
  EXPECT_TRUE(PathExists(dir_.Path("sub/ro.txt")));
  platform().DeleteFolderTree(P("sub/"), true);
  EXPECT_FALSE(PathExists(dir_.Path("sub")));
  EXPECT_EQ(ReadBytes(outside.Path("keep.txt")), "k");
}
#endif

TEST_P(PlatformContractTest, ForceDeleteFileTakesReadOnlyFilesToo) {
  WriteBytes(dir_.Path("ro.txt"), "r");
#ifdef _WIN32
  ::SetFileAttributesA(dir_.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
#else
  ::chmod(dir_.Path("ro.txt").c_str(), 0444);
  EXPECT_EQ(FailureOf([&] { platform().DeleteFile(P("ro.txt")); }),
            error::kPermissionDenied);
#endif
  platform().ForceDeleteFile(P("ro.txt"));
  EXPECT_FALSE(PathExists(dir_.Path("ro.txt")));
  EXPECT_EQ(FailureOf([&] { platform().ForceDeleteFile(P("ro.txt")); }),
            error::kFileNotFound);
}

TEST_P(PlatformContractTest, CurrentFolderIsTheWorkingFolder) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const Text here = platform().CurrentFolder();
  std::filesystem::current_path(before);
  EXPECT_TRUE(platform().SameFile(here, dir_.text())) << ToUtf8(here);
  EXPECT_NE(here.back(), platform().Separator());
}

#ifndef _WIN32
// Links are entries of their own: listed and reported as links, removed
// without their target. (Making links on Windows needs a privilege.)
TEST_P(PlatformContractTest, LinksAreEntriesOfTheirOwn) {
  TempDir outside;
  WriteBytes(outside.Path("keep.txt"), "k");
  ASSERT_EQ(::symlink(outside.path().c_str(), dir_.Path("sub/out").c_str()), 0);
  ASSERT_EQ(::symlink(outside.Path("keep.txt").c_str(),
                      dir_.Path("sub/file").c_str()),
            0);
  std::vector<FolderEntry> entries = platform().ListFolder(P("sub"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, EntryKind::kLink);
  EXPECT_EQ(entries[1].kind, EntryKind::kLink);
  EXPECT_EQ(platform().Status(P("sub/out")).kind, EntryKind::kLink);
  EXPECT_EQ(FailureOf([&] { platform().DeleteEmptyFolder(P("sub/out")); }),
            error::kPathNotFound);
  platform().DeleteFile(P("sub/out"));
  platform().ForceDeleteFile(P("sub/file"));
  EXPECT_TRUE(platform().ListFolder(P("sub")).empty());
  EXPECT_EQ(ReadBytes(outside.Path("keep.txt")), "k");
}
#endif

TEST_P(PlatformContractTest, SaveDeletesTheOlderFileThenCreates) {
  // A second name of the older file shows whether it was deleted (the
  // second name keeps its bytes) or written in place.
  std::filesystem::create_hard_link(dir_.Path("a.txt"), dir_.Path("link"));
  SaveStep step = SaveStep::kDeleteOld;
  auto file = platform().CreateForSave(P("a.txt"), FileAccess::kNormal, &step);
  EXPECT_EQ(step, SaveStep::kCreate);
  file->Append("new");
  file->Close();
  EXPECT_EQ(ReadBytes(dir_.Path("a.txt")), "new");
  EXPECT_EQ(ReadBytes(dir_.Path("link")), "a");
  step = SaveStep::kDeleteOld;
  EXPECT_EQ(FailureOf([&] {
              platform().CreateForSave(P("nofolder/x"), FileAccess::kNormal,
                                       &step);
            }),
            error::kPathNotFound);
  EXPECT_EQ(step, SaveStep::kCreate);
#ifndef _WIN32
  // A hidden older file is replaced too; a read-only one stays.
  std::filesystem::create_hard_link(dir_.Path(Hidden("hidden.txt")),
                                    dir_.Path("hidden-link"));
  platform()
      .CreateForSave(P(Hidden("hidden.txt")), FileAccess::kNormal)
      ->Close();
  EXPECT_EQ(ReadBytes(dir_.Path(Hidden("hidden.txt"))), "");
  EXPECT_EQ(ReadBytes(dir_.Path("hidden-link")), "h");
  ::chmod(dir_.Path("c.log").c_str(), 0444);
  EXPECT_EQ(FailureOf([&] {
              platform().CreateForSave(P("c.log"), FileAccess::kNormal, &step);
            }),
            error::kPermissionDenied);
  EXPECT_EQ(step, SaveStep::kDeleteOld);
  EXPECT_EQ(ReadBytes(dir_.Path("c.log")), "c");
#endif
}

#ifndef _WIN32
// What another user left at a save's name in a shared folder: an older
// file keeps its owner and mode; a link to a folder is neither followed nor
// replaced. That user in turn may not replace root's file in a sticky one.
TEST_P(PlatformContractTest, SavesKeepTheOlderOwnerAndModeAndRespectOthers) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  ::chmod(dir_.path().c_str(), 01777);
  const std::string theirs = dir_.Path("theirs.csv");
  ASSERT_EQ(testing::WaitForChild(testing::StartAsOtherUser([&] {
              ::umask(0);
              WriteBytes(theirs, "old");
              ::chmod(theirs.c_str(), 0664);
              ::symlink("sub", dir_.Path("folder.csv").c_str());
              SaveStep step = SaveStep::kCreate;
              if (FailureOf([&] {
                    platform().CreateForSave(P("a.txt"), {}, &step);
                  }) != error::kPermissionDenied ||
                  step != SaveStep::kDeleteOld) {
                throw 1;
              }
            })),
            0);
  auto file = platform().CreateForSave(P("theirs.csv"), FileAccess::kNormal);
  file->Append("new");
  file->Close();
  EXPECT_EQ(ReadBytes(theirs), "new");
  struct stat st;
  ASSERT_EQ(::lstat(theirs.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, static_cast<uid_t>(testing::kOtherUser));
  EXPECT_EQ(st.st_gid, static_cast<gid_t>(testing::kOtherUser));
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  EXPECT_EQ(FailureOf([&] {
              platform().CreateForSave(P("folder.csv"), FileAccess::kNormal);
            }),
            error::kPathFileAccess);
  ASSERT_EQ(::lstat(dir_.Path("folder.csv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(RenameNoReplaceTest, NeverReplacesAndKeepsTheRenamesOwnAnswer) {
  TempDir dir;
  WriteBytes(dir.Path("a"), "a");
  WriteBytes(dir.Path("b"), "b");
  MakeFolder(dir.Path("sub"));
  auto rename = [&](const char* from, const char* to) {
    errno = 0;
    return RenameNoReplace(AT_FDCWD, dir.Path(from).c_str(), AT_FDCWD,
                           dir.Path(to).c_str()) == 0
               ? 0
               : errno;
  };
  EXPECT_EQ(rename("a", "b"), EEXIST);
  EXPECT_EQ(rename("a", "c"), 0);
  EXPECT_EQ(ReadBytes(dir.Path("b")) + ReadBytes(dir.Path("c")), "ba");
  // A folder into itself is invalid, and no link stands in for it.
  EXPECT_EQ(rename("sub", "sub/in"), EINVAL);
}
#endif

TEST_P(PlatformContractTest, PrivateFilesAreOwnerOnly) {
  platform().NewWritableFile(P("secret"), FileAccess::kPrivate)->Close();
  platform()
      .NewWritableFile(P("script"), FileAccess::kPrivateExecutable)
      ->Close();
  EXPECT_TRUE(PathExists(dir_.Path("secret")));
  if (kWindows) return;  // Windows keeps its own rights on new files
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(::stat(dir_.Path("secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(dir_.Path("script").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif
}

TEST_P(PlatformContractTest, EnvironmentFacts) {
  Text temp = platform().TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), platform().Separator());
  LocalDateTime now = platform().LocalTime();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_EQ(platform().MonthAbbreviation(1).size(), 3u);
  EXPECT_GT(platform().PhysicalMemory(), 0u);
  EXPECT_FALSE(platform().ModuleFolder().empty());
}

#ifdef _WIN32
TEST_P(PlatformContractTest, StartsABatchFileWithoutWaiting) {
  // The batch file waits for a "go" file beside it (ping pauses a second
  // between looks; it gives up after about five minutes or once its folder
  // is gone), writes its arguments beside itself, then "done.txt" last. So
  // the call cannot have waited for it when "out.txt" is still missing.
  WriteBytes(dir_.Path("args.bat"),
             "@echo off\r\nset n=0\r\n:wait\r\n"
             "if not exist \"%~dp0args.bat\" exit /b 1\r\n"
             "if exist \"%~dp0go\" goto write\r\n"
             "set /a n+=1\r\nif %n% geq 300 goto write\r\n"
             "ping -n 2 127.0.0.1 >nul\r\ngoto wait\r\n:write\r\n"
             "echo [%~1][%~2]>\"%~dp0out.txt\"\r\n"
             "echo done>\"%~dp0done.txt\"\r\n");
  for (WindowStyle style :
       {WindowStyle::kMinimizedNoFocus, WindowStyle::kMinimizedWithFocus}) {
    for (const char* name : {"go", "out.txt", "done.txt"}) {
      std::filesystem::remove(dir_.Path(name));
    }
    platform().StartProcess(u"\"" + P("args.bat") + u"\" one \"two words\"",
                            style);
    EXPECT_FALSE(PathExists(dir_.Path("out.txt")));
    WriteBytes(dir_.Path("go"), "");
    EXPECT_EQ(AwaitOutput(dir_, "out.txt", "done.txt"), "[one][two words]\r\n");
  }
}

TEST_P(PlatformContractTest, StartingWhatCannotRunFails) {
  WriteBytes(dir_.Path("plain.txt"), "x");
  EXPECT_EQ(FailureOf([&] {
              platform().StartProcess(P("none.exe"),
                                      WindowStyle::kMinimizedNoFocus);
            }),
            error::kFileNotFound);
  EXPECT_EQ(FailureOf([&] {
              platform().StartProcess(P("plain.txt"),
                                      WindowStyle::kMinimizedNoFocus);
            }),
            error::kInvalidCall);
}

TEST_P(PlatformContractTest, RunsAProgramToItsEndAndAnswersItsStatus) {
  // The batch file writes its arguments, then ends with status 7: the call
  // has waited when both are there.
  WriteBytes(dir_.Path("status.bat"),
             "@echo [%~1][%~2]>\"%~dp0out.txt\"\r\n@exit /b 7\r\n");
  EXPECT_EQ(platform().RunProcess(u"cmd /c \"\"" + P("status.bat") +
                                  u"\" one \"two words\"\""),
            7);
  EXPECT_EQ(ReadBytes(dir_.Path("out.txt")), "[one][two words]\r\n");
  EXPECT_EQ(FailureOf([&] { platform().RunProcess(P("none.exe")); }),
            error::kFileNotFound);
}

// Windows-only facts: backslashes, case-blind names, the folder of the
// running module.
TEST_P(PlatformContractTest, WindowsPathForms) {
  Text backslashed = dir_.text();
  std::replace(backslashed.begin(), backslashed.end(), u'/', u'\\');
  EXPECT_EQ(
      Names(backslashed + u"\\*.txt", LookupKind::kFile),
      (std::vector<Text>{backslashed + u"\\a.txt", backslashed + u"\\b.txt"}));
  EXPECT_EQ(Names(backslashed + u"\\", LookupKind::kFolder).size(), 1u);
  EXPECT_EQ(Names(P("A.TXT"), LookupKind::kFile).size(), 1u);
  // Devices: text may go to NUL, nothing is read from one.
  platform().NewWritableFile(u"NUL", {})->Close();
  EXPECT_EQ(FailureOf([&] { platform().NewSequentialFile(u"NUL"); }),
            error::kPathFileAccess);
  EXPECT_EQ(platform().Separator(), u'\\');
  Text module = platform().ModuleFolder();
  EXPECT_NE(module.back(), u'\\');
  EXPECT_EQ(module.find(u'/'), Text::npos);
}
#else
TEST_P(PlatformContractTest, StartsAProcessWithoutWaitingOrZombies) {
  // The script waits for a "go" file beside it (giving up after about five
  // minutes or once its folder is gone), then writes its arguments and
  // "done" last: the call did not wait for it when "out.txt" is missing.
  std::string script = dir_.Path("args.sh");
  WriteBytes(
      script,
      "#!/bin/sh\ndir=$(dirname \"$0\")\ni=0\n"
      "while [ -d \"$dir\" ] && [ ! -e \"$dir/go\" ] && "
      "[ $i -lt 6000 ]; do sleep 0.05; i=$((i+1)); done\n"
      "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$dir/out.txt\"\n"
      ": > \"$dir/done\"\n");
  ::chmod(script.c_str(), 0755);
  platform().StartProcess(
      u"\"" + FromUtf8(script) + u"\" one \"two words\" a\\\"b",
      WindowStyle::kMinimizedWithFocus);
  EXPECT_FALSE(PathExists(dir_.Path("out.txt")));
  WriteBytes(dir_.Path("go"), "");
  EXPECT_EQ(AwaitOutput(dir_, "out.txt", "done"), "[one][two words][a\"b]");
  // The process was not our child: nothing is left to reap.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_P(PlatformContractTest, RunsAProgramToItsEndAndAnswersItsStatus) {
  // The program is found on the search path, its arguments split as
  // StartProcess splits them, and its status answered once it has ended
  // (a signal's number counts from 128, as shells count it).
  const Text out = FromUtf8(dir_.Path("out.txt"));
  EXPECT_EQ(platform().RunProcess(
                u"sh -c \"printf '[%s]' \\\"$@\\\" > '" + out +
                u"'; exit 7\" sh one \"two words\""),
            7);
  EXPECT_EQ(ReadBytes(dir_.Path("out.txt")), "[one][two words]");
  EXPECT_EQ(platform().RunProcess(u"sh -c \"kill -TERM $$\""), 128 + SIGTERM);
  EXPECT_EQ(platform().RunProcess(u"true"), 0);
  EXPECT_EQ(FailureOf([&] { platform().RunProcess(P("none")); }),
            error::kFileNotFound);
  // Nothing is left to reap.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_P(PlatformContractTest, StartingWhatCannotRunFails) {
  WriteBytes(dir_.Path("plain.txt"), "x");
  EXPECT_EQ(FailureOf([&] {
              platform().StartProcess(P("none"),
                                      WindowStyle::kMinimizedNoFocus);
            }),
            error::kFileNotFound);
  if (::geteuid() != 0) {
    EXPECT_EQ(FailureOf([&] {
                platform().StartProcess(P("plain.txt"),
                                        WindowStyle::kMinimizedNoFocus);
              }),
              error::kPermissionDenied);
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(Default, PlatformContractTest,
                         ::testing::Values(&Platform::Default()),
                         [](const auto&) { return "Default"; });

#ifdef _WIN32
TEST(MonthTest, EnglishLocaleGivesEnglishAbbreviations) {
  if (PRIMARYLANGID(LANGIDFROMLCID(::GetUserDefaultLCID())) != LANG_ENGLISH) {
    GTEST_SKIP() << "the user's locale is not English";
  }
#else
TEST(MonthTest, CLocaleGivesEnglishAbbreviations) {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(var);
    if (value == nullptr || *value == '\0') continue;
    std::string v = value;
    if (v != "C" && v != "POSIX" && v.rfind("C.", 0) != 0) {
      GTEST_SKIP() << "a non-C locale is set: " << v;
    }
    break;  // the first one set decides
  }
#endif
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(ToUtf8(Platform::Default().MonthAbbreviation(m)), months[m - 1]);
  }
}

struct SplitCase {
  const char16_t* line;
  std::vector<Text> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, FollowsWindowsRules) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    ::testing::Values(SplitCase{u"", {}}, SplitCase{u"prog", {u"prog"}},
                      SplitCase{
                          u"\"C:\\Mail Tools\\mail.exe\" C:\\Out Box",
                          {u"C:\\Mail Tools\\mail.exe", u"C:\\Out", u"Box"}},
                      SplitCase{u"  a   b\tc  ", {u"a", u"b", u"c"}},
                      SplitCase{u"p \"x y\" z", {u"p", u"x y", u"z"}},
                      SplitCase{u"p a\\\\b", {u"p", u"a\\\\b"}},
                      SplitCase{u"p a\\\"b", {u"p", u"a\"b"}},
                      SplitCase{u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
                      SplitCase{u"p \"a\"\"b\"", {u"p", u"a\"b"}},
                      SplitCase{u"p \"\"", {u"p", u""}},
                      SplitCase{u"c:\\dir\\p\\ x", {u"c:\\dir\\p\\", u"x"}}));

class TextFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(TextFileTest, WriterConvertsAndEndsLinesWithCrLf) {
  TextWriter writer = TextWriter::Create(dir_.TextPath("out.txt"));
  writer.WriteLine(u"\u20ACuro \u0416");
  writer.WriteLine(u"");
  writer.Close();
  EXPECT_EQ(ReadBytes(dir_.Path("out.txt")), "\x80uro ?\r\n\r\n");
}

}  // namespace
}  // namespace pellar
