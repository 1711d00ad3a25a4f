#include "common/text.h"

namespace tarvex {

namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string wideToUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    char32_t c = static_cast<char32_t>(*p);
    if constexpr (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (isHighSurrogate(c) && isLowSurrogate(static_cast<char32_t>(p[1]) & 0xFFFF)) {
        const char32_t low = static_cast<char32_t>(*++p) & 0xFFFF;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
        c = kReplacement;
      }
    } else if (c > 0x10FFFF || isHighSurrogate(c) || isLowSurrogate(c)) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

}  // namespace tarvex
