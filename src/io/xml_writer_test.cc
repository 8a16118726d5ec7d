#include <pellar/io/xml_writer.h>

#include <gtest/gtest.h>

#include <string>

#include <pellar/base/failure.h>
#include <pellar/io/identity.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::FakePlatform;
using testing::Op;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using testing::XmlHeader;

class XmlWriterTest : public ::testing::Test {
 protected:
  XmlWriterTest() { SetApplication(u"", u""); }

  TempDir dir_;
  FakePlatform platform_;
  ScopedPlatform scope_{platform_};
};

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

TEST(XmlEscapeUtf8Test, TheSameReplacementsWithUtf8Kept) {
  const auto hex = [](std::string& out, char c) {
    out += "_x" + std::to_string(int(c)) + "_";
  };
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"a&b'c<d>\"e\"", "a&amp;b&apos;c&lt;d&gt;&quot;e&quot;"},
      {"caf\xC3\xA9 \xE2\x82\xAC\x7F", "caf\xC3\xA9 \xE2\x82\xAC&#0127;"},
      {"1\r\n2\r3\n\t", "1&#0013;&#0010;2&#0013;3\n\t"},
      {std::string("\x01x\0", 3), "_x1_x_x0_"},
  };
  for (const auto& c : cases) {
    std::string out = "kept ";
    XmlEscapeUtf8(out, c.text, hex);
    EXPECT_EQ(out, "kept " + c.escaped);
  }
}

TEST_F(XmlWriterTest, GoldenDocumentReplacesTheOldFile) {
  const std::string path = dir_.Path("doc.xml");
  WriteBytes(path, "old content that is longer than the new one\r\n");
  XmlFile file(FromUtf8(path), u"Root", u"a=\"<&>\"");
  ASSERT_EQ(file.opened(), u"");
  XmlWriter& xml = file.writer();
  xml.OpenTag(u"Rec", u"");
  xml.Element(u"V", u"caf\u00E9 \u4E2D & \"q\"");
  xml.Element(u"E", u"");
  xml.TextElement(u"T", u"l1\r\nl2");
  xml.Line(u"<raw & \u00E9/>");
  xml.Element(u"P", u"\u20AC<");
  xml.OpenTag(u"Q", u"k='v'");
  xml.CloseTag(u"Q");
  xml.CloseTag(u"Rec");
  file.Close();
  EXPECT_EQ(ReadBytes(path), XmlHeader(path) +
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
  XmlFile file(FromUtf8(path), u"", u"ignored");
  ASSERT_EQ(file.opened(), u"");
  file.writer().Element(u"top", u"1");
  file.Close();
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

TEST_F(XmlWriterTest, AFileLeftUnclosedKeepsItsLinesWithoutTheRootEndTag) {
  const std::string path = dir_.Path("left.xml");
  {
    XmlFile file(FromUtf8(path), u"A", u"");
    ASSERT_EQ(file.opened(), u"");
    file.writer().Element(u"x", u"1");
  }
  EXPECT_EQ(ReadBytes(path), XmlHeader(path) + "<A>\r\n<x>1</x>\r\n");
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

TEST_P(XmlOpenFailureTest, IsAnsweredAndLeavesNoFileOpen) {
  const OpenFailureCase& c = GetParam();
  const std::string path = dir_.Path("f.xml");
  WriteBytes(path, "old");
  FailingPlatform failing(c.op, c.nth, c.number);
  ScopedPlatform scope(failing);
  {
    XmlFile file(FromUtf8(path), u"R", u"");
    EXPECT_EQ(file.opened(), u"Error Creating File: " + Text(Describe(c.number)));
    EXPECT_TRUE(failing.Fired());
    EXPECT_EQ(failing.OpenFiles(), 0);
  }
  EXPECT_EQ(ReadBytes(path), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, XmlOpenFailureTest,
    ::testing::Values(
        // The one platform call of the open fails before it deletes.
        OpenFailureCase{"Create", Op::kCreate, 1, error::kDiskFull, "old"},
        // What was written before the failing header line stays.
        OpenFailureCase{"ThirdHeaderLine", Op::kWrite, 3, error::kDiskFull,
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                        "<!-- XML File Created by PellarLib -->\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlWriterTest, AWildcardNameDeletesNothing) {
  WriteBytes(dir_.Path("a.xml"), "kept");
  XmlFile file(dir_.TextPath("*.xml"), u"R", u"");
  EXPECT_EQ(file.opened(), u"Error Creating File: Bad file name or number");
  EXPECT_EQ(ReadBytes(dir_.Path("a.xml")), "kept");
}

}  // namespace
}  // namespace pellar
