#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// Reads |text| as a decimal number: blanks (spaces, tabs) around it allowed, an optional
/// sign, digits with an optional |decimalSeparator| and fraction (at least one digit in all),
/// an optional exponent ("e" or "E", optional sign, digits). Anything else, the empty text,
/// a lone sign and a lone separator included, gives nullopt. Values beyond double precision
/// come out infinite; the test "holds a number" is exactly has_value().
std::optional<double> parseNumber(std::string_view text, std::string_view decimalSeparator);

inline bool holdsNumber(std::string_view text, std::string_view decimalSeparator)
{
    return parseNumber(text, decimalSeparator).has_value();
}

/// Rounds to the nearest integer, an exact half to the even neighbour (2.5 -> 2, -2.5 -> -2).
double roundHalfEven(double value);

/// roundHalfEven, then the result if it fits the type; nullopt when it doesn't or |value|
/// is not finite.
std::optional<std::int16_t> toInteger16(double value);
std::optional<std::int32_t> toInteger32(double value);

/// Plain decimal text without a leading blank.
std::string decimalText(long long value);
