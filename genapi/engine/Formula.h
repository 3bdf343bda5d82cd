// The GenICam formula language of SwissKnife, IntSwissKnife, Converter and
// IntConverter: operators with the standard's precedence, functions, constants,
// decimal, hex and float literals, and named variables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace GenApi::engine {

/// A value during evaluation: integer or floating point.
struct SFormulaValue {
    bool isFloat = false;
    int64_t i = 0;
    double f = 0.0;

    static SFormulaValue Int(int64_t v) { return {false, v, 0.0}; }
    static SFormulaValue Float(double v) { return {true, 0, v}; }
    double AsFloat() const { return isFloat ? f : static_cast<double>(i); }
    /// Float to integer truncates toward zero; NaN and values out of range saturate
    /// (NaN gives 0) instead of being undefined.
    int64_t AsInt() const;
};

/// A parsed formula; immutable, shareable between threads.
class CFormula {
public:
    /// Parses text. variableNames are the names the formula may use (pVariable,
    /// Constant and Expression names of its node, TO/FROM in a converter);
    /// anything else that is not a function or constant of the language is an
    /// error. RuntimeException "formula '<text>' at <pos>: reason" on bad syntax.
    /// Expressions nest at most 256 deep.
    static std::shared_ptr<const CFormula> Parse(std::string_view text,
                                                 const std::vector<std::string>& variableNames);
    ~CFormula();

    /// Indices into the parse-time variableNames that the formula reads.
    const std::vector<size_t>& UsedVariables() const;

    /// Evaluates. variable(i) gives the value of variableNames[i]; it is only called
    /// for the variables a branch actually needs (?:, && and || are lazy), at most
    /// once per index per evaluation. integerMode: IntSwissKnife and IntConverter
    /// rules (every operation on int64 with wrap-around, float literals and
    /// functions truncated); otherwise the SwissKnife rules of the standard.
    /// Division or modulo by zero and shifts by 64 or more or by a negative amount
    /// give defined results (documented in Formula.cpp), never undefined behaviour.
    SFormulaValue Evaluate(const std::function<SFormulaValue(size_t)>& variable,
                           bool integerMode) const;

    const std::string& Text() const;

    struct Node;

private:
    CFormula();
    std::string m_text;
    std::vector<size_t> m_used;
    std::unique_ptr<Node> m_root;
};

}  // namespace GenApi::engine
