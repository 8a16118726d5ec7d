#include <pellar/io/byte_scan.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace pellar {
namespace {

// Blocks of bytes that matter to the scans, and some that do not, against
// a byte-by-byte search; the portable forms (compiled where SSE2 is
// missing) must answer the same.
TEST(ByteScanTest, MasksAgreeWithAByteByByteSearch) {
  static const char kBytes[] = ",;\r\n&<>'\"=%a\x7E\x7F\x80\xE9\xFF";
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string block(64, '\0');
    for (char& c : block) c = kBytes[random() % sizeof kBytes];
    const size_t n = round % 65;
    const char a = block[random() % 64], b = round % 2 ? '\r' : '\n';
    uint64_t want_a = 0, want_b = 0;
    unsigned special = 0;
    for (size_t i = 0; i < 64; ++i) {
      want_a |= uint64_t{block[i] == a} << i;
      want_b |= uint64_t{block[i] == b} << i;
      const auto code = static_cast<unsigned char>(block[i]);
      if (i < 16 && (code >= 0x7F || std::string("&<>'\"\r").find(block[i]) !=
                                         std::string::npos)) {
        special |= 1u << i;
      }
    }
    const uint64_t inside = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
    const ByteMasks found = FindBytes64(block.data(), n, a, b);
    ASSERT_EQ(found.a, want_a & inside) << round;
    ASSERT_EQ(found.b, want_b & inside) << round;
    const ByteMasks portable = FindBytes64Portable(block.data(), a, b);
    ASSERT_EQ(portable.a, want_a) << round;
    ASSERT_EQ(portable.b, want_b) << round;
    ASSERT_EQ(XmlSpecialMask16(block.data()), special) << round;
    ASSERT_EQ(XmlSpecialMask16Portable(block.data()), special) << round;
  }
}

}  // namespace
}  // namespace pellar
