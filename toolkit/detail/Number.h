// Locale-independent number text and the 80-bit extended float of the binary stream form.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::toolkit {

// Shortest text that reads back to the same value ("1.5", "1E20", "-0.25"); always holds a '.'
// or an exponent so that it reads as a float.
std::string formatDouble(double Value);
std::string formatSingle(float Value);
bool parseDouble(std::string_view Text, double& Value);
bool parseSingle(std::string_view Text, float& Value);

// 10 bytes, little-endian IEEE 754 extended precision (64-bit significand with explicit
// integer bit).
using Extended80 = std::array<std::uint8_t, 10>;
Extended80 doubleToExtended(double Value);
double extendedToDouble(const Extended80& Bytes);
// Exact text of an extended value (full 64-bit precision where the platform has it), and
// back; false when Text is not a number or is out of range.
bool formatExtended(const Extended80& Bytes, std::string& Text);
bool parseExtended(std::string_view Text, Extended80& Bytes);

} // namespace kv::toolkit
