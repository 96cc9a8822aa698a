#include "common/TextUtil.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarvo {
namespace {

TEST(TextUtil, TryParseIntAcceptsOnlyOneOptionalSignAndDigits) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},         {"+7", true, 7},    {"-7", true, -7},
      {"2147483647", true, std::numeric_limits<int32_t>::max()},
      {"-2147483648", true, std::numeric_limits<int32_t>::min()},
      {"2147483648", false, 0}, {"", false, 0},  {"+", false, 0},
      {"+-5", false, 0},      {"--5", false, 0},  {" 5", false, 0},
      {"5 ", false, 0},       {"12abc", false, 0}, {"1.5", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 42;
    EXPECT_EQ(TryParseInt(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 42) << c.text << ": a failed parse leaves the target alone";
  }
  int64_t wide = 0;
  EXPECT_TRUE(TryParseInt("9223372036854775807", wide));
  EXPECT_EQ(wide, std::numeric_limits<int64_t>::max());
  EXPECT_FALSE(TryParseInt("9223372036854775808", wide));
}

TEST(TextUtil, SplitLinesTrimAndAsciiCase) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\nb\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\r\n"), (Lines{""}));
  EXPECT_TRUE(SplitLines("").empty());

  EXPECT_EQ(Trim(" \t\x01 a b \r\n"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  // UTF-8 bytes are above ' ' and stay, as does everything inside.
  EXPECT_EQ(Trim("\xC3\xA4 x \xC3\xA4"), "\xC3\xA4 x \xC3\xA4");

  EXPECT_EQ(AsciiUpper("abz AZ 09_\xC3\xA4"), "ABZ AZ 09_\xC3\xA4");
  EXPECT_EQ(AsciiLower("ABZ az 09_\xC3\x84"), "abz az 09_\xC3\x84");
}

}  // namespace
}  // namespace tarvo
