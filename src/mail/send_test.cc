// Starting the mail program: refusals, the command line, the quoting written
// back to the caller, and a real child process that records its arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/mail/email.h>
#include <pellar/testing/test_support.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#endif

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

TEST(SendOutboxTest, RefusesAnEmptyOrMissingProgram) {
  TempDir dir;
  fs::create_directory(dir.Path("folder"));
  WriteBytes(dir.Path(".hidden"), "#!/bin/sh\n");
  FailingPlatform platform;  // counts StartProcess calls
  ScopedPlatform scope(platform);
  struct Case {
    Text program, expected;
  };
  const std::vector<Case> cases = {
      {u"", u"No Mail program specified"},
      {dir.TextPath("nothing"), u"Cannot find " + dir.TextPath("nothing")},
      {dir.TextPath("folder"), u"Cannot find " + dir.TextPath("folder")},
      {dir.TextPath(".hidden"), u"Cannot find " + dir.TextPath(".hidden")},
      {u"\"" + dir.TextPath("no thing") + u"\"",
       u"Cannot find \"" + dir.TextPath("no thing") + u"\""},
      // The existence test is made on the program the line would start.
      {dir.TextPath("tab\tx"), u"Cannot find " + dir.TextPath("tab\tx")},
      {dir.TextPath("a\"b"), u"Cannot find " + dir.TextPath("a\"b")},
      // ... and on the whole text.
      {dir.TextPath("tab") + u"\thello",
       u"Cannot find " + dir.TextPath("tab") + u"\thello"},
  };
  WriteBytes(dir.Path("tab"), "#!/bin/sh\n");
  WriteBytes(dir.Path("tab\tx"), "#!/bin/sh\n");
  WriteBytes(dir.Path("a\"b"), "#!/bin/sh\n");
  for (const Case& c : cases) {
    Email email;
    Text outbox = u"out", program = c.program;
    EXPECT_EQ(email.SendOutbox(outbox, program), c.expected);
    EXPECT_EQ(program, c.program);
    EXPECT_EQ(outbox, u"out");
  }
  EXPECT_EQ(platform.Calls(Op::kStartProcess), 0);
}

TEST(SendOutboxTest, AFailedStartFailsTheCall) {
  TempDir dir;
  WriteBytes(dir.Path("mailer"), "");
  FailingPlatform platform(Op::kStartProcess, 1, error::kPermissionDenied);
  ScopedPlatform scope(platform);
  Email email;
  Text outbox = u"out", program = dir.TextPath("mailer");
  try {
    email.SendOutbox(outbox, program);
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), error::kPermissionDenied);
  }
}

#ifndef _WIN32
// A mail program that waits for a "go" file beside it, so the test can see
// that SendOutbox returned before the program went on, and then writes its
// arguments one per line in brackets to args.txt, renamed into place
// complete. It gives up waiting after about five minutes, or once its
// folder is gone, so no test leaves it running.
constexpr std::string_view kRecorder =
    "#!/bin/sh\n"
    "dir=$(dirname \"$0\")\n"
    "i=0\n"
    "while [ -d \"$dir\" ] && [ ! -e \"$dir/go\" ] && [ $i -lt 6000 ]; do "
    "sleep 0.05; i=$((i+1)); done\n"
    "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$dir/args.tmp\"\n"
    "mv \"$dir/args.tmp\" \"$dir/args.txt\"\n";

class MailProgramTest : public ::testing::Test {
 protected:
  // Installs the recorder at `folder`/mailer.sh and answers its path.
  Text Install(const std::string& folder) {
    fs::create_directories(folder);
    std::string path = folder + "/mailer.sh";
    WriteBytes(path, kRecorder);
    ::chmod(path.c_str(), 0755);
    return FromUtf8(path);
  }
  // Lets the program at `folder` go on and answers what it recorded.
  std::string ArgumentsFrom(const std::string& folder) {
    WriteBytes(folder + "/go", "");
    const std::string args = folder + "/args.txt";
    return testing::WaitUntil([&] { return PathExists(args); })
               ? ReadBytes(args)
               : "<nothing recorded>";
  }

  TempDir dir_;
  Email email_;
};

TEST_F(MailProgramTest, AQuotedProgramPathAndAnUnquotedOutboxWithBlanks) {
  const std::string folder = dir_.Path("mail prog");
  const Text path = Install(folder);
  Text outbox = dir_.TextPath("out box") + u"/";
  Text program = path;
  EXPECT_EQ(email_.SendOutbox(outbox, program),
            u"Call to \"" + path + u"\" " + outbox);
  // The caller's variable holds the quoted path; the outbox is untouched.
  EXPECT_EQ(program, u"\"" + path + u"\"");
  EXPECT_EQ(outbox, dir_.TextPath("out box") + u"/");
  // The program is still waiting: the call did not wait for it. It is not
  // our child either, so it can never be left as our zombie.
  EXPECT_FALSE(PathExists(folder + "/args.txt"));
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(ArgumentsFrom(folder), "[" + dir_.Path("out") + "]\n[box/]\n");
}

TEST_F(MailProgramTest, TheQuotedPathWrittenBackWorksForTheNextCall) {
  const std::string folder = dir_.Path("mail prog");
  const Text path = Install(folder);
  Text outbox = u"outbox", program = path;
  email_.SendOutbox(outbox, program);
  ArgumentsFrom(folder);
  fs::remove(folder + "/go");
  fs::remove(folder + "/args.txt");
  // The same variable again: recognised, not quoted a second time.
  EXPECT_EQ(email_.SendOutbox(outbox, program),
            u"Call to \"" + path + u"\" outbox");
  EXPECT_EQ(program, u"\"" + path + u"\"");
  EXPECT_EQ(ArgumentsFrom(folder), "[outbox]\n");
}

TEST_F(MailProgramTest, WithoutAnOutboxTheProgramGetsNoArgument) {
  const std::string folder = dir_.Path("plain");
  const Text path = Install(folder);
  Text outbox, program = path;
  EXPECT_EQ(email_.SendOutbox(outbox, program), u"Call to " + path);
  // A path without blanks stays as it was.
  EXPECT_EQ(program, path);
  EXPECT_EQ(ArgumentsFrom(folder), "");
}

#endif

}  // namespace
}  // namespace pellar
