// Formulas: arbitrary text is either parsed or refused with a GenICam exception,
// and a parsed formula evaluates in both modes to a value or a GenICam exception
// (integer division by zero). The text runs up to the first NUL byte; the bytes
// after it give the variables' values. Every variable must be fetched at most
// once per evaluation and only by an index the formula reported as used.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "GCBase.h"
#include "engine/Formula.h"

using GenApi::engine::CFormula;
using GenApi::engine::SFormulaValue;

namespace {

const std::vector<std::string> kNames = {"A", "B", "Foo.Bar", "C"};

uint64_t Bytes8(const uint8_t* data, size_t size, size_t offset, uint64_t fallback) {
    if (offset + 8 > size) return fallback;
    uint64_t v = 0;
    std::memcpy(&v, data + offset, 8);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);
    const size_t textSize = std::find(text, text + size, '\0') - text;
    const uint8_t* values = data + std::min(size, textSize + 1);
    const size_t valueSize = size - std::min(size, textSize + 1);

    double foo = 0.5;
    const uint64_t fooBits = Bytes8(values, valueSize, 16, 0);
    if (fooBits) std::memcpy(&foo, &fooBits, 8);
    const SFormulaValue variables[] = {
        SFormulaValue::Int(static_cast<int64_t>(Bytes8(values, valueSize, 0, 3))),
        SFormulaValue::Int(static_cast<int64_t>(Bytes8(values, valueSize, 8, uint64_t(-2)))),
        SFormulaValue::Float(foo),
        SFormulaValue::Int(static_cast<int64_t>(Bytes8(values, valueSize, 24, 0))),
    };

    std::shared_ptr<const CFormula> formula;
    try {
        formula = CFormula::Parse(std::string_view(text, textSize), kNames);
    } catch (const GenICam::GenericException&) {
        return 0;
    }
    if (formula->Text() != std::string_view(text, textSize)) std::abort();
    const std::vector<size_t>& used = formula->UsedVariables();
    for (size_t index : used) {
        if (index >= kNames.size()) std::abort();
    }
    for (bool integerMode : {true, false}) {
        int fetches[4] = {0, 0, 0, 0};
        try {
            const SFormulaValue value = formula->Evaluate(
                [&](size_t index) {
                    if (index >= kNames.size() || ++fetches[index] > 1 ||
                        std::find(used.begin(), used.end(), index) == used.end())
                        std::abort();
                    return variables[index];
                },
                integerMode);
            if (value.isFloat == integerMode) std::abort();
        } catch (const GenICam::GenericException&) {
        }
    }
    return 0;
}
