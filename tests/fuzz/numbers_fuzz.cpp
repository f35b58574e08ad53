// The number reading against an independent one. The first byte picks the locale's decimal
// separator, the rest is the text. "Holds a number" says yes exactly when the conversion gives
// a value, exactly when the C library reads the whole text (blanks trimmed, the separator as a
// point, only digits, signs and exponent letters otherwise), and the values agree; the integer
// conversions round half to even as nearbyint does and refuse exactly what doesn't fit.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "engine/numbers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::string_view kSeparators[] = {".", ",", "\xD9\xAB", ""};

std::optional<double> referenceReading(std::string_view text, std::string_view separator)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    std::string normal;
    for (std::size_t i = 0; i < text.size();) {
        if (!separator.empty() && text.substr(i, separator.size()) == separator) {
            normal.push_back('.');
            i += separator.size();
        } else if (std::string_view("0123456789+-eE").find(text[i]) != std::string_view::npos) {
            normal.push_back(text[i++]);
        } else {
            return std::nullopt;
        }
    }
    if (normal.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(normal.c_str(), &end);
    if (end != normal.c_str() + normal.size())
        return std::nullopt;
    return value;
}

template <typename Integer>
void checkIntegerConversion(std::optional<Integer> converted, double value)
{
    const double nearest = std::nearbyint(value);
    const bool fits = std::isfinite(value) && nearest >= std::numeric_limits<Integer>::min()
                      && nearest <= std::numeric_limits<Integer>::max();
    FUZZ_CHECK(converted.has_value() == fits);
    if (fits)
        FUZZ_CHECK(*converted == nearest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view separator = kSeparators[data[0] % std::size(kSeparators)];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::optional<double> value = parseNumber(text, separator);
    const std::optional<double> reference = referenceReading(text, separator);
    FUZZ_CHECK(holdsNumber(text, separator) == value.has_value());
    FUZZ_CHECK(value.has_value() == reference.has_value());
    if (!value)
        return 0;
    // Equal, or both below the smallest normal double, where one may round to 0 and the other
    // keep a subnormal.
    const double tiny = std::numeric_limits<double>::min();
    FUZZ_CHECK(*value == *reference || (std::fabs(*value) < tiny && std::fabs(*reference) < tiny));
    FUZZ_CHECK(!std::isnan(*value));

    if (std::isfinite(*value))
        FUZZ_CHECK(roundHalfEven(*value) == std::nearbyint(*value));
    checkIntegerConversion(toInteger16(*value), *value);
    checkIntegerConversion(toInteger32(*value), *value);
    return 0;
}
