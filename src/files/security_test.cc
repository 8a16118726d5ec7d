// What FTP, File and Folder must never do to files they were not asked to
// touch: write through planted links, change the mode of a device, widen a
// private file's permissions, or delete a read-only file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include <pellar/base/failure.h>
#include <pellar/files/file.h>
#include <pellar/files/ftp.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailureOf;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

int ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777)
                                         : -1;
}

class SecurityTest : public ::testing::Test {
 protected:
  Text P(std::string_view name) { return dir_.TextPath(name); }
  int Send(std::string_view bat, std::string_view txt) {
    Text b = P(bat), t = P(txt), site = u"127.0.0.1", user = u"u",
         password = u"p", remote = u"/", name = u"x";
    bool now = false;
    return FailureOf([&] {
      ftp_.SendFile(b, t, site, user, password, remote, name, now);
    });
  }

  TempDir dir_;
  FTP ftp_;
  File file_;
};

TEST_F(SecurityTest, FtpFilesAreNeverWrittenThroughALink) {
  WriteBytes(dir_.Path("victim"), "keep");
  ::chmod(dir_.Path("victim").c_str(), 0644);
  const struct {
    const char* bat;
    const char* txt;
    const char* link;    // the name planted as a link
    const char* target;  // where it points
  } cases[] = {
      {"send.sh", "send.txt", "send.txt", "victim"},
      {"send.sh", "send.txt", "send.sh", "victim"},
      {"send.sh", "send.txt", "send.txt", "dangling"},
      {"send.sh", "send.txt", "send.sh", "dangling"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.link) + " -> " + c.target);
    ::unlink(dir_.Path(c.bat).c_str());
    ::unlink(dir_.Path(c.txt).c_str());
    ASSERT_EQ(::symlink(c.target, dir_.Path(c.link).c_str()), 0);
    EXPECT_EQ(Send(c.bat, c.txt), error::kPathFileAccess);
    EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");
    EXPECT_EQ(ModeOf(dir_.Path("victim")), 0644);
    EXPECT_FALSE(PathExists(dir_.Path("dangling")));
    // The link itself stays as it was.
    char buffer[64] = {};
    EXPECT_GT(::readlink(dir_.Path(c.link).c_str(), buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, c.target);
  }
}

TEST_F(SecurityTest, FtpFilesReplaceOlderOnesWithTheirOwnMode) {
  WriteBytes(dir_.Path("send.sh"), "old");
  WriteBytes(dir_.Path("send.txt"), "old");
  ::chmod(dir_.Path("send.sh").c_str(), 0777);
  ::chmod(dir_.Path("send.txt").c_str(), 0666);
  EXPECT_EQ(Send("send.sh", "send.txt"), 0);
  EXPECT_EQ(ModeOf(dir_.Path("send.sh")), 0700);
  EXPECT_EQ(ModeOf(dir_.Path("send.txt")), 0600);
  EXPECT_NE(ReadBytes(dir_.Path("send.txt")), "old");
  // No temporary file is left beside them.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(SecurityTest, DevicesAreNeverReplacedOrChanged) {
  if (::geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  // Nodes of our own with the numbers of null and full, never the
  // machine's.
  const std::string null = dir_.Path("null"), full = dir_.Path("full");
  if (::mknod(null.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0 ||
      ::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) != 0) {
    GTEST_SKIP() << "this file system refuses device nodes";
  }
  ::chmod(null.c_str(), 0666);
  ::chmod(full.c_str(), 0666);
  EXPECT_EQ(Send("null", "full"), error::kPathFileAccess);
  Text from = P("null"), to = P("copy");
  EXPECT_EQ(file_.Copy(from, to), u"UFL Error: Cannot find " + from);
  Text a = P("a"), dev = P("full");
  WriteBytes(dir_.Path("a"), "a");
  EXPECT_EQ(file_.Copy(a, dev), u"Error: Path/File access error");
  for (const std::string& node : {null, full}) {
    struct stat st;
    ASSERT_EQ(::lstat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << node;
    EXPECT_EQ(st.st_mode & 07777, 0666u) << node;
  }
}

TEST_F(SecurityTest, CopyAndMoveKeepTheSourcesPermissions) {
  for (int mode : {0600, 0640, 0755, 0444}) {
    SCOPED_TRACE(mode);
    WriteBytes(dir_.Path("src"), "secret");
    ::chmod(dir_.Path("src").c_str(), static_cast<mode_t>(mode));
    ::unlink(dir_.Path("copy").c_str());
    WriteBytes(dir_.Path("moved"), "older");  // an older, wider file
    ::chmod(dir_.Path("moved").c_str(), 0666);
    Text src = P("src"), copy = P("copy"), moved = P("moved");
    EXPECT_EQ(file_.Copy(src, copy), u"File copied to " + copy);
    EXPECT_EQ(ModeOf(dir_.Path("copy")), mode);
    ::chmod(dir_.Path("src").c_str(), static_cast<mode_t>(mode | 0200));
    EXPECT_EQ(file_.Move(src, moved), u"File Moved from " + src + u" to " + moved);
    EXPECT_EQ(ModeOf(dir_.Path("moved")), mode | 0200);
    EXPECT_EQ(ReadBytes(dir_.Path("moved")), "secret");
  }
}

TEST_F(SecurityTest, ReadOnlyFilesAreNotDeleted) {
  WriteBytes(dir_.Path("r1.csv"), "r");
  WriteBytes(dir_.Path("w1.csv"), "w");
  WriteBytes(dir_.Path("w2.csv"), "w");
  WriteBytes(dir_.Path("dest.csv"), "d");
  ::chmod(dir_.Path("r1.csv").c_str(), 0444);
  ::chmod(dir_.Path("dest.csv").c_str(), 0444);
  Text r1 = P("r1.csv"), all = P("*.csv"), moved = P("moved.csv"),
       dest = P("dest.csv"), w1 = P("w1.csv");

  EXPECT_EQ(file_.Delete(r1), u"UFL Error: Cannot Delete " + r1);
  EXPECT_EQ(file_.Copy(w1, dest), u"Error: Permission denied");
  EXPECT_EQ(ReadBytes(dir_.Path("dest.csv")), "d");
  EXPECT_EQ(file_.Move(r1, moved),
            u"File copied to " + moved + u"; UFL Error: Cannot Delete " + r1);
  EXPECT_EQ(ReadBytes(dir_.Path("moved.csv")), "r");
  ::chmod(dir_.Path("moved.csv").c_str(), 0644);
  // A pattern deletes what it can and says that something stayed.
  EXPECT_EQ(file_.Delete(all), u"UFL Error: Cannot Delete " + all);
  EXPECT_TRUE(PathExists(dir_.Path("r1.csv")));
  EXPECT_TRUE(PathExists(dir_.Path("dest.csv")));
  EXPECT_FALSE(PathExists(dir_.Path("w1.csv")));
  EXPECT_FALSE(PathExists(dir_.Path("w2.csv")));
  EXPECT_FALSE(PathExists(dir_.Path("moved.csv")));
}

}  // namespace
}  // namespace pellar
