#include "io/xml_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/failure.h"
#include "io/identity.h"
#include "testing/test_support.h"

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::FakePlatform;
using testing::Op;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Leaves the thread's writer closed, whatever a test left behind, while the
// test's platform (which its open file may call) still exists.
void CloseWriter() {
  for (int attempt = 0; attempt < 3 && XmlFileIsOpen(); ++attempt) {
    try {
      XmlCloseFile();
    } catch (const Failure&) {
    }
  }
}

class XmlWriterTest : public ::testing::Test {
 protected:
  XmlWriterTest() { SetApplication(u"", u""); }
  ~XmlWriterTest() override { CloseWriter(); }

  TempDir dir_;
  FakePlatform platform_;
  ScopedPlatform scope_{platform_};
};

// The header block as the fixed clock and the default developer make it.
std::string Header(const std::string& file_name) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<!-- XML File Created by PellarLib -->\r\n"
         "<!-- Developed by Brambleworth -->\r\n"
         "<!-- Copyright (c) 2026 Brambleworth -->\r\n"
         "<!-- PellarLib version 3.2 (30) -->\r\n"
         "<!-- www.brambleworth.example for further details -->\r\n"
         "<!-- File " +
         file_name + " Created 08-Dec-2026-->\r\n";
}

struct EscapeCase {
  const char16_t* text;
  const char16_t* escaped;
};

class XmlEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(XmlEscapeTest, ReplacesEachCharacterClass) {
  EXPECT_EQ(XmlEscape(GetParam().text), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, XmlEscapeTest,
    ::testing::Values(
        EscapeCase{u"", u""}, EscapeCase{u"plain text 123", u"plain text 123"},
        EscapeCase{u"a&b'c", u"a&amp;b&apos;c"},
        EscapeCase{u"&amp;", u"&amp;amp;"}, EscapeCase{u"a<b", u"a&lt;b"},
        EscapeCase{u"x>y", u"x&gt;y"},
        EscapeCase{u"say \"hi\"", u"say &quot;hi&quot;"},
        EscapeCase{u"one\r\ntwo", u"one&#0013;&#0010;two"},
        // Only the pair is replaced; lone CR, LF and other controls stay.
        EscapeCase{u"a\rb\nc\td", u"a\rb\nc\td"},
        EscapeCase{u"\r\r\n\n", u"\r&#0013;&#0010;\n"},
        EscapeCase{u"\n\r", u"\n\r"}, EscapeCase{u"~\u007F", u"~&#0127;"},
        EscapeCase{u"\u20AC", u"&#0128;"}, EscapeCase{u"\u00E9", u"&#0233;"},
        EscapeCase{u"caf\u00E9", u"caf&#0233;"},
        EscapeCase{u"\u00A0\u00FF", u"&#0160;&#0255;"},
        EscapeCase{u"\u0081\u2122", u"&#0129;&#0153;"},
        // Characters the code page lacks are left as they are.
        EscapeCase{u"\u0100\u4E2D", u"\u0100\u4E2D"},
        EscapeCase{u"<&\u00E9\r\n'\">",
                   u"&lt;&amp;&#0233;&#0013;&#0010;&apos;&quot;&gt;"}));

TEST_F(XmlWriterTest, ComposedTextsAreAnsweredWhetherOrNotAFileIsOpen) {
  EXPECT_FALSE(XmlFileIsOpen());
  EXPECT_EQ(XmlWriteElement(u"Name", u"a<b"), u"<Name>a&lt;b</Name>");
  EXPECT_EQ(XmlWriteTextElement(u"Body", u"x&y"), u"<Body>x&amp;y\r\n</Body>");
  EXPECT_EQ(XmlOpenTag(u"R", u""), u"<R>");
  EXPECT_EQ(XmlOpenTag(u"R", u"id=\"1\""), u"<R id=\"1\">");
  EXPECT_EQ(XmlCloseTag(u"R"), u"</R>");
  XmlWriteRaw(u"ignored");
  XmlPutElement(u"a", u"b");
  EXPECT_EQ(XmlCloseFile(), u"XML already closed");
}

TEST_F(XmlWriterTest, GoldenDocument) {
  const std::string path = dir_.Path("doc.xml");
  ASSERT_EQ(XmlOpenFile(FromUtf8(path), u"Root", u"a=\"<&>\""), u"");
  EXPECT_TRUE(XmlFileIsOpen());
  XmlOpenTag(u"Rec", u"");
  XmlWriteElement(u"V", u"caf\u00E9 \u4E2D & \"q\"");
  XmlWriteElement(u"E", u"");
  XmlWriteTextElement(u"T", u"l1\r\nl2");
  XmlWriteRaw(u"<raw & \u00E9/>");
  XmlPutElement(u"P", u"\u20AC<");
  XmlPutOpenTag(u"Q", u"k='v'");
  XmlPutCloseTag(u"Q");
  XmlCloseTag(u"Rec");
  EXPECT_EQ(XmlCloseFile(), u"XML File closed");
  EXPECT_EQ(XmlCloseFile(), u"XML already closed");
  EXPECT_EQ(ReadBytes(path), Header(path) +
                                 "<Root a=\"<&>\">\r\n"
                                 "<Rec>\r\n"
                                 "<V>caf&#0233; ? &amp; &quot;q&quot;</V>\r\n"
                                 "<E></E>\r\n"
                                 "<T>l1&#0013;&#0010;l2\r\n</T>\r\n"
                                 "<raw & \xE9/>\r\n"
                                 "<P>&#0128;&lt;</P>\r\n"
                                 "<Q k='v'>\r\n"
                                 "</Q>\r\n"
                                 "</Rec>\r\n"
                                 "</Root>\r\n");
}

TEST_F(XmlWriterTest, HeaderTakesDeveloperYearAndNameAsGiven) {
  SetApplication(u"App", u"Other Dev");
  platform_.now = {2031, 3, 5, 0, 0, 0};
  const std::string path = dir_.Path("h&<.xml");
  ASSERT_EQ(XmlOpenFile(FromUtf8(path), u"", u"ignored"), u"");
  XmlWriteElement(u"top", u"1");
  XmlCloseFile();
  EXPECT_EQ(ReadBytes(path),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<!-- XML File Created by PellarLib -->\r\n"
            "<!-- Developed by Other Dev -->\r\n"
            "<!-- Copyright (c) 2031 Other Dev -->\r\n"
            "<!-- PellarLib version 3.2 (30) -->\r\n"
            "<!-- www.brambleworth.example for further details -->\r\n"
            "<!-- File " +
                path +
                " Created 05-Mar-2031-->\r\n"
                "<top>1</top>\r\n");
}

TEST_F(XmlWriterTest, OpeningReplacesTheFileAndClosesTheOneLeftOpen) {
  const std::string first = dir_.Path("first.xml");
  const std::string second = dir_.Path("second.xml");
  WriteBytes(second, "old content that is longer than the new one\r\n");
  ASSERT_EQ(XmlOpenFile(FromUtf8(first), u"A", u""), u"");
  XmlWriteElement(u"x", u"1");
  ASSERT_EQ(XmlOpenFile(FromUtf8(second), u"B", u""), u"");
  // The first file is closed without its root end tag.
  EXPECT_EQ(ReadBytes(first), Header(first) + "<A>\r\n<x>1</x>\r\n");
  EXPECT_EQ(XmlCloseFile(), u"XML File closed");
  EXPECT_EQ(ReadBytes(second), Header(second) + "<B>\r\n</B>\r\n");
}

struct OpenFailureCase {
  const char* name;
  Op op;
  int nth;
  int number;
  const char* kept;  // bytes left in the file
};

class XmlOpenFailureTest
    : public XmlWriterTest,
      public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(XmlOpenFailureTest, IsAnsweredAndLeavesTheWriterClosed) {
  const OpenFailureCase& c = GetParam();
  const std::string path = dir_.Path("f.xml");
  WriteBytes(path, "old");
  FailingPlatform failing(c.op, c.nth, c.number);
  ScopedPlatform scope(failing);
  EXPECT_EQ(XmlOpenFile(FromUtf8(path), u"R", u""),
            u"Error Creating File: " + Text(Describe(c.number)));
  EXPECT_TRUE(failing.Fired());
  EXPECT_FALSE(XmlFileIsOpen());
  EXPECT_EQ(failing.OpenFiles(), 0);
  EXPECT_EQ(ReadBytes(path), c.kept);
  XmlWriteElement(u"after", u"x");
  EXPECT_EQ(XmlCloseFile(), u"XML already closed");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, XmlOpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"Lookup", Op::kLookup, 1, error::kPermissionDenied,
                        "old"},
        OpenFailureCase{"Delete", Op::kDelete, 1, error::kPermissionDenied,
                        "old"},
        OpenFailureCase{"Create", Op::kCreate, 1, error::kDiskFull, ""},
        // What was written before the failing header line stays.
        OpenFailureCase{"ThirdHeaderLine", Op::kWrite, 3, error::kDiskFull,
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                        "<!-- XML File Created by PellarLib -->\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlWriterTest, AWildcardNameDeletesNothing) {
  WriteBytes(dir_.Path("a.xml"), "kept");
  EXPECT_EQ(XmlOpenFile(dir_.TextPath("*.xml"), u"R", u""),
            u"Error Creating File: Bad file name or number");
  EXPECT_EQ(ReadBytes(dir_.Path("a.xml")), "kept");
  EXPECT_FALSE(XmlFileIsOpen());
}

TEST_F(XmlWriterTest, FailedOpenAlsoClosesTheFileLeftOpen) {
  const std::string first = dir_.Path("first.xml");
  ASSERT_EQ(XmlOpenFile(FromUtf8(first), u"A", u""), u"");
  XmlWriteElement(u"x", u"1");
  EXPECT_NE(XmlOpenFile(dir_.TextPath("none/x.xml"), u"B", u""), u"");
  EXPECT_FALSE(XmlFileIsOpen());
  EXPECT_EQ(ReadBytes(first), Header(first) + "<A>\r\n<x>1</x>\r\n");
}

TEST_F(XmlWriterTest, EachThreadHasItsOwnWriter) {
  const std::string path = dir_.Path("main.xml");
  ASSERT_EQ(XmlOpenFile(FromUtf8(path), u"Main", u""), u"");
  std::string other_path = dir_.Path("other.xml");
  bool other_saw_open = true;
  std::thread other([&] {
    FakePlatform platform;
    ScopedPlatform scope(platform);
    other_saw_open = XmlFileIsOpen();
    XmlOpenFile(FromUtf8(other_path), u"Other", u"");
    XmlWriteElement(u"t", u"other");
    XmlCloseFile();
  });
  other.join();
  EXPECT_FALSE(other_saw_open);
  EXPECT_TRUE(XmlFileIsOpen());
  XmlWriteElement(u"t", u"main");
  XmlCloseFile();
  EXPECT_EQ(ReadBytes(path),
            Header(path) + "<Main>\r\n<t>main</t>\r\n</Main>\r\n");
  EXPECT_EQ(ReadBytes(other_path),
            Header(other_path) + "<Other>\r\n<t>other</t>\r\n</Other>\r\n");
}

}  // namespace
}  // namespace pellar
