#include <gtest/gtest.h>

#include "common/text.h"

namespace tarvex {
namespace {

TEST(WideToUtf8, ConvertsEveryPlaneAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(wideToUtf8(nullptr), "");
  EXPECT_EQ(wideToUtf8(L""), "");
  EXPECT_EQ(wideToUtf8(L"COM3"), "COM3");
  EXPECT_EQ(wideToUtf8(L"\u00e9\u20ac"), "\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(wideToUtf8(L"\U0001F600"), "\xf0\x9f\x98\x80");
  // Unpaired surrogates become replacement characters.
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), L'a', 0};
  EXPECT_EQ(wideToUtf8(lone), std::string("\xef\xbf\xbd") + "a");
  const wchar_t trailing[] = {L'a', static_cast<wchar_t>(0xDC00), 0};
  EXPECT_EQ(wideToUtf8(trailing), "a\xef\xbf\xbd");
}

}  // namespace
}  // namespace tarvex
