#include <pellar/io/identity.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <thread>

#include <pellar/base/failure.h>
#include <pellar/testing/test_support.h>
#include <pellar/ufl/ufl.h>

namespace pellar {
namespace {

using testing::FakePlatform;
using testing::ReadBytes;
using testing::TempDir;

class IdentityTest : public ::testing::Test {
 protected:
  IdentityTest() {
    platform_.module_folder = dir_.text();
    ClearActivityLog();
    SetApplication(u"", u"");
  }

  TempDir dir_;
  FakePlatform platform_;
  ScopedPlatform scope_{platform_};
  UFL ufl_;
};

TEST_F(IdentityTest, LogLinePutsTheLineBreakBeforeEachStampedEntry) {
  LogLine(u"first");
  platform_.now = {2027, 1, 31, 23, 59, 58};
  LogLine(u"two\r\nlines ");
  EXPECT_EQ(ActivityLog(),
            u"\r\n08-Dec-2026 14:05:09 first"
            u"\r\n31-Jan-2027 23:59:58 two\r\nlines ");
}

TEST_F(IdentityTest, RealClockStampHasTheDocumentedShape) {
  ScopedPlatform real(Platform::Default());
  LogLine(u"x");
  std::regex stamp("\r\n\\d\\d-[A-Z][a-z][a-z]-\\d{4} \\d\\d:\\d\\d:\\d\\d x");
  EXPECT_TRUE(std::regex_match(ToUtf8(ActivityLog()), stamp))
      << ToUtf8(ActivityLog());
}

TEST_F(IdentityTest, SaveLogWritesTheLogAndOneLineEnd) {
  ufl_.Help(u"savelog");
  EXPECT_EQ(ReadBytes(dir_.Path("UFL.log")), "\r\n");

  LogLine(u"caf\u00E9 \u0416");
  LogLine(u"b");
  ufl_.Help(u"SaveLog");
  EXPECT_EQ(ReadBytes(dir_.Path("UFL.log")),
            "\r\n08-Dec-2026 14:05:09 caf\xE9 ?"
            "\r\n08-Dec-2026 14:05:09 b\r\n");
  // Saving leaves the log as it was; startlog replaces the longer file.
  EXPECT_FALSE(ActivityLog().empty());
  ufl_.Help(u"startlog");
  ufl_.Help(u"startlog");
  EXPECT_TRUE(ActivityLog().empty());
  ufl_.Help(u"savelog");
  EXPECT_EQ(ReadBytes(dir_.Path("UFL.log")), "\r\n");
}

TEST_F(IdentityTest, SaveLogFailureReachesTheCaller) {
  platform_.module_folder = dir_.TextPath("missing");
  LogLine(u"kept");
  try {
    ufl_.Help(u"savelog");
    FAIL();
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), error::kPathNotFound);
  }
  EXPECT_NE(ActivityLog().find(u"kept"), Text::npos);
}

#ifndef _WIN32
TEST_F(IdentityTest, SaveLogNeverWritesThroughALink) {
  testing::WriteBytes(dir_.Path("victim"), "keep");
  ASSERT_EQ(::symlink(dir_.Path("victim").c_str(), dir_.Path("UFL.log").c_str()),
            0);
  LogLine(u"entry");
  EXPECT_EQ(testing::FailureOf([&] { ufl_.Help(u"savelog"); }),
            error::kPathFileAccess);
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");
}
#endif

struct HelpCase {
  const char16_t* command;
  const char16_t* answer;
};

class HelpWordsTest : public IdentityTest,
                      public ::testing::WithParamInterface<HelpCase> {};

TEST_P(HelpWordsTest, Answers) {
  Text expected = GetParam().answer;
  if (expected == u"<folder>") expected = dir_.text();
  EXPECT_EQ(ufl_.Help(GetParam().command), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Words, HelpWordsTest,
    ::testing::Values(
        HelpCase{u"about", u"Pellar UFL (c)2026Brambleworth Ltd"},
        HelpCase{u"ABOUT", u"Pellar UFL (c)2026Brambleworth Ltd"},
        HelpCase{u"AbOuT", u"Pellar UFL (c)2026Brambleworth Ltd"},
        HelpCase{u" about", u""}, HelpCase{u"about ", u""},
        HelpCase{u"abou", u""}, HelpCase{u"", u""},
        HelpCase{u"version", u"PellarLib 3.2 (30)"},
        HelpCase{u"installedfolder", u"<folder>"},
        HelpCase{u"productdescription", u"Pellar UFL"},
        HelpCase{u"developer", u"Brambleworth"},
        HelpCase{u"applicationname", u""}, HelpCase{u"startlog", u""},
        HelpCase{u"help", u""}));

TEST_F(IdentityTest, NamesAndLogArePerThread) {
  SetApplication(u"Pellar UFL", u"Brambleworth");
  LogLine(u"main");
  EXPECT_EQ(ufl_.Help(u"applicationname"), u"Pellar UFL");

  Text other_app = u"unset", other_dev, other_log = u"unset";
  std::thread([&] {
    UFL ufl;
    other_app = ufl.Help(u"applicationname");
    other_dev = ufl.Help(u"developer");
    ufl.Help(u"startlog");
    LogLine(u"other");
    other_log = ActivityLog();
  }).join();
  EXPECT_EQ(other_app, u"");
  EXPECT_EQ(other_dev, u"Brambleworth");
  EXPECT_NE(other_log.find(u"other"), Text::npos);
  // The other thread's startlog left this thread's log alone.
  EXPECT_NE(ActivityLog().find(u"main"), Text::npos);
  EXPECT_EQ(ActivityLog().find(u"other"), Text::npos);
}

TEST(LibraryInfoTest, PathIsTheFolderOfTheRunningModule) {
  LibraryInfo info = GetLibraryInfo();
  EXPECT_FALSE(info.path.empty());
  EXPECT_NE(info.path.back(), u'/');
  // Linked statically, the module is this test program.
  EXPECT_TRUE(testing::PathExists(ToUtf8(info.path) + "/io_test"));
}

}  // namespace
}  // namespace pellar
