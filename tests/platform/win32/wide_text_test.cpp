// The conversions at the Windows border: names in any script survive the trip
// both ways, broken text does not pass as if whole, and the fixed-buffer forms
// never hand on a text cut short.
#include "wide_text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace tarnwick::win32 {
namespace {

TEST(WideTextTest, NamesInAnyScriptComeBackAsTheyWere) {
  for (const std::string name : {"My Images\\Ελληνικά\\Εικόνα.UPL", "画像\\ファームウェア.UPL",
                                 "Ünïcödé\\Fïrmware é.UPL", "emoji \xF0\x9F\x94\x8C.UPL", ""}) {
    const std::wstring wide = Widen(name);
    EXPECT_EQ(Narrow(wide), name);
    std::array<wchar_t, 64> fixed{};
    ASSERT_TRUE(WidenInto(name.c_str(), fixed.data(), fixed.size())) << name;
    EXPECT_EQ(std::wstring(fixed.data()), wide);
    std::array<char, 64> back{};
    ASSERT_TRUE(NarrowInto(fixed.data(), back.data(), back.size())) << name;
    EXPECT_EQ(std::string(back.data()), name);
  }
  // Four UTF-8 bytes are one character outside the basic plane: a surrogate pair.
  EXPECT_EQ(Widen("\xF0\x9F\x94\x8C").size(), 2u);
}

TEST(WideTextTest, BrokenTextBecomesReplacementCharacters) {
  EXPECT_EQ(Widen("a\xFF" "b"), L"a\uFFFDb");
  const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  EXPECT_EQ(Narrow(loneSurrogate), "a\xEF\xBF\xBD" "b");
}

TEST(WideTextTest, ATextThatDoesNotFitLeavesTheBufferEmpty) {
  std::array<wchar_t, 6> wide;
  wide.fill(L'x');
  EXPECT_FALSE(WidenInto("Εικόνα.UPL", wide.data(), wide.size()));
  EXPECT_EQ(wide[0], L'\0');
  // Exactly room for the text and its terminator.
  EXPECT_TRUE(WidenInto("COM12", wide.data(), wide.size()));
  EXPECT_EQ(std::wstring(wide.data()), L"COM12");

  std::array<char, 8> narrow;
  narrow.fill('x');
  EXPECT_FALSE(NarrowInto(L"Εικόνα", narrow.data(), narrow.size()));
  EXPECT_EQ(narrow[0], '\0');
}

}  // namespace
}  // namespace tarnwick::win32
