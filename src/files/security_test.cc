// What FTP, File and Folder must never do to files they were not asked to
// touch: write through planted links, change the mode of a device, widen a
// private file's permissions, or delete a read-only file.
#include <fcntl.h>
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

// Guards of the fresh-file writer and the copy, each pinned here.
TEST_F(SecurityTest, FreshFilesAreNeverWrittenIntoWhatIsThere) {
  // A read-only command file is not replaced and keeps its bytes.
  WriteBytes(dir_.Path("send.txt"), "old");
  ::chmod(dir_.Path("send.txt").c_str(), 0400);
  EXPECT_EQ(Send("send.sh", "send.txt"), error::kPermissionDenied);
  EXPECT_EQ(ReadBytes(dir_.Path("send.txt")), "old");
  ::unlink(dir_.Path("send.txt").c_str());

  // A file planted at the very fresh name the writer will pick (here a
  // hard link to a victim) is not written into.
  WriteBytes(dir_.Path("victim"), "keep");
  SeedTemporaryNames(17);
  const Text next = TemporarySibling(P("send.sh"), u'/');
  SeedTemporaryNames(17);
  ASSERT_EQ(::link(dir_.Path("victim").c_str(), ToUtf8(next).c_str()), 0);
  EXPECT_EQ(Send("send.sh", "send.txt"), 0);
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");

  // Copying onto a link fails and leaves the link's target alone.
  ASSERT_EQ(::symlink("victim", dir_.Path("link").c_str()), 0);
  EXPECT_EQ(testing::FailureOf([&] {
              Platform::Default().CopyFile(P("send.txt"), P("link"));
            }),
            error::kPathFileAccess);
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");

  // Copying onto a second name of another file replaces that name only.
  ASSERT_EQ(::link(dir_.Path("victim").c_str(), dir_.Path("second").c_str()),
            0);
  Platform::Default().CopyFile(P("send.txt"), P("second"));
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");

  // A file that holds no secret gets 0666 less the umask, as UFL.log does.
  const mode_t old = ::umask(022);
  auto log =
      Platform::Default().NewWritableFile(P("UFL.log"), FileAccess::kReplace);
  log->Close();
  ::umask(old);
  EXPECT_EQ(ModeOf(dir_.Path("UFL.log")), 0644);
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
  // Refused before a byte is copied: no temporary file beside the device
  // or FIFO, not even for a moment.
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0666), 0);
  WriteBytes(dir_.Path("a"), "a");
  for (const char* target : {"full", "fifo"}) {
    testing::FailingPlatform counting;
    ScopedPlatform scope(counting);
    Text a = P("a"), dev = P(target);
    EXPECT_EQ(file_.Copy(a, dev), u"Error: Path/File access error");
    EXPECT_EQ(file_.Move(a, dev), u"Error: Path/File access error");
    EXPECT_EQ(counting.Calls(testing::Op::kCopy), 0) << target;
  }
  for (const std::string& node : {null, full}) {
    struct stat st;
    ASSERT_EQ(::lstat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << node;
    EXPECT_EQ(st.st_mode & 07777, 0666u) << node;
  }
}

// The copy gets the source's bits less the umask, as cp gives them.
TEST_F(SecurityTest, CopyGivesTheSourcesBitsLessTheUmask) {
  const struct {
    mode_t source, mask, copy;
  } cases[] = {
      {0777, 077, 0700}, {0600, 022, 0600}, {0666, 022, 0644}, {0750, 0, 0750}};
  for (const auto& c : cases) {
    const mode_t old = ::umask(c.mask);
    WriteBytes(dir_.Path("src"), "s");
    ::chmod(dir_.Path("src").c_str(), c.source);
    Text src = P("src"), copy = P("copy");
    EXPECT_EQ(file_.Copy(src, copy), u"File copied to " + copy);
    ::umask(old);
    EXPECT_EQ(ModeOf(dir_.Path("copy")), static_cast<int>(c.copy)) << c.source;
  }
}

// Hidden files of a writer killed mid-way go once they are a day old; only
// ordinary files of ours with exactly our naming.
TEST_F(SecurityTest, StaleTemporaryFilesOfOursAreRemoved) {
  if (::geteuid() != 0) GTEST_SKIP() << "a file not ours needs root";
  const std::string stale = ".~pellar-0123456789abcdef.tmp";
  const std::string kept[] = {".~pellar-0123456789abcdeg.tmp",
                              ".~pellar-0123456789abcdef.tmp.x",
                              ".~pellar-fedcba9876543210.tmp",   // a link
                              ".~pellar-00000000000000ff.tmp",   // not ours
                              ".~pellar-aaaaaaaaaaaaaaaa.tmp"};  // fresh
  for (const std::string& name : {stale, kept[0], kept[1], kept[3], kept[4]}) {
    WriteBytes(dir_.Path(name), "spool with its password");
  }
  ASSERT_EQ(::symlink(stale.c_str(), dir_.Path(kept[2]).c_str()), 0);
  ASSERT_EQ(::lchown(dir_.Path(kept[3]).c_str(), 65534, 65534), 0);
  const struct timespec two_days_ago[2] = {{::time(nullptr) - 2 * 86400, 0},
                                           {::time(nullptr) - 2 * 86400, 0}};
  for (const std::string& name : {stale, kept[0], kept[1], kept[2], kept[3]}) {
    ::utimensat(AT_FDCWD, dir_.Path(name).c_str(), two_days_ago,
                AT_SYMLINK_NOFOLLOW);
  }
  EXPECT_EQ(Send("send.sh", "send.txt"), 0);
  EXPECT_FALSE(PathExists(dir_.Path(stale)));
  for (const std::string& name : kept) {
    struct stat st;
    EXPECT_EQ(::lstat(dir_.Path(name).c_str(), &st), 0) << name;
  }
  // A copy into another folder sweeps that one.
  ::mkdir(dir_.Path("sub").c_str(), 0700);
  WriteBytes(dir_.Path("sub/" + stale), "old");
  ::utimensat(AT_FDCWD, dir_.Path("sub/" + stale).c_str(), two_days_ago, 0);
  Text from = P("send.txt"), to = P("sub/copy.txt");
  EXPECT_EQ(file_.Copy(from, to), u"File copied to " + to);
  EXPECT_FALSE(PathExists(dir_.Path("sub/" + stale)));
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
