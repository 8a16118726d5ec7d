// Composing a message: status texts, append rules, element lines and the
// attachment table.
#include <pellar/mail/email.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::TempDir;
using testing::WriteBytes;

using ::pellar::testing::FailureOf;

class EmailTest : public ::testing::Test {
 protected:
  EmailTest() {
    WriteBytes(dir_.Path("body.txt"), "\r\n\r\nfirst\r\n\r\nlast\r\n");
    WriteBytes(dir_.Path("page & co.html"), "<p>hi</p>");
    WriteBytes(dir_.Path(".hidden"), "secret");
    std::filesystem::create_directory(dir_.Path("folder"));
  }

  Text Path(std::string_view name) const { return dir_.TextPath(name); }
  Text Attach(Text name) { return email_.Attach(name); }
  Text AddTag(Text name, Text value) { return email_.AddTag(name, value); }
  Text Command(Text name, Text value) { return email_.Command(name, value); }

  TempDir dir_;
  Email email_;
};

// Every status text of the composing methods, each called by name on a
// fresh message as a script would call it.
TEST_F(EmailTest, StatusTexts) {
  const Text body = Path("body.txt"), html = Path("page & co.html"),
             missing = Path("missing.txt"), folder = Path("folder"),
             hidden = Path(".hidden");
  struct Case {
    Text method;
    std::vector<Text> args;
    Text expected;
  };
  const std::vector<Case> cases = {
      {u"Clear", {}, u"New Message started"},
      {u"Body", {u"a & b"}, u"a & b"},
      {u"HTML", {u"<p>"}, u"<p>"},
      {u"BodyFile", {u""}, u"No FileName Specified"},
      {u"BodyFile", {missing}, u"Cannot find" + missing},
      {u"BodyFile", {folder}, u"Cannot find" + folder},
      {u"BodyFile", {hidden}, u"Cannot find" + hidden},
      {u"BodyFile", {body}, u"Message Body loaded from " + body},
      {u"HTMLFile", {u""}, u"No FileName Specified"},
      {u"HTMLFile", {missing}, u"Cannot find" + missing},
      {u"HTMLFile", {html}, u"<HTML-File>" + html},
      {u"HTMLFilePreview", {u""}, u"No FileName Specified"},
      {u"HTMLFilePreview", {u"anything"}, u""},
      {u"Attach", {u""}, u"No FileName Specified"},
      {u"Attach", {missing}, u"Cannot find" + missing},
      {u"Attach", {folder}, u"Cannot find" + folder},
      {u"Attach", {body}, u"Attached=" + body},
      {u"Edit", {u"", u"x"}, u"Cannot Replace Empty String"},
      {u"Edit",
       {u"<name>", u"Ada & co"},
       u"Replacing all occurances of '<name>' with 'Ada & co'"},
      {u"Edit", {u"x", u""}, u"Replacing all occurances of 'x' with ''"},
      {u"EditFile", {u"", u"x"}, u"Cannot Replace Empty String"},
      {u"EditFile",
       {u"%TABLE%", u"no such file.html"},
       u"Replacing all occurances of '%TABLE%' with File='no such file.html'"},
      {u"SetServerLogin", {u"mailer", u"pa55"}, u"Server login set to mailer"},
      {u"AddTag", {u"Cc", u"a&b <c@d>"}, u"<Cc>a&b <c@d>"},
      {u"Command", {u"Priority", u""}, u"<Priority>"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Object> email = Object::Create(u"PellarLib.Email");
    std::vector<Value> values(c.args.begin(), c.args.end());
    std::vector<Arg> args;
    for (Value& value : values) args.push_back(Arg::Ref(value));
    EXPECT_EQ(std::get<Text>(Invoke(*email, c.method, args)), c.expected)
        << ToUtf8(c.method);
    // Composing never changes the caller's variables.
    for (size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(std::get<Text>(values[i]), c.args[i]) << ToUtf8(c.method);
    }
  }
}

TEST_F(EmailTest, BodiesJoinPiecesWithCrLf) {
  EXPECT_EQ(email_.Body(u"one"), u"one");
  EXPECT_EQ(email_.Body(u"two"), u"two");
  EXPECT_EQ(email_.body(), u"one\r\ntwo");
  // An empty piece on a non-empty body adds a bare line end.
  email_.Body(u"");
  EXPECT_EQ(email_.body(), u"one\r\ntwo\r\n");
  // An empty piece on an empty body leaves it empty; the next one starts it.
  email_.HTML(u"");
  email_.HTML(u"<p>");
  email_.HTML(u"</p>");
  EXPECT_EQ(email_.html_body(), u"<p>\r\n</p>");
  // A file's lines come joined by CR LF, leading empty lines dropped.
  Text name = Path("body.txt");
  email_.BodyFile(name);
  EXPECT_EQ(email_.body(), u"one\r\ntwo\r\n\r\nfirst\r\n\r\nlast");
}

TEST_F(EmailTest, BodyFileThatCannotBeReadFailsAndKeepsTheBody) {
  email_.Body(u"kept");
  FailingPlatform platform(Op::kOpen, 1, error::kPermissionDenied);
  ScopedPlatform scope(platform);
  Text name = Path("body.txt");
  EXPECT_EQ(FailureOf([&] { email_.BodyFile(name); }),
            error::kPermissionDenied);
  EXPECT_EQ(email_.body(), u"kept");
}

TEST_F(EmailTest, ElementLinesEscapeTheValueOnly) {
  EXPECT_EQ(AddTag(u"Cc", u"Tom & Jerry's \"<x>\"\r\nnext caf\u00E9"),
            u"<Cc>Tom & Jerry's \"<x>\"\r\nnext caf\u00E9");
  EXPECT_EQ(email_.tags(),
            u"<Cc>Tom &amp; Jerry&apos;s &quot;&lt;x&gt;&quot;&#0013;&#0010;"
            u"next caf&#0233;</Cc>");
  // The name goes in as passed; later lines follow after CR LF.
  AddTag(u"X-A&B", u"");
  AddTag(u"Cc", u"second");
  EXPECT_EQ(email_.tags(),
            u"<Cc>Tom &amp; Jerry&apos;s &quot;&lt;x&gt;&quot;&#0013;&#0010;"
            u"next caf&#0233;</Cc>\r\n<X-A&B></X-A&B>\r\n<Cc>second</Cc>");
  EXPECT_EQ(email_.extras(), u"");
}

TEST_F(EmailTest, RequestsForTheMailProgramGoToTheExtrasInCallOrder) {
  Text find = u"%NAME%", replace = u"", replace_file = u"part & parcel.txt";
  email_.Edit(find, replace);
  email_.EditFile(find, replace_file);
  Text html = Path("page & co.html");
  EXPECT_EQ(email_.HTMLFile(html), u"<HTML-File>" + html);
  Text escaped_html = html;
  escaped_html.replace(escaped_html.find(u'&'), 1, u"&amp;");
  Command(u"Priority", u"high");
  EXPECT_EQ(email_.extras(),
            u"<Find>%NAME%</Find>\r\n<Replace></Replace>\r\n"
            u"<Find>%NAME%</Find>\r\n<ReplaceFile>part &amp; parcel.txt"
            u"</ReplaceFile>\r\n<HTML-File>" +
                escaped_html + u"</HTML-File>\r\n<Priority>high</Priority>");
  // Refused requests add nothing; previews never do.
  Text empty;
  email_.Edit(empty, replace);
  email_.HTMLFilePreview(html);
  EXPECT_EQ(email_.extras().find(u"<Priority>high</Priority>") + 25,
            email_.extras().size());
  EXPECT_EQ(email_.tags(), u"");
}

TEST_F(EmailTest, ClearStartsANewMessage) {
  email_.Body(u"b");
  email_.HTML(u"h");
  AddTag(u"t", u"v");
  Command(u"c", u"v");
  Text user = u"u", password = u"p";
  email_.SetServerLogin(user, password);
  Attach(Path("body.txt"));
  EXPECT_EQ(email_.Clear(), u"New Message started");
  EXPECT_EQ(email_.body(), u"");
  EXPECT_EQ(email_.html_body(), u"");
  EXPECT_EQ(email_.tags(), u"");
  EXPECT_EQ(email_.extras(), u"");
  EXPECT_EQ(email_.attachment_count(), 0);
}

TEST_F(EmailTest, AttachmentsAreHeldOnceRegardlessOfLetterCase) {
  WriteBytes(dir_.Path("report.csv"), "a");
  WriteBytes(dir_.Path("REPORT.CSV"), "b");
  EXPECT_EQ(Attach(Path("report.csv")), u"Attached=" + Path("report.csv"));
  EXPECT_EQ(Attach(Path("REPORT.CSV")), u"Attached=" + Path("REPORT.CSV"));
  EXPECT_EQ(Attach(Path("report.csv")), u"Attached=" + Path("report.csv"));
  EXPECT_EQ(Attach(Path("body.txt")), u"Attached=" + Path("body.txt"));
  EXPECT_EQ(Attach(Path("nothing.csv")), u"Cannot find" + Path("nothing.csv"));
  ASSERT_EQ(email_.attachment_count(), 2);
  EXPECT_EQ(email_.attachment(0), Path("report.csv"));
  EXPECT_EQ(email_.attachment(1), Path("body.txt"));
}

TEST_F(EmailTest, TheTableHolds401AndThe402ndFailsWithNothingChanged) {
  for (int i = 0; i < 402; ++i) {
    WriteBytes(dir_.Path("a" + std::to_string(i)), "");
  }
  for (int i = 0; i < 401; ++i) {
    Text name = Path("a" + std::to_string(i));
    ASSERT_EQ(Attach(name), u"Attached=" + name);
  }
  EXPECT_EQ(email_.attachment_count(), 401);
  EXPECT_EQ(email_.attachment(400), Path("a400"));
  EXPECT_EQ(FailureOf([&] { Attach(Path("a401")); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(email_.attachment_count(), 401);
  EXPECT_EQ(email_.attachment(400), Path("a400"));
  // A name already held is still answered normally when the table is full.
  EXPECT_EQ(Attach(Path("a7")), u"Attached=" + Path("a7"));
  EXPECT_EQ(email_.attachment_count(), 401);
  // Clear makes room again.
  email_.Clear();
  EXPECT_EQ(Attach(Path("a401")), u"Attached=" + Path("a401"));
  EXPECT_EQ(email_.attachment_count(), 1);
}

}  // namespace
}  // namespace pellar
