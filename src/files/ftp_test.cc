// FTP: the two files byte for byte, the process started, the values that
// are refused, and the POSIX launcher run against a stand-in lftp.
#include <pellar/files/ftp.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/files/ftp_launcher.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

using ::pellar::testing::FailureOf;

int ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : -1;
}

// Records the processes started instead of starting them; can pretend to
// be Windows, where the separator is "\".
class RecordingPlatform : public FailingPlatform {
 public:
  void StartProcess(TextView command_line, WindowStyle style) override {
    Tick(Op::kStartProcess);
    started.emplace_back(command_line);
    styles.push_back(style);
  }
  char16_t Separator() override { return separator; }

  char16_t separator = u'/';
  std::vector<Text> started;
  std::vector<WindowStyle> styles;
};

class FtpTest : public ::testing::Test {
 protected:
  struct Call {
    Text bat, txt, site = u"ftp.example.com", user = u"ada",
                   password = u"s3cret", remote = u"/incoming",
                   filename = u"report.csv";
    bool now = false;
  };

  Text Send(Call c) {
    ScopedPlatform scope(platform_);
    return ftp_.SendFile(c.bat, c.txt, c.site, c.user, c.password, c.remote,
                         c.filename, c.now);
  }
  Text Get(Call c) {
    ScopedPlatform scope(platform_);
    return ftp_.GetFile(c.bat, c.txt, c.site, c.user, c.password, c.remote,
                        c.filename, c.now);
  }
  Call InDir(std::string_view bat = "send.sh",
             std::string_view txt = "send.txt") {
    Call c;
    c.bat = dir_.TextPath(bat);
    c.txt = dir_.TextPath(txt);
    return c;
  }

  TempDir dir_;
  RecordingPlatform platform_;
  FTP ftp_;
};

TEST_F(FtpTest, DryRunWritesBothFilesAndStartsNothing) {
  Call c = InDir();
  EXPECT_EQ(Send(c), c.bat + u" test FTP command file built but not sent");
  EXPECT_EQ(ReadBytes(dir_.Path("send.txt")),
            "Open ftp.example.com\r\nada\r\ns3cret\r\ncd /incoming\r\n"
            "put report.csv\r\nQuit\r\n");
  EXPECT_EQ(ReadBytes(dir_.Path("send.sh")),
            files::PosixLauncherScript(u"send.txt"));
  EXPECT_TRUE(platform_.started.empty());

  EXPECT_EQ(Get(c), c.bat + u" test FTP command file built but not retrieved");
  EXPECT_EQ(ReadBytes(dir_.Path("send.txt")),
            "Open ftp.example.com\r\nada\r\ns3cret\r\ncd /incoming\r\n"
            "get report.csv\r\nQuit\r\n");
  EXPECT_EQ(ReadBytes(dir_.Path("send.sh")),
            files::PosixLauncherScript(u"send.txt"));
  EXPECT_TRUE(platform_.started.empty());
}

TEST_F(FtpTest, RealRunWritesTheSameFilesAndStartsTheQuotedLauncher) {
  Call c = InDir("my send.sh", "my send.txt");
  c.now = true;
  EXPECT_EQ(Send(c), u"report.csv sent");
  const std::string script = ReadBytes(dir_.Path("my send.sh"));
  const std::string commands = ReadBytes(dir_.Path("my send.txt"));
  EXPECT_EQ(Get(c), u"report.csv retrieved");
  ASSERT_EQ(platform_.started.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(platform_.started[i], u"\"" + c.bat + u"\"");
    EXPECT_EQ(platform_.styles[i], WindowStyle::kMinimizedNoFocus);
    EXPECT_EQ(SplitCommandLine(platform_.started[i]), std::vector<Text>{c.bat});
  }
  c.now = false;
  Send(c);
  EXPECT_EQ(ReadBytes(dir_.Path("my send.sh")), script);
  EXPECT_EQ(ReadBytes(dir_.Path("my send.txt")), commands);
}

TEST_F(FtpTest, ValuesAreWrittenAsPassedEmptyOnesLeaveTheKeywordAlone) {
  Call c = InDir();
  c.site = c.user = c.password = c.remote = c.filename = u"";
  EXPECT_EQ(Send(c), c.bat + u" test FTP command file built but not sent");
  EXPECT_EQ(ReadBytes(dir_.Path("send.txt")),
            "Open \r\n\r\n\r\ncd \r\nput \r\nQuit\r\n");

  c.site = u"127.0.0.1 2121";
  c.user = u"my user";
  c.password = u" pa ss\"\\!;$x ";
  c.remote = u"in box";
  c.filename = u"my file \u00e9.bin";
  Get(c);
  EXPECT_EQ(ReadBytes(dir_.Path("send.txt")),
            "Open 127.0.0.1 2121\r\nmy user\r\n pa ss\"\\!;$x \r\ncd in box\r\n"
            "get my file \xe9.bin\r\nQuit\r\n");
}

TEST_F(FtpTest, FilesAreForTheirOwnerOnly) {
  ::umask(022);
  WriteBytes(dir_.Path("send.txt"), "old");
  ::chmod(dir_.Path("send.txt").c_str(), 0644);
  Send(InDir());
  EXPECT_EQ(ModeOf(dir_.Path("send.txt")), 0600);
  EXPECT_EQ(ModeOf(dir_.Path("send.sh")), 0700);
}

TEST_F(FtpTest, WindowsBatchFileHasItsThreeLines) {
  platform_.separator = u'\\';
  Call c = InDir("send.bat", "send.txt");
  Send(c);
  // No backslash in the path: the folder part is the whole path.
  EXPECT_EQ(ReadBytes(dir_.Path("send.bat")),
            "cd \\" + dir_.Path("send.bat") +
                "\r\nftp.exe -s:" + dir_.Path("send.txt") + "\r\nexit\r\n");

  EXPECT_EQ(files::WindowsBatchLines(u"C:\\Out Files\\ftp\\send.bat",
                                     u"C:\\Other\\cmd file.txt"),
            (std::vector<Text>{u"cd \\C:\\Out Files\\ftp",
                               u"ftp.exe -s:cmd file.txt", u"exit"}));
  EXPECT_EQ(files::WindowsBatchLines(u"", u""),
            (std::vector<Text>{u"cd \\", u"ftp.exe -s:", u"exit"}));
}

TEST(FtpPathTest, PartsSplitAtTheLastSeparator) {
  struct Case {
    const char16_t* path;
    const char16_t* folder;
    const char16_t* name;
  } cases[] = {
      {u"/srv/ftp/send.sh", u"/srv/ftp", u"send.sh"},
      {u"send.sh", u"send.sh", u"send.sh"},
      {u"", u"", u""},
      {u"/send.sh", u"", u"send.sh"},
      {u"out/", u"out", u""},
      {u"a\\b/c", u"a\\b", u"c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(files::FolderPart(c.path, u'/'), c.folder);
    EXPECT_EQ(files::FileNamePart(c.path, u'/'), c.name);
  }
  EXPECT_EQ(files::FolderPart(u"a\\b/c", u'\\'), u"a");
  EXPECT_EQ(files::FileNamePart(u"a\\b/c", u'\\'), u"b/c");
}

TEST_F(FtpTest, UnsafeValuesAreRefusedBeforeAnythingIsWritten) {
  enum Field { kSite = 1, kUser = 2, kPassword = 4, kRemote = 8, kName = 16 };
  const int kAll = kSite | kUser | kPassword | kRemote | kName;
  const std::function<void(Call&, Text)> set[] = {
      [](Call& c, Text v) { c.site = v; },
      [](Call& c, Text v) { c.user = v; },
      [](Call& c, Text v) { c.password = v; },
      [](Call& c, Text v) { c.remote = v; },
      [](Call& c, Text v) { c.filename = v; },
  };
  const TextView kBreaks = u"FTP values cannot hold line breaks";
  const TextView kUrls = u"FTP values cannot hold URLs";
  const TextView kNul = u"FTP values cannot hold NUL characters";
  const TextView kBang = u"FTP values cannot start with !";
  const struct {
    Text value;
    int fields;  // where the value is refused
    TextView answer;
  } cases[] = {
      {u"x\r\nput evil", kAll, kBreaks},
      {u"x\n", kAll, kBreaks},
      {u"\rx", kAll, kBreaks},
      {u"file:///etc", kAll, kUrls},
      {u"ftp://u:p@127.0.0.1:2121/remote", kAll, kUrls},
      {u"sftp://-oProxyCommand=touch x", kAll, kUrls},
      {u"file:/tmp/x/secret", kSite, kUrls},
      {u" bm:other 21", kSite, kUrls},
      {u"SLOT:x", kSite, kUrls},
      {u"svn+ssh.x-y:h", kSite, kUrls},
      {Text(u"a.txt\0evil", 10), kAll, kNul},
  };
  for (const auto& test : cases) {
    for (int field = 0; field < 5; ++field) {
      if ((test.fields & (1 << field)) == 0) continue;
      SCOPED_TRACE(ToUtf8(test.value) + " as field " + std::to_string(field));
      Call c = InDir();
      c.now = true;
      set[field](c, test.value);
      EXPECT_EQ(Send(c), test.answer);
      EXPECT_EQ(Get(c), test.answer);
    }
  }
  // ftp.exe runs a User or Password line beginning with "!" as a command;
  // lftp never does.
  platform_.separator = u'\\';
  for (const char16_t* bang : {u"!touch pwned", u" \t!cmd"}) {
    for (int field : {1, 2}) {
      Call c = InDir();
      set[field](c, bang);
      EXPECT_EQ(Send(c), kBang);
      EXPECT_EQ(Get(c), kBang);
    }
  }
  platform_.separator = u'/';
  EXPECT_EQ(platform_.TotalCalls(), 0);
  EXPECT_FALSE(PathExists(dir_.Path("send.sh")));
  EXPECT_FALSE(PathExists(dir_.Path("send.txt")));
  // Names that merely look odd stay names.
  for (const char16_t* name :
       {u"!bang.txt", u"-name", u"C:/x", u"a:b//c", u"file:/x", u"Bm:y"}) {
    Call c = InDir();
    c.remote = name;
    c.filename = name;
    c.user = name;
    c.password = name;
    EXPECT_EQ(Send(c), c.bat + u" test FTP command file built but not sent");
  }
  // Addresses and host names are sites; only the host word is looked at,
  // never the port after it.
  for (const char16_t* site :
       {u"fe80::1", u"fe80::1 21", u"::1 2121", u"[::1]", u"h 21"}) {
    Call c = InDir();
    c.site = site;
    EXPECT_EQ(Send(c), c.bat + u" test FTP command file built but not sent");
  }
}

TEST_F(FtpTest, FailuresReachTheCallerAndWhatWasWrittenStays) {
  Call c = InDir("send.sh", "missing/send.txt");
  EXPECT_EQ(FailureOf([&] { Send(c); }), error::kPathNotFound);
  EXPECT_TRUE(PathExists(dir_.Path("send.sh")));

  Call bad_bat = InDir("missing/send.sh");
  EXPECT_EQ(FailureOf([&] { Send(bad_bat); }), error::kPathNotFound);
  EXPECT_FALSE(PathExists(dir_.Path("send.txt")));

  Call start = InDir();
  start.now = true;
  platform_.FailAt(Op::kStartProcess, 1, error::kFileNotFound);
  EXPECT_EQ(FailureOf([&] { Send(start); }), error::kFileNotFound);
  EXPECT_TRUE(PathExists(dir_.Path("send.txt")));

  // The launcher's transcript ".NAME.log.XXXXXX" must fit a file name.
  Call longest = InDir("send.sh", std::string(243, 'n'));
  longest.now = true;
  EXPECT_EQ(Send(longest), u"report.csv sent");
  Call too_long = InDir("long.sh", std::string(122, 'n') + "\xc3\xa9");
  too_long.txt += Text(60, u'\u00e9');
  EXPECT_EQ(FailureOf([&] { Send(too_long); }), error::kBadFileName);
  EXPECT_FALSE(PathExists(dir_.Path("long.sh")));
  platform_.started.clear();

  // A quote would end the quoted program name early.
  Call quoted = InDir("a\"b.sh");
  quoted.now = true;
  EXPECT_EQ(FailureOf([&] { Send(quoted); }), error::kBadFileName);
  EXPECT_TRUE(platform_.started.empty());
}

// The launcher script run by /bin/sh and bash against a stand-in lftp that
// records its arguments and the script it reads on standard input.
class LauncherTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (::access(GetParam(), X_OK) != 0)
      GTEST_SKIP() << GetParam() << " missing";
    ::mkdir(dir_.Path("bin").c_str(), 0777);
    ::mkdir(dir_.Path("ftp dir").c_str(), 0777);
    WriteBytes(dir_.Path("bin/lftp"),
               "#!/bin/sh\n"
               "printf '%s\\n' \"$@\" > \"$FAKE_LFTP/args\"\n"
               "umask > \"$FAKE_LFTP/umask\"\n"
               "cat > \"$FAKE_LFTP/stdin\"\n"
               "echo 'lftp says hello'\n"
               "exit \"${FAKE_LFTP_STATUS:-0}\"\n");
    ::chmod(dir_.Path("bin/lftp").c_str(), 0755);
  }

  // Writes the launcher for `command_file` and the command file itself,
  // runs the launcher from another folder and answers its exit status.
  int Run(std::string_view commands, std::string_view command_file = "send.txt",
          int lftp_status = 0) {
    WriteBytes(Dir(command_file), commands);
    WriteBytes(Dir("send.sh"),
               files::PosixLauncherScript(FromUtf8(command_file)));
    const std::string line =
        "cd / && umask 022 && PATH='" + dir_.Path("bin") +
        "':/usr/bin:/bin FAKE_LFTP='" + dir_.path() +
        "' FAKE_LFTP_STATUS=" + std::to_string(lftp_status) + " " + GetParam() +
        " '" + Dir("send.sh") + "'";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Dir(std::string_view name) {
    return dir_.Path("ftp dir/" + std::string(name));
  }
  std::string LftpInput() { return ReadBytes(dir_.Path("stdin")); }
  bool LftpRan() { return PathExists(dir_.Path("args")); }

  static std::string Settings(bool temp_file) {
    return std::string(
               "set cmd:interactive no\n"
               "set cmd:fail-exit yes\n"
               "set net:max-retries 2\n"
               "set net:timeout 10\n"
               "set net:reconnect-interval-base 1\n"
               "set ftp:ssl-allow no\n"
               "set xfer:clobber yes\n"
               "set xfer:log no\n"
               "set xfer:use-temp-file ") +
           (temp_file ? "yes\n" : "no\n");
  }

  TempDir dir_;
};

TEST_P(LauncherTest, TranslatesTheCommandFileForLftpOnStandardInput) {
  EXPECT_EQ(Run("Open 127.0.0.1 2121\r\nmy user\r\n !rm -rf x; \"q\" \\z $HOME "
                "&& y \r\n"
                "cd in box\r\nput my file.bin\r\nQuit\r\n"),
            0);
  EXPECT_EQ(ReadBytes(dir_.Path("args")), "-f\n/dev/stdin\n");
  // What lftp fetches is private to the owner, as the transcript is.
  EXPECT_EQ(ReadBytes(dir_.Path("umask")), "0077\n");
  EXPECT_EQ(LftpInput(),
            Settings(false) +
                "open -B -p 2121 --user \"my user\" --password \" !rm -rf x; "
                "\\\"q\\\" \\\\z $HOME && y \" -- \"127.0.0.1\"\n"
                "cd \"./in box\"\n"
                "put \"./my file.bin\" -o \"./my file.bin\"\n"
                "quit\n");
  EXPECT_EQ(ReadBytes(Dir("send.txt.log")),
            "put \"my file.bin\" in folder \"in box\" at 127.0.0.1 port 2121\n"
            "lftp says hello\n"
            "exit status: 0\n");
}

TEST_P(LauncherTest, GetKeepsTheOldLocalFileUntilTheNewOneIsComplete) {
  EXPECT_EQ(Run("open ftp.example.com\r\nada\r\npw\r\ncd /out\r\nget "
                "r.csv\r\nquit\r\n"),
            0);
  EXPECT_EQ(LftpInput(), Settings(true) +
                             "open -B --user \"ada\" --password \"pw\" -- "
                             "\"ftp.example.com\"\n"
                             "cd \"/out\"\n"
                             "get \"./r.csv\" -o \"./r.csv\"\n"
                             "quit\n");
}

// lftp reads "file:", "bm:", "slot:", ... in a command's argument as a URL or
// bookmark: the local disk or another site. Every value goes where lftp can
// read it only as a path on the one site, a user or a password.
TEST_P(LauncherTest, ValuesThatLookLikeUrlsStayPathsOnTheSite) {
  EXPECT_EQ(Run("Open fe80::1\r\nfile:/u\r\nbm:p\r\ncd FILE:/tmp\r\n"
                "get sub/slot:x\r\nQuit\r\n"),
            0);
  EXPECT_EQ(LftpInput(),
            Settings(true) +
                "open -B --user \"file:/u\" --password \"bm:p\" -- "
                "\"fe80::1\"\n"
                "cd \"./FILE:/tmp\"\n"
                "get \"./sub/slot:x\" -o \"./slot:x\"\n"
                "quit\n");
}

TEST_P(LauncherTest, NoUserLogsInAnonymouslyAndNoFolderStaysWhereItIs) {
  EXPECT_EQ(Run("Open  host   21 \r\n\r\n\r\ncd \r\nput x\r\nQuit\r\n"), 0);
  EXPECT_EQ(LftpInput(), Settings(false) +
                             "open -B -p 21 -- \"host\"\n"
                             "\n"
                             "put \"./x\" -o \"./x\"\n"
                             "quit\n");
}

TEST_P(LauncherTest, WindowsTextBecomesUtf8AndAnyCommandFileNameWorks) {
  EXPECT_EQ(
      Run("Open h\r\nu\r\np\xe9\r\ncd \x80\r\nput r\xe9sum\xe9.txt\r\nQuit\r\n",
          "it's a $(file).txt"),
      0);
  EXPECT_EQ(LftpInput(), Settings(false) +
                             "open -B --user \"u\" --password \"p\xc3\xa9\" -- "
                             "\"h\"\n"
                             "cd \"./\xe2\x82\xac\"\n"
                             "put \"./r\xc3\xa9sum\xc3\xa9.txt\" -o "
                             "\"./r\xc3\xa9sum\xc3\xa9.txt\"\n"
                             "quit\n");
  EXPECT_TRUE(PathExists(Dir("it's a $(file).txt.log")));
}

TEST_P(LauncherTest, LftpFailureIsTheScriptsExitStatusAndEndsTheTranscript) {
  EXPECT_EQ(Run("Open h\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n", "send.txt", 1),
            1);
  const std::string log = ReadBytes(Dir("send.txt.log"));
  EXPECT_EQ(log.substr(log.rfind("exit")), "exit status: 1\n");
}

TEST_P(LauncherTest, CommandFilesNotInTheExpectedFormRunNothing) {
  const char* cases[] = {
      "",
      "Open h\r\nu\r\np\r\ncd d\r\nput f\r\n",
      "Open\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open -e!touch x\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open h 21x\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open h 21 22\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Opened h\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open h\r\nu\r\np\r\ncdd\r\nput f\r\nQuit\r\n",
      "Open h\r\nu\r\np\r\ncd d\r\nmput f\r\nQuit\r\n",
      "Open h\r\nu\r\np\r\ncd d\r\nput \r\nQuit\r\n",
      "Open h\r\nu\r\np\r\ncd d\r\nput f\r\n!sh\r\n",
      "Open file:/etc\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open Bm:x 21\r\nu\r\np\r\ncd d\r\nput f\r\nQuit\r\n",
      "Open h\r\nu\r\np\r\ncd d\r\nput d/\r\nQuit\r\n",
  };
  for (const char* commands : cases) {
    EXPECT_EQ(Run(commands), 2) << commands;
    EXPECT_FALSE(LftpRan()) << commands;
    const std::string log = ReadBytes(Dir("send.txt.log"));
    EXPECT_NE(log.find("\nexit status: 2\n"), std::string::npos) << log;
  }
}

TEST_P(LauncherTest, AMissingCommandFileIsReported) {
  WriteBytes(Dir("send.sh"), files::PosixLauncherScript(u"send.txt"));
  ::chmod(Dir("send.sh").c_str(), 0700);
  const std::string line =
      std::string(GetParam()) + " '" + Dir("send.sh") + "'";
  const int status = std::system(line.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(ReadBytes(Dir("send.txt.log")),
            "cannot read the FTP command file send.txt\nexit status: 2\n");
}

TEST_P(LauncherTest, TheTranscriptIsFreshAndPrivateNeverWrittenThroughALink) {
  const std::string kCommands =
      "Open h\r\nu\r\np\r\ncd\r\nput f\r\nQuit\r\n";
  WriteBytes(dir_.Path("victim"), "keep");
  ASSERT_EQ(::symlink(dir_.Path("victim").c_str(), Dir("send.txt.log").c_str()),
            0);
  EXPECT_EQ(Run(kCommands), 0);
  EXPECT_EQ(ReadBytes(dir_.Path("victim")), "keep");
  struct stat st;
  ASSERT_EQ(::lstat(Dir("send.txt.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ReadBytes(Dir("send.txt.log")).find("exit status: 0"),
            std::string::npos);
  // An older transcript with a wider mode is replaced, not reused.
  ::chmod(Dir("send.txt.log").c_str(), 0644);
  EXPECT_EQ(Run(kCommands), 0);
  ASSERT_EQ(::lstat(Dir("send.txt.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(ftp, LauncherTest,
                         ::testing::Values("/bin/sh", "/bin/bash"));

}  // namespace
}  // namespace pellar
