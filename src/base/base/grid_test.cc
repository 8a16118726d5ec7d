#include "base/grid.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pellar {
namespace {

// Texts the code page holds, texts it does not (side store), long ones.
Text RandomText(std::mt19937& random) {
  static const char16_t* const kPieces[] = {
      u"a", u"bc", u"\u00E9", u"\u4E2D", u"", u"0123456789abcdefghijklmnop"};
  Text text;
  for (size_t n = random() % 4; n > 0; --n) text += kPieces[random() % 6];
  return text;
}

TEST(TextCellsTest, EveryChangeReadsBackAsAPlainModelHasIt) {
  std::mt19937 random(3);
  constexpr size_t kCells = 40;
  TextCells cells(kCells);
  std::vector<Text> model(kCells);
  for (int step = 0; step < 20000; ++step) {
    const size_t i = random() % kCells;
    const Text text = RandomText(random);
    switch (random() % 4) {
      case 0:
        cells.Set(i, text, u"<", u">");
        model[i] = u"<" + text + u">";
        break;
      case 1:
        cells.Append(i, text);
        model[i] += text;
        break;
      case 2: {
        // A run of loaded bytes: the cell takes a part of it.
        const std::string bytes = ToAnsi(text) + std::string(400, ',');
        const size_t offset = cells.AppendLoaded(bytes);
        if (!text.empty()) {
          cells.StoreLoaded(i, offset, text.size());
          model[i] = FromAnsi(ToAnsi(text));
        }
        cells.TrimLoaded();
        break;
      }
      default:
        if (step % 500 == 0) cells.ReserveLoaded(1 << 12);
        cells.SetBytes(i, ToAnsi(text));
        model[i] = FromAnsi(ToAnsi(text));
    }
    ASSERT_EQ(cells.Get(i), model[i]) << "step " << step;
  }
  size_t chars = 0;
  for (size_t i = 0; i < kCells; ++i) {
    ASSERT_EQ(cells.Get(i), model[i]) << i;
    ASSERT_EQ(cells.size(i), model[i].size()) << i;
    chars += model[i].size();
  }
  EXPECT_EQ(cells.total_chars(), chars);
}

TEST(SparseTextsTest, ClearedCellsGiveTheirRoomToOthersNotTheirText) {
  SparseTexts texts;
  texts.Set(5, u"bold");
  texts.Append(9, u"a=1");
  texts.Append(9, u"b=2");
  texts.Set(5, u"");
  texts.Set(70, u"italic");
  EXPECT_TRUE(texts.empty(5));
  EXPECT_EQ(texts.Get(5), u"");
  EXPECT_EQ(texts.Get(9), u"a=1b=2");
  EXPECT_EQ(texts.Get(70), u"italic");
  EXPECT_TRUE(texts.empty(1000));
  EXPECT_EQ(texts.total_chars(), 12u);
}

}  // namespace
}  // namespace pellar
