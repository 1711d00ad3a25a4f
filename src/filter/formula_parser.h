// Filter formulas: a nesting of stage calls around the word VALUE, such as
// GAIN(EMALP(VALUE;10);2), turned into a chain of FilterSys stages.
//
// The outermost call becomes the head and VALUE the tail. Each call's numbers
// are taken from the end of its argument text, so an inner formula may hold
// semicolons and parentheses of its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "filter/filter_stage.h"

namespace tarvex {

// The chain for `text`. The head's `enabled` flag is the verdict: true for a
// valid formula; an invalid one yields a fresh disabled node of kind VALUE
// with an empty name, linked to nothing. Never throws; formulas of any depth
// are parsed without recursion. Only when memory runs out is the result
// empty.
std::shared_ptr<FilterSys> parseFilterString(std::string_view text) noexcept;

// Why a formula was refused: the first fault the parser met, for people who
// write formulas (the library itself only needs the verdict).
struct FormulaFault {
  enum Kind {
    None,
    CoreNotValue,       // the innermost text is not exactly VALUE
    Parentheses,        // missing or misplaced
    UnknownKeyword,
    Number,             // missing, unreadable or too few
    SmoothingBelowOne,  // EMALP, EMAHP
    EmptyRemapSpan,
    BitWidth,           // BITSCALE width of 64 or more
    NumberAfterAbs,
  };
  Kind kind = None;
  std::size_t position = 0;  // where the call that failed starts in the text
  // The keyword of that call: as written (a view into the parsed text) when
  // it is unknown, else the keyword itself.
  std::string_view keyword;
};

// The same parse; on a fault also says which one in `fault` (if not null).
std::shared_ptr<FilterSys> parseFilterString(std::string_view text, FormulaFault* fault) noexcept;

// One line for a person: what is wrong and where.
std::string describeFault(const FormulaFault& fault);

// Reads the number after the last semicolon of `args`. On success stores it
// in `value`, cuts `args` back to the text before that semicolon and returns
// true; otherwise changes nothing and returns false.
//
// A number is decimal (an optional sign, digits and at most one point; a
// comma counts as a point; no exponent) or hexadecimal ("0x" and hex digits,
// optionally after a minus, within the signed 64-bit range). A UTF-8 en dash
// counts as a minus. Blanks around the number are ignored.
bool popTrailingNumber(std::string& args, double& value) noexcept;

}  // namespace tarvex
