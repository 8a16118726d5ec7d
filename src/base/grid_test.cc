#include <pellar/base/grid.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pellar {
namespace {

// Random changes to the texts and the formats of a few cells, read back
// after each against plain strings: texts the code page holds or not (side
// store), long ones, loaded runs with unused bytes to clean up.
TEST(GridTest, EveryChangeReadsBackAsPlainStringsHaveIt) {
  static const char16_t* const kPieces[] = {
      u"a", u"bc", u"\u00E9", u"\u4E2D", u"", u"0123456789abcdefghijklmnop"};
  std::mt19937 random(3);
  constexpr size_t kCells = 40;
  TextCells cells(kCells);
  SparseTexts formats;
  std::vector<Text> model(kCells), format_model(kCells);
  for (int step = 0; step < 20000; ++step) {
    const size_t i = random() % kCells;
    Text text;
    for (size_t n = random() % 4; n > 0; --n) text += kPieces[random() % 6];
    const Text exact = FromAnsi(ToAnsi(text));
    switch (random() % 5) {
      case 0:
        cells.Set(i, text, u"<", u">");
        model[i] = u"<" + text + u">";
        break;
      case 1:
        cells.Append(i, text);
        model[i] += text;
        break;
      case 2: {
        const size_t offset =
            cells.AppendLoaded(ToAnsi(text) + std::string(400, ','));
        if (!text.empty()) {
          cells.StoreLoaded(i, offset, text.size());
          model[i] = exact;
        }
        cells.TrimLoaded();
        break;
      }
      case 3:
        if (step % 500 == 0) cells.ReserveLoaded(1 << 12);
        cells.SetBytes(i, ToAnsi(text));
        model[i] = exact;
        break;
      default:
        // Formats are set whole or appended to; "" clears one.
        if (random() % 2 == 0) {
          formats.Set(i, text);
          format_model[i] = text;
        } else {
          formats.Append(i, text);
          format_model[i] += text;
        }
    }
    ASSERT_EQ(cells.Get(i), model[i]) << "step " << step;
    ASSERT_EQ(formats.Get(i), format_model[i]) << "step " << step;
  }
  size_t chars = 0, format_chars = 0;
  for (size_t i = 0; i < kCells; ++i) {
    ASSERT_EQ(cells.Get(i), model[i]) << i;
    ASSERT_EQ(formats.Get(i), format_model[i]) << i;
    chars += model[i].size();
    format_chars += format_model[i].size();
  }
  EXPECT_EQ(cells.total_chars(), chars);
  EXPECT_EQ(formats.total_chars(), format_chars);
  EXPECT_TRUE(formats.empty(kCells + 100));
}

}  // namespace
}  // namespace pellar
