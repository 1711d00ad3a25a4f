// The formula parser: verdicts and faults, the chains and stages built,
// numbers, and formulas of any depth.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filter/formula_parser.h"

namespace tarvex {
namespace {

// What every fault yields: one fresh nameless node of kind VALUE, all zero,
// linked to nothing and disabled.
void expectRejected(const std::shared_ptr<FilterSys>& head) {
  ASSERT_TRUE(head);
  EXPECT_FALSE(head->enabled);
  EXPECT_EQ(head->kind, FilterKind::Value);
  EXPECT_EQ(head->name, "");
  EXPECT_EQ(head->p1 + head->p2 + head->p3 + head->p4 + head->state, 0.0);
  EXPECT_FALSE(head->next);
  EXPECT_TRUE(head->prev.expired());
}

double evaluate(std::string_view formula, double x) {
  return evaluateChain(*parseFilterString(formula), x, 1.0, 1.0, 1.0);
}

using F = FormulaFault;
using K = FilterKind;

// Accepted (an enabled chain that ends in VALUE), or refused with the first
// fault, where the call it is in starts, and that call's keyword.
TEST(Formula, VerdictAndFault) {
  struct Case {
    const char* formula;
    F::Kind fault;
    std::size_t position = 0;
    const char* keyword = "";
  };
  const Case cases[] = {
      // the core word
      {"VALUE", F::None}, {" \tVALUE\n\v\f\r", F::None}, {"value", F::CoreNotValue},
      {"VALUEX", F::CoreNotValue}, {"", F::CoreNotValue}, {"  ", F::CoreNotValue, 2},
      {"GAIN(VALUE ;2)", F::CoreNotValue, 5}, {"GAIN(GAIN(2;2);2)", F::CoreNotValue, 10},
      // keywords in any case, blanks around them
      {" Gain (VALUE; 2 ) ", F::None}, {"GAINX(VALUE;2)", F::UnknownKeyword, 0, "GAINX"},
      {"(VALUE;2)", F::UnknownKeyword}, {"VALUE(VALUE)", F::UnknownKeyword, 0, "VALUE"},
      {"G\xC3\x80IN(VALUE;2)", F::UnknownKeyword, 0, "G\xC3\x80IN"},
      {"ADD(gian (VALUE;2);1)", F::UnknownKeyword, 4, "gian"},
      // each keyword's checks (the numbers each takes: StageParameters)
      {"EMALP(VALUE;0.5)", F::SmoothingBelowOne, 0, "EMALP"}, {"EMALP(VALUE;1)", F::None},
      {"EMAHP(VALUE;0.999)", F::SmoothingBelowOne, 0, "EMAHP"}, {"EMAHP(VALUE;1)", F::None},
      {"REMAP(VALUE;1;1;0;10)", F::EmptyRemapSpan, 0, "REMAP"}, {"REMAP(VALUE;0;0,000000001;0;1)", F::None},
      {"REMAP(VALUE;0;0,0000000009;0;1)", F::EmptyRemapSpan, 0, "REMAP"},
      {"BITSCALE(VALUE;1;64)", F::BitWidth, 0, "BITSCALE"}, {"BITSCALE(VALUE;1;0)", F::None},
      {"BITSCALE(VALUE;1;2147483647)", F::BitWidth, 0, "BITSCALE"}, {"BITSCALESIGNED(VALUE;1;64)", F::None},
      {"ABS(GAIN(VALUE;2);3)", F::NumberAfterAbs, 0, "ABS"}, {"ABS(VALUE;x)", F::CoreNotValue, 4},
      {"GAIN(VALUE;2;3)", F::CoreNotValue, 5}, {"ADD(VALUE;;1)", F::CoreNotValue, 4},
      {"CROP(VALUE;1)", F::Number, 0, "CROP"}, {"SETVALUE(VALUE)", F::Number, 0, "SETVALUE"},
      // after the last parenthesis
      {"GAIN(VALUE;2)xyz", F::None}, {"GAIN(VALUE;2)(", F::None}, {"GAIN(VALUE;2))", F::Number, 0, "GAIN"},
      {")GAIN(VALUE;2", F::Parentheses}, {"GAIN(VALUE;2", F::Parentheses}, {"GAIN VALUE;2)", F::Parentheses},
      // nesting
      {"CROP( GAIN(VALUE;2) ;-1;1)", F::None}, {"CROP(GAIN(VALUE;2;-1;1)", F::Parentheses, 5},
      {"CROP(GAIN)VALUE(;1;2)", F::Parentheses, 5}, {"CROP(GAIN(VALUE;2));-1;1)", F::Number, 5, "GAIN"},
      {"GAIN(FOO(VALUE;2);2)", F::UnknownKeyword, 5, "FOO"},
      {"GAIN(EMALP(VALUE;0.5);2)", F::SmoothingBelowOne, 5, "EMALP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    FormulaFault fault;
    const auto head = parseFilterString(c.formula, &fault);
    if (c.fault == F::None) {
      EXPECT_TRUE(head->enabled);
      EXPECT_EQ(findTail(*head)->kind, K::Value);
    } else {
      expectRejected(head);
    }
    EXPECT_EQ(fault.kind, c.fault);
    EXPECT_EQ(fault.position, c.position);
    EXPECT_EQ(fault.keyword, c.keyword);
    EXPECT_EQ(describeFault(fault).empty(), c.fault == F::None);
  }
}

// Evaluated from VALUE outwards; text between a call's parenthesis and its
// numbers is ignored.
TEST(Formula, GivesTheHandValue) {
  const struct {
    const char* formula;
    double x, expected;
  } cases[] = {
      {"GAIN(ADD(EMALP(VALUE;2);1);2)", 6, 8},  // ((6 / 2) + 1) * 2
      {"REMAP(ADD(MUL(VALUE;2);1);0;1;0;10)", 0.25, 15}, {"CROP(GAIN(VALUE;2) junk ;-1;1)", 0.25, 0.5},
      {"CROP(GAIN(VALUE;2);-1;1)", 0.8, 1}, {"GAIN(VALUE;2);7", 1.5, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(evaluate(c.formula, c.x), c.expected) << c.formula;
}

// A stage's numbers in text order, in single precision.
TEST(Formula, StageParameters) {
  const struct {
    const char* formula;
    K kind;
    double p1, p2, p3 = 0, p4 = 0;
  } cases[] = {
      {"emalp(VALUE;10)", K::Emalp, 10, 0}, {"mul(VALUE;0.1)", K::Mul, 0.100000001490116119384765625, 0},
      {"Emahp(VALUE;2)", K::Emahp, 2, 0}, {"abs(VALUE)", K::Abs, 0, 0},
      {"logistic(VALUE;10;0,5)", K::Logistic, 10, 0.5}, {"crop(VALUE;-1;1)", K::Crop, -1, 1},
      {"rollover(VALUE;2)", K::Rollover, 2, 0}, {"remap(VALUE;1;2;3;4)", K::Remap, 1, 2, 3, 4},
      {"noise(VALUE;0,5;20;7)", K::Noise, 0.5, 20, 7, 0}, {"sinus(VALUE;2;0,25)", K::Sinus, 2, 0.25},
      {"setvalue(VALUE;2)", K::SetValue, 2, 0},
      {"add(VALUE;99999999999999999999999999999999999999999)", K::Add, INFINITY, 0},
      {"spike(VALUE;1;2;3;4)", K::Spike, 1, 2, 3, 4}, {"edynlp(VALUE;1;2;3)", K::EdynLp, 1, 2, 3},
      {"ldynlp(VALUE;1;2;3)", K::LdynLp, 1, 2, 3}, {"BITSCALESIGNED(VALUE;2;100)", K::BitScaleSigned, 2, 100},
      // BITSCALE: p2 = 2^W - 1 in single precision, W the width truncated.
      {"bitscale(VALUE;1;8)", K::BitScale, 1, 255}, {"BITSCALE(VALUE;1;-0,5)", K::BitScale, 1, 0},
      {"BITSCALE(VALUE;1;25)", K::BitScale, 1, 33554432}, {"BITSCALE(VALUE;1;3000000000)", K::BitScale, 1, 0},
      {"BITSCALE(VALUE;1;63,9)", K::BitScale, 1, 9223372036854775808.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula);
    auto head = parseFilterString(c.formula);
    ASSERT_TRUE(head->enabled);
    EXPECT_EQ(head->kind, c.kind);
    EXPECT_EQ(head->name, filterKindName(c.kind));
    EXPECT_EQ((std::vector<double>{head->p1, head->p2, head->p3, head->p4}),
              (std::vector<double>{c.p1, c.p2, c.p3, c.p4}));
  }
}

// The number after the last semicolon is read and cut off, or nothing changes.
TEST(Numbers, TrailingNumberIsReadOrLeavesEverythingAlone) {
  const std::pair<std::string, double> read[] = {
      {"V;1;2", 2}, {"V; \t2.5 \n", 2.5}, {"V;-0,125", -0.125}, {"V;+.5", 0.5}, {"V;5.", 5}, {"V;-0", -0.0},
      {"V;\xE2\x80\x93" "3", -3}, {"V;\xE2\x80\x93" "0x10", -16}, {"V;0xfF", 255}, {"V;0xaA", 170},
      {"V;-0x0", 0.0}, {"V;0x", 0},  // the integer 0, no minus sign left; "0x" as strtol reads it
      {"V;0x000000000000000000001", 1}, {"V;0x7FFFFFFFFFFFFFFF", 9223372036854775807.0},
      {"V;-0x8000000000000000", -9223372036854775808.0}, {"V;" + std::string(300, '0') + "1.5", 1.5},
  };
  for (const auto& [text, expected] : read) {
    SCOPED_TRACE(text);
    std::string args = text;
    double value = 123.0;
    ASSERT_TRUE(popTrailingNumber(args, value));
    EXPECT_EQ(value, expected);
    EXPECT_EQ(std::signbit(value), std::signbit(expected));
    EXPECT_EQ(args, text.substr(0, text.rfind(';')));
  }
  const std::string refused[] = {
      "V;0x8000000000000000", "V;-0x8000000000000001", "V;+0x10", "V;0X10", "V;0x1g", "V;0x1.5",
      "V;1e3", "V;1.2.3", "V;1,000.5", "V;1 2", "V;-", "V;.", "V;--1", "V;1-", "V;\xE2\x80" "1", "V;inf",
      "V;2)", "V;", "V", "V;" + std::string(400, '9'), "V;0." + std::string(330, '0') + "1",  // beyond double
  };
  for (const std::string& text : refused) {
    std::string args = text;
    double value = 123.0;
    EXPECT_FALSE(popTrailingNumber(args, value)) << text;
    EXPECT_EQ(value, 123.0) << text;
    EXPECT_EQ(args, text);
  }
}

std::string times(int n, const std::string& text) {
  std::string all;
  while (n-- > 0) all += text;
  return all;
}

// Without recursion: a fault at the core releases everything built too.
TEST(Depth, AHundredThousandLevelsAreParsedEvaluatedAndFreed) {
  constexpr int kDeep = 100000;
  auto head = parseFilterString(times(kDeep, "ADD(") + "VALUE" + times(kDeep, ";1)"));
  ASSERT_TRUE(head->enabled);
  EXPECT_EQ(evaluateChain(*head, 0.5, 1, 1, 1), 100000.5);
  std::weak_ptr<FilterSys> tail = findTail(*head);
  head.reset();
  EXPECT_TRUE(tail.expired());
  EXPECT_EQ(evaluate(times(kDeep, "ABS(") + "GAIN(VALUE;-2)" + times(kDeep, ")junk"), 1.5), 3.0);
  expectRejected(parseFilterString(times(kDeep, "GAIN(") + "VALUEX" + times(kDeep, ";1)")));
  expectRejected(parseFilterString(times(kDeep, "ABS(") + "VALUE;1" + times(kDeep, ")")));
}

}  // namespace
}  // namespace tarvex
