// File and Folder against the real file system in a temporary folder, with
// failures injected where the system will not fail on demand.
#include <pellar/files/file.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/files/folder.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// a.txt, b.txt, sub/ with c.txt, and the hidden .h.txt and .hdir/.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_.Path("a.txt"), "alpha");
    WriteBytes(dir_.Path("b.txt"), "beta");
    WriteBytes(dir_.Path(".h.txt"), "hidden");
    ::mkdir(dir_.Path("sub").c_str(), 0777);
    ::mkdir(dir_.Path(".hdir").c_str(), 0777);
    WriteBytes(dir_.Path("sub/c.txt"), "gamma");
  }

  Text P(std::string_view name) { return dir_.TextPath(name); }
  std::string Bytes(std::string_view name) {
    return ReadBytes(dir_.Path(name));
  }
  bool Has(std::string_view name) { return PathExists(dir_.Path(name)); }
  // Every entry of the folder (hidden ones too), sorted.
  std::vector<std::string> Entries(std::string_view folder = "") {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir_.Path(folder))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  File file_;
  Folder folder_;
};

// One call of either class by name; the arguments are names in the test
// folder ("" stays empty), and "@" in the answer stands for the folder.
struct MessageCase {
  const char* call;
  const char* from;
  const char* to;
  const char* answer;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
  *os << c.call << "(\"" << c.from << "\", \"" << c.to << "\")";
}

class FilesMessageTest : public FilesTest,
                         public ::testing::WithParamInterface<MessageCase> {
 protected:
  Text Arg(const char* name) { return *name ? P(name) : Text(); }
  Text Call(const MessageCase& c) {
    Text from = Arg(c.from), to = Arg(c.to);
    const std::string call = c.call;
    if (call == "File.Delete") return file_.Delete(from);
    if (call == "File.Rename") return file_.Rename(from, to);
    if (call == "File.Copy") return file_.Copy(from, to);
    if (call == "File.Move") return file_.Move(from, to);
    if (call == "Folder.Create") return folder_.Create(from);
    if (call == "Folder.Rename") return folder_.Rename(from, to);
    ADD_FAILURE() << "unknown call " << call;
    return u"";
  }
  Text Expected(const char* answer) {
    Text text = FromUtf8(answer);
    const Text root = dir_.text() + u"/";
    for (size_t at; (at = text.find(u'@')) != Text::npos;) {
      text.replace(at, 1, root);
    }
    return text;
  }
};

TEST_P(FilesMessageTest, Answers) {
  EXPECT_EQ(Call(GetParam()), Expected(GetParam().answer));
}

INSTANTIATE_TEST_SUITE_P(
    files, FilesMessageTest,
    ::testing::Values(
        MessageCase{"File.Delete", "", "", "Blank File Name"},
        MessageCase{"File.Delete", "a.txt", "", "@a.txtdeleted"},
        MessageCase{"File.Delete", "*.txt", "", "@*.txtdeleted"},
        MessageCase{"File.Delete", "missing.txt", "",
                    "UFL Error: Cannot Delete @missing.txt"},
        MessageCase{"File.Delete", "sub", "", "UFL Error: Cannot Delete @sub"},
        MessageCase{"File.Delete", ".h.txt", "",
                    "UFL Error: Cannot Delete @.h.txt"},
        MessageCase{"File.Delete", "nofolder/a.txt", "",
                    "UFL Error: Cannot Delete @nofolder/a.txt"},

        MessageCase{"File.Rename", "", "", "From is blank"},
        MessageCase{"File.Rename", "", "x.txt", "From is blank"},
        MessageCase{"File.Rename", "a.txt", "", "UFL ERROR: To is blank"},
        MessageCase{"File.Rename", "missing.txt", "x.txt",
                    "UFL Error: Cannot find @missing.txt"},
        MessageCase{"File.Rename", "sub", "x", "UFL Error: Cannot find @sub"},
        MessageCase{"File.Rename", ".h.txt", "x.txt",
                    "UFL Error: Cannot find @.h.txt"},
        MessageCase{"File.Rename", "a.txt", "b.txt",
                    "UFL Error: @b.txt already exists"},
        MessageCase{"File.Rename", "a.txt", "b*",
                    "UFL Error: @b* already exists"},
        MessageCase{"File.Rename", "a.txt", "x.txt", "File Renamed to @x.txt"},
        MessageCase{"File.Rename", "a.txt", "sub/a.txt",
                    "File Renamed to @sub/a.txt"},
        MessageCase{"File.Rename", "a.txt", "nofolder/x.txt",
                    "Error: Path not found"},
        MessageCase{"File.Rename", "a.txt", "sub",
                    "Error: File already exists"},
        MessageCase{"File.Rename", "a.txt", ".h.txt",
                    "Error: File already exists"},
        MessageCase{"File.Rename", "a*", "x.txt",
                    "Error: Bad file name or number"},

        MessageCase{"File.Copy", "", "", "From is blank"},
        MessageCase{"File.Copy", "a.txt", "", "UFL ERROR: To is blank"},
        MessageCase{"File.Copy", "missing.txt", "x.txt",
                    "UFL Error: Cannot find @missing.txt"},
        MessageCase{"File.Copy", "sub", "x", "UFL Error: Cannot find @sub"},
        MessageCase{"File.Copy", "a.txt", "x.txt", "File copied to @x.txt"},
        MessageCase{"File.Copy", "a.txt", "b.txt", "File copied to @b.txt"},
        MessageCase{"File.Copy", "a.txt", "a.txt", "File copied to @a.txt"},
        MessageCase{"File.Copy", "a.txt", "nofolder/x.txt",
                    "Error: Path not found"},
        MessageCase{"File.Copy", "a.txt", "sub",
                    "Error: Path/File access error"},
        MessageCase{"File.Copy", "*.txt", "x.txt",
                    "Error: Bad file name or number"},
        MessageCase{"File.Copy", "a.txt", "x?.txt",
                    "Error: Bad file name or number"},

        MessageCase{"File.Move", "a.txt", "x.txt",
                    "File Moved from @a.txt to @x.txt"},
        MessageCase{"File.Move", "", "x.txt", "From is blank"},
        MessageCase{"File.Move", "a.txt", "", "UFL ERROR: To is blank"},
        MessageCase{"File.Move", "missing.txt", "x.txt",
                    "UFL Error: Cannot find @missing.txt"},
        MessageCase{"File.Move", "a.txt", "nofolder/x.txt",
                    "Error: Path not found"},

        MessageCase{"Folder.Create", "", "", "Folder cannot be blank"},
        MessageCase{"Folder.Create", "new", "", "Folder Created"},
        MessageCase{"Folder.Create", "sub", "", "Folder already exists"},
        MessageCase{"Folder.Create", "a.txt", "", "Folder already exists"},
        MessageCase{"Folder.Create", "su*", "", "Folder already exists"},
        MessageCase{"Folder.Create", "missing/deeper", "",
                    "UFL Error: Path not found"},
        MessageCase{"Folder.Create", ".hdir", "",
                    "UFL Error: Path/File access error"},
        MessageCase{"Folder.Create", "new*", "",
                    "UFL Error: Bad file name or number"},

        MessageCase{"Folder.Rename", "", "", "UFL ERROR: From is blank"},
        MessageCase{"Folder.Rename", "", "x", "UFL ERROR: From is blank"},
        MessageCase{"Folder.Rename", "sub", "", "UFL ERROR: To is blank"},
        MessageCase{"Folder.Rename", "missing", "x",
                    "UFL Error: Cannot find @missing"},
        MessageCase{"Folder.Rename", ".hdir", "x",
                    "UFL Error: Cannot find @.hdir"},
        MessageCase{"Folder.Rename", "sub", "a.txt",
                    "UFL Error: @a.txt already exists"},
        MessageCase{"Folder.Rename", "a.txt", "sub",
                    "UFL Error: @sub already exists"},
        MessageCase{"Folder.Rename", "sub", "renamed",
                    "Folder Renamed to @renamed"},
        MessageCase{"Folder.Rename", "a.txt", "z.txt",
                    "Folder Renamed to @z.txt"},
        MessageCase{"Folder.Rename", "sub", "missing/x",
                    "UFL Error: Path not found"},
        MessageCase{"Folder.Rename", "sub", ".hdir",
                    "UFL Error: File already exists"},
        MessageCase{"Folder.Rename", "su?", "x",
                    "UFL Error: Bad file name or number"}));

TEST_F(FilesTest, ExistsTellsFilesFromFoldersAndIgnoresHiddenEntries) {
  struct Case {
    const char* name;
    bool file, folder;
  } cases[] = {
      {"a.txt", true, true},        {"sub", false, true},
      {"sub/c.txt", true, true},    {"missing", false, false},
      {".h.txt", false, false},     {".hdir", false, false},
      {"*.txt", true, true},        {"?.txt", true, true},
      {"s*", false, true},          {"*.log", false, false},
      {"nofolder/*", false, false},
  };
  for (const Case& c : cases) {
    Text name = P(c.name);
    EXPECT_EQ(file_.Exists(name), c.file) << c.name;
    EXPECT_EQ(folder_.Exists(name), c.folder) << c.name;
  }
  Text empty;
  EXPECT_FALSE(file_.Exists(empty));
  EXPECT_FALSE(folder_.Exists(empty));
}

TEST_F(FilesTest, ExistsAnswersFalseWhenTheLookupFails) {
  FailingPlatform platform(Op::kLookup, 1, error::kDiskNotReady);
  ScopedPlatform scope(platform);
  Text name = P("a.txt");
  EXPECT_FALSE(file_.Exists(name));
  platform.FailAt(Op::kLookup, 2, error::kDiskNotReady);
  EXPECT_FALSE(folder_.Exists(name));
  EXPECT_TRUE(platform.Fired());
}

TEST_F(FilesTest, FailedLookupsAnswerThroughEachMethodsErrorPath) {
  Text a = P("a.txt"), x = P("x.txt"), sub = P("sub");
  struct Case {
    std::function<Text()> call;
    Text answer;
  } cases[] = {
      {[&] { return file_.Delete(a); }, u"UFL Error: Cannot Delete " + a},
      {[&] { return file_.Rename(a, x); }, u"Error: Disk not ready"},
      {[&] { return file_.Copy(a, x); }, u"Error: Disk not ready"},
      {[&] { return file_.Move(a, x); }, u"Error: Disk not ready"},
      {[&] { return folder_.Create(x); }, u"UFL Error: Disk not ready"},
      {[&] { return folder_.Rename(sub, x); }, u"UFL Error: Disk not ready"},
  };
  for (const Case& c : cases) {
    FailingPlatform platform(Op::kLookup, 1, error::kDiskNotReady);
    ScopedPlatform scope(platform);
    EXPECT_EQ(c.call(), c.answer);
  }
  EXPECT_EQ(Entries(), (std::vector<std::string>{".h.txt", ".hdir", "a.txt",
                                                 "b.txt", "sub"}));
}

TEST_F(FilesTest, DeleteWithWildcardsDeletesOrdinaryMatchingFilesOnly) {
  ::mkdir(dir_.Path("d.txt").c_str(), 0777);
  WriteBytes(dir_.Path("c.log"), "log");
  Text pattern = P("*.txt");
  EXPECT_EQ(file_.Delete(pattern), pattern + u"deleted");
  EXPECT_EQ(Entries(), (std::vector<std::string>{".h.txt", ".hdir", "c.log",
                                                 "d.txt", "sub"}));
}

TEST_F(FilesTest, DeleteThatFailsAnswersCannotDeleteAndKeepsWhatRemains) {
  FailingPlatform platform(Op::kDelete, 2, error::kPermissionDenied);
  ScopedPlatform scope(platform);
  Text pattern = P("*.txt");
  EXPECT_EQ(file_.Delete(pattern), u"UFL Error: Cannot Delete " + pattern);
  EXPECT_EQ(platform.Calls(Op::kDelete), 2);
  EXPECT_EQ(Has("a.txt") + Has("b.txt"), 1);
}

TEST_F(FilesTest, RenameOntoAnExistingFileLeavesBothUntouched) {
  Text a = P("a.txt"), b = P("b.txt");
  file_.Rename(a, b);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Bytes("b.txt"), "beta");
  Text x = P("sub/x.txt");
  EXPECT_EQ(file_.Rename(a, x), u"File Renamed to " + x);
  EXPECT_FALSE(Has("a.txt"));
  EXPECT_EQ(Bytes("sub/x.txt"), "alpha");
}

TEST_F(FilesTest, CopyReplacesTheDestinationAndLeavesNoTemporaryFile) {
  Text a = P("a.txt"), b = P("b.txt");
  EXPECT_EQ(file_.Copy(a, b), u"File copied to " + b);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Bytes("b.txt"), "alpha");
  EXPECT_EQ(file_.Copy(a, a), u"File copied to " + a);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Entries(), (std::vector<std::string>{".h.txt", ".hdir", "a.txt",
                                                 "b.txt", "sub"}));
}

TEST_F(FilesTest, CopyOfALargeFileKeepsEveryByte) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7919 >> 3);
  WriteBytes(dir_.Path("big.bin"), big);
  Text from = P("big.bin"), to = P("sub/big copy.bin");
  EXPECT_EQ(file_.Copy(from, to), u"File copied to " + to);
  EXPECT_EQ(Bytes("sub/big copy.bin"), big);
}

// Writes part of the copy, then fails as a full disk would.
class PartialCopyPlatform : public testing::FakePlatform {
 public:
  void CopyFile(TextView, TextView to) override {
    WriteBytes(ToUtf8(to), "part");
    throw Failure(error::kDiskFull);
  }
};

TEST_F(FilesTest, CopyThatFailsKeepsTheOldDestinationAndRemovesItsPart) {
  PartialCopyPlatform platform;
  ScopedPlatform scope(platform);
  Text a = P("a.txt"), b = P("b.txt");
  EXPECT_EQ(file_.Copy(a, b), u"Error: Disk full");
  EXPECT_EQ(Bytes("b.txt"), "beta");
  EXPECT_EQ(Entries(), (std::vector<std::string>{".h.txt", ".hdir", "a.txt",
                                                 "b.txt", "sub"}));
}

TEST_F(FilesTest, CopyThatCannotReplaceTheDestinationKeepsIt) {
  FailingPlatform platform(Op::kReplace, 1, error::kPermissionDenied);
  ScopedPlatform scope(platform);
  Text a = P("a.txt"), b = P("b.txt");
  EXPECT_EQ(file_.Copy(a, b), u"Error: Permission denied");
  EXPECT_EQ(Bytes("b.txt"), "beta");
  EXPECT_EQ(Entries(), (std::vector<std::string>{".h.txt", ".hdir", "a.txt",
                                                 "b.txt", "sub"}));
}

TEST_F(FilesTest, MoveCopiesThenDeletesTheSource) {
  Text a = P("a.txt"), b = P("b.txt"), x = P("sub/x.txt");
  EXPECT_EQ(file_.Move(a, x), u"File Moved from " + a + u" to " + x);
  EXPECT_FALSE(Has("a.txt"));
  EXPECT_EQ(Bytes("sub/x.txt"), "alpha");
  EXPECT_EQ(file_.Move(b, x), u"File Moved from " + b + u" to " + x);
  EXPECT_FALSE(Has("b.txt"));
  EXPECT_EQ(Bytes("sub/x.txt"), "beta");
}

TEST_F(FilesTest, MoveWhoseCopyFailsKeepsTheSource) {
  PartialCopyPlatform platform;
  ScopedPlatform scope(platform);
  Text a = P("a.txt"), b = P("b.txt"), missing = P("missing.txt");
  EXPECT_EQ(file_.Move(a, b), u"Error: Disk full");
  EXPECT_EQ(file_.Move(missing, b), u"UFL Error: Cannot find " + missing);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Bytes("b.txt"), "beta");
}

TEST_F(FilesTest, MoveOfASourceThatCannotBeDeletedSaysSoAndKeepsIt) {
  FailingPlatform platform(Op::kDelete, 1, error::kPermissionDenied);
  ScopedPlatform scope(platform);
  Text a = P("a.txt"), x = P("x.txt");
  EXPECT_EQ(file_.Move(a, x),
            u"File copied to " + x + u"; UFL Error: Cannot Delete " + a);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Bytes("x.txt"), "alpha");
}

TEST_F(FilesTest, MoveOntoAnotherNameOfTheSameFileKeepsIt) {
  Text a = P("a.txt"), alias = P("sub/../a.txt");
  EXPECT_EQ(file_.Move(a, a), u"File Moved from " + a + u" to " + a);
  EXPECT_EQ(file_.Move(alias, a), u"File Moved from " + alias + u" to " + a);
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  ::link(dir_.Path("a.txt").c_str(), dir_.Path("hard.txt").c_str());
  Text hard = P("hard.txt");
  EXPECT_EQ(file_.Move(hard, a), u"File Moved from " + hard + u" to " + a);
  EXPECT_FALSE(Has("hard.txt"));
  EXPECT_EQ(Bytes("a.txt"), "alpha");
}

TEST_F(FilesTest, FolderCreateMakesOneLevel) {
  Text one = P("one"), two = P("one/two");
  EXPECT_EQ(folder_.Create(two), u"UFL Error: Path not found");
  EXPECT_EQ(folder_.Create(one), u"Folder Created");
  EXPECT_EQ(folder_.Create(two), u"Folder Created");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Path("one/two")));
  EXPECT_EQ(folder_.Create(one), u"Folder already exists");
}

TEST_F(FilesTest, FolderRenameMovesTheFolderWithItsContent) {
  Text sub = P("sub"), to = P("moved");
  EXPECT_EQ(folder_.Rename(sub, to), u"Folder Renamed to " + to);
  EXPECT_FALSE(Has("sub"));
  EXPECT_EQ(Bytes("moved/c.txt"), "gamma");
}

using ::pellar::testing::FailureOf;

// The two platform operations that Copy and Move rest on.
TEST_F(FilesTest, PlatformReplacesInOneStepAndKnowsNamesOfOneFile) {
  Platform& platform = Platform::Default();
  Text a = P("a.txt"), b = P("b.txt"), x = P("x.txt"), sub = P("sub");
  platform.ReplaceFile(a, b);
  EXPECT_FALSE(Has("a.txt"));
  EXPECT_EQ(Bytes("b.txt"), "alpha");
  platform.ReplaceFile(b, x);
  EXPECT_EQ(Bytes("x.txt"), "alpha");
  EXPECT_EQ(FailureOf([&] { platform.ReplaceFile(x, sub); }),
            error::kPathFileAccess);
  EXPECT_EQ(FailureOf([&] { platform.ReplaceFile(a, x); }),
            error::kFileNotFound);
  EXPECT_EQ(Bytes("x.txt"), "alpha");

  ::link(dir_.Path("x.txt").c_str(), dir_.Path("hard.txt").c_str());
  ::symlink("x.txt", dir_.Path("soft.txt").c_str());
  EXPECT_TRUE(platform.SameFile(x, x));
  EXPECT_TRUE(platform.SameFile(x, P("sub/../x.txt")));
  EXPECT_TRUE(platform.SameFile(x, P("hard.txt")));
  EXPECT_FALSE(platform.SameFile(x, P("soft.txt")));
  EXPECT_FALSE(platform.SameFile(x, sub));
  EXPECT_FALSE(platform.SameFile(a, a));
}

// A folder on another file system, removed with its content at the end;
// empty when the machine has no tmpfs at /dev/shm beside another system.
class OtherFileSystem {
 public:
  explicit OtherFileSystem(const std::string& here) {
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::stat(here.c_str(), &a) != 0 ||
        a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0) {
      return;
    }
    std::string templ = "/dev/shm/pellar-test-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~OtherFileSystem() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST_F(FilesTest, RenameAcrossFileSystemsFailsAndMoveCopies) {
  OtherFileSystem other(dir_.path());
  if (other.path().empty()) {
    GTEST_SKIP() << "no second file system at /dev/shm to rename across";
  }
  Text a = P("a.txt"), sub = P("sub");
  Text there = FromUtf8(other.path() + "/a.txt");
  Text there_folder = FromUtf8(other.path() + "/sub");
  EXPECT_EQ(file_.Rename(a, there),
            u"Error: Can't rename with different drive");
  EXPECT_EQ(folder_.Rename(sub, there_folder),
            u"UFL Error: Can't rename with different drive");
  EXPECT_EQ(Bytes("a.txt"), "alpha");
  EXPECT_EQ(Bytes("sub/c.txt"), "gamma");
  EXPECT_FALSE(PathExists(other.path() + "/a.txt"));
  EXPECT_FALSE(PathExists(other.path() + "/sub"));

  EXPECT_EQ(file_.Move(a, there), u"File Moved from " + a + u" to " + there);
  EXPECT_FALSE(Has("a.txt"));
  EXPECT_EQ(ReadBytes(other.path() + "/a.txt"), "alpha");
}

}  // namespace
}  // namespace pellar
