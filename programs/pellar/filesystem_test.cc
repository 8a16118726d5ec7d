// Scripting.FileSystemObject where a script cannot tell: symbolic links
// (a script cannot make one), the bytes of Unicode files, and the sandbox.
#include <pellar/platform/platform.h>
#include <pellar/testing/sandbox.h>
#include <pellar/testing/test_support.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "interpreter.h"

namespace pellar {
namespace {

using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Runs `body` after "Set fso = ..."; what it printed, or the error.
std::string RunFso(const std::string& body) {
  std::ostringstream out, err;
  const int code = RunScript(
      "Set fso = CreateObject(\"Scripting.FileSystemObject\")\n" + body,
      "t.vbs", out, err);
  return code == 0 ? out.str() : "failed: " + err.str();
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

class FolderLinkTest : public ::testing::Test {
 protected:
  // tree/{f.txt, sub/g.txt, out -> outside, file -> outside/keep.txt}
  void SetUp() override {
    WriteBytes(outside_.Path("keep.txt"), "keep");
    ASSERT_EQ(::mkdir(tree_.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((tree_ + "/sub").c_str(), 0777), 0);
    WriteBytes(tree_ + "/f.txt", "12");
    WriteBytes(tree_ + "/sub/g.txt", "345");
    ASSERT_EQ(::symlink(outside_.path().c_str(), (tree_ + "/out").c_str()), 0);
    ASSERT_EQ(
        ::symlink(outside_.Path("keep.txt").c_str(), (tree_ + "/file").c_str()),
        0);
  }
  bool OutsideIntact() {
    return ReadBytes(outside_.Path("keep.txt")) == "keep";
  }

  TempDir dir_, outside_;
  std::string tree_ = dir_.Path("tree");
};

TEST_F(FolderLinkTest, DeleteFolderRemovesLinksNeverTheirTargets) {
  EXPECT_EQ(RunFso("fso.DeleteFolder " + Quoted(tree_) + "\nWScript.Echo 1"),
            "1\n");
  EXPECT_FALSE(PathExists(tree_));
  EXPECT_TRUE(OutsideIntact());
}

TEST_F(FolderLinkTest, AFolderReachedThroughALinkLosesTheLinkOnly) {
  EXPECT_EQ(RunFso("fso.GetFolder(" + Quoted(tree_ + "/out") +
                   ").Delete\nWScript.Echo 1"),
            "1\n");
  EXPECT_FALSE(PathExists(tree_ + "/out"));
  EXPECT_TRUE(OutsideIntact());
}

TEST_F(FolderLinkTest, DeleteFolderOfALinkRemovesTheLinkOnly) {
  EXPECT_EQ(
      RunFso("fso.DeleteFolder " + Quoted(tree_ + "/out") + "\nWScript.Echo 1"),
      "1\n");
  EXPECT_FALSE(PathExists(tree_ + "/out"));
  EXPECT_TRUE(OutsideIntact());
}

TEST_F(FolderLinkTest, CopyAndSizeLeaveLinksOut) {
  const std::string copy = dir_.Path("copy");
  EXPECT_EQ(RunFso("fso.CopyFolder " + Quoted(tree_) + ", " + Quoted(copy) +
                   "\nWScript.Echo fso.GetFolder(" + Quoted(tree_) +
                   ").Size, fso.GetFolder(" + Quoted(copy) + ").Size"),
            "5 5\n");
  EXPECT_FALSE(PathExists(copy + "/out"));
  EXPECT_FALSE(PathExists(copy + "/file"));
  EXPECT_EQ(ReadBytes(copy + "/sub/g.txt"), "345");
  EXPECT_TRUE(OutsideIntact());
}

TEST_F(FolderLinkTest, WildcardCopiesPassLinksBy) {
  const std::string into = dir_.Path("into");
  ASSERT_EQ(::mkdir(into.c_str(), 0777), 0);
  EXPECT_EQ(RunFso("fso.CopyFolder " + Quoted(tree_ + "/*") + ", " +
                   Quoted(into + "/") + "\nWScript.Echo 1"),
            "1\n");
  EXPECT_EQ(ReadBytes(into + "/sub/g.txt"), "345");
  EXPECT_FALSE(PathExists(into + "/out"));
}

TEST_F(FolderLinkTest, ACopyIntoItselfIsRefused) {
  EXPECT_EQ(
      RunFso("On Error Resume Next\nfso.CopyFolder " + Quoted(tree_) + ", " +
             Quoted(tree_ + "/sub/again") + "\nWScript.Echo Err.Number"),
      "5\n");
  EXPECT_FALSE(PathExists(tree_ + "/sub/again/sub"));
}

TEST_F(FolderLinkTest, ReadOnlyFilesGoOnlyWithForce) {
  ASSERT_EQ(::chmod((tree_ + "/sub/g.txt").c_str(), 0444), 0);
  EXPECT_EQ(RunFso("On Error Resume Next\nfso.DeleteFolder " + Quoted(tree_) +
                   "\nWScript.Echo Err.Number"),
            "70\n");
  EXPECT_TRUE(PathExists(tree_ + "/sub/g.txt"));
  EXPECT_EQ(
      RunFso("fso.DeleteFolder " + Quoted(tree_) + ", True\nWScript.Echo 1"),
      "1\n");
  EXPECT_FALSE(PathExists(tree_));
  EXPECT_TRUE(OutsideIntact());
}

// On POSIX a backslash belongs to a name: the folder keeps its identity.
TEST(FileSystemPathTest, ABackslashIsPartOfAPosixName) {
  TempDir dir;
  const std::string odd = dir.Path("x\\y");
  ASSERT_EQ(::mkdir(odd.c_str(), 0777), 0);
  WriteBytes(odd + "/f.txt", "abc");
  EXPECT_EQ(RunFso("Set d = fso.GetFolder(" + Quoted(odd) +
                   ")\nWScript.Echo d.Name, d.Files(\"f.txt\").Size, "
                   "d.ParentFolder.Path = " +
                   Quoted(dir.path())),
            "x\\y 3 -1\n");
}

struct ErrorCase {
  const char* statement;
  int number;
};

class FileSystemErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(FileSystemErrorTest, Raises) {
  TempDir dir;
  const std::string setup = "Set d = fso.CreateFolder(" +
                            Quoted(dir.Path("d")) + ")\n" +
                            "Set w = d.CreateTextFile(\"w.txt\")\n"
                            "Set r = fso.OpenTextFile(" +
                            Quoted(dir.Path("d/r.txt")) + ", 1, True)\n";
  EXPECT_EQ(RunFso(setup + "On Error Resume Next\n" + GetParam().statement +
                   "\nWScript.Echo Err.Number"),
            std::to_string(GetParam().number) + "\n")
      << GetParam().statement;
}

INSTANTIATE_TEST_SUITE_P(
    Members, FileSystemErrorTest,
    ::testing::Values(
        // Files are saved as the library saves: never under a wildcard name.
        ErrorCase{"d.CreateTextFile \"*.txt\"", 52},
        ErrorCase{"Set x = fso.GetSpecialFolder(0)", 5},
        ErrorCase{"Set x = d.Files(\"missing\")", 53},
        ErrorCase{"Set x = d.SubFolders(\"missing\")", 76},
        ErrorCase{"x = r.Read(-1)", 5},
        // Opened to read with create: made empty, as on Windows.
        ErrorCase{"x = r.ReadAll", 62}, ErrorCase{"x = w.ReadLine", 54},
        ErrorCase{"w.Skip 1", 54}, ErrorCase{"r.Write \"x\"", 54},
        ErrorCase{"x = d.Attributes", 438},
        ErrorCase{"Set x = fso.GetFolder(\"\")", 76}));

TEST(UnicodeFileTest, ByteOrderMarkThenUtf16LeWithCrLf) {
  TempDir dir;
  const std::string name = dir.Path("u.txt");
  EXPECT_EQ(RunFso("Set f = fso.CreateTextFile(" + Quoted(name) +
                   ", True, True)\nf.WriteLine \"a\" & ChrW(1046)\nf.Close\n"
                   "Set f = fso.OpenTextFile(" +
                   Quoted(name) +
                   ", 8, False, -1)\nf.Write \"b\"\nf.Close\n"
                   "Set f = fso.OpenTextFile(" +
                   Quoted(name) +
                   ", 1, False, 0)\nWScript.Echo AscW(Mid(f.ReadLine, 2))"),
            "1046\n");
  EXPECT_EQ(ReadBytes(name), std::string("\xFF\xFE"
                                         "a\0\x16\x04\r\0\n\0b\0",
                                         12));
}

TEST(FileSystemSandboxTest, NothingOutsideTheRootIsListedOrRemoved) {
  TempDir root, outside;
  WriteBytes(outside.Path("keep.txt"), "keep");
  testing::SandboxPlatform sandbox(root.path());
  ScopedPlatform scope(sandbox);
  const std::string trap =
      "On Error Resume Next\n"
      "fso.DeleteFolder " +
      Quoted(outside.path()) +
      ", True\n"
      "a = Err.Number : Err.Clear\n"
      "n = fso.GetFolder(" +
      Quoted(outside.path()) +
      ").Files.Count\n"
      "b = Err.Number : Err.Clear\n"
      "fso.CopyFolder " +
      Quoted(outside.path()) + ", " + Quoted(root.Path("c")) +
      "\n"
      "WScript.Echo a, b, Err.Number\n";
  EXPECT_EQ(RunFso(trap), "76 76 76\n");
  EXPECT_EQ(ReadBytes(outside.Path("keep.txt")), "keep");
  // The platform calls themselves, below the script's own checks.
  const Text out = outside.text(), keep = outside.TextPath("keep.txt");
  using testing::FailureOf;
  EXPECT_EQ(FailureOf([&] { sandbox.ListFolder(out); }), 70);
  EXPECT_EQ(FailureOf([&] { sandbox.Status(keep); }), 70);
  EXPECT_EQ(FailureOf([&] { sandbox.ForceDeleteFile(keep); }), 70);
  EXPECT_EQ(FailureOf([&] { sandbox.DeleteEmptyFolder(out); }), 70);
  EXPECT_EQ(FailureOf([&] { sandbox.DeleteFolderTree(out, true); }), 70);
  EXPECT_EQ(ReadBytes(outside.Path("keep.txt")), "keep");
  EXPECT_EQ(sandbox.ListFolder(root.text()).size(), 0u);
}

}  // namespace
}  // namespace pellar
