// The formula parser.
//
// Index
//   - characters and the keyword table
//   - readNumber: one number text
//   - ArgsScanner: numbers from the end of an argument text, in linear time
//   - parseFilterString: outside in, one call per pass of a loop
//
// The parser works on index windows into the one copy of the formula; each
// call's argument text is a window inside the previous one. Windows only ever
// shrink, which is what lets ArgsScanner remember its searches and keeps the
// parse linear in the length of the formula however deep it is nested.
#include "filter/formula_parser.h"

#include <array>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <optional>

#include "common/float_range.h"

namespace tarvex {

namespace {

// --- characters and the keyword table ---------------------------------------

constexpr std::size_t npos = std::string_view::npos;

// The isspace set of the "C" locale; bytes above 127 are never blanks.
bool isBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// toupper of the "C" locale: only a to z change.
char upper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) noexcept {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) noexcept {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Could the character stand in a number text, blanks around it included?
// Only a quick test that rules texts out; readNumber decides.
bool mayBeInNumber(char c) noexcept {
  const auto byte = static_cast<unsigned char>(c);
  return isHexDigit(c) || isBlank(c) || c == 'x' || c == '.' || c == ',' || c == '+' || c == '-' ||
         byte == 0xE2 || byte == 0x80 || byte == 0x93;
}

void strip(std::string_view text, std::size_t& begin, std::size_t& end) noexcept {
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
}

std::string_view stripped(std::string_view text) noexcept {
  std::size_t begin = 0;
  std::size_t end = text.size();
  strip(text, begin, end);
  return text.substr(begin, end - begin);
}

struct Keyword {
  std::string_view word;
  FilterKind kind;
  int numbers;
};

// Every keyword that opens a call. VALUE is no call: it only stands alone.
constexpr std::array<Keyword, kFilterKindCount - 1> kKeywords = {{
    {"EMALP", FilterKind::Emalp, 1},
    {"EMAHP", FilterKind::Emahp, 1},
    {"MUL", FilterKind::Mul, 1},
    {"GAIN", FilterKind::Gain, 1},
    {"LOGISTIC", FilterKind::Logistic, 2},
    {"CROP", FilterKind::Crop, 2},
    {"ROLLOVER", FilterKind::Rollover, 1},
    {"REMAP", FilterKind::Remap, 4},
    {"NOISE", FilterKind::Noise, 3},
    {"BITSCALE", FilterKind::BitScale, 2},
    {"BITSCALESIGNED", FilterKind::BitScaleSigned, 2},
    {"SINUS", FilterKind::Sinus, 2},
    {"ABS", FilterKind::Abs, 0},
    {"SETVALUE", FilterKind::SetValue, 1},
    {"ADD", FilterKind::Add, 1},
    {"SPIKE", FilterKind::Spike, 4},
    {"EDYNLP", FilterKind::EdynLp, 3},
    {"LDYNLP", FilterKind::LdynLp, 3},
}};

// The keyword `name` spells, upper-cased character by character.
const Keyword* findKeyword(std::string_view name) noexcept {
  for (const Keyword& keyword : kKeywords) {
    if (keyword.word.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) same = upper(name[i]) == keyword.word[i];
    if (same) return &keyword;
  }
  return nullptr;
}

// --- readNumber ---------------------------------------------------------------

// "0x..." with an optional minus, in the signed 64-bit range. `digits` has
// been checked to hold hex digits only; without any the value is 0, as the
// C library's base-16 conversion reads "0x".
std::optional<double> readHex(std::string_view digits, bool negative) noexcept {
  std::uint64_t magnitude = 0;
  for (char c : digits) {
    if (magnitude > (UINT64_MAX >> 4)) return std::nullopt;
    magnitude = (magnitude << 4) | static_cast<std::uint64_t>(hexValue(c));
  }
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (magnitude > kMaxPositive + (negative ? 1u : 0u)) return std::nullopt;
  std::int64_t whole = 0;
  if (!negative) {
    whole = static_cast<std::int64_t>(magnitude);
  } else if (magnitude == kMaxPositive + 1u) {
    whole = INT64_MIN;
  } else {
    whole = -static_cast<std::int64_t>(magnitude);
  }
  return static_cast<double>(whole);  // -0x0 is the integer 0, so +0.0
}

// An optional sign, then digits and at most one point, at least one digit.
std::optional<double> readDecimal(std::string_view text) noexcept {
  std::size_t first = 0;
  if (text[0] == '+' || text[0] == '-') first = 1;
  bool point = false;
  bool digit = false;
  for (std::size_t i = first; i < text.size(); ++i) {
    if (isDigit(text[i])) {
      digit = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  // from_chars takes no plus sign, and unlike strtod it ignores the locale.
  const std::size_t start = text[0] == '+' ? 1 : 0;
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  // strtod calls results below the normal range a range error as well;
  // from_chars only those beyond it.
  if (value != 0.0 && std::fabs(value) < DBL_MIN) return std::nullopt;
  return value;
}

// One number text, the blanks around it included.
std::optional<double> readNumber(std::string_view raw) noexcept {
  raw = stripped(raw);
  if (raw.empty()) return std::nullopt;
  std::string text;
  try {
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw.substr(i, 3) == "\xE2\x80\x93") {  // en dash
        text.push_back('-');
        i += 2;
      } else {
        text.push_back(raw[i] == ',' ? '.' : raw[i]);
      }
    }
  } catch (...) {
    return std::nullopt;
  }
  const bool negative = text[0] == '-';
  const std::string_view body = std::string_view(text).substr(negative ? 1 : 0);
  if (body.size() >= 2 && body[0] == '0' && body[1] == 'x') {
    const std::string_view digits = body.substr(2);
    for (char c : digits) {
      if (!isHexDigit(c)) return std::nullopt;
    }
    return readHex(digits, negative);
  }
  return readDecimal(text);
}

// --- ArgsScanner --------------------------------------------------------------

// Takes numbers from the end of argument windows of one formula. Both
// searches it makes are remembered: the last semicolon before a window's end,
// and the first character after a semicolon that no number holds. Because
// windows only shrink, a later search starts where an earlier one stopped,
// and nested calls whose argument text ends in a long run of closing
// parentheses (ABS(ABS(...))) do not make the parse quadratic.
class ArgsScanner {
 public:
  explicit ArgsScanner(std::string_view formula) noexcept : text_(formula) {}

  // popTrailingNumber on the window [begin, end): on success `end` moves to
  // the semicolon.
  bool pop(std::size_t begin, std::size_t& end, double& value) noexcept {
    if (end <= begin) return false;
    const std::size_t semicolon = lastSemicolon(begin, end);
    if (semicolon == npos || semicolon + 1 == end) return false;
    if (firstNonNumber(semicolon, end) < end) return false;
    const auto number = readNumber(text_.substr(semicolon + 1, end - semicolon - 1));
    if (!number) return false;
    value = *number;
    end = semicolon;
    return true;
  }

 private:
  std::size_t lastSemicolon(std::size_t begin, std::size_t end) noexcept {
    // The last search found `semicolon_` (or none) and no semicolon in
    // [searchedBegin_, searchedEnd_) after it.
    const bool known = end <= searchedEnd_ && begin >= searchedBegin_ &&
                       (semicolon_ == npos || semicolon_ < end);
    if (!known) {
      semicolon_ = npos;
      for (std::size_t i = end; i > begin; --i) {
        if (text_[i - 1] == ';') {
          semicolon_ = i - 1;
          break;
        }
      }
      searchedBegin_ = begin;
      searchedEnd_ = end;
    }
    return (semicolon_ != npos && semicolon_ >= begin) ? semicolon_ : npos;
  }

  std::size_t firstNonNumber(std::size_t semicolon, std::size_t end) noexcept {
    if (semicolon != stopFor_) {
      stopFor_ = semicolon;
      stop_ = semicolon + 1;
      while (stop_ < end && mayBeInNumber(text_[stop_])) ++stop_;
    }
    return stop_;
  }

  std::string_view text_;
  std::size_t searchedBegin_ = 0;
  std::size_t searchedEnd_ = 0;
  std::size_t semicolon_ = npos;
  std::size_t stopFor_ = npos;
  std::size_t stop_ = 0;
};

// --- parseFilterString --------------------------------------------------------

// BITSCALE's full scale 2^W - 1 for the width `b`, or nothing when W >= 64.
// A width that is no 32-bit integer counts as 0 and so does W <= 0.
std::optional<double> bitScaleFullScale(double b) noexcept {
  if (!(b > -2147483649.0 && b < 2147483648.0)) return 0.0;
  const auto width = static_cast<std::int32_t>(b);
  if (width >= 64) return std::nullopt;
  if (width <= 0) return 0.0;
  return static_cast<double>((std::uint64_t{1} << width) - 1u);
}

// The chain of a valid formula, or null at the first fault, which `fault`
// then describes.
std::shared_ptr<FilterSys> buildChain(std::string_view formula, FormulaFault& fault) {
  ArgsScanner scanner(formula);
  std::size_t begin = 0;
  std::size_t end = formula.size();
  strip(formula, begin, end);
  std::shared_ptr<FilterSys> head;
  FilterSys* tail = nullptr;
  const auto append = [&](FilterKind kind, double p1, double p2, double p3, double p4) {
    auto stage = makeStage(kind, toFloat(p1), toFloat(p2), toFloat(p3), toFloat(p4));
    if (tail != nullptr) {
      linkAfter(*tail, stage);
    } else {
      head = stage;
    }
    tail = stage.get();
  };

  for (;;) {
    const std::string_view current = formula.substr(begin, end - begin);
    if (current == "VALUE") {
      append(FilterKind::Value, 0.0, 0.0, 0.0, 0.0);
      head->enabled = true;
      return head;
    }
    const auto fail = [&](FormulaFault::Kind kind, std::string_view keywordName = {}) {
      fault.kind = kind;
      fault.position = begin;
      fault.keyword = keywordName;
      return nullptr;
    };
    const std::size_t open = current.find('(');
    const std::size_t close = current.rfind(')');
    if (open == npos || close == npos || close < open) {
      return fail(open == npos && close == npos ? FormulaFault::CoreNotValue
                                                : FormulaFault::Parentheses);
    }
    const Keyword* keyword = findKeyword(stripped(current.substr(0, open)));
    if (keyword == nullptr) return fail(FormulaFault::UnknownKeyword, stripped(current.substr(0, open)));

    const std::size_t argsBegin = begin + open + 1;
    std::size_t argsEnd = begin + close;
    double n[4] = {0.0, 0.0, 0.0, 0.0};
    for (int i = keyword->numbers - 1; i >= 0; --i) {
      if (!scanner.pop(argsBegin, argsEnd, n[i])) return fail(FormulaFault::Number, keyword->word);
    }

    double p[4] = {0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < keyword->numbers; ++i) p[i] = n[i];
    switch (keyword->kind) {
      case FilterKind::Emalp:
      case FilterKind::Emahp:
        if (!(n[0] >= 1.0)) return fail(FormulaFault::SmoothingBelowOne, keyword->word);
        break;
      case FilterKind::Remap:
        if (!(std::fabs(n[1] - n[0]) >= 1e-9)) return fail(FormulaFault::EmptyRemapSpan, keyword->word);
        break;
      case FilterKind::BitScale: {
        const auto fullScale = bitScaleFullScale(n[1]);
        if (!fullScale) return fail(FormulaFault::BitWidth, keyword->word);
        p[1] = *fullScale;
        break;
      }
      case FilterKind::Abs: {
        std::size_t probeEnd = argsEnd;
        double ignored = 0.0;
        if (scanner.pop(argsBegin, probeEnd, ignored)) return fail(FormulaFault::NumberAfterAbs, keyword->word);
        break;
      }
      default:
        break;
    }
    append(keyword->kind, p[0], p[1], p[2], p[3]);
    begin = argsBegin;
    end = argsEnd;
  }
}

// What every fault yields: a fresh node of kind VALUE with no name, disabled.
std::shared_ptr<FilterSys> rejected() { return std::make_shared<FilterSys>(); }

}  // namespace

std::shared_ptr<FilterSys> parseFilterString(std::string_view text) noexcept {
  return parseFilterString(text, nullptr);
}

std::shared_ptr<FilterSys> parseFilterString(std::string_view text, FormulaFault* fault) noexcept {
  try {
    FormulaFault found;
    if (auto chain = buildChain(text, found)) return chain;
    if (fault != nullptr) *fault = found;
    return rejected();
  } catch (...) {
    // Out of memory: whatever was built is released on the way here.
  }
  try {
    return rejected();
  } catch (...) {
    return nullptr;
  }
}

std::string describeFault(const FormulaFault& fault) {
  const std::string keyword(fault.keyword);
  const std::string at = " (at character " + std::to_string(fault.position + 1) + ")";
  switch (fault.kind) {
    case FormulaFault::None:
      return "";
    case FormulaFault::CoreNotValue:
      return "the innermost text must be exactly VALUE: capitals, no blanks around it" + at;
    case FormulaFault::Parentheses:
      return "missing or misplaced parentheses: expected KEYWORD(inner formula;numbers)" + at;
    case FormulaFault::UnknownKeyword:
      return "unknown keyword '" + keyword + "'" + at;
    case FormulaFault::Number:
      return keyword + ": a number is missing or unreadable (decimal with point or comma, or 0x hex; no exponents)" + at;
    case FormulaFault::SmoothingBelowOne:
      return keyword + ": the smoothing number must be at least 1" + at;
    case FormulaFault::EmptyRemapSpan:
      return "REMAP: the input span (second minus first number) must not be 0" + at;
    case FormulaFault::BitWidth:
      return "BITSCALE: the bit width must be below 64" + at;
    case FormulaFault::NumberAfterAbs:
      return "ABS takes no number" + at;
  }
  return "invalid formula" + at;
}

bool popTrailingNumber(std::string& args, double& value) noexcept {
  std::size_t end = args.size();
  ArgsScanner scanner(args);
  if (!scanner.pop(0, end, value)) return false;
  args.resize(end);
  return true;
}

}  // namespace tarvex
