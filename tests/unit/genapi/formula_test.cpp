// The formula language as one table (formulas.tsv): each row is a formula, its
// variables, the mode (IntSwissKnife rules or SwissKnife rules) and the value or
// the error it must give. Every row also checks that no variable is fetched
// twice, and a variable marked as a trap throws if it is fetched at all, so a row
// with a trap in an untaken branch checks that ?:, && and || are lazy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "GCBase.h"
#include "RowFile.h"
#include "engine/Formula.h"

using GenApi::engine::CFormula;
using GenApi::engine::SFormulaValue;

namespace {

struct SVar {
    std::string name;
    SFormulaValue value;
    bool trap = false;
};

/// "X=3 Y=2.5 Boom=trap": a value with a point or an exponent is a float.
std::vector<SVar> Variables(const std::string& text) {
    std::vector<SVar> vars;
    std::istringstream in(text);
    for (std::string item; in >> item;) {
        const std::string name = item.substr(0, item.find('='));
        const std::string value = item.substr(name.size() + 1);
        if (value == "trap")
            vars.push_back({name, SFormulaValue::Int(0), true});
        else if (value.find_first_of(".e") != std::string::npos)
            vars.push_back({name, SFormulaValue::Float(std::strtod(value.c_str(), nullptr))});
        else
            vars.push_back({name, SFormulaValue::Int(std::stoll(value))});
    }
    return vars;
}

class Formula : public ::testing::TestWithParam<qrvtest::SRow> {};

TEST_P(Formula, GivesItsValueOrError) {
    const qrvtest::SRow& row = GetParam();
    const std::string& text = row["formula"];
    const std::string& expected = row["expected"];
    const bool integer = row["mode"] == "int";
    const bool wantError = !expected.empty() && expected[0] == '!';
    SCOPED_TRACE("formulas.tsv:" + std::to_string(row.line) + " " + text.substr(0, 80));
    const std::vector<SVar> vars = Variables(row["variables"]);
    std::vector<std::string> names;
    for (const SVar& v : vars) names.push_back(v.name);
    std::vector<int> fetches(vars.size(), 0);
    try {
        const auto formula = CFormula::Parse(text, names);
        EXPECT_EQ(formula->Text(), text);
        if (!row["used"].empty()) {
            std::string used;
            for (size_t index : formula->UsedVariables())
                used += (used.empty() ? "" : ",") + names.at(index);
            EXPECT_EQ(used, row["used"]);
        }
        const SFormulaValue value = formula->Evaluate(
            [&](size_t index) {
                ++fetches.at(index);
                if (vars.at(index).trap) GENICAM_THROW(LogicalErrorException, "trap fetched");
                return vars.at(index).value;
            },
            integer);
        ASSERT_FALSE(wantError) << "expected an error with '" << expected << "'";
        ASSERT_EQ(value.isFloat, !integer);
        const double f = std::strtod(expected.c_str(), nullptr);
        if (integer) {
            EXPECT_EQ(value.i, std::stoll(expected));
        } else if (std::isnan(f)) {
            EXPECT_TRUE(std::isnan(value.f)) << value.f;
        } else if (std::isinf(f)) {
            EXPECT_EQ(value.f, f);
        } else {
            EXPECT_DOUBLE_EQ(value.f, f);
        }
    } catch (const GenICam::GenericException& e) {
        ASSERT_TRUE(wantError) << e.what();
        EXPECT_NE(std::string(e.GetDescription()).find(expected.substr(1)), std::string::npos)
            << e.GetDescription();
    }
    for (size_t k = 0; k < fetches.size(); ++k)
        EXPECT_LE(fetches[k], 1) << vars[k].name << " fetched more than once";
}

INSTANTIATE_TEST_SUITE_P(Table, Formula,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/formulas.tsv")),
                         [](const auto& row) { return "line" + std::to_string(row.param.line); });

}  // namespace
