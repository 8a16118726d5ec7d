#include "io/byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace pellar {
namespace {

// Bytes that matter to the scans, and some that do not, at random.
std::string RandomBlock(std::mt19937& random, size_t size) {
  static const char kBytes[] = {
      ',', ';', '\r',   '\n',   '&',    '<',    '>',    '\'', '"',    '=',
      '%', 'a', '\x7E', '\x7F', '\x80', '\xE9', '\xFF', '\0', '\x26', '\x3D'};
  std::string block(size, '\0');
  for (char& c : block) c = kBytes[random() % sizeof kBytes];
  return block;
}

uint64_t Positions(const std::string& bytes, size_t n, char c) {
  uint64_t mask = 0;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] == c) mask |= uint64_t{1} << i;
  }
  return mask;
}

TEST(ByteScanTest, FindBytesAgreesWithAByteByByteSearch) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    const std::string block = RandomBlock(random, 64);
    const size_t n = round % 65;
    const char a = block[random() % 64], b = round % 3 == 0 ? '\r' : '\n';
    const ByteMasks found = FindBytes64(block.data(), n, a, b);
    ASSERT_EQ(found.a, Positions(block, n, a)) << round;
    ASSERT_EQ(found.b, Positions(block, n, b)) << round;
    // The form compiled where SSE2 is missing answers the same.
    const ByteMasks portable = FindBytes64Portable(block.data(), a, b);
    ASSERT_EQ(portable.a, Positions(block, 64, a)) << round;
    ASSERT_EQ(portable.b, Positions(block, 64, b)) << round;
  }
}

TEST(ByteScanTest, XmlSpecialsAreTheBytesTheWriterEscapes) {
  std::mt19937 random(11);
  for (int round = 0; round < 2000; ++round) {
    const std::string block = RandomBlock(random, 16);
    unsigned expected = 0;
    for (unsigned i = 0; i < 16; ++i) {
      const auto code = static_cast<unsigned char>(block[i]);
      if (code >= 0x7F ||
          std::string("&<>'\"\r").find(block[i]) != std::string::npos) {
        expected |= 1u << i;
      }
    }
    ASSERT_EQ(XmlSpecialMask16(block.data()), expected) << round;
    ASSERT_EQ(XmlSpecialMask16Portable(block.data()), expected) << round;
  }
}

}  // namespace
}  // namespace pellar
