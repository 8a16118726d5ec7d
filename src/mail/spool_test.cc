// Spool documents byte for byte against the golden files in testdata/, the
// spool file names and the failures of spooling.
//
// Golden files hold "@DIR@" where the test's folder stands. Run with
// PELLAR_UPDATE_GOLDEN=1 to rewrite them from the current output (then
// review the difference before keeping it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/io/identity.h>
#include <pellar/io/xml_writer.h>
#include <pellar/mail/email.h>
#include <pellar/testing/test_support.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::FakePlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

std::string GoldenPath(std::string_view name) {
  return (fs::path(__FILE__).parent_path() / "testdata" / name).string();
}

std::string ReplaceAll(std::string text, std::string_view from,
                       std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The golden file `golden` with "@DIR@" standing for `dir`.
std::string Expected(std::string_view golden, const std::string& dir) {
  return ReplaceAll(ReadBytes(GoldenPath(golden)), "@DIR@", dir);
}

// The spool file at `path` must equal the golden file `golden`.
void ExpectGolden(const std::string& path, std::string_view golden,
                  const std::string& dir) {
  ASSERT_TRUE(PathExists(path)) << path;
  const std::string actual = ReadBytes(path);
  if (std::getenv("PELLAR_UPDATE_GOLDEN") != nullptr) {
    WriteBytes(GoldenPath(golden), ReplaceAll(actual, dir, "@DIR@"));
  }
  EXPECT_EQ(actual, Expected(golden, dir)) << "golden file " << golden;
}

// The test's own temporary folder stands in for the system's.
class SpoolPlatform : public FakePlatform {
 public:
  Text temp_folder;
  Text TempFolder() override { return temp_folder; }
};

class SpoolTest : public ::testing::Test {
 protected:
  SpoolTest() {
    SetApplication(u"", u"");
    fs::create_directory(dir_.Path("outbox"));
    fs::create_directory(dir_.Path("tmp"));
    platform_.temp_folder = dir_.TextPath("tmp") + u"/";
    for (const char* name : {"report.csv", "report.xml", "chart & notes.pdf",
                             "d.txt", "e.txt", "f.txt"}) {
      WriteBytes(dir_.Path(name), "x");
    }
  }

  std::string Outbox() const { return dir_.Path("outbox"); }
  std::string OutboxFile(std::string_view name) const {
    return dir_.Path("outbox/" + std::string(name));
  }
  Text Spool(Text outbox, Text id) {
    return email_.SaveOutbox(
        outbox, u"smtp.example.com", u"Reports <reports@example.com>",
        u"ada@example.com; grace@example.com", u"Monthly figures", id);
  }
  Text SpoolSplit(Text outbox, Text id, int16_t per_file) {
    return email_.SaveOutboxWithAttachments(
        outbox, u"smtp.example.com", u"Reports <reports@example.com>",
        u"ada@example.com; grace@example.com", u"Monthly figures", id,
        per_file);
  }
  void Attach(std::string_view name) {
    Text path = dir_.TextPath(name);
    ASSERT_EQ(email_.Attach(path), u"Attached=" + path);
  }
  void AttachFive() {
    for (const char* name :
         {"report.csv", "report.xml", "chart & notes.pdf", "d.txt", "e.txt"}) {
      Attach(name);
    }
  }
  // Everything a message can hold except the login and attachments.
  void ComposeFull() {
    Text cc = u"Cc", cc_value = u"Tom & Jerry <tj@example.com>";
    Text reply = u"Reply-To", reply_value = u"desk@example.com";
    email_.AddTag(cc, cc_value);
    email_.AddTag(reply, reply_value);
    email_.Body(u"Dear all,");
    email_.Body(u"the figures are \"final\" \u2013 caf\u00E9 <b>\u20AC</b>.");
    email_.HTML(u"<p>Dear all,</p>");
    email_.HTML(u"%TABLE%");
    Text find = u"%TABLE%", replace = u"<table></table>";
    email_.Edit(find, replace);
    Text file = u"signature.html";
    email_.EditFile(find, file);
    Text priority = u"Priority", high = u"high";
    email_.Command(priority, high);
  }

  TempDir dir_;
  SpoolPlatform platform_;
  ScopedPlatform scope_{platform_};
  Email email_;
};

TEST_F(SpoolTest, BareMessage) {
  EXPECT_EQ(Spool(FromUtf8(Outbox()), u"M1"),
            u"Message spooled to " + FromUtf8(OutboxFile("M1.xml")));
  ExpectGolden(OutboxFile("M1.xml"), "bare.xml", dir_.path());
}

TEST_F(SpoolTest, LoginComesRightAfterTheServer) {
  Text user = u"reports", password = u"p&ss<word>";
  email_.SetServerLogin(user, password);
  Spool(FromUtf8(Outbox()), u"M1");
  ExpectGolden(OutboxFile("M1.xml"), "login.xml", dir_.path());
  // An empty user means no login at all.
  Text none;
  email_.SetServerLogin(none, password);
  Spool(FromUtf8(Outbox()), u"M1");
  ExpectGolden(OutboxFile("M1.xml"), "bare.xml", dir_.path());
}

TEST_F(SpoolTest, TagsBodiesAndExtrasWithoutAttachments) {
  ComposeFull();
  Attach("report.csv");
  Spool(FromUtf8(Outbox()), u"M1");
  ExpectGolden(OutboxFile("M1.xml"), "full.xml", dir_.path());
}

TEST_F(SpoolTest, FiveAttachmentsByTwoMakeThreeFiles) {
  Text command = u"Priority", high = u"high";
  email_.Command(command, high);
  AttachFive();
  EXPECT_EQ(SpoolSplit(FromUtf8(Outbox()), u"M1", 2),
            u"Message spooled to " + FromUtf8(OutboxFile("M10002.xml")) +
                u" (3 message files created)");
  ExpectGolden(OutboxFile("M10000.xml"), "split_0000.xml", dir_.path());
  ExpectGolden(OutboxFile("M10001.xml"), "split_0001.xml", dir_.path());
  ExpectGolden(OutboxFile("M10002.xml"), "split_0002.xml", dir_.path());
  EXPECT_FALSE(PathExists(OutboxFile("M10003.xml")));
}

TEST_F(SpoolTest, FourAttachmentsByTwoMakeTwoFiles) {
  Text command = u"Priority", high = u"high";
  email_.Command(command, high);
  for (const char* name :
       {"report.csv", "report.xml", "chart & notes.pdf", "d.txt"}) {
    Attach(name);
  }
  EXPECT_EQ(SpoolSplit(FromUtf8(Outbox()), u"M1", 2),
            u"Message spooled to " + FromUtf8(OutboxFile("M10001.xml")) +
                u" (2 message files created)");
  ExpectGolden(OutboxFile("M10000.xml"), "split_0000.xml", dir_.path());
  ExpectGolden(OutboxFile("M10001.xml"), "split_0001.xml", dir_.path());
  EXPECT_FALSE(PathExists(OutboxFile("M10002.xml")));
}

TEST_F(SpoolTest, ZeroOrLessPerFileMeansOneFile) {
  for (const char* name : {"report.csv", "report.xml", "chart & notes.pdf"}) {
    Attach(name);
  }
  for (int16_t per_file : {int16_t{0}, int16_t{-1}, int16_t{-32768}}) {
    EXPECT_EQ(SpoolSplit(FromUtf8(Outbox()), u"M1", per_file),
              u"Message spooled to " + FromUtf8(OutboxFile("M10000.xml")) +
                  u" (1 message files created)");
    ExpectGolden(OutboxFile("M10000.xml"), "all_0000.xml", dir_.path());
    EXPECT_FALSE(PathExists(OutboxFile("M10001.xml")));
  }
  // SaveOutbox never lists attachments.
  Spool(FromUtf8(Outbox()), u"M1");
  ExpectGolden(OutboxFile("M1.xml"), "bare.xml", dir_.path());
}

TEST_F(SpoolTest, NoAttachmentsAndNoExtrasMakeOneFileWithoutExtras) {
  EXPECT_EQ(SpoolSplit(FromUtf8(Outbox()), u"M1", 2),
            u"Message spooled to " + FromUtf8(OutboxFile("M10000.xml")) +
                u" (1 message files created)");
  // The bare document under the numbered name.
  EXPECT_EQ(
      ReadBytes(OutboxFile("M10000.xml")),
      ReplaceAll(Expected("bare.xml", dir_.path()), "/M1.xml", "/M10000.xml"));
}

TEST_F(SpoolTest, AMissingOutboxSendsTheFilesToTheTemporaryFolder) {
  const std::string temp = dir_.Path("tmp") + "/";
  EXPECT_EQ(Spool(dir_.TextPath("no such folder"), u"M1"),
            u"Message spooled to " + FromUtf8(temp) + u"/M1.xml");
  EXPECT_EQ(ReadBytes(temp + "/M1.xml"),
            ReplaceAll(Expected("bare.xml", dir_.path()), "/outbox/M1.xml",
                       "/tmp//M1.xml"));

  // Every file of a split spool follows the first.
  Attach("report.csv");
  Attach("report.xml");
  EXPECT_EQ(SpoolSplit(dir_.TextPath("no such folder"), u"S", 1),
            u"Message spooled to " + FromUtf8(temp) +
                u"/S0001.xml (2 message files created)");
  EXPECT_TRUE(PathExists(temp + "S0000.xml"));
  EXPECT_TRUE(PathExists(temp + "S0001.xml"));
  EXPECT_FALSE(PathExists(dir_.Path("no such folder")));
}

TEST_F(SpoolTest, SpoolingTheSameIdTwiceKeepsTheSecondMessage) {
  email_.Body(u"first message with a longer body than the second");
  Spool(FromUtf8(Outbox()), u"M1");
  email_.Clear();
  Spool(FromUtf8(Outbox()), u"M1");
  ExpectGolden(OutboxFile("M1.xml"), "bare.xml", dir_.path());
  EXPECT_EQ(
      std::distance(fs::directory_iterator(Outbox()), fs::directory_iterator()),
      1);
}

TEST_F(SpoolTest, EmptyOutboxOrIdIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    Text outbox, id, expected;
  };
  const std::vector<Case> cases = {
      {u"", u"M1", u"No outbox folder specified"},
      {u"", u"", u"No outbox folder specified"},
      {FromUtf8(Outbox()), u"", u"You need a unique MsgID for each message"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Spool(c.outbox, c.id), c.expected);
    EXPECT_EQ(SpoolSplit(c.outbox, c.id, 1), c.expected);
  }
  EXPECT_TRUE(fs::is_empty(Outbox()));
  EXPECT_TRUE(fs::is_empty(dir_.Path("tmp")));
}

TEST_F(SpoolTest,
       AnIdTooLongForTheMailProgramIsRefusedBeforeAnythingIsWritten) {
  // pellar-mail adds 9 bytes to a spool file name of at most 255 - 9; the
  // split files' number takes 4 more.
  const Text outbox = FromUtf8(Outbox());
  const Text refused = u"The MsgID is too long for a spool file name (at most ";
  EXPECT_EQ(Spool(outbox, Text(243, u'x')), refused + u"242 bytes in UTF-8)");
  EXPECT_EQ(SpoolSplit(outbox, Text(239, u'x'), 1),
            refused + u"238 bytes in UTF-8)");
  EXPECT_EQ(Spool(outbox, Text(122, u'\u00E9')).substr(0, refused.size()),
            refused);  // 244 bytes
  EXPECT_TRUE(fs::is_empty(Outbox()));
  EXPECT_EQ(Spool(outbox, Text(242, u'x')).substr(0, 18),
            u"Message spooled to");
  EXPECT_EQ(SpoolSplit(outbox, Text(238, u'y'), 1).substr(0, 18),
            u"Message spooled to");
}

TEST_F(SpoolTest, AFileThatCannotBeCreatedIsReportedNotClaimedAsSpooled) {
  FailingPlatform failing(Op::kCreate, 1, error::kPermissionDenied);
  {
    ScopedPlatform scope(failing);
    EXPECT_EQ(Spool(FromUtf8(Outbox()), u"M1"),
              u"Error Creating File: Permission denied");
  }
  // A folder standing where the spool file should go.
  fs::create_directory(OutboxFile("M2.xml"));
  Text answer = Spool(FromUtf8(Outbox()), u"M2");
  EXPECT_EQ(answer.rfind(u"Error Creating File: ", 0), 0u) << ToUtf8(answer);
  // An outbox that names a file exists, so the name is built on it.
  answer = Spool(dir_.TextPath("report.csv"), u"M3");
  EXPECT_EQ(answer.rfind(u"Error Creating File: ", 0), 0u) << ToUtf8(answer);
}

#ifndef _WIN32
TEST_F(SpoolTest, AReadOnlyOutboxIsReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ::chmod(Outbox().c_str(), 0555);
  Text answer = Spool(FromUtf8(Outbox()), u"M1");
  ::chmod(Outbox().c_str(), 0755);
  EXPECT_EQ(answer, u"Error Creating File: Permission denied");
}
#endif

TEST_F(SpoolTest, SplitSpoolingStopsAtTheFirstFileThatFails) {
  AttachFive();
  FailingPlatform failing(Op::kCreate, 2, error::kDiskFull);
  ScopedPlatform scope(failing);
  EXPECT_EQ(SpoolSplit(FromUtf8(Outbox()), u"M1", 2),
            u"Error Creating File: Disk full");
  EXPECT_EQ(failing.Calls(Op::kCreate), 2);
  EXPECT_TRUE(PathExists(OutboxFile("M10000.xml")));
  EXPECT_FALSE(PathExists(OutboxFile("M10001.xml")));
  EXPECT_FALSE(PathExists(OutboxFile("M10002.xml")));
}

TEST_F(SpoolTest, AFailingWriteFailsTheCallAndClosesTheIncompleteFile) {
  email_.Body(u"body");
  FailingPlatform failing(Op::kWrite, 10, error::kDiskFull);
  ScopedPlatform scope(failing);
  try {
    Spool(FromUtf8(Outbox()), u"M1");
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), error::kDiskFull);
  }
  EXPECT_EQ(failing.OpenFiles(), 0);
  // The lines before the failure stay, the root end tag never came.
  const std::string kept = ReadBytes(OutboxFile("M1.xml"));
  EXPECT_NE(kept.find("<MailMessage>\r\n"), std::string::npos);
  EXPECT_EQ(kept.find("</TessaryMAILDoc>"), std::string::npos);
}

#ifndef _WIN32
TEST_F(SpoolTest, SpoolFilesAreReadableByTheirOwnerOnly) {
  Text user = u"reports", password = u"secret";
  email_.SetServerLogin(user, password);
  // An older file of the same name with a wider mode is replaced.
  WriteBytes(OutboxFile("M1.xml"), "old");
  ::chmod(OutboxFile("M1.xml").c_str(), 0644);
  Spool(FromUtf8(Outbox()), u"M1");
  AttachFive();
  SpoolSplit(FromUtf8(Outbox()), u"S", 2);
  for (const char* name : {"M1.xml", "S0000.xml", "S0001.xml", "S0002.xml"}) {
    struct stat st;
    ASSERT_EQ(::stat(OutboxFile(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST_F(SpoolTest, ASpoolFileNameThatIsALinkIsNeverWrittenThrough) {
  Text user = u"reports", password = u"secret";
  email_.SetServerLogin(user, password);
  WriteBytes(dir_.Path("victim"), "keep");
  ASSERT_EQ(::symlink(dir_.Path("victim").c_str(), OutboxFile("L.xml").c_str()),
            0);
  ASSERT_EQ(::symlink("dangling", OutboxFile("D.xml").c_str()), 0);
  for (const char16_t* id : {u"L", u"D"}) {
    EXPECT_EQ(Spool(FromUtf8(Outbox()), id),
              u"Error Creating File: Path/File access error");
  }
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");
  EXPECT_FALSE(PathExists(OutboxFile("dangling")));
}
#endif

}  // namespace
}  // namespace pellar
