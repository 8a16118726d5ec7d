#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>
#include <pellar/io/identity.h>
#include <pellar/io/xml_writer.h>
#include <pellar/testing/test_support.h>
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::FakePlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using testing::XmlHeader;

using ::pellar::testing::FailureOf;

class CellFilesTest : public ::testing::Test {
 protected:
  void Clear(int32_t rows, int32_t cols) { cell_.Clear(rows, cols); }
  void Set(int32_t r, int32_t c, Text v, Text d = u"") {
    cell_.SaveValue(r, c, v, d);
  }
  void Format(int32_t r, int32_t c, Text p, Text v) {
    cell_.SaveFormat(r, c, p, v);
  }
  // Fills row r from column 0 with `values`.
  void Row(int32_t r, std::vector<Text> values) {
    for (size_t c = 0; c < values.size(); ++c) {
      Set(r, static_cast<int32_t>(c), values[c]);
    }
  }
  Text SaveFile(Text name, Text separator, int16_t max_lines = 0) {
    return cell_.SaveFile(name, separator, max_lines);
  }
  Text LoadFile(Text name, Text separator) {
    return cell_.LoadFile(name, separator);
  }
  Text Lookup(Text name, int16_t key_col, Text key, int16_t col,
              Text separator) {
    return cell_.Lookup(name, key_col, key, col, separator);
  }
  Text SetTag(int16_t col, Text tag) { return cell_.SetXMLTag(col, tag); }
  Text SaveXml(Text name, Text doc, Text record, int16_t max_lines = 0) {
    return cell_.SaveXMLFile(name, doc, record, max_lines);
  }
  Text SaveSheet(Text name, Text excel, Text sheet) {
    return cell_.SaveWorkSheet(name, excel, sheet);
  }
  Text Saved(const std::string& path, int n, const char16_t* what) {
    return u"Saved to " + FromUtf8(path) + u" (" + Decimal(n) + u" " + what +
           u")";
  }

  TempDir dir_;
  FakePlatform platform_;
  ScopedPlatform scope_{platform_};
  Cell cell_;
  const std::string path_ = dir_.Path("out.txt");
  const Text text_path_ = FromUtf8(path_);
};

// --- Delimited files ---

TEST_F(CellFilesTest, SaveFileGolden) {
  Clear(5, 3);
  Row(0, {u"Name", u"City", u"Amount"});
  Set(1, 0, u"Ada", u"\"");
  Set(1, 1, u"London", u"\"");
  Set(1, 2, u"1815");
  // Row 2 stays empty: all its separators are written.
  Row(3, {u"a", u"caf\u00E9 \u20AC \u4E2D"});
  Row(4, {u"x", u"", u"y,,"});
  Row(5, {u",", u"", u"", u","});
  EXPECT_EQ(SaveFile(text_path_, u","), Saved(path_, 5, u"lines"));
  EXPECT_EQ(ReadBytes(path_),
            "Name,City,Amount\r\n"
            "\"Ada\",\"London\",1815\r\n"
            ",,,\r\n"
            "a,caf\xE9 \x80 ?\r\n"
            "x,,y\r\n"
            ",,,,,\r\n");
  EXPECT_EQ(GetApplicationName(), u"Pellar UFL");
  EXPECT_EQ(GetDeveloper(), u"Brambleworth");
}

struct SeparatorCase {
  const char* name;
  const char16_t* separator;
  std::vector<Text> row;  // columns 0 to 3
  const char* line;
};

class SaveFileSeparatorTest
    : public CellFilesTest,
      public ::testing::WithParamInterface<SeparatorCase> {};

TEST_P(SaveFileSeparatorTest, CutsTrailingSeparatorsOfOneCharacterOnly) {
  const SeparatorCase& c = GetParam();
  Clear(0, 3);
  Row(0, c.row);
  EXPECT_EQ(SaveFile(text_path_, c.separator), Saved(path_, 0, u"lines"));
  EXPECT_EQ(ReadBytes(path_), std::string(c.line) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Separators, SaveFileSeparatorTest,
    ::testing::Values(
        SeparatorCase{
            "EmptyCellsAtTheEnd", u",", {u"a", u"b", u"", u""}, "a,b"},
        SeparatorCase{
            "NothingButSeparators", u",", {u",,", u",", u"", u""}, ",,,,,,"},
        SeparatorCase{"LastValueLosesItsSeparators",
                      u";",
                      {u"a", u"", u"", u"b;;"},
                      "a;;;b"},
        SeparatorCase{"Tab", u"\t", {u"a", u"", u"", u""}, "a"},
        SeparatorCase{
            "TwoCharactersNeverCut", u"::", {u"a", u"", u"", u""}, "a::::::"},
        SeparatorCase{"TwoCharactersNoCutEither",
                      u"ab",
                      {u"x", u"", u"", u"b"},
                      "xabababb"},
        SeparatorCase{"EmptyJoinsValues", u"", {u"a", u"b", u"", u"c"}, "abc"},
        SeparatorCase{"EmptyAndEmptyRow", u"", {}, ""},
        SeparatorCase{
            "AboveAscii", u"\u00E9", {u"a", u"x\u00E9", u"", u""}, "a\xE9x"},
        // Compared as text, written as the code page's "?".
        SeparatorCase{
            "OutsideCodePage", u"\u4E2D", {u"a", u"b?", u"", u""}, "a?b?"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CellFilesTest, SingleColumnLinesAreNeverCut) {
  Clear(1, 0);
  Set(0, 0, u"a,");
  EXPECT_EQ(SaveFile(text_path_, u","), Saved(path_, 1, u"lines"));
  EXPECT_EQ(ReadBytes(path_), "a,\r\n\r\n");
}

struct MaxLinesCase {
  int16_t max_lines;
  int32_t max_row_after;
  const char* bytes;
};

class SaveFileMaxLinesTest
    : public CellFilesTest,
      public ::testing::WithParamInterface<MaxLinesCase> {};

TEST_P(SaveFileMaxLinesTest, LowersTheWorkAreasOwnBound) {
  const MaxLinesCase& c = GetParam();
  Clear(3, 1);
  for (int32_t r = 0; r <= 3; ++r) Set(r, 0, u"r" + Decimal(r));
  EXPECT_EQ(SaveFile(text_path_, u",", c.max_lines),
            Saved(path_, c.max_row_after, u"lines"));
  EXPECT_EQ(ReadBytes(path_), c.bytes);
  EXPECT_EQ(cell_.max_row(), c.max_row_after);
  // The lowered bound holds for every later call until Clear.
  Text v = u"v", d = u"";
  EXPECT_EQ(cell_.SaveValue(3, 0, v, d),
            c.max_row_after >= 3 ? Text(u"v")
                                 : u"Row number (3) must be less than" +
                                       Decimal(c.max_row_after));
  EXPECT_EQ(SaveFile(text_path_, u",", 0),
            Saved(path_, c.max_row_after, u"lines"));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SaveFileMaxLinesTest,
    ::testing::Values(MaxLinesCase{0, 3, "r0\r\nr1\r\nr2\r\nr3\r\n"},
                      MaxLinesCase{3, 3, "r0\r\nr1\r\nr2\r\nr3\r\n"},
                      MaxLinesCase{9, 3, "r0\r\nr1\r\nr2\r\nr3\r\n"},
                      MaxLinesCase{1, 1, "r0\r\nr1\r\n"},
                      MaxLinesCase{-1, -1, ""},
                      MaxLinesCase{-32768, -32768, ""}));

TEST_F(CellFilesTest, LinesLongerThan32767CharactersAreWrittenWhole) {
  Clear(0, 2);
  const Text longer(40000, u'x');
  Row(0, {longer, u"", longer + u"y"});
  EXPECT_EQ(SaveFile(text_path_, u"|"), Saved(path_, 0, u"lines"));
  EXPECT_EQ(ReadBytes(path_),
            std::string(40000, 'x') + "||" + std::string(40000, 'x') + "y\r\n");
}

TEST_F(CellFilesTest, SaveFileReplacesAnOlderLongerFile) {
  WriteBytes(path_, std::string(1000, 'z'));
  Clear(0, 0);
  Set(0, 0, u"new");
  SaveFile(text_path_, u",");
  EXPECT_EQ(ReadBytes(path_), "new\r\n");
}

TEST_F(CellFilesTest, SaveFileBeforeClearLeavesAnEmptyFile) {
  EXPECT_EQ(SaveFile(text_path_, u","), u"ERROR:Subscript out of range");
  EXPECT_TRUE(PathExists(path_));
  EXPECT_EQ(ReadBytes(path_), "");
  // With no row to write, nothing touches the missing grid.
  EXPECT_EQ(SaveFile(text_path_, u",", -1), Saved(path_, -1, u"lines"));
}

TEST_F(CellFilesTest, EmptyNamesAreRefusedBeforeTheDisk) {
  Clear(1, 1);
  FailingPlatform counting;
  ScopedPlatform scope(counting);
  SetApplication(u"Other", u"Someone");
  EXPECT_EQ(SaveFile(u"", u",", 1), u"No address specified");
  EXPECT_EQ(GetApplicationName(), u"Pellar UFL");
  EXPECT_EQ(LoadFile(u"", u","), u"No address specified");
  EXPECT_EQ(SaveXml(u"", u"D", u"R", 1), u"No address specified");
  EXPECT_EQ(SaveSheet(u"", u"x.xls", u"S"), u"No address specified");
  EXPECT_EQ(Lookup(u"", 0, u"k", 0, u","), u"");
  EXPECT_EQ(counting.TotalCalls(), 0);
  EXPECT_EQ(cell_.max_row(), 1);
}

struct SaveFailureCase {
  const char* name;
  Op op;
  int nth;
  int number;
  const char* kept;  // the file's bytes afterwards
  int32_t max_row_after;
};

class SaveFileFailureTest
    : public CellFilesTest,
      public ::testing::WithParamInterface<SaveFailureCase> {};

TEST_P(SaveFileFailureTest, IsAnsweredAndKeepsWhatWasDone) {
  const SaveFailureCase& c = GetParam();
  Clear(3, 0);
  for (int32_t r = 0; r <= 3; ++r) Set(r, 0, u"r" + Decimal(r));
  WriteBytes(path_, "old");
  FailingPlatform failing(c.op, c.nth, c.number);
  ScopedPlatform scope(failing);
  EXPECT_EQ(SaveFile(text_path_, u",", 2),
            u"ERROR:" + Text(Describe(c.number)));
  EXPECT_TRUE(failing.Fired());
  EXPECT_EQ(failing.OpenFiles(), 0);
  EXPECT_EQ(ReadBytes(path_), c.kept);
  EXPECT_EQ(cell_.max_row(), c.max_row_after);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveFileFailureTest,
    ::testing::Values(
        // The one platform call of the open fails before it deletes.
        SaveFailureCase{"Create", Op::kCreate, 1, error::kPermissionDenied,
                        "old", 3},
        // The lines before the failing one stay in the file.
        SaveFailureCase{"ThirdLine", Op::kWrite, 3, error::kDiskFull,
                        "r0\r\nr1\r\n", 2},
        // The trap closes the file again, so the lines are not lost.
        SaveFailureCase{"Close", Op::kClose, 1, error::kDeviceIo,
                        "r0\r\nr1\r\nr2\r\n", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CellFilesTest, SavesRefuseWildcardsRatherThanDeleteTheirMatches) {
  Clear(0, 1);
  WriteBytes(dir_.Path("r1.csv"), "one");
  WriteBytes(dir_.Path("r2.csv"), "two");
  for (const char* name : {"r?.csv", "*.csv"}) {
    const Text path = dir_.TextPath(name);
    EXPECT_EQ(SaveFile(path, u","), u"ERROR:Bad file name or number");
    EXPECT_EQ(SaveXml(path, u"D", u"R"), u"ERROR:Bad file name or number");
    EXPECT_EQ(SaveSheet(path, u"x.xls", u"S"),
              u"ERROR:Bad file name or number");
  }
  EXPECT_EQ(ReadBytes(dir_.Path("r1.csv")), "one");
  EXPECT_EQ(ReadBytes(dir_.Path("r2.csv")), "two");
}

TEST_F(CellFilesTest, SaveFileIntoAMissingFolderOrOntoAFolder) {
  Clear(0, 0);
  EXPECT_EQ(SaveFile(dir_.TextPath("none/x.csv"), u","),
            u"ERROR:Path not found");
  EXPECT_EQ(SaveFile(dir_.text(), u","), u"ERROR:Path/File access error");
}

#ifndef _WIN32
// Another user's links at a save's name in a shared folder, pointing into a
// folder of root's: never followed, neither when planted before the save
// nor while the saves run.
class SharedFolderTest : public CellFilesTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the attacker is another user";
    ::chmod(dir_.path().c_str(), 0777);
    ::mkdir(dir_.Path("rootonly").c_str(), 0700);
    WriteBytes(victim_, "keep");
    ::chmod(victim_.c_str(), 0600);
    Clear(0, 1);
    Row(0, {u"a", u"b"});
  }

  const std::string victim_ = dir_.Path("rootonly/victim");
};

TEST_F(SharedFolderTest, SavesReplaceAPlantedLinkInsteadOfFollowingIt) {
  const std::function<Text(const Text&)> saves[] = {
      [&](const Text& p) { return SaveFile(p, u","); },
      [&](const Text& p) { return SaveXml(p, u"D", u"R"); },
      [&](const Text& p) { return SaveSheet(p, u"x.xls", u"S"); },
  };
  int n = 0;
  for (const auto& save : saves) {
    for (const std::string& target : {dir_.Path("rootonly/new"), victim_}) {
      const std::string name = dir_.Path("report" + std::to_string(++n));
      SCOPED_TRACE(name + " -> " + target);
      ASSERT_EQ(testing::WaitForChild(testing::StartAsOtherUser([&] {
                  if (::symlink(target.c_str(), name.c_str()) != 0) throw 1;
                })),
                0);
      EXPECT_EQ(save(FromUtf8(name)).substr(0, 9), u"Saved to ");
      EXPECT_FALSE(PathExists(dir_.Path("rootonly/new")));
      EXPECT_EQ(ReadBytes(victim_), "keep");
      struct stat st;
      ASSERT_EQ(::lstat(name.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
    }
  }
}

TEST_F(SharedFolderTest, SavesNeverWriteALinkPlantedWhileTheyRun) {
  const std::string name = dir_.Path("race.csv");
  const int child = testing::StartAsOtherUser([&] {
    while (true) {
      ::symlink(victim_.c_str(), name.c_str());
      ::unlink(name.c_str());
    }
  });
  ASSERT_GT(child, 0);
  const Text path = FromUtf8(name);
  for (int i = 0; i < 2000 && ReadBytes(victim_) == "keep"; ++i) {
    SaveFile(path, u",");
  }
  testing::WaitForChild(child, /*kill=*/true);
  EXPECT_EQ(ReadBytes(victim_), "keep");
}
#endif

TEST_F(CellFilesTest, LoadFileOnlyOverwritesWithNonEmptyFields) {
  Clear(2, 2);
  Set(0, 1, u"x");
  Set(2, 2, u"kept");
  Format(0, 0, u"Bold", u"1");
  WriteBytes(path_, "a,,c,dropped\r\n\r\n\"q\",caf\xE9\r\nbeyond\r\n");
  EXPECT_EQ(LoadFile(text_path_, u","), u"File Loaded");
  EXPECT_EQ(cell_.value(0, 0), u"a");
  EXPECT_EQ(cell_.value(0, 1), u"x");
  EXPECT_EQ(cell_.value(0, 2), u"c");
  EXPECT_EQ(cell_.value(1, 0), u"");  // the empty line still counts as a row
  EXPECT_EQ(cell_.value(2, 0), u"\"q\"");
  EXPECT_EQ(cell_.value(2, 1), u"caf\u00E9");
  EXPECT_EQ(cell_.value(2, 2), u"kept");
  EXPECT_EQ(cell_.format(0, 0), u"Bold=1");
}

struct LoadCase {
  const char* name;
  const char* bytes;
  const char16_t* separator;
  std::vector<Text> column0;  // rows 0 to 2, column 0
  Text cell01;
};

class LoadFileLinesTest : public CellFilesTest,
                          public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadFileLinesTest, SplitsLinesAndFields) {
  const LoadCase& c = GetParam();
  Clear(2, 1);
  WriteBytes(path_, c.bytes);
  EXPECT_EQ(LoadFile(text_path_, c.separator), u"File Loaded");
  EXPECT_EQ((std::vector<Text>{cell_.value(0, 0), cell_.value(1, 0),
                               cell_.value(2, 0)}),
            c.column0);
  EXPECT_EQ(cell_.value(0, 1), c.cell01);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadFileLinesTest,
    ::testing::Values(
        LoadCase{"CrLf", "a,b\r\nc\r\n", u",", {u"a", u"c", u""}, u"b"},
        LoadCase{"CrOnly", "a,b\rc\re", u",", {u"a", u"c", u"e"}, u"b"},
        LoadCase{
            "LfOnlyIsOneRow", "a,b\nc\n", u",", {u"a", u"", u""}, u"b\nc\n"},
        LoadCase{
            "TwoCharacters", "a::b:c\r\n", u"::", {u"a", u"", u""}, u"b:c"},
        LoadCase{"EmptySeparator", "a,b\r\n", u"", {u"a,b", u"", u""}, u""},
        LoadCase{
            "OutsideCodePage", "a?b\r\n", u"\u4E2D", {u"a?b", u"", u""}, u""},
        LoadCase{"AboveAscii",
                 "a\xE9"
                 "b\r\n",
                 u"\u00E9",
                 {u"a", u"", u""},
                 u"b"},
        LoadCase{"QuotesDoNotProtect",
                 "\"a,b\",c\r\n",
                 u",",
                 {u"\"a", u"", u""},
                 u"b\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CellFilesTest, LoadFileReadsBackWhatSaveFileWrote) {
  Clear(2, 2);
  Row(0, {u"caf\u00E9", u"b", u"c"});
  Set(1, 1, u"quoted", u"\"");
  SaveFile(text_path_, u"\t");
  Cell loaded;
  int32_t cols = 2;
  loaded.Clear(2, cols);
  Text name = text_path_, separator = u"\t";
  EXPECT_EQ(loaded.LoadFile(name, separator), u"File Loaded");
  for (int32_t r = 0; r <= 2; ++r) {
    for (int32_t c = 0; c <= 2; ++c) {
      EXPECT_EQ(loaded.value(r, c), cell_.value(r, c)) << r << "," << c;
    }
  }
}

TEST_F(CellFilesTest, LoadFileAnswersMissingFilesByName) {
  Clear(0, 0);
  EXPECT_EQ(LoadFile(dir_.TextPath("missing.csv"), u","),
            dir_.TextPath("missing.csv") + u" not found");
  EXPECT_EQ(LoadFile(dir_.text(), u","), dir_.text() + u" not found");
  EXPECT_EQ(LoadFile(dir_.TextPath("none/x.csv"), u","),
            dir_.TextPath("none/x.csv") + u" not found");
}

TEST_F(CellFilesTest, LoadFileFailuresAreTrappedAndKeepStoredCells) {
  WriteBytes(path_, "a\r\nb");
  EXPECT_EQ(LoadFile(text_path_, u","), u"ERROR:Subscript out of range");
  Clear(1, 0);
  FailingPlatform failing(Op::kRead, 2, error::kDeviceIo);
  ScopedPlatform scope(failing);
  EXPECT_EQ(LoadFile(text_path_, u","), u"ERROR:Device I/O error");
  EXPECT_EQ(cell_.value(0, 0), u"a");
  EXPECT_EQ(cell_.value(1, 0), u"");
  EXPECT_EQ(failing.OpenFiles(), 0);
}

TEST_F(CellFilesTest, LoadFileAfterANegativeLimitStoresNothing) {
  Clear(1, 1);
  SaveFile(text_path_, u",", -1);
  WriteBytes(path_, "a,b\r\n");
  EXPECT_EQ(LoadFile(text_path_, u","), u"File Loaded");
  Cell fresh;  // never cleared: an empty first field touches no cell
  Text name = text_path_, separator = u";";
  WriteBytes(path_, ";x\r\nmore\r\n");
  EXPECT_EQ(fresh.LoadFile(name, separator), u"File Loaded");
}

// --- Lookup ---

constexpr char kLookupFile[] =
    "id,name,city\r\n"
    "k10,Wrong,Key\r\n"
    "k1,Ada,London\r\n"
    "k2,Blaise\r\n"
    "\r\n"
    "k1,Other,Paris\r\n"
    "caf\xE9,E,x\ny\r\n";

struct LookupCase {
  int16_t key_col;
  const char16_t* key;
  int16_t col;
  const char16_t* answer;
};

class LookupTest : public CellFilesTest,
                   public ::testing::WithParamInterface<LookupCase> {};

TEST_P(LookupTest, AnswersTheFieldOfTheFirstMatchingLine) {
  WriteBytes(path_, kLookupFile);
  const LookupCase& c = GetParam();
  EXPECT_EQ(Lookup(text_path_, c.key_col, c.key, c.col, u","), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LookupTest,
    ::testing::Values(
        LookupCase{0, u"k1", 1, u"Ada"}, LookupCase{0, u"k1", 2, u"London"},
        LookupCase{1, u"Ada", 0, u"k1"}, LookupCase{1, u"Other", 2, u"Paris"},
        LookupCase{0, u"k2", 1, u"Blaise"},
        LookupCase{0, u"k2", 2, u""},        // too few fields
        LookupCase{2, u"London", 0, u"k1"},  // found before k2
        LookupCase{0, u"K1", 1, u""}, LookupCase{0, u"k1 ", 1, u""},
        LookupCase{0, u"caf\u00E9", 2, u"x\ny"},
        LookupCase{0, u"\u4E2D", 1, u""}, LookupCase{0, u"k1", -1, u""},
        LookupCase{0, u"", 1, u""}, LookupCase{0, u"nowhere", 0, u""},
        // A key that begins a longer field, or runs on over
        // the separator, is no match.
        LookupCase{0, u"k", 1, u""}, LookupCase{0, u"k1,Ada", 0, u""},
        LookupCase{1, u"Wrong", 2, u"Key"}));

TEST_F(CellFilesTest, LookupFailsOnAMissingKeyFieldOrFile) {
  WriteBytes(path_, kLookupFile);
  EXPECT_EQ(FailureOf([&] { Lookup(text_path_, 5, u"k", 0, u","); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Lookup(text_path_, -1, u"k", 0, u","); }),
            error::kSubscriptOutOfRange);
  // Line "k2,Blaise" has the two fields asked for but no field 2.
  EXPECT_EQ(FailureOf([&] { Lookup(text_path_, 2, u"nowhere", 1, u","); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(
      FailureOf([&] { Lookup(dir_.TextPath("missing"), 0, u"k", 0, u","); }),
      error::kFileNotFound);
  EXPECT_EQ(
      FailureOf([&] { Lookup(dir_.TextPath("none/x"), 0, u"k", 0, u","); }),
      error::kPathNotFound);
}

TEST_F(CellFilesTest, LookupSeparatorsAndLineEnds) {
  WriteBytes(path_, "a::b::c\rd::e\r\nab:::x::y");
  EXPECT_EQ(Lookup(text_path_, 0, u"d", 1, u"::"), u"e");
  EXPECT_EQ(Lookup(text_path_, 1, u"b", 2, u"::"), u"c");
  // Occurrences are taken left to right: "ab", ":x", "y".
  EXPECT_EQ(Lookup(text_path_, 1, u":x", 2, u"::"), u"y");
  EXPECT_EQ(Lookup(text_path_, 0, u"ab:", 1, u"::"), u"");
  EXPECT_EQ(Lookup(text_path_, 0, u"a::b::c", 0, u""), u"a::b::c");
  EXPECT_EQ(Lookup(text_path_, 0, u"a::b::c", 0, u"\u4E2D"), u"a::b::c");
}

TEST_F(CellFilesTest, LookupReadsTheFileAfreshWithoutTheWorkArea) {
  WriteBytes(path_, "k,1\r\n");
  EXPECT_EQ(Lookup(text_path_, 0, u"k", 1, u","), u"1");
  WriteBytes(path_, "k,2\r\n");
  EXPECT_EQ(Lookup(text_path_, 0, u"k", 1, u","), u"2");
  EXPECT_EQ(cell_.max_row(), 0);
}

TEST_F(CellFilesTest, LookupSearchesFilesOfAnyNumberOfLines) {
  std::string bytes;
  for (int i = 0; i < 40000; ++i) bytes += "key" + std::to_string(i) + ",v\r\n";
  bytes += "last,found\r\n";
  WriteBytes(path_, bytes);
  EXPECT_EQ(Lookup(text_path_, 0, u"last", 1, u","), u"found");
  EXPECT_EQ(Lookup(text_path_, 0, u"absent", 1, u","), u"");
}

// --- XML data file ---

TEST_F(CellFilesTest, SetXMLTagAcceptsColumnsZeroToMaxCol) {
  EXPECT_EQ(SetTag(1, u"t"), u"Invalid Column");
  EXPECT_EQ(FailureOf([&] { SetTag(0, u"t"); }), error::kSubscriptOutOfRange);
  Clear(2, 3);
  EXPECT_EQ(SetTag(3, u"t"), u"");
  EXPECT_EQ(SetTag(0, u"t"), u"");
  EXPECT_EQ(SetTag(4, u"t"), u"Invalid Column");
  EXPECT_EQ(SetTag(-1, u"t"), u"Invalid Column");
}

TEST_F(CellFilesTest, SaveXMLFileGolden) {
  Clear(2, 3);
  SetTag(0, u"Zero");
  SetTag(1, u"Name");
  SetTag(3, u"a&b");  // tags go out unescaped; column 2 has none
  Row(0, {u"never", u"Ada", u"", u"1"});
  Set(1, 1, u"caf\u00E9 <&> '\"' \u4E2D", u"\"");
  Set(1, 2, u"two\r\nlines");
  Set(2, 3, u"\u007F\u20AC");
  SetApplication(u"Other", u"Someone");
  const std::string path = dir_.Path("data.xml");
  EXPECT_EQ(SaveXml(FromUtf8(path), u"Data", u"Rec"),
            Saved(path, 2, u"records"));
  EXPECT_EQ(ReadBytes(path),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<!-- XML File Created by PellarLib -->\r\n"
            "<!-- Developed by Brambleworth -->\r\n"
            "<!-- Copyright (c) 2026 Brambleworth -->\r\n"
            "<!-- PellarLib version 3.2 (30) -->\r\n"
            "<!-- www.brambleworth.example for further details -->\r\n"
            "<!-- File " +
                path +
                " Created 08-Dec-2026-->\r\n"
                "<Data>\r\n"
                "<Rec>\r\n"
                "<Name>Ada</Name>\r\n"
                "<></>\r\n"
                "<a&b>1</a&b>\r\n"
                "</Rec>\r\n"
                "<Rec>\r\n"
                "<Name>&quot;caf&#0233; &lt;&amp;&gt; &apos;&quot;&apos; "
                "?&quot;</Name>\r\n"
                "<>two&#0013;&#0010;lines</>\r\n"
                "<a&b></a&b>\r\n"
                "</Rec>\r\n"
                "<Rec>\r\n"
                "<Name></Name>\r\n"
                "<></>\r\n"
                "<a&b>&#0127;&#0128;</a&b>\r\n"
                "</Rec>\r\n"
                "</Data>\r\n");
}

// The files of a work area against a plain model of what they hold: texts
// at random (short, long, with specials, outside the code page), files of
// random bytes split at random separators, loads over earlier values.
class CellFilesModelTest : public CellFilesTest {
 protected:
  using Grid = std::vector<std::vector<Text>>;

  // Up to `most` of `pieces` at random.
  Text Random(const std::vector<Text>& pieces, size_t most) {
    Text text;
    for (size_t n = random_() % (most + 1); n > 0; --n) {
      text += pieces[random_() % pieces.size()];
    }
    return text;
  }
  const std::vector<Text> kValues = {
      u"a",      u"bc",   u",",      u";",  u"\"",
      u"&",      u"<",    u"\u00E9", u"?",  u"\u20AC",
      u"\u4E2D", u"\r\n", u"\r",     u"\n", u"0123456789abcdefghij"};
  const std::vector<Text> kFileBytes = {
      u"a",     u"::",     u":",  u",",
      u";",     u"\r",     u"\n", u"\r\n",
      u"\"q\"", u"\u00E9", u"?",  u"0123456789abcdefghijklmnopqrstuvwxyz"};
  const std::vector<Text> kSeparators = {
      u",", u";", u"\n", u"\r", u"::", u"", u"\u4E2D", u"?", u"\u00E9"};

  // Lines end at CR or CR LF; every field the separator splits off, up to
  // the number of columns, replaces the cell when it is not empty.
  static std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != '\r') {
        lines.back() += bytes[i];
        continue;
      }
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.emplace_back();
    }
    return lines;
  }
  static void LoadModel(Grid& grid, const std::string& bytes, TextView sep) {
    const std::vector<std::string> lines = Lines(bytes);
    const std::string sep_bytes = ToAnsi(sep);
    const bool splits = !sep.empty() && FromAnsi(sep_bytes) == sep;
    for (size_t r = 0; r < lines.size() && r < grid.size(); ++r) {
      std::string rest = lines[r];
      for (size_t c = 0; c < grid[r].size(); ++c) {
        const size_t at = splits ? rest.find(sep_bytes) : std::string::npos;
        const std::string field = rest.substr(0, at);
        if (!field.empty()) grid[r][c] = FromAnsi(field);
        if (at == std::string::npos) break;
        rest = rest.substr(at + sep_bytes.size());
      }
    }
  }
  // Cells joined by the separator; trailing separator characters cut when
  // it is one character, unless nothing would be left.
  static std::string SaveModel(const Grid& grid, TextView sep) {
    std::string bytes;
    for (const std::vector<Text>& row : grid) {
      Text line;
      for (size_t c = 0; c < row.size(); ++c) {
        if (c > 0) line += sep;
        line += row[c];
      }
      if (sep.size() == 1 && row.size() > 1) {
        const size_t last = line.find_last_not_of(sep[0]);
        if (last != Text::npos) line.resize(last + 1);
      }
      bytes += ToAnsi(line) + "\r\n";
    }
    return bytes;
  }
  static std::string XmlModel(const Grid& grid) {
    std::string bytes;
    for (const std::vector<Text>& row : grid) {
      bytes += "<Row>\r\n";
      for (size_t c = 1; c < row.size(); ++c) {
        const Text tag = u"C" + Decimal(static_cast<int64_t>(c));
        bytes +=
            ToAnsi(u"<" + tag + u">" + XmlEscape(row[c]) + u"</" + tag + u">") +
            "\r\n";
      }
      bytes += "</Row>\r\n";
    }
    return bytes + "</Doc>\r\n";
  }

  std::mt19937 random_{2026};
};

TEST_F(CellFilesModelTest, FilesHoldWhatAPlainModelHolds) {
  for (int round = 0; round < 300; ++round) {
    const int32_t max_row = static_cast<int32_t>(random_() % 6);
    const int32_t max_col = static_cast<int32_t>(random_() % 5);
    Clear(max_row, max_col);
    Grid model(static_cast<size_t>(max_row) + 1,
               std::vector<Text>(static_cast<size_t>(max_col) + 1));
    for (int loads = static_cast<int>(random_() % 3); loads >= 0; --loads) {
      // Values set before, or between, loads.
      for (size_t n = random_() % 4; n > 0; --n) {
        const size_t r = random_() % model.size(),
                     c = random_() % model[0].size();
        model[r][c] = Random(kValues, 5);
        Set(static_cast<int32_t>(r), static_cast<int32_t>(c), model[r][c]);
      }
      const std::string bytes = ToAnsi(Random(kFileBytes, 60));
      const Text sep = kSeparators[random_() % kSeparators.size()];
      WriteBytes(path_, bytes);
      ASSERT_EQ(LoadFile(text_path_, sep), u"File Loaded");
      LoadModel(model, bytes, sep);
      // Lookup of a line's first field: field 1 of the first line whose
      // field 0 is the key.
      const std::vector<std::string> lines = Lines(bytes);
      const std::string& probe = lines[random_() % lines.size()];
      const std::string key = probe.substr(0, probe.find(','));
      Text want;
      for (const std::string& line : lines) {
        const size_t at = line.find(',');
        // An empty key finds nothing.
        if (key.empty() || at == std::string::npos ||
            line.substr(0, at) != key) {
          continue;
        }
        want = FromAnsi(line.substr(at + 1, line.find(',', at + 1) - at - 1));
        break;
      }
      ASSERT_EQ(Lookup(text_path_, 0, FromAnsi(key), 1, u","), want)
          << "round " << round;
      for (size_t r = 0; r < model.size(); ++r) {
        for (size_t c = 0; c < model[r].size(); ++c) {
          ASSERT_EQ(
              cell_.value(static_cast<int32_t>(r), static_cast<int32_t>(c)),
              model[r][c])
              << "round " << round << " cell " << r << "," << c;
        }
      }
    }
    const Text sep = kSeparators[random_() % kSeparators.size()];
    SaveFile(text_path_, sep);
    ASSERT_EQ(ReadBytes(path_), SaveModel(model, sep)) << "round " << round;
    for (int16_t c = 0; c <= max_col; ++c) SetTag(c, u"C" + Decimal(c));
    SaveXml(text_path_, u"Doc", u"Row");
    const std::string xml = ReadBytes(path_), records = XmlModel(model);
    ASSERT_GE(xml.size(), records.size());
    ASSERT_EQ(xml.substr(xml.size() - records.size()), records)
        << "round " << round;
  }
}

struct XmlLimitCase {
  int16_t max_lines;
  int32_t max_row_after;
  int records;
};

class SaveXMLFileMaxLinesTest
    : public CellFilesTest,
      public ::testing::WithParamInterface<XmlLimitCase> {};

TEST_P(SaveXMLFileMaxLinesTest, WritesRowsZeroToTheLoweredBound) {
  const XmlLimitCase& c = GetParam();
  Clear(10, 0);
  const std::string path = dir_.Path("d.xml");
  EXPECT_EQ(SaveXml(FromUtf8(path), u"", u"R", c.max_lines),
            Saved(path, c.max_row_after, u"records"));
  std::string records;
  for (int i = 0; i < c.records; ++i) records += "<R>\r\n</R>\r\n";
  EXPECT_EQ(ReadBytes(path), XmlHeader(path) + records);
  EXPECT_EQ(cell_.max_row(), c.max_row_after);
}

INSTANTIATE_TEST_SUITE_P(Limits, SaveXMLFileMaxLinesTest,
                         ::testing::Values(XmlLimitCase{0, 10, 11},
                                           XmlLimitCase{10, 10, 11},
                                           XmlLimitCase{3, 3, 4},
                                           XmlLimitCase{-1, -1, 0}));

TEST_F(CellFilesTest, SaveXMLFileOnANewInstanceWritesOneEmptyRecord) {
  const std::string path = dir_.Path("d.xml");
  EXPECT_EQ(SaveXml(FromUtf8(path), u"D", u"R"), Saved(path, 0, u"records"));
  EXPECT_EQ(ReadBytes(path), XmlHeader(path) + "<D>\r\n<R>\r\n</R>\r\n</D>\r\n");
}

// --- Worksheet control document ---

TEST_F(CellFilesTest, SaveWorkSheetGolden) {
  Clear(2, 3);
  Set(1, 0, u"column 0 is never listed");
  Set(0, 1, u"a<b");
  Format(0, 1, u"Bold", u"1&x");
  Format(0, 1, u"Italic", u"\"1\"");
  Format(1, 2, u"Italic", u"1");  // formatted but empty: not listed
  Set(2, 3, u"caf\u00E9", u"\"");
  const std::string path = dir_.Path("sheet.xml");
  EXPECT_EQ(SaveSheet(FromUtf8(path), u"C:\\Books\\Q&A.xls", u"Sheet <1>"),
            Saved(path, 2, u"lines"));
  EXPECT_EQ(ReadBytes(path),
            XmlHeader(path) +
                "<WorksheetDoc>\r\n"
                "<Application>ExcelMacro</Application>\r\n"
                "<ExcelFile>C:\\Books\\Q&amp;A.xls</ExcelFile>\r\n"
                "<OpenWorkSheet>Sheet &lt;1&gt;</OpenWorkSheet>\r\n"
                "<Cell>\r\n"
                "<Row>0</Row>\r\n"
                "<Col>1</Col>\r\n"
                "<Value>a&lt;b</Value>\r\n"
                "<Format>Bold=1&amp;xItalic=&quot;1&quot;</Format>\r\n"
                "</Cell>\r\n"
                "<Cell>\r\n"
                "<Row>2</Row>\r\n"
                "<Col>3</Col>\r\n"
                "<Value>&quot;caf&#0233;&quot;</Value>\r\n"
                "<Format></Format>\r\n"
                "</Cell>\r\n"
                "</WorksheetDoc>\r\n");
  EXPECT_EQ(cell_.max_row(), 2);
}

TEST_F(CellFilesTest, SaveWorkSheetOnANewInstanceAndAgainReplaces) {
  const std::string path = dir_.Path("sheet.xml");
  const std::string fixed =
      "<WorksheetDoc>\r\n"
      "<Application>ExcelMacro</Application>\r\n"
      "<ExcelFile></ExcelFile>\r\n"
      "<OpenWorkSheet></OpenWorkSheet>\r\n"
      "</WorksheetDoc>\r\n";
  Clear(0, 1);
  Set(0, 1, u"v");
  SaveSheet(FromUtf8(path), u"", u"");
  Cell fresh;
  Text name = FromUtf8(path), excel, sheet;
  EXPECT_EQ(fresh.SaveWorkSheet(name, excel, sheet), Saved(path, 0, u"lines"));
  EXPECT_EQ(ReadBytes(path), XmlHeader(path) + fixed);
}

// --- XML saves that cannot write ---

enum class XmlSave { kData, kSheet };

class XmlSaveFailureTest : public CellFilesTest,
                           public ::testing::WithParamInterface<XmlSave> {
 protected:
  Text Save(const Text& name) {
    return GetParam() == XmlSave::kData ? SaveXml(name, u"D", u"R", 1)
                                        : SaveSheet(name, u"x.xls", u"S");
  }
};

TEST_P(XmlSaveFailureTest, ACreationFailureIsAnsweredAsTheWriterTellsIt) {
  Clear(2, 1);
  Set(0, 1, u"v");
  EXPECT_EQ(Save(dir_.TextPath("none/x.xml")),
            u"Error Creating File: Path not found");
  EXPECT_EQ(Save(dir_.text()), u"Error Creating File: Path/File access error");
  {
    FailingPlatform failing(Op::kCreate, 1, error::kPermissionDenied);
    ScopedPlatform scope(failing);
    EXPECT_EQ(Save(text_path_), u"Error Creating File: Permission denied");
  }
  EXPECT_FALSE(PathExists(path_));
  EXPECT_EQ(cell_.max_row(), 2);  // nothing more was done
}

TEST_P(XmlSaveFailureTest, ADeleteFailureIsTrapped) {
  Clear(0, 1);
  WriteBytes(path_, "old");
  // A read-only older file cannot be deleted.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::group_read);
  EXPECT_EQ(Save(text_path_), u"ERROR:Permission denied");
  EXPECT_EQ(ReadBytes(path_), "old");
}

TEST_P(XmlSaveFailureTest, AWriteFailingHalfWayClosesTheFileKeepingItsLines) {
  Clear(2, 1);
  for (int32_t r = 0; r <= 2; ++r) Set(r, 1, u"v" + Decimal(r));
  FailingPlatform failing(Op::kWrite, 11, error::kDiskFull);
  ScopedPlatform scope(failing);
  EXPECT_EQ(Save(text_path_), u"ERROR:Disk full");
  // Closed at once, without the root end tag: nothing stays open or locked,
  // and the lines written before the failure are all there.
  EXPECT_EQ(failing.OpenFiles(), 0);
  const std::string kept =
      GetParam() == XmlSave::kData
          ? "<D>\r\n<R>\r\n<>v0</>\r\n"
          : "<WorksheetDoc>\r\n<Application>ExcelMacro</Application>\r\n"
            "<ExcelFile>x.xls</ExcelFile>\r\n";
  EXPECT_EQ(ReadBytes(path_), XmlHeader(path_) + kept);
  EXPECT_EQ(cell_.max_row(), GetParam() == XmlSave::kData ? 1 : 2);
}

TEST_P(XmlSaveFailureTest, AFailingCloseIsTrappedAndLeavesNothingOpen) {
  Clear(0, 0);
  FailingPlatform failing(Op::kClose, 1, error::kDeviceIo);
  ScopedPlatform scope(failing);
  EXPECT_EQ(Save(text_path_), u"ERROR:Device I/O error");
  EXPECT_EQ(failing.OpenFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Saves, XmlSaveFailureTest,
                         ::testing::Values(XmlSave::kData, XmlSave::kSheet),
                         [](const auto& info) {
                           return info.param == XmlSave::kData
                                      ? "SaveXMLFile"
                                      : "SaveWorkSheet";
                         });

}  // namespace
}  // namespace pellar
