// Text conversion where the platform's wide strings meet byte strings.
#pragma once

#include <string>

namespace tarvex {

// UTF-8 form of a NUL-terminated wide string (UTF-16 where wchar_t has 16
// bits, UTF-32 where it has 32); empty for a null pointer. Unpaired
// surrogates and values beyond U+10FFFF become U+FFFD.
std::string wideToUtf8(const wchar_t* text);

}  // namespace tarvex
