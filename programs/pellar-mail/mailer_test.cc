// The parts of pellar-mail without a server: reading spool documents (the
// writer's golden files included), addresses, header and body encodings,
// and the message built from a document. The SMTP side is tested against a
// real server by tests/mail.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "mime.h"
#include "outbox.h"
#include "smtp_sender.h"
#include "spool_reader.h"
#include <pellar/testing/test_support.h>

namespace pellar::mail {
namespace {

using Status = ReadResult::Status;

SpoolDocument Read(std::string_view bytes) {
  SpoolDocument document;
  const ReadResult result = ReadSpoolDocument(bytes, &document);
  EXPECT_EQ(result.status, Status::kRead) << result.error;
  return document;
}

std::string Document(std::string_view message, std::string_view extras = "") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<!-- File /tmp/a--b/M1.xml Created 08-Dec-2026-->\r\n"
         "<TessaryMAILDoc>\r\n<MailMessage>\r\n" +
         std::string(message) +
         (extras.empty()
              ? ""
              : "<Extras>\r\n" + std::string(extras) + "</Extras>\r\n") +
         "</MailMessage>\r\n</TessaryMAILDoc>\r\n";
}

TEST(SpoolReaderTest, ReadsTheWritersGoldenDocument) {
  const std::string golden =
      testing::ReadBytes((std::filesystem::path(__FILE__).parent_path() /
                          "../../src/mail/testdata/full.xml")
                             .string());
  const SpoolDocument document = Read(golden);
  EXPECT_EQ(*document.Find("Body"),
            "Dear all,\r\nthe figures are \"final\" \u2013 caf\u00e9 "
            "<b>\u20ac</b>.");
  EXPECT_EQ(*document.Find("HTMLBody"), "<p>Dear all,</p>\r\n%TABLE%");
  EXPECT_EQ(*document.Find("Cc"), "Tom & Jerry <tj@example.com>");
  EXPECT_EQ(document.extras,
            (std::vector<Element>{{"Find", "%TABLE%"},
                                  {"Replace", "<table></table>"},
                                  {"Find", "%TABLE%"},
                                  {"ReplaceFile", "signature.html"},
                                  {"Priority", "high"}}));
}

TEST(SpoolReaderTest, KeepsWhatTheWriterLeavesUnescaped) {
  // Raw Windows-1252, controls and a lone line feed; the header comment
  // holds "--".
  // References to the code page's 128..159 (where Unicode has controls).
  EXPECT_EQ(*Read(Document("<To>&#0128;&#0159;</To>")).Find("To"),
            "\u20ac\u0178");
  const SpoolDocument document =
      Read(Document("<Subject>caf\xe9 \x80</Subject>\r\n"
                    "<Body>a\x0c\x01\nb\r\n</Body>\r\n"));
  EXPECT_EQ(*document.Find("Subject"), "caf\u00e9 \u20ac");
  EXPECT_EQ(*document.Find("Body"), "a\x0c\x01\nb");
}

TEST(SpoolReaderTest, ReadsNamesInAnyCaseAndTheDeclaredEncoding) {
  const SpoolDocument document = Read(
      "<tessarymaildoc><MAILMESSAGE><server>h</server><smtpuser>u"
      "</smtpuser><to>a@x</to><X-Tag>v</X-Tag><extras><ATTACH>f</ATTACH>"
      "</extras></MAILMESSAGE></tessarymaildoc>");
  EXPECT_EQ(
      document.message,
      (std::vector<Element>{
          {"Server", "h"}, {"SMTPUser", "u"}, {"To", "a@x"}, {"X-Tag", "v"}}));
  EXPECT_EQ(document.extras, (std::vector<Element>{{"Attach", "f"}}));
  // A document edited by hand holds what it declares.
  EXPECT_EQ(*Read(Document("<Subject>Caf\xc3\xa9 \xe2\x82\xac</Subject>"))
                 .Find("Subject"),
            "Caf\u00e9 \u20ac");
}

TEST(SpoolReaderTest, TellsCutOffFromMalformed) {
  const std::string whole = Document("<To>a@x</To>\r\n");
  const struct {
    std::string bytes;
    Status status;
    std::string error;
  } cases[] = {
      {"", Status::kIncomplete, "no element found"},
      {whole.substr(0, whole.size() - 30), Status::kIncomplete,
       "unclosed token (line 6)"},
      {"<Other/>", Status::kMalformed, "the root element is <Other>"},
      {"<TessaryMAILDoc></TessaryMAILDoc>", Status::kMalformed,
       "no <MailMessage>"},
      {Document("<To>a<b/></To>"), Status::kMalformed,
       "unexpected <b> inside <To>"},
      {"<!DOCTYPE x [<!ENTITY a 'b'>]>" + whole, Status::kMalformed,
       "document type"},
      {whole + "<x/>", Status::kMalformed, "junk after document element"},
      {Document("</MailMessage>\r\n<MailMessage>"), Status::kMalformed,
       "unexpected <MailMessage> in <TessaryMAILDoc>"},
  };
  for (const auto& c : cases) {
    SpoolDocument document;
    const ReadResult result = ReadSpoolDocument(c.bytes, &document);
    EXPECT_EQ(result.status, c.status) << c.bytes;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_TRUE(document.message.empty());
  }
}

TEST(AddressTest, SplitsListsAndRefusesWhatIsNoAddress) {
  const struct {
    std::string list;
    std::vector<Mailbox> mailboxes;
    std::string error;
  } cases[] = {
      {"a@x; b@y,c@z ,", {{"", "a@x"}, {"", "b@y"}, {"", "c@z"}}, ""},
      {"\"Doe, John\" <j@x>; Ana <a@x>",
       {{"Doe, John", "j@x"}, {"Ana", "a@x"}},
       ""},
      {"a b@x", {}, "not an address: \"a b@x\""},
      {"x <a@x\r\nDATA>", {}, "not an address"},
      {"Ann <>", {}, "an empty address"},
      {"Jos\xc3\xa9 <jos\xc3\xa9@x>", {}, "an address beyond ASCII"},
      // Not split inside the brackets, and no one address either.
      {"<c,d@example.com>", {}, "not an address: \"c,d@example.com\""},
      {"Ann <a;b@x>", {}, "not an address: \"a;b@x\""},
      {"a(b@x", {}, "not an address"},
      {"a)b@x", {}, "not an address"},
      {"a\\b@x", {}, "not an address"},
  };
  for (const auto& c : cases) {
    std::vector<Mailbox> mailboxes;
    const std::string error = ParseAddressList(c.list, &mailboxes);
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.list;
    if (c.error.empty()) {
      EXPECT_EQ(mailboxes, c.mailboxes) << c.list;
    }
  }
}

TEST(EncodingTest, HeadersBodiesAndContentTypes) {
  // Header fields stay one field, and plain ASCII unless they cannot.
  EXPECT_EQ(EncodeHeaderText("Monthly figures"), "Monthly figures");
  EXPECT_EQ(EncodeHeaderText("a\r\nBcc: x@y"), "a Bcc: x@y");
  EXPECT_EQ(EncodeHeaderText("Caf\u00e9"), "=?UTF-8?B?Q2Fmw6k=?=");
  // Text that looks encoded is encoded, so that readers show it as is.
  EXPECT_EQ(EncodeHeaderText("=?x?="), "=?UTF-8?B?PT94Pz0=?=");
  // An encoded word holds whole UTF-8 characters: "a" and 13 euro signs,
  // not the first bytes of a 14th.
  std::string euros = "a";
  for (int i = 0; i < 40; ++i) euros += "\u20ac";
  const std::string words = EncodeHeaderText(euros);
  EXPECT_EQ(
      words.substr(0, words.find("?=") + 2),
      "=?UTF-8?B?YeKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrOKCrA==?=");
  const struct {
    std::string text, encoded;
  } cases[] = {
      {"a=b \t\r\n\xc3\xa9.", "a=3Db =09\r\n=C3=A9."},
      {"x \r\ny\t", "x=20\r\ny=09"},  // blanks at line ends
      {std::string(80, 'x'), std::string(75, 'x') + "=\r\nxxxxx"},
      {std::string(74, 'x') + "==", std::string(74, 'x') + "=\r\n=3D=3D"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuotedPrintable(c.text), c.encoded);
  EXPECT_EQ(ContentTypeFor("/r/Report.PDF"), "application/pdf");
  EXPECT_EQ(ContentTypeFor("data.csv"), "text/csv");
  EXPECT_EQ(ContentTypeFor("v1.2/README"), "application/octet-stream");
}

class BuildTest : public ::testing::Test {
 protected:
  std::string Build(std::string_view message, std::string_view extras = "") {
    const BuildContext context{
        [&](const std::string& path,
            std::string* error) -> std::unique_ptr<Source> {
          auto it = files_.find(path);
          if (it != files_.end()) return SourceOfBytes(it->second);
          *error = "No such file or directory";
          return nullptr;
        },
        0, "", max_size_};
    error_ = BuildMessage(Read(Document(message, extras)), context, &out_);
    return out_.Text();
  }
  std::map<std::string, std::string> files_ = {{"sig.html", "<i>Caf\xe9</i>"},
                                               {"a.pdf", "%PDF"}};
  uint64_t max_size_ = UINT64_MAX;
  OutgoingMessage out_;
  std::string error_;
};

constexpr std::string_view kEnvelope =
    "<From>Ann &lt;ann@x&gt;</From>\r\n<To>b@x</To>\r\n"
    "<Bcc>c@x; B@X</Bcc>\r\n<SMTPPassword>pw</SMTPPassword>\r\n"
    "<Content-Type>text/evil</Content-Type>\r\n<X-Tag>t</X-Tag>\r\n";

TEST_F(BuildTest, AppliesReplacementsInOrderToBothBodies) {
  const std::string data = Build(
      std::string(kEnvelope) + "<Body>%A% %B%\r\n</Body>\r\n",
      "<HTML-File>sig.html</HTML-File>\r\n<Find>%A%</Find>\r\n"
      "<Replace>%B%</Replace>\r\n<Find>%B%</Find>\r\n"
      "<ReplaceFile>sig.html</ReplaceFile>\r\n<Attach>a.pdf</Attach>\r\n");
  ASSERT_EQ(error_, "");
  EXPECT_EQ(out_.sender, "ann@x");
  EXPECT_EQ(out_.recipients, (std::vector<std::string>{"b@x", "c@x"}));
  // Both %A% became %B%, then both the HTML file's text.
  EXPECT_NE(
      data.find("text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
                "quoted-printable\r\n\r\n<i>Caf=C3=A9</i> <i>Caf=C3=A9</i>"),
      std::string::npos)
      << data;
  EXPECT_NE(data.find("text/html; charset=utf-8\r\nContent-Transfer-Encoding: "
                      "quoted-printable\r\n\r\n<i>Caf=C3=A9</i>\r\n"),
            std::string::npos)
      << data;
  EXPECT_NE(data.find("application/pdf; name=\"a.pdf\""), std::string::npos);
  EXPECT_NE(data.find("\r\nX-Tag: t\r\n"), std::string::npos);
  for (const char* hidden : {"Bcc", "pw", "text/evil"}) {
    EXPECT_EQ(data.find(hidden), std::string::npos) << hidden;
  }
}

TEST_F(BuildTest, TheSizeLimitHoldsAtItsEdges) {
  // A message of exactly the limit is built, one byte more is not.
  const std::string message = std::string(kEnvelope) + "<Body>x</Body>";
  max_size_ = Build(message).size();
  Build(message);
  EXPECT_EQ(error_, "");
  --max_size_;
  Build(message);
  EXPECT_EQ(error_, "the message takes " + std::to_string(max_size_ + 1) +
                        " bytes, more than the limit of " +
                        std::to_string(max_size_));
  // Replacing "a" by "bb" is refused as soon as the bodies outgrow the
  // limit: at the last piece, at the last replacement, in the HTML body
  // beside the text body.
  const std::pair<std::string, uint64_t> cases[] = {
      {"<Body>axxxxxxxxx</Body>", 11},
      {"<Body>aaa</Body>", 6},
      {"<Body>aaaa</Body><HTMLBody>aaaa</HTMLBody>", 16}};
  for (const auto& [bodies, fits] : cases) {
    for (const uint64_t limit : {fits, fits - 1}) {
      max_size_ = limit;
      Build(std::string(kEnvelope) + bodies,
            "<Find>a</Find><Replace>bb</Replace>");
      EXPECT_EQ(error_.starts_with("replacing a makes the message larger"),
                limit < fits)
          << bodies << " " << limit << ": " << error_;
    }
  }
}

TEST_F(BuildTest, EncodesANameThatLooksEncoded) {
  EXPECT_NE(Build("<From>=?x?= &lt;a@x&gt;</From><To>b@x</To>")
                .find("\r\nFrom: =?UTF-8?B?PT94Pz0=?= <a@x>\r\n"),
            std::string::npos);
}

TEST_F(BuildTest, RefusesDocumentsItCannotSend) {
  const struct {
    std::string message, extras, error;
  } cases[] = {
      {"<To>b@x</To>", "", "the document names no sender (From)"},
      {"<From>a@x</From>", "",
       "the document names no recipient (To, Cc or Bcc)"},
      {"<From>a@x</From><Cc>b c</Cc>", "", "not an address: \"b c\" in Cc"},
      {std::string(kEnvelope), "<Attach>/no/such.pdf</Attach>",
       "cannot read attachment /no/such.pdf: No such file or directory"},
      {std::string(kEnvelope), "<HTML-File>x.html</HTML-File>",
       "cannot read HTML-File x.html: No such file or directory"},
  };
  for (const auto& c : cases) {
    Build(c.message, c.extras);
    EXPECT_EQ(error_, c.error);
  }
}

TEST(ServerTest, ReadsServerAndEncryption) {
  const struct {
    std::string server, encryption, url_or_error;
  } cases[] = {
      {"mail.example.com", "none", "smtp://mail.example.com:25"},
      {"mail.example.com:2525", "None", "smtp://mail.example.com:2525"},
      {"127.0.0.1 587", "tls", "smtp://127.0.0.1:587"},
      {"[::1]", "SSL", "smtps://[::1]:465"},
      {"", "None", "the document names no Server"},
      {"h:0", "None", "not a port: \"0\""},
      {"h/x@y", "None", "not a server: \"h/x@y\""},
      {"h", "", "unknown Encryption \"\" (None, TLS or SSL)"},
      {"h", "STARTTLS", "unknown Encryption \"STARTTLS\" (None, TLS or SSL)"},
  };
  for (const auto& c : cases) {
    SmtpServer server;
    const std::string error = ServerOfDocument(
        Read(Document("<Server>" + c.server + "</Server><Encryption>" +
                      c.encryption + "</Encryption>")),
        &server);
    EXPECT_EQ(error.empty() ? server.Url() : error, c.url_or_error);
  }
}

TEST(ServerTest, EncryptionAskedAnywhereInAnyCaseIsNeverUndone) {
  // The login's "None" and a tag's request, in either order and any case;
  // requests that disagree fail.
  const std::pair<std::string, std::string> cases[] = {
      {"<Encryption>None</Encryption><encryption>TLS</encryption>",
       "smtp://h:25 TLS"},
      {"<ENCRYPTION>tls</ENCRYPTION><Encryption>none</Encryption>",
       "smtp://h:25 TLS"},
      {"<Encryption>None</Encryption><Extras><encryption>SSL</encryption>"
       "</Extras><Encryption>None</Encryption>",
       "smtps://h:465 SSL"},
      {"<Encryption>TLS</Encryption><encryption>TLS</encryption>",
       "smtp://h:25 TLS"},
      {"<Encryption>SSL</Encryption><encryption>TLS</encryption>",
       "Encryption asks for both TLS and SSL"},
      {"<Encryption>None</Encryption><encryption>StartTLS</encryption>",
       "unknown Encryption \"StartTLS\" (None, TLS or SSL)"},
  };
  for (const auto& [elements, expected] : cases) {
    SmtpServer server;
    const std::string error = ServerOfDocument(
        Read(Document("<Server>h</Server>" + elements)), &server);
    const char* const kNames[] = {"None", "TLS", "SSL"};
    EXPECT_EQ(error.empty()
                  ? server.Url() + " " + kNames[int(server.encryption)]
                  : error,
              expected)
        << elements;
  }
}

// The run over an outbox, through a sender that reads each message in odd
// pieces, as libcurl does, and answers what `answer` says.
class OutboxTest : public ::testing::Test, public MessageSender {
 protected:
  OutboxTest() { std::filesystem::create_directory(outbox_); }

  SendResult Send(const SmtpServer& /*server*/,
                  const OutgoingMessage& message) override {
    if (message.Size() > (uint64_t{1} << 30)) return {};  // not read whole
    MessageReader reader(message);
    std::string text;
    char piece[4097];
    for (ptrdiff_t n; (n = reader.Read(piece, sizeof piece)) > 0;) {
      text.append(piece, static_cast<size_t>(n));
    }
    EXPECT_EQ(text.size(), message.Size());
    sent_.push_back(text);
    return answer_(text);
  }
  // Spools a document NAME whose subject is NAME, for its owner only.
  void Spool(const std::string& name, const std::string& extras = "",
             const std::string& server = "s", const std::string& body = "") {
    testing::WriteBytes(
        Path(name), Document("<Server>" + server +
                                 "</Server><From>a@x"
                                 "</From><To>b@x</To><Subject>" +
                                 name + "</Subject><Body>" + body + "</Body>",
                             extras));
    chmod(Path(name).c_str(), 0600);
  }
  std::string Path(const std::string& name) const {
    return outbox_ + "/" + name;
  }
  int Run() {
    std::ostringstream out, err;
    const int status = RunOutbox(outbox_, options_, out, err, this);
    output_ = out.str() + err.str();
    return status;
  }
  bool Has(const std::string& text) const {
    return output_.find(text) != std::string::npos;
  }

  testing::TempDir dir_;
  std::string outbox_ = dir_.Path("out");
  RunOptions options_;
  std::function<SendResult(const std::string&)> answer_ =
      [](const std::string&) { return SendResult(); };
  std::vector<std::string> sent_;
  std::string output_;
};

TEST_F(OutboxTest, MovesWithoutReplacingAndListsNoLinks) {
  // sent/ keeps both sends of R.xml.
  for (int i = 0; i < 2; ++i) {
    Spool("R.xml");
    EXPECT_EQ(Run(), kExitAllSent) << output_;
  }
  EXPECT_TRUE(testing::PathExists(Path("sent/R.xml")));
  EXPECT_TRUE(testing::PathExists(Path("sent/R-1.xml")));
  // A file planted at the failure log's fresh name is not written into.
  testing::WriteBytes(dir_.Path("victim"), "planted");
  link(dir_.Path("victim").c_str(),
       Path("failed/.log." + std::to_string(getpid()) + ".0").c_str());
  testing::WriteBytes(Path("F.xml"),
                      "<TessaryMAILDoc><MailMessage>"
                      "</MailMessage></TessaryMAILDoc>");
  chmod(Path("F.xml").c_str(), 0600);
  // A link named like a document is never taken.
  Spool("L.xml");
  rename(Path("L.xml").c_str(), dir_.Path("L.xml").c_str());
  symlink(dir_.Path("L.xml").c_str(), Path("L.xml").c_str());
  EXPECT_EQ(Run(), kExitSomeFailed);
  EXPECT_EQ(testing::ReadBytes(dir_.Path("victim")), "planted");
  EXPECT_NE(testing::ReadBytes(Path("failed/F.xml.log"))
                .find("failed F.xml: the document names no Server"),
            std::string::npos);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("L.xml")));
}

TEST_F(OutboxTest, TriesAnUnreachableServerOnceAndLeavesItsDocuments) {
  answer_ = [](const std::string&) {
    return SendResult{SendResult::Outcome::kDeferred, "no greeting", true};
  };
  Spool("A.xml");
  Spool("B.xml");
  EXPECT_EQ(Run(), kExitSomeDeferred);
  EXPECT_EQ(sent_.size(), 1u);
  EXPECT_TRUE(Has("deferred B.xml: no greeting")) << output_;
  EXPECT_TRUE(testing::PathExists(Path("A.xml")) &&
              testing::PathExists(Path("B.xml")));
}

TEST_F(OutboxTest, WhatWasSentIsWhatMovesToSent) {
  Spool("R.xml");
  Spool(".S.xml.sending");  // claimed by a run that was killed
  std::string first;
  answer_ = [&](const std::string&) {
    // The library spools R.xml again while it is being sent.
    if (first.empty()) {
      first = testing::ReadBytes(Path(".R.xml.sending"));
      Spool("R.xml.new", "<Priority>2</Priority>");
      rename(Path("R.xml.new").c_str(), Path("R.xml").c_str());
    }
    return SendResult();
  };
  EXPECT_EQ(Run(), kExitAllSent) << output_;
  EXPECT_TRUE(Has("recovered S.xml") && Has("sent S.xml")) << output_;
  EXPECT_EQ(testing::ReadBytes(Path("sent/R.xml")), first);
  EXPECT_NE(testing::ReadBytes(Path("R.xml")).find("Priority"),
            std::string::npos);
}

TEST_F(OutboxTest, RefusesDocumentsAndFilesOthersCouldHavePlaced) {
  if (geteuid() != 0) GTEST_SKIP() << "gives files to another user: root only";
  testing::WriteBytes(dir_.Path("secret"), "s");
  std::filesystem::create_directory(dir_.Path("d"));
  mkfifo(dir_.Path("fifo").c_str(), 0600);
  symlink(dir_.Path("secret").c_str(), Path("own").c_str());
  symlink(dir_.Path("secret").c_str(), Path("theirs").c_str());
  symlink(dir_.path().c_str(), Path("their-dir").c_str());
  lchown(Path("theirs").c_str(), 12345, 12345);
  lchown(Path("their-dir").c_str(), 12345, 12345);
  const struct {
    std::string attach;
    int mode;
    uid_t owner;
    bool trust;
    std::string line;
  } cases[] = {
      {Path("own"), 0600, 0, false, "sent"},
      {Path("theirs"), 0600, 0, false, "a symbolic link of another user"},
      {Path("their-dir/secret"), 0600, 0, false, "a symbolic link of another"},
      {dir_.Path("fifo"), 0600, 0, false, "not an ordinary file"},
      {dir_.Path("d"), 0600, 0, false, "it is a folder"},
      {"", 0620, 0, false, "can be changed by others (mode 0620"},
      {"", 0600, 12345, false, "belongs to another user (uid 12345)"},
      {"", 0666, 12345, true, "sent"},
  };
  for (const auto& c : cases) {
    options_.trust_any_owner = c.trust;
    Spool("D.xml", c.attach.empty() ? "" : "<Attach>" + c.attach + "</Attach>");
    chmod(Path("D.xml").c_str(), static_cast<mode_t>(c.mode));
    if (c.owner != 0) chown(Path("D.xml").c_str(), c.owner, 0);
    Run();
    EXPECT_TRUE(Has(c.line)) << c.attach << ": " << output_;
    EXPECT_FALSE(testing::PathExists(Path("D.xml")));
  }
}

TEST_F(OutboxTest, APoisonDocumentFailsAloneAndLogsStayLines) {
  const std::string big = dir_.Path("big.bin");
  testing::WriteBytes(big, "");
  ASSERT_EQ(truncate(big.c_str(), off_t{1} << 40), 0);  // sparse, 1 TB
  testing::WriteBytes(dir_.Path("small.bin"), std::string(100000, 'x'));
  Spool("A.xml", "<Attach>" + big + "</Attach>");
  Spool("B.xml");  // the sender runs out of memory on it
  Spool("C.xml", "<Attach>" + dir_.Path("small.bin") + "</Attach>");
  Spool("D\nsent X.xml to b@x\x7f.xml", "", "h\nsent Y.xml");
  answer_ = [](const std::string& text) -> SendResult {
    if (text.find("Subject: B.xml") != std::string::npos)
      throw std::bad_alloc();
    return SendResult();
  };
  EXPECT_EQ(Run(), kExitSomeFailed);
  EXPECT_TRUE(Has("more than the limit of 26214400") &&
              Has("failed B.xml: out of memory") && Has("sent C.xml"))
      << output_;
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_NE(sent_[1].find(Base64Lines(std::string(100000, 'x'))),
            std::string::npos);
  // Line breaks in names and values cannot make a line of their own.
  const std::string log = testing::ReadBytes(Path("pellar-mail.log"));
  const std::string line =
      "failed D\\nsent X.xml to b@x\\x7F.xml: not a server: \"h\\nsent Y.xml\"";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_TRUE(Has(line)) << output_;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
}

TEST_F(OutboxTest, NeitherAFifoLogNorABusyLockHoldsTheRun) {
  options_.lock_timeout = 1;
  const int held =
      open(Path(".pellar-mail.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(Run(), kExitSomeDeferred);
  EXPECT_TRUE(Has("--lock-timeout")) << output_;
  close(held);
  mkfifo(Path("pellar-mail.log").c_str(), 0600);
  // In a child, so that a run that blocks cannot hold the test.
  const pid_t child = fork();
  if (child == 0 && alarm(static_cast<unsigned>(testing::kPatience.count())) == 0) _exit(Run());
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitUsage);
  // With a reader at the other end it opens, and is still refused.
  const int reader =
      open(Path("pellar-mail.log").c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(Run(), kExitUsage);
  EXPECT_TRUE(Has("pellar-mail.log: not an ordinary file")) << output_;
  close(reader);
}

TEST_F(OutboxTest, AReplacementThatOutgrowsTheLimitFailsEarlyAndAlone) {
  options_.max_size = 1 << 20;
  // 256 KiB of "a", each to become 1 KiB: 256 MiB if it were built whole.
  Spool("A.xml",
        "<Find>a</Find><Replace>" + std::string(1024, 'b') + "</Replace>", "s",
        std::string(256 << 10, 'a'));
  Spool("B.xml");
  // In a child, whose peak memory tells how far the body grew.
  const pid_t child = fork();
  if (child == 0) _exit(Run());
  int status = 0;
  waitpid(child, &status, 0);
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitSomeFailed);
  EXPECT_LT(usage.ru_maxrss, 200 << 10);  // KiB
  const std::string log = testing::ReadBytes(Path("pellar-mail.log"));
  EXPECT_NE(log.find("failed A.xml: replacing a makes the message larger "
                     "than the limit of 1048576 bytes"),
            std::string::npos)
      << log;
  EXPECT_TRUE(testing::PathExists(Path("sent/B.xml")));
}

TEST_F(OutboxTest, TheLongestNameTheLibrarySpoolsIsClaimedAndFailed) {
  const std::string name = std::string(242, 'x') + ".xml";
  testing::WriteBytes(Path(name),
                      "<TessaryMAILDoc><MailMessage>"
                      "</MailMessage></TessaryMAILDoc>");
  chmod(Path(name).c_str(), 0600);
  EXPECT_EQ(Run(), kExitSomeFailed);
  EXPECT_TRUE(testing::PathExists(Path("failed/" + name + ".log"))) << output_;
}

TEST_F(OutboxTest, ASharedOutboxRefusesWhatAnotherUserCouldSteer) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user: root only";
  ASSERT_EQ(chmod(outbox_.c_str(), 01777), 0);
  testing::WriteBytes(dir_.Path("own"), "");
  const std::string theirs = "it belongs to another user (uid 4242)";
  const struct {
    std::string name;
    int kind;  // 0 a file, 1 a folder of uid 4242; 2 a link; else a mode
    std::string reason;
  } cases[] = {
      {".pellar-mail.lock", 0, theirs},
      {"pellar-mail.log", 0, theirs},
      {"sent", 1, theirs},
      {"failed", 1, theirs},
      {".pellar-mail.lock", 2, "it is a symbolic link"},
      {"pellar-mail.log", 2, "it is a symbolic link"},
      {"sent", 0757, "others may change it (mode 0757)"},
      {"failed", 0770, "others may change it (mode 0770)"},
  };
  for (const auto& c : cases) {
    for (const char* made :
         {".pellar-mail.lock", "pellar-mail.log", "sent", "failed"}) {
      std::filesystem::remove_all(Path(made));
    }
    Spool("D.xml");
    const char* name = c.name.c_str();
    if (c.kind == 2) symlink(dir_.Path("own").c_str(), Path(name).c_str());
    if (c.kind > 2) {
      mkdir(Path(name).c_str(), 0700);
      chmod(Path(name).c_str(), static_cast<mode_t>(c.kind));
    }
    if (c.kind < 2) {
      // Made by uid 4242 in the open outbox, as in a shared folder.
      const int dir = open(outbox_.c_str(), O_RDONLY | O_DIRECTORY);
      const pid_t child = fork();
      if (child == 0) {
        _exit(setgroups(0, nullptr) != 0 || setgid(4242) != 0 ||
              setuid(4242) != 0 ||
              (c.kind == 0 ? openat(dir, name, O_CREAT | O_WRONLY, 0666) < 0
                           : mkdirat(dir, name, 0777) != 0));
      }
      int status = 0;
      waitpid(child, &status, 0);
      close(dir);
      ASSERT_EQ(status, 0) << name;
    }
    EXPECT_EQ(Run(), kExitUsage) << name;
    EXPECT_TRUE(Has(c.name + ": " + c.reason)) << output_;
    EXPECT_TRUE(sent_.empty() && testing::PathExists(Path("D.xml"))) << name;
  }
}

}  // namespace
}  // namespace pellar::mail
