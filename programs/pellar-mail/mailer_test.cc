// The parts of pellar-mail without a server: reading spool documents (the
// writer's golden files included), addresses, header and body encodings,
// and the message built from a document. The SMTP side is tested against a
// real server by tests/mail.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mime.h"
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
  const SpoolDocument document =
      Read(Document("<Subject>caf\xe9 \x80</Subject>\r\n"
                    "<Body>a\x0c\x01\nb\r\n</Body>\r\n"));
  EXPECT_EQ(*document.Find("Subject"), "caf\u00e9 \u20ac");
  EXPECT_EQ(*document.Find("Body"), "a\x0c\x01\nb");
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
  const struct {
    std::string text, encoded;
  } cases[] = {
      {"a=b \t\r\n\xc3\xa9.", "a=3Db =09\r\n=C3=A9."},
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
        [&](const std::string& path, std::string* bytes, std::string* error) {
          auto it = files_.find(path);
          if (it == files_.end()) *error = "No such file or directory";
          if (it != files_.end()) *bytes = it->second;
          return it != files_.end();
        },
        0, ""};
    error_ = BuildMessage(Read(Document(message, extras)), context, &out_);
    return out_.data;
  }
  std::map<std::string, std::string> files_ = {{"sig.html", "<i>Caf\xe9</i>"},
                                               {"a.pdf", "%PDF"}};
  OutgoingMessage out_;
  std::string error_;
};

constexpr std::string_view kEnvelope =
    "<From>Ann &lt;ann@x&gt;</From>\r\n<To>b@x</To>\r\n"
    "<Bcc>c@x; b@x</Bcc>\r\n<SMTPPassword>pw</SMTPPassword>\r\n"
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
      {"mail.example.com", "", "smtp://mail.example.com:25"},
      {"mail.example.com:2525", "None", "smtp://mail.example.com:2525"},
      {"127.0.0.1 587", "tls", "smtp://127.0.0.1:587"},
      {"[::1]", "SSL", "smtps://[::1]:465"},
      {"", "", "the document names no Server"},
      {"h:0", "", "not a port: \"0\""},
      {"h/x@y", "", "not a server: \"h/x@y\""},
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

}  // namespace
}  // namespace pellar::mail
