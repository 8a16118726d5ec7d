#include <pellar/io/read_text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::TempDir;
using testing::WriteBytes;

// Hands out its bytes a few at a time, so that every line end meets a
// buffer boundary somewhere.
class TrickleFile : public SequentialFile {
 public:
  TrickleFile(std::string bytes, size_t step)
      : bytes_(std::move(bytes)), step_(step) {}
  size_t Read(char* buffer, size_t n) override {
    const size_t count = std::min({n, step_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, count);
    pos_ += count;
    return count;
  }

 private:
  std::string bytes_;
  size_t step_;
  size_t pos_ = 0;
};

std::vector<std::string> LinesOf(const std::string& bytes, size_t step) {
  AnsiLineReader reader(std::make_unique<TrickleFile>(bytes, step));
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(&line)) lines.emplace_back(line);
  return lines;
}

struct LineCase {
  const char* bytes;
  std::vector<std::string> lines;
};

class AnsiLineReaderTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(AnsiLineReaderTest, EndsLinesAtCrOrCrLfWhereverTheReadsStop) {
  for (size_t step : {1, 2, 3, 1 << 20}) {
    EXPECT_EQ(LinesOf(GetParam().bytes, step), GetParam().lines)
        << "read step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, AnsiLineReaderTest,
    ::testing::Values(
        LineCase{"", {}}, LineCase{"a", {"a"}}, LineCase{"a\r\n", {"a"}},
        LineCase{"a\r\nb", {"a", "b"}}, LineCase{"a\rb\r", {"a", "b"}},
        LineCase{"a\nb\n", {"a\nb\n"}}, LineCase{"\r\n\r\n", {"", ""}},
        LineCase{"a\r\r\nb", {"a", "", "b"}},
        LineCase{"a\n\r\nb", {"a\n", "b"}}, LineCase{"\n", {"\n"}},
        LineCase{"x\r\n\nz\r", {"x", "\nz"}}));

TEST(AnsiLineReaderLongLineTest, KeepsALineLongerThanAnyReadWhole) {
  const std::string big(300000, 'x');
  EXPECT_EQ(LinesOf(big + "\r\n" + big + "y", 70000),
            (std::vector<std::string>{big, big + "y"}));
}

class ReadTextTest : public ::testing::Test {
 protected:
  Text Write(const std::string& bytes) {
    WriteBytes(dir_.Path("t.txt"), bytes);
    return dir_.TextPath("t.txt");
  }

  TempDir dir_;
};

TEST_F(ReadTextTest, JoinsLinesDroppingOnlyTheLeadingEmptyOnes) {
  EXPECT_EQ(ReadTextFile(Write("\r\n\r\nabc\r\n")), u"abc");
  EXPECT_EQ(ReadTextFile(Write("a\r\n\r\nb\r\n\r\n")), u"a\r\n\r\nb\r\n");
  EXPECT_EQ(ReadTextFile(Write("a\rb\nc")), u"a\r\nb\nc");
  EXPECT_EQ(ReadTextFile(Write("caf\xE9 \x80\x81")), u"caf\u00E9 \u20AC\u0081");
  EXPECT_EQ(ReadTextFile(Write("\r\n\r\n")), u"");
  EXPECT_EQ(ReadTextFile(Write("")), u"");
}

TEST_F(ReadTextTest, LinesAreTheTextSplitAtCrLf) {
  EXPECT_EQ(ReadTextLines(Write("\r\nfirst\r\n\r\nthird\nstill\r")),
            (std::vector<Text>{u"first", u"", u"third\nstill"}));
  EXPECT_TRUE(ReadTextLines(Write("\r\n\r")).empty());
}

TEST_F(ReadTextTest, EmptyNameTouchesNothingAndAMissingFileFails) {
  FailingPlatform counting;
  ScopedPlatform scope(counting);
  EXPECT_EQ(ReadTextFile(u""), u"");
  EXPECT_TRUE(ReadTextLines(u"").empty());
  EXPECT_EQ(counting.TotalCalls(), 0);
  try {
    ReadTextFile(dir_.TextPath("missing.txt"));
    ADD_FAILURE() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), error::kFileNotFound);
  }
  EXPECT_THROW(ReadTextLines(dir_.TextPath("none/x.txt")), Failure);
}

TEST_F(ReadTextTest, AFailingReadFailsTheCallAndClosesTheFile) {
  Text path = Write("a\r\nb\r\n");
  FailingPlatform failing(Op::kRead, 2, error::kDeviceIo);
  ScopedPlatform scope(failing);
  EXPECT_THROW(ReadTextFile(path), Failure);
  EXPECT_EQ(failing.OpenFiles(), 0);
}

}  // namespace
}  // namespace pellar
