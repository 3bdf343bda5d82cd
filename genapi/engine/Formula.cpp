// The formula language compiled to a small stack program: the parser turns
// infix text into postfix instructions once, with conditional jumps for ?:, &&
// and ||, so evaluation is a loop over an array without recursion and only the
// operands a branch needs are computed.
//
// Defined results where C++ would be undefined or the language says nothing:
//   integer mode  + - * unary - and ** wrap around modulo 2^64; x / 0 and x % 0
//                 raise RuntimeException "division by zero", as does 0 ** negative;
//                 INT64_MIN / -1 is INT64_MIN and INT64_MIN % -1 is 0;
//                 x ** negative is 0 except for 1 and -1 as base.
//   float mode    IEEE arithmetic: x / 0 is an infinity or NaN, x % 0 is NaN,
//                 ** that overflows is an infinity.
//   both          x << n with n < 0 or n >= 64 is 0; x >> n (arithmetic) with
//                 n < 0 or n >= 64 is -1 for negative x, else 0. In float mode
//                 bitwise operators and shifts first convert their operands to
//                 int64 like SFormulaValue::AsInt (truncation, saturation, NaN 0).
//                 Comparisons, && || and ! give 0 or 1.
#include "Formula.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "GCBase.h"

namespace GenApi::engine {

namespace {

constexpr int kMaxDepth = 256;

// clang-format off
enum class EOp : uint8_t {
    PushConst,   // arg: constant index
    PushVar,     // arg: slot in UsedVariables()
    Neg,
    BitNot,
    LogNot,
    Add, Sub, Mul, Div, Mod, Pow,     // Add to Ge: the binary operators, see IsBinary
    BitAnd, BitOr, BitXor, Shl, Shr,
    Eq, Ne, Lt, Gt, Le, Ge,
    ToBool,
    AndJump,     // top false: replace by 0 and jump to arg; else pop
    OrJump,      // top true: replace by 1 and jump to arg; else pop
    JumpIfFalse, // pops the condition
    Jump,
    Sgn, NegFn, Atan, Cos, Sin, Tan, Abs, Exp, Ln, Lg, Sqrt, Trunc, Floor, Ceil, Round,
    Asin, Acos,
    Round2,
};
// clang-format on

// Operators taking two values from the evaluation stack.
bool IsBinary(EOp op) {
    return (op >= EOp::Add && op <= EOp::Ge) || op == EOp::Round2;
}

struct SInstr {
    EOp op;
    uint32_t arg;
};

struct SConstant {
    bool isFloat;
    int64_t i;
    double f;
};

// Binary operators, longest spelling first so that "**" is not read as "*".
// Higher precedence binds tighter; ?: (1) is below all of them.
struct SBinary {
    const char* text;
    size_t length;
    EOp op;
    int precedence;
    bool rightAssoc;
};

constexpr int kTernaryPrecedence = 1;
constexpr int kUnaryPrecedence = 13;

constexpr SBinary kBinaries[] = {
    {"**", 2, EOp::Pow, 14, true},     {"<<", 2, EOp::Shl, 10, false},
    {">>", 2, EOp::Shr, 10, false},    {"<=", 2, EOp::Le, 9, false},
    {">=", 2, EOp::Ge, 9, false},      {"<>", 2, EOp::Ne, 8, false},
    {"&&", 2, EOp::AndJump, 3, false}, {"||", 2, EOp::OrJump, 2, false},
    {"*", 1, EOp::Mul, 12, false},     {"/", 1, EOp::Div, 12, false},
    {"%", 1, EOp::Mod, 12, false},     {"+", 1, EOp::Add, 11, false},
    {"-", 1, EOp::Sub, 11, false},     {"<", 1, EOp::Lt, 9, false},
    {">", 1, EOp::Gt, 9, false},       {"=", 1, EOp::Eq, 8, false},
    {"&", 1, EOp::BitAnd, 7, false},   {"^", 1, EOp::BitXor, 6, false},
    {"|", 1, EOp::BitOr, 5, false},
};

struct SFunction {
    const char* name;
    EOp op;
    int arguments;
};

constexpr SFunction kFunctions[] = {
    {"SGN", EOp::Sgn, 1},      {"NEG", EOp::NegFn, 1}, {"ATAN", EOp::Atan, 1},
    {"COS", EOp::Cos, 1},      {"SIN", EOp::Sin, 1},   {"TAN", EOp::Tan, 1},
    {"ABS", EOp::Abs, 1},      {"EXP", EOp::Exp, 1},   {"LN", EOp::Ln, 1},
    {"LG", EOp::Lg, 1},        {"SQRT", EOp::Sqrt, 1}, {"TRUNC", EOp::Trunc, 1},
    {"FLOOR", EOp::Floor, 1},  {"CEIL", EOp::Ceil, 1}, {"ROUND", EOp::Round, 1},
    {"ROUND", EOp::Round2, 2}, {"ASIN", EOp::Asin, 1}, {"ACOS", EOp::Acos, 1},
};

bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

struct CFormula::Node {
    std::vector<SInstr> code;
    std::vector<SConstant> constants;
    size_t pushes = 0;  // bound on the evaluation stack
};

namespace {

// An entry of the parser's operator stack.
struct SPending {
    enum EKind : uint8_t { Binary, Unary, Question, Colon } kind;
    EOp op;
    int precedence;
    size_t patch;  // instruction whose jump target is set when this entry is popped
};

class CParser {
public:
    CParser(std::string_view text, const std::vector<std::string>& names, CFormula::Node& program,
            std::vector<size_t>& used)
        : m_text(text), m_names(names), m_program(program), m_used(used) {}

    void Run() {
        ParseExpression();
        SkipSpace();
        if (m_pos < m_text.size()) Fail("unexpected '" + std::string(1, m_text[m_pos]) + "'");
    }

private:
    [[noreturn]] void Fail(const std::string& reason) const { FailAt(m_pos, reason); }
    [[noreturn]] void FailAt(size_t pos, const std::string& reason) const {
        const std::string message =
            "formula '" + std::string(m_text) + "' at " + std::to_string(pos) + ": " + reason;
        GENICAM_THROW(RuntimeException, message.c_str());
    }

    void SkipSpace() {
        while (m_pos < m_text.size() &&
               (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' ||
                m_text[m_pos] == '\r' || m_text[m_pos] == '\f' || m_text[m_pos] == '\v'))
            ++m_pos;
    }

    size_t Emit(EOp op, uint32_t arg = 0) {
        m_program.code.push_back({op, arg});
        return m_program.code.size() - 1;
    }
    void PatchHere(size_t at) {
        m_program.code[at].arg = static_cast<uint32_t>(m_program.code.size());
    }

    void PushConstant(SConstant c) {
        m_program.constants.push_back(c);
        Emit(EOp::PushConst, static_cast<uint32_t>(m_program.constants.size() - 1));
        ++m_program.pushes;
    }

    // Emits the code an operator stack entry stands for once both operands are out.
    void Finish(const SPending& p) {
        switch (p.kind) {
            case SPending::Unary:
                Emit(p.op);
                break;
            case SPending::Binary:
                if (p.op == EOp::AndJump || p.op == EOp::OrJump) {
                    Emit(EOp::ToBool);
                    PatchHere(p.patch);
                } else {
                    Emit(p.op);
                }
                break;
            case SPending::Colon:
                PatchHere(p.patch);
                break;
            case SPending::Question:
                Fail("'?' without ':'");
        }
    }

    // One expression with ?: and every binary and unary operator, iterative over
    // the operators (a precedence stack); only parentheses and function
    // arguments recurse, at most kMaxDepth deep.
    void ParseExpression() {
        // The whole formula is level 0; each parenthesis or call opens one more.
        if (m_depth > kMaxDepth) Fail("nested deeper than " + std::to_string(kMaxDepth));
        ++m_depth;
        std::vector<SPending> stack;
        bool expectOperand = true;
        for (;;) {
            SkipSpace();
            if (expectOperand) {
                const char c = m_pos < m_text.size() ? m_text[m_pos] : '\0';
                if (c == '-' || c == '+' || c == '~' || c == '!') {
                    ++m_pos;
                    if (c != '+') {
                        const EOp op = c == '-' ? EOp::Neg : c == '~' ? EOp::BitNot : EOp::LogNot;
                        stack.push_back({SPending::Unary, op, kUnaryPrecedence, 0});
                    }
                    continue;
                }
                ParseOperand();
                expectOperand = false;
                continue;
            }
            if (m_pos >= m_text.size()) break;
            const char c = m_text[m_pos];
            if (c == '?') {
                ++m_pos;
                PopAbove(stack, kTernaryPrecedence, true);
                stack.push_back(
                    {SPending::Question, EOp::Jump, kTernaryPrecedence, Emit(EOp::JumpIfFalse)});
                expectOperand = true;
                continue;
            }
            if (c == ':') {
                // Close the innermost open '?': its true branch ends here.
                while (!stack.empty() && stack.back().kind != SPending::Question) {
                    Finish(stack.back());
                    stack.pop_back();
                }
                if (stack.empty()) break;  // not ours: a caller's or an error at top level
                ++m_pos;
                const size_t jumpToEnd = Emit(EOp::Jump);
                PatchHere(stack.back().patch);
                stack.back() = {SPending::Colon, EOp::Jump, kTernaryPrecedence, jumpToEnd};
                expectOperand = true;
                continue;
            }
            const SBinary* binary = nullptr;
            for (const SBinary& b : kBinaries) {
                if (c == b.text[0] && (b.length == 1 || (m_pos + 1 < m_text.size() &&
                                                         m_text[m_pos + 1] == b.text[1]))) {
                    binary = &b;
                    break;
                }
            }
            if (!binary) break;
            m_pos += binary->length;
            PopAbove(stack, binary->precedence, binary->rightAssoc);
            size_t patch = 0;
            if (binary->op == EOp::AndJump || binary->op == EOp::OrJump) patch = Emit(binary->op);
            stack.push_back({SPending::Binary, binary->op, binary->precedence, patch});
            expectOperand = true;
        }
        while (!stack.empty()) {
            Finish(stack.back());
            stack.pop_back();
        }
        --m_depth;
    }

    // Completes the stacked operators that bind tighter than an incoming one.
    void PopAbove(std::vector<SPending>& stack, int precedence, bool rightAssoc) {
        while (!stack.empty() && stack.back().kind != SPending::Question &&
               (stack.back().precedence > precedence ||
                (stack.back().precedence == precedence && !rightAssoc))) {
            Finish(stack.back());
            stack.pop_back();
        }
    }

    void ParseOperand() {
        if (m_pos >= m_text.size()) Fail("unexpected end");
        const char c = m_text[m_pos];
        if (c == '(') {
            ++m_pos;
            ParseExpression();
            SkipSpace();
            if (m_pos >= m_text.size() || m_text[m_pos] != ')') Fail("expected ')'");
            ++m_pos;
            return;
        }
        if (IsDigit(c) || (c == '.' && m_pos + 1 < m_text.size() && IsDigit(m_text[m_pos + 1]))) {
            ParseNumber();
            return;
        }
        if (IsNameStart(c)) {
            ParseName();
            return;
        }
        Fail("expected a value");
    }

    void ParseNumber() {
        const size_t start = m_pos;
        const char* const base = m_text.data();
        if (m_text[m_pos] == '0' && m_pos + 1 < m_text.size() &&
            (m_text[m_pos + 1] == 'x' || m_text[m_pos + 1] == 'X')) {
            m_pos += 2;
            const size_t digits = m_pos;
            uint64_t value = 0;
            while (m_pos < m_text.size() && IsHexDigit(m_text[m_pos])) ++m_pos;
            if (m_pos == digits) Fail("hexadecimal number without digits");
            if (m_pos - digits > 16) FailAt(start, "hexadecimal number wider than 64 bits");
            std::from_chars(base + digits, base + m_pos, value, 16);
            EndOfNumber();
            PushConstant({false, static_cast<int64_t>(value), 0.0});
            return;
        }
        bool isFloat = false;
        while (m_pos < m_text.size() && IsDigit(m_text[m_pos])) ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '.') {
            isFloat = true;
            ++m_pos;
            while (m_pos < m_text.size() && IsDigit(m_text[m_pos])) ++m_pos;
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
            size_t p = m_pos + 1;
            if (p < m_text.size() && (m_text[p] == '+' || m_text[p] == '-')) ++p;
            if (p < m_text.size() && IsDigit(m_text[p])) {
                isFloat = true;
                m_pos = p;
                while (m_pos < m_text.size() && IsDigit(m_text[m_pos])) ++m_pos;
            }
        }
        EndOfNumber();
        if (isFloat) {
            double value = 0.0;
            const auto result = std::from_chars(base + start, base + m_pos, value);
            if (result.ec == std::errc::result_out_of_range) {
                // Too large is infinity, too small is zero, as a C compiler reads them.
                const std::string_view literal = m_text.substr(start, m_pos - start);
                const size_t exponent = literal.find_first_of("eE");
                const bool tiny = exponent != std::string_view::npos &&
                                  exponent + 1 < literal.size() && literal[exponent + 1] == '-';
                value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
            }
            PushConstant({true, 0, value});
            return;
        }
        int64_t value = 0;
        const auto result = std::from_chars(base + start, base + m_pos, value, 10);
        if (result.ec != std::errc()) FailAt(start, "integer out of the 64-bit range");
        PushConstant({false, value, 0.0});
    }

    // A number directly followed by a letter ("12abc", "0x1G") is a typo, not a product.
    void EndOfNumber() {
        if (m_pos < m_text.size() && (IsNameChar(m_text[m_pos])))
            Fail("unexpected '" + std::string(1, m_text[m_pos]) + "' in a number");
    }

    void ParseName() {
        const size_t start = m_pos;
        while (m_pos < m_text.size() && IsNameChar(m_text[m_pos])) ++m_pos;
        const std::string_view name = m_text.substr(start, m_pos - start);
        const size_t afterName = m_pos;
        SkipSpace();
        const bool call = m_pos < m_text.size() && m_text[m_pos] == '(';
        m_pos = afterName;
        if (call) {
            for (const SFunction& f : kFunctions) {
                if (name == f.name) {
                    ParseCall(start, name);
                    return;
                }
            }
        }
        // A variable of the node shadows a constant of the same name.
        for (size_t i = 0; i < m_names.size(); ++i) {
            if (m_names[i] == name) {
                size_t slot = 0;
                while (slot < m_used.size() && m_used[slot] != i) ++slot;
                if (slot == m_used.size()) m_used.push_back(i);
                Emit(EOp::PushVar, static_cast<uint32_t>(slot));
                ++m_program.pushes;
                return;
            }
        }
        if (name == "PI") return PushConstant({true, 0, 3.14159265358979323846});
        if (name == "E") return PushConstant({true, 0, 2.71828182845904523536});
        FailAt(start, "unknown name '" + std::string(name) + "'");
    }

    void ParseCall(size_t start, std::string_view name) {
        SkipSpace();
        ++m_pos;  // '('
        int arguments = 0;
        for (;;) {
            ParseExpression();
            ++arguments;
            SkipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == ')') {
                ++m_pos;
                break;
            }
            Fail("expected ',' or ')'");
        }
        for (const SFunction& f : kFunctions) {
            if (name == f.name && f.arguments == arguments) {
                Emit(f.op);
                return;
            }
        }
        FailAt(start, std::string(name) + " does not take " + std::to_string(arguments) +
                          " argument" + (arguments == 1 ? "" : "s"));
    }

    std::string_view m_text;
    const std::vector<std::string>& m_names;
    CFormula::Node& m_program;
    std::vector<size_t>& m_used;
    size_t m_pos = 0;
    int m_depth = 0;
};

// --- evaluation ---------------------------------------------------------------

int64_t Wrap(uint64_t v) {
    return static_cast<int64_t>(v);
}

int64_t ShiftLeft(int64_t x, int64_t n) {
    if (n < 0 || n >= 64) return 0;
    return Wrap(static_cast<uint64_t>(x) << n);
}

int64_t ShiftRight(int64_t x, int64_t n) {
    if (n < 0 || n >= 64) return x < 0 ? -1 : 0;
    // Arithmetic shift written so that it does not depend on the compiler's choice.
    return x < 0 ? ~static_cast<int64_t>(~static_cast<uint64_t>(x) >> n)
                 : static_cast<int64_t>(static_cast<uint64_t>(x) >> n);
}

// x rounded to a number of decimals; negative counts round to tens, hundreds...
// The power of ten is exact for the counts that matter, so divide or multiply
// by it rather than by its inexact reciprocal.
double Round2(double x, int64_t decimals) {
    if (decimals > 400) return x;
    if (decimals < -400) return 0.0 * x;
    const double scale = std::pow(10.0, static_cast<double>(decimals < 0 ? -decimals : decimals));
    const double scaled = decimals < 0 ? x / scale : x * scale;
    if (!std::isfinite(scaled)) return x;
    return decimals < 0 ? std::round(scaled) * scale : std::round(scaled) / scale;
}

double FloatFunction(EOp op, double x) {
    switch (op) {
        case EOp::Sgn:
            return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0;
        case EOp::NegFn:
            return -x;
        case EOp::Atan:
            return std::atan(x);
        case EOp::Cos:
            return std::cos(x);
        case EOp::Sin:
            return std::sin(x);
        case EOp::Tan:
            return std::tan(x);
        case EOp::Abs:
            return std::fabs(x);
        case EOp::Exp:
            return std::exp(x);
        case EOp::Ln:
            return std::log(x);
        case EOp::Lg:
            return std::log10(x);
        case EOp::Sqrt:
            return std::sqrt(x);
        case EOp::Trunc:
            return std::trunc(x);
        case EOp::Floor:
            return std::floor(x);
        case EOp::Ceil:
            return std::ceil(x);
        case EOp::Round:
            return std::round(x);
        case EOp::Asin:
            return std::asin(x);
        case EOp::Acos:
            return std::acos(x);
        default:
            return x;
    }
}

int64_t ToInt(double v) {
    return SFormulaValue::Float(v).AsInt();
}

[[noreturn]] void DivisionByZero(const std::string& text) {
    const std::string message = "formula '" + text + "': division by zero";
    GENICAM_THROW(RuntimeException, message.c_str());
}

int64_t IntPow(int64_t base, int64_t exponent, const std::string& text) {
    if (exponent < 0) {
        if (base == 0) DivisionByZero(text);
        if (base == 1) return 1;
        if (base == -1) return (exponent & 1) ? -1 : 1;
        return 0;
    }
    uint64_t result = 1;
    uint64_t b = static_cast<uint64_t>(base);
    uint64_t e = static_cast<uint64_t>(exponent);
    while (e) {
        if (e & 1) result *= b;
        b *= b;
        e >>= 1;
    }
    return Wrap(result);
}

// Arithmetic of one mode on values of type T (int64_t or double).
struct SIntRules {
    using T = int64_t;
    static T Constant(const SConstant& c) { return c.isFloat ? ToInt(c.f) : c.i; }
    static T Variable(const SFormulaValue& v) { return v.AsInt(); }
    static bool Truth(T v) { return v != 0; }
    static T Unary(EOp op, T x) {
        switch (op) {
            case EOp::Neg:
            case EOp::NegFn:
                return Wrap(0u - static_cast<uint64_t>(x));
            case EOp::BitNot:
                return ~x;
            case EOp::Sgn:
                return x > 0 ? 1 : x < 0 ? -1 : 0;
            case EOp::Abs:
                return x < 0 ? Wrap(0u - static_cast<uint64_t>(x)) : x;
            case EOp::Trunc:
            case EOp::Floor:
            case EOp::Ceil:
            case EOp::Round:
                return x;
            default:
                return ToInt(FloatFunction(op, static_cast<double>(x)));
        }
    }
    static T Binary(EOp op, T x, T y, const std::string& text) {
        const uint64_t ux = static_cast<uint64_t>(x), uy = static_cast<uint64_t>(y);
        switch (op) {
            case EOp::Add:
                return Wrap(ux + uy);
            case EOp::Sub:
                return Wrap(ux - uy);
            case EOp::Mul:
                return Wrap(ux * uy);
            case EOp::Div:
                if (y == 0) DivisionByZero(text);
                if (y == -1) return Wrap(0u - ux);
                return x / y;
            case EOp::Mod:
                if (y == 0) DivisionByZero(text);
                if (y == -1) return 0;
                return x % y;
            case EOp::Pow:
                return IntPow(x, y, text);
            case EOp::Round2:
                return y >= 0 ? x : ToInt(Round2(static_cast<double>(x), y));
            default:
                return BitwiseOrCompare(op, x, y);
        }
    }
    static T BitwiseOrCompare(EOp op, int64_t x, int64_t y) {
        switch (op) {
            case EOp::BitAnd:
                return x & y;
            case EOp::BitOr:
                return x | y;
            case EOp::BitXor:
                return x ^ y;
            case EOp::Shl:
                return ShiftLeft(x, y);
            case EOp::Shr:
                return ShiftRight(x, y);
            case EOp::Eq:
                return x == y;
            case EOp::Ne:
                return x != y;
            case EOp::Lt:
                return x < y;
            case EOp::Gt:
                return x > y;
            case EOp::Le:
                return x <= y;
            case EOp::Ge:
                return x >= y;
            default:
                return 0;
        }
    }
    static SFormulaValue Result(T v) { return SFormulaValue::Int(v); }
};

struct SFloatRules {
    using T = double;
    static T Constant(const SConstant& c) { return c.isFloat ? c.f : static_cast<double>(c.i); }
    static T Variable(const SFormulaValue& v) { return v.AsFloat(); }
    static bool Truth(T v) { return v != 0.0; }
    static T Unary(EOp op, T x) {
        switch (op) {
            case EOp::Neg:
                return -x;
            case EOp::BitNot:
                return static_cast<double>(~ToInt(x));
            default:
                return FloatFunction(op, x);
        }
    }
    static T Binary(EOp op, T x, T y, const std::string&) {
        switch (op) {
            case EOp::Add:
                return x + y;
            case EOp::Sub:
                return x - y;
            case EOp::Mul:
                return x * y;
            case EOp::Div:
                return x / y;
            case EOp::Mod:
                return std::fmod(x, y);
            case EOp::Pow:
                return std::pow(x, y);
            case EOp::Round2:
                return Round2(x, ToInt(y));
            case EOp::Eq:
                return x == y;
            case EOp::Ne:
                return x != y;
            case EOp::Lt:
                return x < y;
            case EOp::Gt:
                return x > y;
            case EOp::Le:
                return x <= y;
            case EOp::Ge:
                return x >= y;
            default:
                return static_cast<double>(SIntRules::BitwiseOrCompare(op, ToInt(x), ToInt(y)));
        }
    }
    static SFormulaValue Result(T v) { return SFormulaValue::Float(v); }
};

// Storage on the C++ stack for the common small formula, on the heap beyond.
// Only the first n elements are initialised, to T().
template <class T, size_t N>
class CScratch {
public:
    explicit CScratch(size_t n) {
        if (n > N) {
            m_heap.resize(n);
            m_data = m_heap.data();
        } else {
            for (size_t k = 0; k < n; ++k) m_local[k] = T();
        }
    }
    T& operator[](size_t i) { return m_data[i]; }

private:
    T m_local[N];
    std::vector<T> m_heap;
    T* m_data = m_local;
};

template <class Rules>
SFormulaValue Run(const CFormula::Node& program, size_t variableCount,
                  const std::vector<size_t>& used,
                  const std::function<SFormulaValue(size_t)>& variable, const std::string& text) {
    using T = typename Rules::T;
    CScratch<T, 32> stack(program.pushes);
    CScratch<T, 8> memo(variableCount);
    CScratch<uint8_t, 8> fetched(variableCount);
    size_t top = 0;  // number of values on the stack
    const std::vector<SInstr>& code = program.code;
    for (size_t pc = 0; pc < code.size(); ++pc) {
        const SInstr in = code[pc];
        switch (in.op) {
            case EOp::PushConst:
                stack[top++] = Rules::Constant(program.constants[in.arg]);
                break;
            case EOp::PushVar:
                if (!fetched[in.arg]) {
                    memo[in.arg] = Rules::Variable(variable(used[in.arg]));
                    fetched[in.arg] = true;
                }
                stack[top++] = memo[in.arg];
                break;
            case EOp::LogNot:
                stack[top - 1] = Rules::Truth(stack[top - 1]) ? T(0) : T(1);
                break;
            case EOp::ToBool:
                stack[top - 1] = Rules::Truth(stack[top - 1]) ? T(1) : T(0);
                break;
            case EOp::AndJump:
            case EOp::OrJump: {
                const bool truth = Rules::Truth(stack[top - 1]);
                if (truth == (in.op == EOp::OrJump)) {
                    stack[top - 1] = truth ? T(1) : T(0);
                    pc = in.arg - 1;
                } else {
                    --top;
                }
                break;
            }
            case EOp::JumpIfFalse:
                if (!Rules::Truth(stack[--top])) pc = in.arg - 1;
                break;
            case EOp::Jump:
                pc = in.arg - 1;
                break;
            default:
                if (IsBinary(in.op)) {
                    --top;
                    stack[top - 1] = Rules::Binary(in.op, stack[top - 1], stack[top], text);
                } else {
                    stack[top - 1] = Rules::Unary(in.op, stack[top - 1]);
                }
                break;
        }
    }
    return Rules::Result(stack[0]);
}

}  // namespace

int64_t SFormulaValue::AsInt() const {
    if (!isFloat) return i;
    if (std::isnan(f)) return 0;
    // 2^63 is exact as a double; anything at or above it does not fit.
    if (f >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (f < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(f);
}

CFormula::CFormula() = default;
CFormula::~CFormula() = default;

std::shared_ptr<const CFormula> CFormula::Parse(std::string_view text,
                                                const std::vector<std::string>& variableNames) {
    std::shared_ptr<CFormula> formula(new CFormula());
    formula->m_text = std::string(text);
    formula->m_root = std::make_unique<Node>();
    CParser(formula->m_text, variableNames, *formula->m_root, formula->m_used).Run();
    formula->m_root->code.shrink_to_fit();
    return formula;
}

const std::vector<size_t>& CFormula::UsedVariables() const {
    return m_used;
}

const std::string& CFormula::Text() const {
    return m_text;
}

SFormulaValue CFormula::Evaluate(const std::function<SFormulaValue(size_t)>& variable,
                                 bool integerMode) const {
    if (integerMode) return Run<SIntRules>(*m_root, m_used.size(), m_used, variable, m_text);
    return Run<SFloatRules>(*m_root, m_used.size(), m_used, variable, m_text);
}

}  // namespace GenApi::engine
