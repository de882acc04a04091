#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, TrimRemovesControlAndBlankBytesOnly) {
  EXPECT_EQ(plat::Trim("  \t\r\nABC \x01\x1f "), "ABC");
  EXPECT_EQ(plat::Trim(std::string("\0x\0", 3)), "x");
  EXPECT_EQ(plat::Trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is 160, kept
  EXPECT_EQ(plat::Trim("a  b"), "a  b");
  EXPECT_EQ(plat::Trim("   "), "");
  EXPECT_EQ(plat::Trim(""), "");
}

TEST(Text, UpperAZChangesOnlyAsciiLetters) {
  EXPECT_EQ(plat::UpperAZ("abc xyz 09 {}`"), "ABC XYZ 09 {}`");
  EXPECT_EQ(plat::UpperAZ("\xE9t\xE9"), "\xE9T\xE9");  // é stays é
  EXPECT_EQ(plat::UpperAZ("\xB1q"), "\xB1Q");
}

TEST(Text, ThreeDigitFormats) {
  const std::pair<int, const char*> cases[] = {
      {0, "000"}, {7, "007"}, {42, "042"}, {999, "999"}, {1000, "1000"}, {-5, "-005"}, {123456, "123456"}};
  for (const auto& [v, s] : cases) EXPECT_EQ(plat::Format3d(v), s) << v;
  EXPECT_EQ(plat::FormatS3d("LPT", 1), "LPT001");
  EXPECT_EQ(plat::FormatS3d("", 12), "012");
}

TEST(Text, AllBytesRoundTripThroughUtf8) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string utf8 = plat::Cp1252ToUtf8(all);
  EXPECT_EQ(plat::Utf8ToCp1252(utf8), all);
  for (int c = 0; c < 256; ++c) {
    std::string one(1, static_cast<char>(c));
    EXPECT_EQ(plat::Utf8ToCp1252(plat::Cp1252ToUtf8(one)), one) << c;
  }
}

TEST(Text, KnownCharacters) {
  EXPECT_EQ(plat::Cp1252ToUtf8("\xB1"), "\xC2\xB1");            // ±
  EXPECT_EQ(plat::Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");        // €
  EXPECT_EQ(plat::Cp1252ToUtf8("\x9F"), "\xC5\xB8");            // Ÿ
  EXPECT_EQ(plat::Cp1252ToUtf8("\x81"), "\xC2\x81");            // undefined: C1 control
  EXPECT_EQ(plat::Cp1252ToUtf8("Qu\xE9" "bec"), "Qu\xC3\xA9" "bec");
  EXPECT_EQ(plat::Utf8ToCp1252("\xE2\x80\x94"), "\x97");        // em dash
}

TEST(Text, Utf8WithoutCp1252CodeBecomesQuestionMark) {
  EXPECT_EQ(plat::Utf8ToCp1252("a\xE4\xB8\xAD" "b"), "a?b");    // CJK
  EXPECT_EQ(plat::Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");       // emoji
  EXPECT_EQ(plat::Utf8ToCp1252("\xC2\x80"), "?");               // C1 control 0x80 has no code
  EXPECT_EQ(plat::Utf8ToCp1252("\xC3"), "?");                   // cut short
  EXPECT_EQ(plat::Utf8ToCp1252("\xC3x"), "?x");                 // bad continuation
  EXPECT_EQ(plat::Utf8ToCp1252("\xC0\xAF"), "??");              // overlong "/"
  EXPECT_EQ(plat::Utf8ToCp1252("\xFF"), "?");
}

}  // namespace
