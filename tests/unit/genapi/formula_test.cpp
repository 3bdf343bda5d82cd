// The formula language as one table: each row is a formula, its variables, the
// mode (IntSwissKnife rules or SwissKnife rules) and the value or the error it
// must give. Every row also checks that no variable is fetched twice, and a
// variable marked as a trap throws if it is fetched at all, so a row with a trap
// in an untaken branch checks that ?:, && and || are lazy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "GCBase.h"
#include "engine/Formula.h"

using GenApi::engine::CFormula;
using GenApi::engine::SFormulaValue;

namespace {

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = std::acos(-1.0);

struct SVar {
    std::string name;
    SFormulaValue value;
    bool trap = false;
};

struct SRow {
    std::string formula;
    bool integer = false;
    int64_t i = 0;      // expected in integer mode
    double f = 0.0;     // expected in float mode
    std::string error;  // expected substring of the exception, or empty
    std::vector<SVar> vars;
    std::string used;  // names UsedVariables() gives, comma separated, when not empty
};

SRow I(std::string formula, int64_t v, std::vector<SVar> vars = {}, std::string used = {}) {
    return {std::move(formula), true, v, 0.0, {}, std::move(vars), std::move(used)};
}
SRow F(std::string formula, double v, std::vector<SVar> vars = {}) {
    return {std::move(formula), false, 0, v, {}, std::move(vars), {}};
}
SRow Err(std::string formula, bool integer, std::string error, std::vector<SVar> vars = {}) {
    return {std::move(formula), integer, 0, 0.0, std::move(error), std::move(vars), {}};
}

SVar Int(const char* name, int64_t v) {
    return {name, SFormulaValue::Int(v)};
}
SVar Float(const char* name, double v) {
    return {name, SFormulaValue::Float(v)};
}
SVar Trap(const char* name) {
    return {name, SFormulaValue::Int(0), true};
}

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t k = 0; k < n; ++k) out += s;
    return out;
}

// 3**40 modulo 2^64, by repeated multiplication.
int64_t WrappedPowerOf3(int n) {
    uint64_t v = 1;
    for (int k = 0; k < n; ++k) v *= 3u;
    return static_cast<int64_t>(v);
}

// Rows are packed by topic.
// clang-format off
const std::vector<SRow>& Rows() {
    static const std::vector<SRow> rows = {
        // literals and whitespace
        I("42", 42), I("0x1F", 31), I("0XfF", 255), I("0xFFFFFFFFFFFFFFFF", -1),
        I("007", 7), F("1.5", 1.5), F("1e-3", 0.001), F(".5", 0.5), F("2.5E2", 250.0),
        F("3E+2", 300.0), I("1.9", 1), I("-1.9", -1), I("9223372036854775807", kMax64),
        I(" \t1 +\n 2 \r", 3), F("1e999", kInf), F("1e-999", 0.0),
        Err("9223372036854775808", true, "out of the 64-bit range"),
        Err("0x", true, "without digits"), Err("0x11112222333344445", true, "wider than 64 bits"),
        Err("12abc", true, "in a number"), Err("1.2.3", false, "in a number"),
        Err("2e", false, "in a number"),
        // constants and names
        F("PI", kPi), F("E", std::exp(1.0)), I("PI", 3), I("E*10", 20), F("E*10", std::exp(1.0) * 10),
        I("Foo.Bar + _x1", 12, {Int("Foo.Bar", 5), Int("_x1", 7)}), I("E", 9, {Int("E", 9)}),
        I("X+1", 3, {Float("X", 2.9)}), F("X/2", 2.5, {Int("X", 5)}),
        // every operator, integer mode
        I("7+3", 10), I("7-10", -3), I("6*7", 42), I("7/2", 3), I("-7/2", -3), I("7%3", 1),
        I("-7%3", -1), I("2**10", 1024), I("5&3", 1), I("5|3", 7), I("5^3", 6), I("~5", -6),
        I("1<<4", 16), I("16>>2", 4), I("-16>>2", -4), I("3=3", 1), I("3=4", 0), I("3<>3", 0),
        I("3<>4", 1), I("2<3", 1), I("3<2", 0), I("3>2", 1), I("3<=3", 1), I("4<=3", 0),
        I("2>=3", 0), I("3>=3", 1), I("1&&0", 0), I("2&&3", 1), I("0||0", 0), I("0||5", 1),
        I("!0", 1), I("!7", 0), I("1?10:20", 10), I("0?10:20", 20), I("-(3)", -3), I("+3", 3),
        // every operator, float mode
        F("7/2", 3.5), F("7.5%2", 1.5), F("2**0.5", std::sqrt(2.0)), F("2**-1", 0.5),
        F("0.1+0.2", 0.1 + 0.2), F("1.5*-2", -3.0), F("2.5>2", 1.0), F("2.5<>2.5", 0.0),
        F("0.5&&2", 1.0), F("0.0||0", 0.0), F("!0.25", 0.0), F("0.5?1:2", 1.0),
        F("5.7&3", 1.0), F("5.2|2.9", 7.0), F("6.9^3", 5.0), F("~1.5", -2.0),
        F("1.9<<2", 4.0), F("-16.5>>2", -4.0),
        // precedence and associativity
        I("2+3*4", 14), I("(2+3)*4", 20), I("10-4-3", 3), I("100/10/5", 2), I("2*3%4", 2),
        I("7%4*2", 6), I("2**3**2", 512), I("-2**2", -4), I("2*-3**2", -18), I("1+2<<3", 24),
        I("1<<2+3", 32), I("1<<2<3", 0), I("3=3<4", 0), I("6&2=2", 0), I("1|2^3&1", 3),
        I("3^1&2", 3), I("1||0&&0", 1), I("0&&1|1", 0), I("1<2<>0", 1), I("1?2:0?3:4", 2),
        I("0?2:0?3:4", 4), I("0?2:1?3:4", 3), I("1?0?5:6:7", 6), I("0 || 1 ? 8 : 9", 8),
        I("1 ? 2 : 3 + 10", 2), I("0 ? 2 : 3 + 10", 13), I("5 - -3", 8), I("!0+1", 2),
        I("~0&3", 3), I("-3*-3", 9), I("- - 4", 4), I("2 ** - 1 * 4", 0), F("2 ** - 1 * 4", 2.0),
        // integer rules at the edges
        I("9223372036854775807+1", kMin64), I("-9223372036854775807-1", kMin64),
        I("(-9223372036854775807-1)-1", kMax64), I("-(-9223372036854775807-1)", kMin64),
        I("4611686018427387904*4", 0), I("(-9223372036854775807-1)/-1", kMin64),
        I("(-9223372036854775807-1)%-1", 0), I("2**-1", 0), I("(-1)**-3", -1),
        I("(-1)**-2", 1), I("1**-5", 1), I("2**64", 0), I("2**63", kMin64),
        I("3**40", WrappedPowerOf3(40)), I("1<<63", kMin64), I("1<<64", 0), I("1<<-1", 0),
        I("8>>64", 0), I("-8>>64", -1), I("-8>>-1", -1), I("-1>>63", -1),
        I("ABS(-9223372036854775807-1)", kMin64), I("NEG(-9223372036854775807-1)", kMin64),
        Err("1/0", true, "division by zero"), Err("1%0", true, "division by zero"),
        Err("0**-1", true, "division by zero"), Err("X/Y", true, "division by zero",
                                                     {Int("X", 1), Int("Y", 0)}),
        // float rules at the edges
        F("1/0", kInf), F("-1/0", -kInf), F("0/0", kNaN), F("5%0", kNaN), F("10**400", kInf),
        F("(0/0)|0", 0.0), F("1e30|0", static_cast<double>(kMax64)),
        F("-1e30&-1", static_cast<double>(kMin64)), F("(0/0)=(0/0)", 0.0),
        F("(0/0)<>(0/0)", 1.0), F("(0/0)?1:2", 1.0), F("1<<64", 0.0), F("-1>>100", -1.0),
        // integer mode: float results truncated, NaN 0, out of range saturated
        I("SQRT(-1)", 0), I("LN(0)", kMin64), I("EXP(1000)", kMax64), I("SQRT(17)", 4),
        I("ATAN(1)", 0), I("SIN(PI)", 0), I("FLOOR(7)", 7), I("CEIL(9223372036854775807)", kMax64),
        I("ROUND(-9223372036854775807, 0)", -kMax64), I("ROUND(1250, -2)", 1300),
        I("TRUNC(X)", 2, {Float("X", 2.99)}), I("SGN(-3)", -1), I("SGN(0)", 0), I("NEG(5)", -5),
        I("ABS(-5)", 5),
        // every function, float mode
        F("SGN(-2.5)", -1.0), F("SGN(0.1)", 1.0), F("NEG(2.5)", -2.5), F("ATAN(1)", std::atan(1.0)),
        F("COS(1)", std::cos(1.0)), F("SIN(1)", std::sin(1.0)), F("TAN(1)", std::tan(1.0)),
        F("ABS(-2.5)", 2.5), F("EXP(2)", std::exp(2.0)), F("LN(10)", std::log(10.0)),
        F("LG(1000)", 3.0), F("SQRT(2)", std::sqrt(2.0)), F("TRUNC(-2.7)", -2.0),
        F("FLOOR(-2.5)", -3.0), F("CEIL(-2.5)", -2.0), F("ROUND(2.5)", 3.0),
        F("ROUND(-2.5)", -3.0), F("ROUND(1.2345678, 3)", 1.235), F("ROUND(1234.5, -2)", 1200.0),
        F("ROUND(2.5, 1e9)", 2.5), F("ASIN(0.5)", std::asin(0.5)), F("ACOS(0.5)", std::acos(0.5)),
        F("SQRT(-1)", kNaN), F("SIN ( PI / 2 ) * 2", 2.0), F("ABS(SIN(X)) + COS(X)", 1.0,
                                                            {Float("X", 0.0)}),
        // syntax errors: positions count bytes from 0
        Err("", true, "at 0: unexpected end"), Err("   ", false, "unexpected end"),
        Err("1 +", true, "unexpected end"), Err("1 2", true, "at 2: unexpected '2'"),
        Err("(1", true, "expected ')'"), Err("1)", true, "unexpected ')'"),
        Err("1 + $", true, "at 4: expected a value"), Err("*3", true, "expected a value"),
        Err("1 == 1", true, "expected a value"), Err("1 ? 2", true, "'?' without ':'"),
        Err("1 : 2", true, "unexpected ':'"), Err("1 ? 2 : 3 : 4", true, "unexpected ':'"),
        Err("X ? (1 : 2)", true, "expected ')'", {Int("X", 1)}),
        Err("Nope+1", true, "at 0: unknown name 'Nope'"), Err("sin(1)", false, "unknown name 'sin'"),
        Err("SIN 1", false, "unknown name 'SIN'"), Err("X(1)", false, "unexpected '('",
                                                      {Int("X", 1)}),
        Err("SIN(1,2)", false, "SIN does not take 2 arguments"),
        Err("ROUND(1,2,3)", false, "ROUND does not take 3 arguments"),
        Err("SQRT()", false, "expected a value"), Err("SQRT(1", false, "expected ',' or ')'"),
        Err("1 +", true, "formula '1 +' at 3"),
        // nesting: 256 levels of parentheses or calls at most, flat chains unbounded
        I(Repeat("(", 256) + "1" + Repeat(")", 256), 1),
        Err(Repeat("(", 257) + "1" + Repeat(")", 257), true, "nested deeper than 256"),
        Err(Repeat("ABS(", 300) + "1" + Repeat(")", 300), true, "nested deeper than 256"),
        Err(Repeat("(", 100000), true, "nested deeper than 256"),
        I(Repeat("1+", 100000) + "1", 100001), I(Repeat("-", 100001) + "1", -1),
        I(Repeat("0?1:", 5000) + "7", 7),
        // laziness and fetching each variable once
        I("0 && Boom", 0, {Trap("Boom")}), I("1 || Boom", 1, {Trap("Boom")}),
        I("1 ? 5 : Boom", 5, {Trap("Boom")}), I("0 ? Boom : 6", 6, {Trap("Boom")}),
        I("X ? X*2 : Boom", 6, {Int("X", 3), Trap("Boom")}),
        I("X && Boom || 1", 1, {Int("X", 0), Trap("Boom")}),
        I("0 ? 1/0 : 2", 2), I("1 || 1/0", 1), I("0 && 1%0", 0),
        Err("Boom + 1", true, "trap", {Trap("Boom")}),
        I("X*X+X*Y-Y", 13, {Int("X", 3), Int("Y", 2)}, "X,Y"),
        I("Y + X + Y", 7, {Int("X", 3), Int("Y", 2), Int("Z", 1)}, "Y,X"),
        I("Z", 1, {Int("X", 3), Int("Y", 2), Int("Z", 1)}, "Z"),
    };
    return rows;
}
// clang-format on

class Formula : public ::testing::TestWithParam<size_t> {};

TEST_P(Formula, GivesItsValueOrError) {
    const SRow& row = Rows()[GetParam()];
    SCOPED_TRACE(row.formula.size() > 80 ? row.formula.substr(0, 80) + "..." : row.formula);
    std::vector<std::string> names;
    for (const SVar& v : row.vars) names.push_back(v.name);
    std::vector<int> fetches(row.vars.size(), 0);
    try {
        const auto formula = CFormula::Parse(row.formula, names);
        EXPECT_EQ(formula->Text(), row.formula);
        if (!row.used.empty()) {
            std::string used;
            for (size_t index : formula->UsedVariables())
                used += (used.empty() ? "" : ",") + names.at(index);
            EXPECT_EQ(used, row.used);
        }
        const SFormulaValue value = formula->Evaluate(
            [&](size_t index) {
                ++fetches.at(index);
                if (row.vars.at(index).trap) GENICAM_THROW(LogicalErrorException, "trap fetched");
                return row.vars.at(index).value;
            },
            row.integer);
        ASSERT_TRUE(row.error.empty()) << "expected an error with '" << row.error << "'";
        ASSERT_EQ(value.isFloat, !row.integer);
        if (row.integer) {
            EXPECT_EQ(value.i, row.i);
        } else if (std::isnan(row.f)) {
            EXPECT_TRUE(std::isnan(value.f)) << value.f;
        } else if (std::isinf(row.f)) {
            EXPECT_EQ(value.f, row.f);
        } else {
            EXPECT_DOUBLE_EQ(value.f, row.f);
        }
    } catch (const GenICam::GenericException& e) {
        ASSERT_FALSE(row.error.empty()) << e.what();
        EXPECT_NE(std::string(e.GetDescription()).find(row.error), std::string::npos)
            << e.GetDescription();
    }
    for (size_t k = 0; k < fetches.size(); ++k)
        EXPECT_LE(fetches[k], 1) << row.vars[k].name << " fetched more than once";
}

INSTANTIATE_TEST_SUITE_P(Table, Formula, ::testing::Range<size_t>(0, Rows().size()));

}  // namespace
