// The formula parser: the core word, keywords, numbers, per-keyword checks,
// text after the last parenthesis, nesting, and formulas of any depth.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "filter/formula_parser.h"

namespace tarvex {
namespace {

// What every fault yields: one fresh nameless node of kind VALUE, all zero,
// linked to nothing and disabled.
void expectRejected(std::string_view formula) {
  auto head = parseFilterString(formula);
  ASSERT_TRUE(head);
  EXPECT_FALSE(head->enabled);
  EXPECT_EQ(head->kind, FilterKind::Value);
  EXPECT_EQ(head->name, "");
  EXPECT_EQ(head->p1 + head->p2 + head->p3 + head->p4 + head->state, 0.0);
  EXPECT_FALSE(head->next);
  EXPECT_TRUE(head->prev.expired());
}

std::vector<FilterKind> kinds(const std::shared_ptr<FilterSys>& head) {
  std::vector<FilterKind> out;
  for (auto stage = head; stage; stage = stage->next) out.push_back(stage->kind);
  return out;
}

double evaluate(std::string_view formula, double x) {
  return evaluateChain(*parseFilterString(formula), x, 1.0, 1.0, 1.0);
}

struct Verdict {
  const char* formula;
  bool valid;
};

std::ostream& operator<<(std::ostream& out, const Verdict& v) { return out << v.formula; }

class Formula : public ::testing::TestWithParam<Verdict> {};

TEST_P(Formula, IsAcceptedOrRejected) {
  if (GetParam().valid) {
    auto head = parseFilterString(GetParam().formula);
    EXPECT_TRUE(head->enabled);
    EXPECT_EQ(findTail(*head)->kind, FilterKind::Value);
  } else {
    expectRejected(GetParam().formula);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CoreWord, Formula,
    ::testing::Values(Verdict{"VALUE", true}, Verdict{" \tVALUE\n\v\f\r", true},
                      Verdict{"value", false}, Verdict{"Value", false}, Verdict{"VALUEX", false},
                      Verdict{"", false}, Verdict{"  ", false}, Verdict{"GAIN( VALUE ;2)", false},
                      Verdict{"GAIN(VALUE ;2)", false}, Verdict{"GAIN(value;2)", false},
                      Verdict{"GAIN(;2)", false}, Verdict{"GAIN(GAIN(2;2);2)", false}));

INSTANTIATE_TEST_SUITE_P(
    KeywordCaseAndBlanks, Formula,
    ::testing::Values(Verdict{"gain(VALUE;2)", true}, Verdict{" Gain (VALUE; 2 ) ", true},
                      Verdict{"bItScAlEsIgNeD\t(VALUE;1;2)", true},
                      Verdict{"G AIN(VALUE;2)", false}, Verdict{"GAINX(VALUE;2)", false},
                      Verdict{"(VALUE;2)", false}, Verdict{"UNKNOWN(VALUE;2)", false},
                      Verdict{"VALUE(VALUE)", false}, Verdict{"G\xC3\x80IN(VALUE;2)", false}));

INSTANTIATE_TEST_SUITE_P(
    KeywordChecks, Formula,
    ::testing::Values(
        Verdict{"EMALP(VALUE;0.5)", false}, Verdict{"EMALP(VALUE;1)", true},
        Verdict{"EMAHP(VALUE;0.999)", false}, Verdict{"EMAHP(VALUE;1)", true},
        Verdict{"REMAP(VALUE;1;1;0;10)", false}, Verdict{"REMAP(VALUE;0;1;0;10)", true},
        Verdict{"REMAP(VALUE;0;0,000000001;0;1)", true},
        Verdict{"REMAP(VALUE;0;0,0000000009;0;1)", false}, Verdict{"BITSCALE(VALUE;1;64)", false},
        Verdict{"BITSCALE(VALUE;1;2147483647)", false}, Verdict{"BITSCALE(VALUE;1;0)", true},
        Verdict{"BITSCALESIGNED(VALUE;1;64)", true}, Verdict{"ABS(VALUE)", true},
        Verdict{"ABS(VALUE;3)", false}, Verdict{"ABS(GAIN(VALUE;2))", true},
        Verdict{"ABS(VALUE;x)", false}, Verdict{"ABS(GAIN(VALUE;2);3)", false},
        Verdict{"GAIN(VALUE;2;3)", false}, Verdict{"CROP(VALUE;1)", false},
        Verdict{"LOGISTIC(VALUE;1)", false}, Verdict{"NOISE(VALUE;1;2)", false},
        Verdict{"SPIKE(VALUE;1;2;3)", false}, Verdict{"EDYNLP(VALUE;1;2)", false},
        Verdict{"SETVALUE(VALUE)", false}, Verdict{"GAIN(VALUE;)", false},
        Verdict{"GAIN(VALUE)", false}, Verdict{"ADD(VALUE;;1)", false}));

INSTANTIATE_TEST_SUITE_P(
    AfterTheLastParenthesis, Formula,
    ::testing::Values(Verdict{"GAIN(VALUE;2)xyz", true}, Verdict{"GAIN(VALUE;2) ;3", true},
                      Verdict{"GAIN(VALUE;2)(", true}, Verdict{"GAIN(VALUE;2))", false},
                      Verdict{")GAIN(VALUE;2", false}, Verdict{"GAIN(VALUE;2", false},
                      Verdict{"GAIN VALUE;2)", false}));

INSTANTIATE_TEST_SUITE_P(
    Nesting, Formula,
    ::testing::Values(Verdict{"CROP(GAIN(VALUE;2);-1;1)", true},
                      Verdict{"CROP( GAIN(VALUE;2) ;-1;1)", true},
                      Verdict{"ADD(SINUS(NOISE(VALUE;1;2;3);1;2);4)", true},
                      Verdict{"GAIN(GAIN(VALUE;2)x;2)", true},
                      Verdict{"CROP(GAIN(VALUE;2;-1;1)", false},
                      Verdict{"CROP(GAIN(VALUE;2));-1;1)", false},
                      Verdict{"GAIN(FOO(VALUE;2);2)", false},
                      Verdict{"GAIN(EMALP(VALUE;0.5);2)", false}));

// --- what the chains do ------------------------------------------------------------

struct Outcome {
  const char* formula;
  double x;
  double expected;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) { return out << o.formula; }

class Evaluated : public ::testing::TestWithParam<Outcome> {};

TEST_P(Evaluated, GivesTheHandValue) {
  EXPECT_EQ(evaluate(GetParam().formula, GetParam().x), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, Evaluated,
    ::testing::Values(Outcome{"VALUE", -3.5, -3.5}, Outcome{"GAIN(VALUE;2,5)", 2, 5},
                      Outcome{"GAIN(VALUE;0x10)", 2, 32}, Outcome{"GAIN(VALUE;-0x10)", 2, -32},
                      Outcome{"ADD(VALUE;\xE2\x80\x93" "1,5)", 2, 0.5},
                      Outcome{"GAIN(VALUE;2)xyz", 1.5, 3}, Outcome{"GAIN(VALUE;2);7", 1.5, 3},
                      Outcome{"CROP(GAIN(VALUE;2) junk ;-1;1)", 0.25, 0.5},
                      Outcome{"CROP(GAIN(VALUE;2);-1;1)", 0.8, 1},
                      Outcome{"GAIN(EMALP(VALUE;10);2)", 1, 0.2},  // smoothed, then doubled
                      Outcome{"REMAP(ADD(MUL(VALUE;2);1);0;1;0;10)", 0.25, 15},
                      Outcome{"ABS(GAIN(VALUE;2))", -1.5, 3},
                      Outcome{"BITSCALE(VALUE;1;0)", 0.7, 0},
                      Outcome{"BITSCALE(VALUE;1;8)", 0.5, 127.5},
                      Outcome{"EMALP(VALUE;1)", 4.5, 4.5}));

TEST(Nesting, TheOutermostCallIsTheHeadAndValueTheTail) {
  auto head = parseFilterString("CROP(GAIN(VALUE;2);-1;1)");
  EXPECT_EQ(kinds(head), (std::vector<FilterKind>{FilterKind::Crop, FilterKind::Gain,
                                                  FilterKind::Value}));
  EXPECT_EQ(head->name, "CROP");
  EXPECT_EQ(head->next->prev.lock(), head);
  EXPECT_FALSE(head->next->enabled);
}

struct Parameters {
  const char* formula;
  FilterKind kind;
  double p1, p2, p3, p4;
};

std::ostream& operator<<(std::ostream& out, const Parameters& p) { return out << p.formula; }

class StageParameters : public ::testing::TestWithParam<Parameters> {};

TEST_P(StageParameters, AreTheNumbersInTextOrderInSinglePrecision) {
  const Parameters& c = GetParam();
  auto head = parseFilterString(c.formula);
  ASSERT_TRUE(head->enabled);
  EXPECT_EQ(head->kind, c.kind);
  EXPECT_EQ(head->name, filterKindName(c.kind));
  EXPECT_EQ(head->p1, c.p1);
  EXPECT_EQ(head->p2, c.p2);
  EXPECT_EQ(head->p3, c.p3);
  EXPECT_EQ(head->p4, c.p4);
}

using K = FilterKind;
INSTANTIATE_TEST_SUITE_P(
    KeywordChecks, StageParameters,
    ::testing::Values(
        Parameters{"emalp(VALUE;10)", K::Emalp, 10, 0, 0, 0},
        Parameters{"Emahp(VALUE;2)", K::Emahp, 2, 0, 0, 0},
        Parameters{"mul(VALUE;0.1)", K::Mul, 0.100000001490116119384765625, 0, 0, 0},
        Parameters{"GAIN(VALUE;16777217)", K::Gain, 16777216, 0, 0, 0},
        Parameters{"logistic(VALUE;10;0,5)", K::Logistic, 10, 0.5, 0, 0},
        Parameters{"crop(VALUE;-1;1)", K::Crop, -1, 1, 0, 0},
        Parameters{"rollover(VALUE;2)", K::Rollover, 2, 0, 0, 0},
        Parameters{"remap(VALUE;1;2;3;4)", K::Remap, 1, 2, 3, 4},
        Parameters{"noise(VALUE;0,5;20;7)", K::Noise, 0.5, 20, 7, 0},
        Parameters{"sinus(VALUE;2;0,25)", K::Sinus, 2, 0.25, 0, 0},
        Parameters{"abs(VALUE)", K::Abs, 0, 0, 0, 0},
        Parameters{"setvalue(VALUE;2)", K::SetValue, 2, 0, 0, 0},
        Parameters{"add(VALUE;2)", K::Add, 2, 0, 0, 0},
        Parameters{"spike(VALUE;1;2;3;4)", K::Spike, 1, 2, 3, 4},
        Parameters{"edynlp(VALUE;1;2;3)", K::EdynLp, 1, 2, 3, 0},
        Parameters{"ldynlp(VALUE;1;2;3)", K::LdynLp, 1, 2, 3, 0},
        Parameters{"BITSCALESIGNED(VALUE;2;100)", K::BitScaleSigned, 2, 100, 0, 0},
        // BITSCALE: p2 = 2^W - 1 in single precision, W the width truncated.
        Parameters{"bitscale(VALUE;1;8)", K::BitScale, 1, 255, 0, 0},
        Parameters{"BITSCALE(VALUE;1;25)", K::BitScale, 1, 33554432, 0, 0},
        Parameters{"BITSCALE(VALUE;1;32)", K::BitScale, 1, 4294967296.0, 0, 0},
        Parameters{"BITSCALE(VALUE;1;63,9)", K::BitScale, 1, 9223372036854775808.0, 0, 0},
        Parameters{"BITSCALE(VALUE;1;-0,5)", K::BitScale, 1, 0, 0, 0},
        Parameters{"BITSCALE(VALUE;1;3000000000)", K::BitScale, 1, 0, 0, 0}));

// --- numbers ------------------------------------------------------------------------

struct NumberCase {
  std::string args;
  bool ok;
  double value;
};

std::ostream& operator<<(std::ostream& out, const NumberCase& c) { return out << c.args; }

class TrailingNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(TrailingNumber, IsReadOrLeavesEverythingAlone) {
  const NumberCase& c = GetParam();
  std::string args = c.args;
  double value = 123.0;
  ASSERT_EQ(popTrailingNumber(args, value), c.ok);
  if (c.ok) {
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(std::signbit(value), std::signbit(c.value));
    EXPECT_EQ(args, c.args.substr(0, c.args.rfind(';')));
  } else {
    EXPECT_EQ(value, 123.0);
    EXPECT_EQ(args, c.args);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, TrailingNumber,
    ::testing::Values(
        NumberCase{"V;2", true, 2}, NumberCase{"V;1;2", true, 2},
        NumberCase{"V; \t2.5 \n", true, 2.5}, NumberCase{"V;-0,125", true, -0.125},
        NumberCase{"V;+.5", true, 0.5}, NumberCase{"V;5.", true, 5},
        NumberCase{"V;-0", true, -0.0}, NumberCase{"V;\xE2\x80\x93" "3", true, -3},
        NumberCase{"V;\xE2\x80\x93" "0x10", true, -16}, NumberCase{"V;0xfF", true, 255},
        NumberCase{"V;-0x0", true, 0.0},  // the integer 0: no minus sign left
        NumberCase{"V;0x", true, 0},      // as the C library's base-16 conversion reads it
        NumberCase{"V;0x000000000000000000001", true, 1},
        NumberCase{"V;0x7FFFFFFFFFFFFFFF", true, 9223372036854775807.0},
        NumberCase{"V;-0x8000000000000000", true, -9223372036854775808.0},
        NumberCase{"V;" + std::string(300, '0') + "1.5", true, 1.5},
        NumberCase{"V;0x8000000000000000", false, 0}, NumberCase{"V;-0x8000000000000001", false, 0},
        NumberCase{"V;+0x10", false, 0}, NumberCase{"V;0X10", false, 0},
        NumberCase{"V;0x1g", false, 0}, NumberCase{"V;0x1.5", false, 0},
        NumberCase{"V;1e3", false, 0}, NumberCase{"V;ff", false, 0},
        NumberCase{"V;1.2.3", false, 0}, NumberCase{"V;1,000.5", false, 0},
        NumberCase{"V;1 2", false, 0}, NumberCase{"V;-", false, 0}, NumberCase{"V;.", false, 0},
        NumberCase{"V;--1", false, 0}, NumberCase{"V;1-", false, 0},
        NumberCase{"V;\xE2\x80" "1", false, 0}, NumberCase{"V;inf", false, 0},
        NumberCase{"V;2)", false, 0}, NumberCase{"V;", false, 0}, NumberCase{"V; ", false, 0},
        NumberCase{"V", false, 0}, NumberCase{"", false, 0}, NumberCase{"2", false, 0},
        NumberCase{"V;" + std::string(400, '9'), false, 0},           // beyond double
        NumberCase{"V;0." + std::string(330, '0') + "1", false, 0}));  // below it

TEST(Numbers, BeyondTheFloatRangeBecomeInfinity) {
  EXPECT_TRUE(std::isinf(parseFilterString("ADD(VALUE;" + std::string(40, '9') + ")")->p1));
}

// --- bytes and depth ----------------------------------------------------------------

TEST(AnyBytes, NulIsAnOrdinaryCharacter) {
  EXPECT_TRUE(parseFilterString(std::string_view("GAIN(VALUE;2)\0;", 15))->enabled);
  expectRejected(std::string_view("GAIN(VALUE;\0" "2)", 14));
}

std::string nested(int depth, const std::string& open, const std::string& core,
                   const std::string& close) {
  std::string formula;
  for (int i = 0; i < depth; ++i) formula += open;
  formula += core;
  for (int i = 0; i < depth; ++i) formula += close;
  return formula;
}

TEST(Depth, AHundredThousandLevelsAreParsedEvaluatedAndFreed) {
  auto head = parseFilterString(nested(100000, "ADD(", "VALUE", ";1)"));
  ASSERT_TRUE(head->enabled);
  EXPECT_EQ(evaluateChain(*head, 0.5, 1, 1, 1), 100000.5);
  std::weak_ptr<FilterSys> tail = findTail(*head);
  head.reset();
  EXPECT_TRUE(tail.expired());
  EXPECT_EQ(evaluate(nested(100000, "ABS(", "GAIN(VALUE;-2)", ")junk"), 1.5), 3.0);
}

TEST(Depth, AFaultAtTheCoreReleasesEverythingBuilt) {
  expectRejected(nested(100000, "GAIN(", "VALUEX", ";1)"));
  expectRejected(nested(100000, "ABS(", "VALUE;1", ")"));
}

// What a refused formula is told: the first fault, the call it is in.
TEST(Faults, NameTheFirstFaultAndWhereItIs) {
  struct Case {
    const char* formula;
    FormulaFault::Kind kind;
    std::size_t position;
    const char* keyword;
  };
  const Case cases[] = {
      {"GAIN(VALUE;2)", FormulaFault::None, 0, ""},
      {"value", FormulaFault::CoreNotValue, 0, ""},
      {"GAIN( VALUE ;2)", FormulaFault::CoreNotValue, 5, ""},
      {"GAIN(VALUE;2", FormulaFault::Parentheses, 0, ""},
      {"CROP(GAIN)VALUE(;1;2)", FormulaFault::Parentheses, 5, ""},
      {"GAIM(VALUE;2)", FormulaFault::UnknownKeyword, 0, "GAIM"},
      {"ADD(gian (VALUE;2);1)", FormulaFault::UnknownKeyword, 4, "gian"},
      {"CROP(VALUE;1)", FormulaFault::Number, 0, "CROP"},
      {"GAIN(VALUE;1e3)", FormulaFault::Number, 0, "GAIN"},
      {"GAIN(EMALP(VALUE;0.5);2)", FormulaFault::SmoothingBelowOne, 5, "EMALP"},
      {"REMAP(VALUE;1;1;0;10)", FormulaFault::EmptyRemapSpan, 0, "REMAP"},
      {"BITSCALE(VALUE;1;64)", FormulaFault::BitWidth, 0, "BITSCALE"},
      {"ABS(VALUE;3)", FormulaFault::NumberAfterAbs, 0, "ABS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    FormulaFault fault;
    const auto head = parseFilterString(c.formula, &fault);
    EXPECT_EQ(head->enabled, c.kind == FormulaFault::None);
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.position, c.position);
    EXPECT_EQ(fault.keyword, c.keyword);
    EXPECT_EQ(describeFault(fault).empty(), c.kind == FormulaFault::None);
  }
}

}  // namespace
}  // namespace tarvex
