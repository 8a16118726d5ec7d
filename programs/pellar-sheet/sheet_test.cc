// The control document reader, values and format texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pellar/base/text.h>

#include "control_reader.h"
#include "document_cells.h"
#include "workbook.h"

namespace pellar::sheet {
namespace {

struct Collect : ControlSink {
  std::string Header(const std::string& excel,
                     const std::string& sheet) override {
    header = excel + "!" + sheet;
    return "";
  }
  std::string Cell(const ControlCell& c) override {
    cells.push_back(std::to_string(c.row) + "," + std::to_string(c.col) + "=" +
                    c.value + "|" + c.format + "@" + std::to_string(c.line));
    return "";
  }
  std::string header;
  std::vector<std::string> cells;
};

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<!-- File C:\\a--b.xml Created 09-Dec-2026-->\r\n"
    "<WorksheetDoc>\r\n<Application>ExcelMacro</Application>\r\n"
    "<ExcelFile>R&amp;D.xlsx</ExcelFile>\r\n<OpenWorkSheet>Caf&#0233;</"
    "OpenWorkSheet>\r\n";

TEST(ControlReader, ReadsTheWritersCodesInAnyPieces) {
  const std::string doc = kHead +
                          "<Cell>\r\n<Row>0</Row>\r\n<Col>1</"
                          "Col>\r\n<Value>&#0128;5 &lt;&#0013;&#0010;\x01"
                          "</Value>\r\n<Format>Bold=1</Format>\r\n</Cell>\r\n"
                          "<Cell><Row>2</Row><Col>3</Col><Value>x</"
                          "Value><Format></Format></Cell>\r\n"
                          "</WorksheetDoc>\r\n";
  const std::vector<std::string> expected = {
      "0,1=\xE2\x82\xAC"
      "5 <\r\n\x01|Bold=1@7",
      "2,3=x|@13"};
  for (size_t piece : {doc.size(), size_t{1}, size_t{7}}) {
    Collect sink;
    ControlReader reader(&sink);
    bool ok = true;
    for (size_t i = 0; i < doc.size(); i += piece) {
      ok = reader.Feed(std::string_view(doc).substr(i, piece), false);
    }
    ok = ok && reader.Feed("", true);
    EXPECT_TRUE(ok) << reader.error();
    EXPECT_EQ(sink.header, "R&D.xlsx!Caf\xC3\xA9");
    EXPECT_EQ(sink.cells, expected) << piece;
  }
}

// The reader looks at the bytes eight at a time: each byte that is not plain
// ASCII, at every place in a word, reads back as the writer meant it.
TEST(ControlReader, EveryByteReadsBackWhereverItStands) {
  for (const char byte :
       {'\x00', '\x01', '\x08', '\x0B', '\x0C', '\x1F', '\t', '\x7F', '\x80',
        '\x81', '\x9F', '\xA0', '\xE9', '\xFF'}) {
    for (size_t at = 0; at < 17; ++at) {
      std::string value(24, 'v');
      value[at] = byte;
      Collect sink;
      EXPECT_EQ(ReadControl(kHead + "<Cell><Row>0</Row><Col>1</Col><Value>" +
                                value + "</Value></Cell></WorksheetDoc>",
                            &sink),
                "");
      EXPECT_EQ(
          sink.cells,
          std::vector<std::string>{"0,1=" + ToUtf8(FromAnsi(value)) + "|@7"})
          << int(static_cast<unsigned char>(byte)) << " at " << at;
    }
  }
}

TEST(ControlReader, RefusesWhatIsNotAControlDocumentNamingTheLine) {
  const std::string cell =
      "<Cell><Row>0</Row><Col>1</Col><Value>v</Value><Format/></Cell>\r\n";
  const struct {
    std::string doc, error;
  } cases[] = {
      {"", "not an XML document: no element found (line 1)"},
      {"<Other/>", "the root element is <Other>, not <WorksheetDoc> (line 1)"},
      {"<WorksheetDoc>" + cell + "</WorksheetDoc>",
       "no <ExcelFile> before the cells (line 1)"},
      {"<WorksheetDoc><ExcelFile>a</ExcelFile></WorksheetDoc>",
       "the document names no <OpenWorkSheet> (line 1)"},
      {kHead + "<Cell><Row>-1</Row></Cell>",
       "<Row> holds \"-1\", not a number (line 7)"},
      {kHead + "<Cell><Row>1</Row><Col>1e3</Col></Cell>",
       "<Col> holds \"1e3\", not a number (line 7)"},
      {kHead + "<Cell><Row>1</Row><Row>2</Row></Cell>",
       "two <Row> in a <Cell> (line 7)"},
      {kHead + "<Cell><Row>1</Row><Value>1</Value></Cell>",
       "a <Cell> without <Col> (line 7)"},
      {kHead + "<Cell><Bold>1</Bold></Cell>",
       "unexpected <Bold> in a <Cell> (line 7)"},
      {kHead + cell + "<ExcelFile>b</ExcelFile>",
       "<ExcelFile> after the first <Cell> (line 8)"},
      {"<!DOCTYPE x>\n<WorksheetDoc/>",
       "a control document has no document type declaration (line 1)"},
      {kHead + cell, "not an XML document: no element found (line 8)"},
  };
  for (const auto& c : cases) {
    Collect sink;
    EXPECT_EQ(ReadControl(c.doc, &sink), c.error) << c.doc;
  }
}

TEST(ControlReader, MatchesElementNamesInAnyCase) {
  Collect sink;
  EXPECT_EQ(ReadControl("<worksheetdoc><APPLICATION>ExcelMacro</APPLICATION>"
                        "<excelfile>a.xlsx</excelfile><OpenWorksheet>S"
                        "</OpenWorksheet><cell><ROW>0</ROW><col>1</col>"
                        "<value>v</value><FORMAT>Bold=1</FORMAT></cell>"
                        "</worksheetdoc>",
                        &sink),
            "");
  EXPECT_EQ(sink.header, "a.xlsx!S");
  EXPECT_EQ(sink.cells, std::vector<std::string>{"0,1=v|Bold=1@1"});
  EXPECT_EQ(ReadControl(kHead + "<Cell><Row>1</Row><row>2</row></Cell>", &sink),
            "two <Row> in a <Cell> (line 7)");
}

// Read as declared, in any pieces; UTF-8 when nothing is declared, the
// library's Windows-1252 where a byte begins no UTF-8.
TEST(ControlReader, ReadsTheEncodingTheDocumentDeclares) {
  const std::string kMark = "\xEF\xBB\xBF";  // a UTF-8 byte order mark
  const struct {
    std::string declaration, value, read_or_error;
  } cases[] = {
      {"encoding=\"utf-8\"", "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\u00e9 \u20ac"},
      {"encoding=\"UTF-8\"", "\xC2\x80|\xE9|\xC3", "\u0080|\u00e9|\u00c3"},
      {"", "\xEF\xBB\xBF\xF0\x9F\x98\x80", "\uFEFF\U0001F600"},
      {"encoding='windows-1252'", "\xC3\xA9\x80", "\u00c3\u00a9\u20ac"},
      {"encoding=\"ISO-8859-1\"", "\xE9\x80", "\u00e9\u0080"},
      {"encoding=\"us-ascii\"", "ab&#0233;", "ab\u00e9"},
      {"encoding=\"US-ASCII\"", "a\xE9",
       "a character above 127 in a document declared US-ASCII (line 7)"},
      {"encoding=\"EBCDIC\"", "a",
       "the document declares the encoding \"EBCDIC\"; it can be UTF-8, "
       "Windows-1252, ISO-8859-1 or US-ASCII (line 1)"},
      {"encoding=''", "a",
       "the document declares the encoding \"\"; it can be UTF-8, "
       "Windows-1252, ISO-8859-1 or US-ASCII (line 1)"},
      {kMark + "encoding=\"utf-8\"", "\xC3\xA9", "\u00e9"},
      {kMark + "encoding=\"windows-1252\"", "a",
       "the document begins with a UTF-8 byte order mark but declares "
       "windows-1252 (line 1)"},
  };
  for (const auto& c : cases) {
    std::string doc = kHead + "<Cell><Row>0</Row><Col>1</Col><Value>" +
                      c.value + "</Value></Cell></WorksheetDoc>";
    const bool marked = c.declaration.starts_with(kMark);
    doc.replace(doc.find("encoding=\"utf-8\""), 16,
                c.declaration.substr(marked ? kMark.size() : 0));
    if (marked) doc = kMark + doc;
    for (size_t piece : {doc.size(), size_t{1}}) {
      Collect sink;
      ControlReader reader(&sink);
      // A refusal is kept in error(): feeding on answers false again.
      bool fed = true;
      for (size_t i = 0; i < doc.size() && fed; i += piece) {
        fed = reader.Feed(std::string_view(doc).substr(i, piece), false);
      }
      if (fed) fed = reader.Feed("", true);
      EXPECT_EQ(fed, reader.error().empty()) << c.declaration;
      const std::string read =
          sink.cells.empty()
              ? ""
              : sink.cells[0].substr(4, sink.cells[0].size() - 7);
      EXPECT_EQ(reader.error().empty() ? read : reader.error(), c.read_or_error)
          << c.declaration << " in pieces of " << piece;
    }
  }
}

TEST(Values, QuotesNumbersAndFormulas) {
  using K = CellValue::Kind;
  const struct {
    std::string stored;
    bool formulas;
    K kind;
    std::string text;
    double number;
  } cases[] = {
      {"12.5", false, K::kNumber, "12.5", 12.5},
      {"-3E2", false, K::kNumber, "-3E2", -300},
      {"00123", false, K::kNumber, "00123", 123},
      {"\"00123\"", false, K::kText, "00123", 0},
      {"'12'", false, K::kText, "12", 0},
      {"\"a\"\"", false, K::kText, "a\"", 0},
      {"\"", false, K::kText, "\"", 0},
      {"'x\"", false, K::kText, "'x\"", 0},
      {" 7", false, K::kText, " 7", 0},
      {"1,5", false, K::kText, "1,5", 0},
      {"1e999", false, K::kText, "1e999", 0},
      {"1234567890123456", false, K::kText, "1234567890123456", 0},
      {"000123456789012345", false, K::kNumber, "000123456789012345",
       123456789012345},
      // Past the short-number buffer, and a non-ASCII digit lookalike.
      {"0." + std::string(70, '0') + "5", false, K::kNumber,
       "0." + std::string(70, '0') + "5", 5e-71},
      {"1\xC2\xB2", false, K::kText, "1\xC2\xB2", 0},
      {"=1+2", false, K::kText, "=1+2", 0},
      {"=1+2", true, K::kFormula, "1+2", 0},
      {"\"=1+2\"", true, K::kText, "=1+2", 0},
      {"=", true, K::kText, "=", 0},
  };
  for (const auto& c : cases) {
    const CellValue v = ClassifyValue(c.stored, c.formulas);
    EXPECT_EQ(v.kind, c.kind) << c.stored;
    EXPECT_EQ(v.text, c.text) << c.stored;
    EXPECT_EQ(v.number, c.number) << c.stored;
  }
}

// Dates in the forms the script host writes, as spreadsheets count days:
// 2/29/1900, which never was, is day 60, and the days before it one fewer.
TEST(Values, DatesAsSpreadsheetsCountThem) {
  const struct {
    std::string stored;
    DateRead read;
    double serial;
    std::string_view format;
  } cases[] = {
      {"1/1/1900", DateRead::kDate, 1, "m/d/yyyy"},
      {"2/28/1900", DateRead::kDate, 59, "m/d/yyyy"},
      {"2/29/1900", DateRead::kDate, 60, "m/d/yyyy"},
      {"3/1/1900", DateRead::kDate, 61, "m/d/yyyy"},
      {"2/29/2024", DateRead::kDate, 45351, "m/d/yyyy"},
      {"12/31/9999", DateRead::kDate, 2958465, "m/d/yyyy"},
      {"2/29/2024 1:05:09 PM", DateRead::kDate, 45351 + 47109 / 86400.0,
       "m/d/yyyy h:mm:ss AM/PM"},
      {"1/1/2000 12:00:00 AM", DateRead::kDate, 36526,
       "m/d/yyyy h:mm:ss AM/PM"},
      {"12:30:00 PM", DateRead::kDate, 0.5 + 1800 / 86400.0, "h:mm:ss AM/PM"},
      {"12/31/1899", DateRead::kOutOfRange, 0, ""},
      {"1/1/100", DateRead::kOutOfRange, 0, ""},
      {"1/1/10000", DateRead::kOutOfRange, 0, ""},
      {"2/30/2024", DateRead::kNotADate, 0, ""},
      {"2/29/2023", DateRead::kNotADate, 0, ""},
      {"13/1/2024", DateRead::kNotADate, 0, ""},
      {"1/2", DateRead::kNotADate, 0, ""},
      {"1/2/24", DateRead::kNotADate, 0, ""},
      {"1/2/2024 ", DateRead::kNotADate, 0, ""},
      {"13:00:00 PM", DateRead::kNotADate, 0, ""},
      {"1:60:00 PM", DateRead::kNotADate, 0, ""},
      {"1:05 PM", DateRead::kNotADate, 0, ""},
      {"1:05:09", DateRead::kNotADate, 0, ""},
      {"2024", DateRead::kNotADate, 0, ""},
  };
  for (const auto& c : cases) {
    double serial = 0;
    std::string_view format;
    EXPECT_EQ(ReadDate(c.stored, &serial, &format), c.read) << c.stored;
    EXPECT_DOUBLE_EQ(serial, c.serial) << c.stored;
    EXPECT_EQ(format, c.format) << c.stored;
  }
  // A date that is no spreadsheet date stays text, with a warning; quoted
  // or with dates kept as texts, it is text.
  std::string warning;
  EXPECT_EQ(ClassifyValue("1/1/1899", false, true, &warning).kind,
            CellValue::Kind::kText);
  EXPECT_EQ(warning,
            "the date 1/1/1899 lies outside 1/1/1900 to 12/31/9999, the days "
            "a spreadsheet holds: it stays text");
  EXPECT_EQ(ClassifyValue("2/29/2024", false, false).kind,
            CellValue::Kind::kText);
  EXPECT_EQ(ClassifyValue("\"2/29/2024\"", false).kind, CellValue::Kind::kText);
  EXPECT_EQ(ClassifyValue("'True'", false).kind, CellValue::Kind::kText);
  EXPECT_EQ(ClassifyValue("Truth", false).kind, CellValue::Kind::kText);
}

// A template's number format tells whether a date keeps it.
TEST(Values, DateFormatsAreToldApart) {
  EXPECT_TRUE(IsDateFormat(14, ""));
  EXPECT_TRUE(IsDateFormat(164, "dd.mm.yyyy"));
  EXPECT_TRUE(IsDateFormat(164, "[h]:mm"));
  EXPECT_FALSE(IsDateFormat(4, "#,##0.00"));
  EXPECT_FALSE(IsDateFormat(164, "\"days\" 0"));
  EXPECT_FALSE(IsDateFormat(164, "[Magenta]0.00"));
}

// What a dry run lists: what the workbook will hold, on one line.
TEST(Values, DescribedAsTheirCellsWillHoldThem) {
  const struct {
    std::string stored;
    bool formulas;
    std::string shown;
  } cases[] = {
      {"00123", false, "number 123"},
      {"-3E2", false, "number -300"},
      {"0.1", false, "number 0.1"},
      {"\"00123\"", false, "text 00123"},
      {"=A1*2", false, "text =A1*2"},
      {"=A1*2", true, "formula =A1*2"},
      {"2/29/2024", false, "date 2/29/2024 (serial 45351)"},
      {"True", false, "boolean TRUE"},
      {"false", false, "boolean FALSE"},
      {"'a\x01\r\nb\xC2\x85'", false, "text a\\x01\\r\\nb\\u0085"},
      {"=\"a\tb\"", true, "formula =\"a\\tb\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescribeValue(ClassifyValue(c.stored, c.formulas)), c.shown)
        << c.stored;
  }
}

// Spreadsheet programs read "_xHHHH_" as a character: a text holding one
// literally keeps it by escaping its "_".
TEST(Values, LiteralCharacterCodesAreEscaped) {
  const struct {
    std::string text, written;
  } cases[] = {
      {"plain _x text", "plain _x text"},
      {"_x0041_", "_x005F_x0041_"},
      {"x_x005F_y", "x_x005F_x005F_y"},
      {"_x0041__x00e9_", "_x005F_x0041__x005F_x00e9_"},
      {"_x005F_x0041_", "_x005F_x005F_x005F_x0041_"},
      {"_x004_ _x00G1_ _X0041_ _x0041", "_x004_ _x00G1_ _X0041_ _x0041"},
  };
  std::string scratch = "left from before";
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeLiteralCodes(c.text, &scratch), c.written);
  }
}

TEST(Values, ControlCharactersAreWrittenAsCodes) {
  const struct {
    std::string text, written;
  } cases[] = {
      {"plain\ttext\n", "plain\ttext\n"},
      {std::string("a\0b", 3), "a_x0000_b"},
      {"\x01\r\x1F ", "_x0001__x000D__x001F_ "},
  };
  std::string scratch;
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeControlCodes(c.text, &scratch), c.written);
  }
}

TEST(Formats, PairsRunTogetherUnknownAndBadOnesReported) {
  const struct {
    std::string text;
    std::string key;  // the style's key, or "" for none
    std::vector<FormatIssue> issues;
  } cases[] = {
      {"", "", {}},
      {"Bold=1Italic=1", Style{.bold = true, .italic = true}.Key(), {}},
      {"bold=TRUEITALIC=no", Style{.bold = true, .italic = false}.Key(), {}},
      {"Color=#0000FFFont=Arial Black",
       Style{.font = "Arial Black", .color = 0x0000FF}.Key(),
       {}},
      {"Align=leftVAlign=top",
       Style{.align = Align::kLeft, .valign = VAlign::kTop}.Key(),
       {}},
      {"NumberFormat=[>=100]0.00Fill=navy",
       Style{.number_format = "[>=100]0.00", .fill = 0x000080}.Key(),
       {}},
      {"Color=redBlink=1Bold=1",
       Style{.bold = true, .color = 0xFF0000}.Key(),
       {{"Blink", "unknown property"}}},
      {"Size=hugeBorder=thin",
       Style{.border = Border::kThin}.Key(),
       {{"Size", "bad value \"huge\""}}},
      {"Bold", "", {{"Bold", "not a Property=Value pair"}}},
      {"xyBold=",
       "",
       {{"xy", "not a Property=Value pair"}, {"Bold", "bad value \"\""}}},
      {"Color=#12345GWrap=maybe",
       "",
       {{"Color", "bad value \"#12345G\""}, {"Wrap", "bad value \"maybe\""}}},
      {"Width=20Height=500", "", {{"Height", "bad value \"500\""}}},
      {"Size=0Bold=1",
       Style{.bold = true}.Key(),
       {{"Size", "bad value \"0\""}}},
      // A value holding "=" and names in quotes.
      {"NumberFormat=\"Total=\"0.00",
       Style{.number_format = "\"Total=\"0.00"}.Key(),
       {}},
      {"NumberFormat=\"Bold=1\"0Italic=1",
       Style{.italic = true, .number_format = "\"Bold=1\"0"}.Key(),
       {}},
      {"NumberFormat=0.00Blink=1Align=right",
       Style{.number_format = "0.00", .align = Align::kRight}.Key(),
       {{"Blink", "unknown property"}}},
  };
  for (const auto& c : cases) {
    std::vector<FormatIssue> issues;
    const Format f = ParseFormat(c.text, &issues);
    EXPECT_EQ(f.style.empty() ? "" : f.style.Key(), c.key) << c.text;
    EXPECT_EQ(issues, c.issues) << c.text;
  }
  std::vector<FormatIssue> issues;
  const Format f = ParseFormat("Width=20.5Height=30", &issues);
  EXPECT_EQ(f.width, 20.5);
  EXPECT_EQ(f.height, 30);
}

TEST(SheetNames, MatchInAnyCaseByUnicodeSimpleFolding) {
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {"\u00DCbersicht", "\u00FCBERSICHT", true},
      {"\u03A3", "\u03C2", true},          // capital and final sigma
      {"\u1E9E", "\u00DF", true},          // capital and small sharp s
      {"\u0401", "\u0451", true},          // Cyrillic
      {"\U00010400", "\U00010428", true},  // Deseret
      {"\u212A", "k", true},               // Kelvin sign
      {"\u0130", "i", false},              // only a full folding makes it "i"
      {"Stra\u00DFe", "STRASSE", false},
      {"a\xFF", "A\xFF", true},  // not UTF-8: the byte stays
      {"\xC3", "\xE3", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FoldCase(c.a) == FoldCase(c.b), c.same) << c.a << " " << c.b;
  }
}

TEST(CellNames, BothWays) {
  int64_t row = 0, col = 0;
  EXPECT_TRUE(ParseCellName("B3", &row, &col));
  EXPECT_EQ(row * 100000 + col, 300002);
  EXPECT_TRUE(ParseCellName("xfd1048576", &row, &col));
  EXPECT_EQ(col, kMaxCols);
  for (const char* bad :
       {"", "A", "3", "A0", "A01", "XFE1", "A1048577", "B3C"}) {
    EXPECT_FALSE(ParseCellName(bad, &row, &col)) << bad;
  }
  EXPECT_EQ(ColumnName(1) + ColumnName(26) + ColumnName(27) + ColumnName(16384),
            "AZAAXFD");
}

ControlCell At(int64_t row, int64_t col, std::string value,
               std::string format = "") {
  return {.row = row, .col = col, .value = value, .format = format};
}

// Places `in` with `options`: the sheet cell's name, or why it was refused.
std::string Placed(const CellOptions& options, const ControlCell& in) {
  Plan plan;
  Converter converter(options, &plan);
  SheetCell cell;
  const FormatEntry* format = nullptr;
  std::string note;
  std::string why = converter.Place(in, &cell, &format, &note);
  return why.empty() ? ColumnName(cell.col) + std::to_string(cell.row) : why;
}

TEST(DocumentCells, PlacedFromTheOriginWithinTheSheet) {
  const struct {
    int64_t origin_row, origin_col, row, col;
    std::string want;
  } cases[] = {
      {1, 1, 0, 1, "A1"},
      {3, 2, 0, 1, "B3"},
      {3, 2, 2, 3, "D5"},
      {1, 1, kMaxRows - 1, kMaxCols, "XFD1048576"},
      {1, 1, 0, 0, "cell (0, 0) lies outside the worksheet"},
      {1, 1, kMaxRows, 1, "cell (1048576, 1) lies outside the worksheet"},
      {1, 2, 0, kMaxCols, "cell (0, 16384) lies outside the worksheet"},
  };
  for (const auto& c : cases) {
    const CellOptions options{.origin_row = c.origin_row,
                              .origin_col = c.origin_col};
    EXPECT_EQ(Placed(options, At(c.row, c.col, "1")), c.want)
        << c.row << "," << c.col;
  }
}

TEST(DocumentCells, TextsUpToWhatACellHolds) {
  const std::string kTooLong =
      "cell (0, 1) holds more than 32,767 characters, more than a cell can";
  const std::string kEmoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string emojis;
  for (int i = 0; i < 16383; ++i) emojis += kEmoji;
  const struct {
    std::string value;
    std::string want;
  } cases[] = {
      {std::string(32767, 'a'), "A1"},
      {std::string(32768, 'a'), kTooLong},
      {"\"" + std::string(32767, 'a') + "\"", "A1"},  // quotes are no text
      {emojis + "a", "A1"},
      {emojis + kEmoji, kTooLong},
      {std::string(32766, 'a') + "\xE2\x82\xAC", "A1"},  // units, not bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Placed({}, At(0, 1, c.value)), c.want) << c.value.size();
  }
}

TEST(DocumentCells, EachStyleKeptOnceFormatsReadOnce) {
  Plan plan;
  const CellOptions options;
  Converter converter(options, &plan);
  const struct {
    std::string format;
    int style;
  } cases[] = {
      {"", 0},        {"Bold=1", 1}, {"Italic=1", 2},       {"bold=true", 1},
      {"Width=9", 0}, {"Bold=1", 1}, {"Italic=1Bold=0", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(converter.FormatOf(c.format).style, c.style) << c.format;
  }
  ASSERT_EQ(plan.styles.size(), 4u);
  EXPECT_TRUE(plan.styles[0].empty());
  EXPECT_EQ(plan.styles[1], Style{.bold = true});
  EXPECT_EQ(&converter.FormatOf("Italic=1"), &converter.FormatOf("Italic=1"));
}

TEST(DocumentCells, SinkGathersWarningsWidthsAndHeights) {
  Plan plan;
  const CellOptions options{.origin_row = 3, .origin_col = 2};
  Converter converter(options, &plan);
  std::vector<std::string> written;
  ReadSink sink(&converter, &plan,
                [&](const ControlCell&, SheetCell& c) -> std::string {
                  written.push_back(ColumnName(c.col) + std::to_string(c.row) +
                                    " " + DescribeValue(c.value));
                  return c.value.text == "stop" ? "stopped" : "";
                });
  EXPECT_EQ(sink.Cell(At(0, 1, "7", "Width=12")), "");
  EXPECT_EQ(sink.Cell(At(1, 2, "x", "Blink=1Height=20")), "");
  EXPECT_EQ(sink.Cell(At(2, 1, "12/31/1899")), "");
  EXPECT_EQ(sink.Cell(At(0, -1, "1")),
            "cell (0, -1) lies outside the worksheet");
  EXPECT_EQ(sink.Cell(At(3, 1, "stop")), "stopped");
  EXPECT_EQ(written,
            (std::vector<std::string>{"B3 number 7", "C4 text x",
                                      "B5 text 12/31/1899", "B6 text stop"}));
  EXPECT_EQ(sink.cells_, 4u);
  EXPECT_EQ(plan.widths, (std::map<int64_t, double>{{2, 12}}));
  EXPECT_EQ(plan.heights, (std::map<int64_t, double>{{4, 20}}));
  ASSERT_EQ(sink.warnings_.size(), 2u);
  EXPECT_EQ(sink.warnings_[0], "row 1, col 2: Blink: unknown property");
  EXPECT_TRUE(sink.warnings_[1].starts_with("row 2, col 1: "))
      << sink.warnings_[1];
  // Past the first hundred, warnings are only counted.
  for (int i = 0; i < 150; ++i) {
    EXPECT_EQ(sink.Cell(At(4, 1, "", "Blink=1")), "");
  }
  EXPECT_EQ(sink.warnings_.size(), kWarningsShown);
  EXPECT_EQ(sink.warning_count_, 152u);
}

}  // namespace
}  // namespace pellar::sheet
