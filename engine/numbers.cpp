#include "engine/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The magnitude's decimal exponent, roughly: used only to tell an overflow from an
// underflow when the exact conversion is out of range.
long long roughExponent(std::string_view mantissa, long long exponent)
{
    long long integerDigits = 0;
    bool seenNonZero = false;
    bool afterPoint = false;
    long long leadingFractionZeros = 0;
    for (char c : mantissa) {
        if (c == '.') {
            afterPoint = true;
            continue;
        }
        if (!afterPoint) {
            if (c != '0' || seenNonZero) {
                seenNonZero = true;
                ++integerDigits;
            }
        } else if (!seenNonZero) {
            if (c == '0')
                ++leadingFractionZeros;
            else
                seenNonZero = true;
        }
    }
    return integerDigits > 0 ? integerDigits - 1 + exponent : -leadingFractionZeros - 1 + exponent;
}

} // namespace

std::optional<double> parseNumber(std::string_view text, std::string_view decimalSeparator)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }

    // Normalised form for from_chars: digits, '.', 'e', exponent sign and digits.
    std::string normal;
    normal.reserve(text.size() + 1);
    std::size_t digits = 0;
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i])) {
        normal.push_back(text[i++]);
        ++digits;
    }
    if (!decimalSeparator.empty() && text.substr(i, decimalSeparator.size()) == decimalSeparator) {
        normal.push_back('.');
        i += decimalSeparator.size();
        while (i < text.size() && isDigit(text[i])) {
            normal.push_back(text[i++]);
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    const std::size_t mantissaLength = normal.size();

    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal.push_back('e');
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            normal.push_back(text[i++]);
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[i] - '0');
            normal.push_back(text[i++]);
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != text.size())
        return std::nullopt;

    double value = 0.0;
    const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (error == std::errc::result_out_of_range) {
        const bool overflow = roughExponent(std::string_view(normal).substr(0, mantissaLength), exponent) > 0;
        value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc() || end != normal.data() + normal.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5)
        return below + 1.0;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

namespace {

template <typename Integer>
std::optional<Integer> toInteger(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<Integer>::min())
        || rounded > static_cast<double>(std::numeric_limits<Integer>::max()))
        return std::nullopt;
    return static_cast<Integer>(rounded);
}

} // namespace

std::optional<std::int16_t> toInteger16(double value) { return toInteger<std::int16_t>(value); }
std::optional<std::int32_t> toInteger32(double value) { return toInteger<std::int32_t>(value); }

std::string decimalText(long long value) { return std::to_string(value); }
