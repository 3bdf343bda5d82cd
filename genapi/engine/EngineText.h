// Number and text conversions of the engine: the forms descriptions and
// FromString use, independent of the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace GenApi::engine {

std::string_view Trim(std::string_view text);
/// Decimal or 0x hexadecimal, with an optional sign. Hexadecimal up to 64 bits
/// wraps into int64 (0xFFFFFFFFFFFFFFFF is -1).
bool ParseInt64(std::string_view text, int64_t& value);
/// Decimal, exponent, hexadecimal integers, INF and NaN forms.
bool ParseDouble(std::string_view text, double& value);
/// Shortest text that reads back as the same double.
std::string DoubleText(double value);

}  // namespace GenApi::engine
