#include "platform/qt/settings_file_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

namespace {

// ---- UTF-8 as the files were always decoded: one U+FFFD per byte that starts no valid sequence.

constexpr char16_t kReplacement = 0xFFFD;
constexpr int kInvalid = -1;
constexpr int kUnfinished = -2;

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes the sequence at |src|: the bytes it took, kInvalid, or kUnfinished when |end| cuts it.
int decodeOne(const unsigned char* src, const unsigned char* end, char32_t& out)
{
    const unsigned char b = *src;
    if (b < 0x80) {
        out = b;
        return 1;
    }
    int needed;
    char32_t least;
    if (b <= 0xC1 || b >= 0xF5)
        return kInvalid;
    if (b < 0xE0) {
        needed = 2, least = 0x80, out = b & 0x1F;
    } else if (b < 0xF0) {
        needed = 3, least = 0x800, out = b & 0x0F;
    } else {
        needed = 4, least = 0x10000, out = b & 0x07;
    }
    const std::ptrdiff_t available = end - src - 1;
    if (available < needed - 1) {
        for (std::ptrdiff_t i = 0; i < available && i < 2; ++i) {
            if (!isContinuation(src[1 + i]))
                return kInvalid;
        }
        return kUnfinished;
    }
    for (int i = 1; i < needed; ++i) {
        if (!isContinuation(src[i]))
            return kInvalid;
        out = (out << 6) | (src[i] & 0x3F);
    }
    if (out < least || (out >= 0xD800 && out <= 0xDFFF) || out > 0x10FFFF)
        return kInvalid;
    return needed;
}

void append(std::u16string& text, char32_t c)
{
    if (c < 0x10000) {
        text += static_cast<char16_t>(c);
    } else {
        text += static_cast<char16_t>(0xD7C0 + (c >> 10));
        text += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

bool startsWithBom(std::string_view bytes) { return bytes.substr(0, 3) == "\xEF\xBB\xBF"; }

/// A whole key or section name: a leading byte order mark is dropped.
std::u16string decodeWhole(std::string_view bytes)
{
    if (startsWithBom(bytes))
        bytes.remove_prefix(3);
    std::u16string text;
    auto src = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = src + bytes.size();
    while (src < end) {
        char32_t c = 0;
        const int took = decodeOne(src, end, c);
        if (took < 0) {
            text += kReplacement;
            ++src;
        } else {
            append(text, c);
            src += took;
        }
    }
    return text;
}

// A value arrives in pieces between its escapes. A sequence cut by an escape is finished by the
// next piece (after the escaped character), a byte order mark as the value's first character is
// dropped, and a sequence still open at the end is lost: that is how the files were always read.
class PieceDecoder {
public:
    void feed(std::string_view piece, std::u16string& out)
    {
        auto src = reinterpret_cast<const unsigned char*>(piece.data());
        const auto end = src + piece.size();
        if (src == end)
            return;
        char32_t c = 0;
        if (!m_pending.empty() || !m_started) {
            const std::size_t held = m_pending.size();
            std::string first = m_pending;
            first.append(piece.substr(0, 4 - held));
            auto begin = reinterpret_cast<const unsigned char*>(first.data());
            const int took = decodeOne(begin, begin + first.size(), c);
            if (took == kUnfinished) {
                m_pending = first;
                return;
            }
            if (took == kInvalid) {
                out += kReplacement;
                ++src;
            } else {
                if (m_started || c != 0xFEFF)
                    append(out, c);
                src += took - static_cast<int>(held);
            }
            m_started = true;
        }
        m_pending.clear();
        while (src < end) {
            const int took = decodeOne(src, end, c);
            if (took == kUnfinished) {
                m_pending.assign(reinterpret_cast<const char*>(src), static_cast<std::size_t>(end - src));
                return;
            }
            if (took == kInvalid) {
                out += kReplacement;
                ++src;
            } else {
                append(out, c);
                src += took;
            }
        }
    }

private:
    std::string m_pending;
    bool m_started = false;
};

/// UTF-8 of |text|; nothing when it holds a lone surrogate.
std::optional<std::string> utf8Of(std::u16string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/// Bytes that are strictly valid UTF-8 (a leading byte order mark dropped) as text.
std::optional<std::string> strictUtf8(std::string_view bytes)
{
    if (startsWithBom(bytes))
        bytes.remove_prefix(3);
    auto src = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = src + bytes.size();
    for (char32_t c = 0; src < end;) {
        const int took = decodeOne(src, end, c);
        if (took < 0)
            return std::nullopt;
        src += took;
    }
    return std::string(bytes);
}

std::string latin1Of(std::u16string_view text)
{
    std::string bytes;
    for (char16_t c : text)
        bytes += c > 0xFF ? '?' : static_cast<char>(c);
    return bytes;
}

int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// ---- Lines: a line ends at a line break or an unquoted ';' (which starts a comment), but not
// inside quotes or right after a backslash. Blank lines and comments at a line's start are skipped.

bool nextLine(std::string_view data, std::size_t& pos, std::size_t& start, std::size_t& end, std::size_t& equals)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    bool inQuotes = false;
    equals = std::string_view::npos;
    start = pos;
    while (start < data.size() && space(data[start]))
        ++start;
    std::size_t i = start;
    while (i < data.size()) {
        const char c = data[i++];
        if (c == '=') {
            if (!inQuotes && equals == std::string_view::npos)
                equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < data.size()) {
                const char escaped = data[i++];
                if (i < data.size() && ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < data.size() && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < data.size() && space(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = end = i;
    return end > start;
}

/// A key or section name: '\' stands for '/', %XX and %UXXXX for that character.
std::u16string unescapedName(std::string_view raw)
{
    const std::u16string decoded = decodeWhole(trimmed(raw));
    std::u16string name;
    for (std::size_t i = 0; i < decoded.size();) {
        const char16_t c = decoded[i];
        if (c == '\\') {
            name += u'/';
            ++i;
            continue;
        }
        const std::size_t digits = i + 1 < decoded.size() && decoded[i + 1] == 'U' ? 4 : 2;
        const std::size_t first = i + 1 + (digits == 4 ? 1 : 0);
        unsigned value = 0;
        bool escaped = c == '%' && first + digits <= decoded.size();
        for (std::size_t d = 0; escaped && d < digits; ++d) {
            escaped = hexValue(decoded[first + d]) >= 0;
            value = value * 16 + static_cast<unsigned>(hexValue(decoded[first + d]));
        }
        name += escaped ? static_cast<char16_t>(value) : c;
        i = escaped ? first + digits : i + 1;
    }
    return name;
}

void chopBlanks(std::u16string& text, std::size_t limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.pop_back();
}

/// A value's text (quotes, C escapes, blanks trimmed unless quoted); true, with the items in
/// |items|, when an unquoted ',' made it a list.
bool unescapedValue(std::string_view raw, std::u16string& text, std::vector<std::u16string>& items)
{
    static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'}, {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    enum class State { SkipBlanks, Normal, Hex, Octal, End };
    PieceDecoder decoder;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    char16_t escaped = 0;
    std::size_t i = 0;
    State state = State::SkipBlanks;
    while (state != State::End) {
        if (state == State::SkipBlanks) {
            while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
                ++i;
            state = State::Normal;
        } else if (state == State::Normal) {
            std::size_t chopLimit = text.size();
            state = State::End;
            bool finished = true;
            while (i < raw.size() && state == State::End && finished) {
                const char c = raw[i];
                if (c == '\\') {
                    if (++i >= raw.size()) {
                        finished = false;  // a backslash at the very end: nothing trimmed
                        break;
                    }
                    const char next = raw[i++];
                    bool named = false;
                    for (const auto& code : kEscapes) {
                        if (next == code[0]) {
                            text += static_cast<char16_t>(code[1]);
                            named = true;
                        }
                    }
                    if (named) {
                        state = State::Normal;
                    } else if (next == 'x') {
                        escaped = 0;
                        if (i >= raw.size())
                            finished = false;
                        else if (hexValue(static_cast<unsigned char>(raw[i])) >= 0)
                            state = State::Hex;
                    } else if (next >= '0' && next <= '7') {
                        escaped = static_cast<char16_t>(next - '0');
                        state = State::Octal;
                    } else if ((next == '\n' || next == '\r') && i < raw.size()
                               && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != next) {
                        ++i;
                    }
                    chopLimit = text.size();
                } else if (c == '"') {
                    ++i;
                    quoted = true;
                    inQuotes = !inQuotes;
                    if (!inQuotes)
                        state = State::SkipBlanks;
                } else if (c == ',' && !inQuotes) {
                    if (!quoted)
                        chopBlanks(text, chopLimit);
                    if (!isList)
                        items.clear();
                    isList = true;
                    items.push_back(std::move(text));
                    text.clear();
                    quoted = false;
                    ++i;
                    state = State::SkipBlanks;
                } else {
                    std::size_t j = i + 1;
                    while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',')
                        ++j;
                    decoder.feed(raw.substr(i, j - i), text);
                    i = j;
                }
            }
            if (state == State::End && finished && !quoted)
                chopBlanks(text, chopLimit);
        } else {
            const bool hex = state == State::Hex;
            const char c = i < raw.size() ? raw[i] : '\0';
            const int digit = hex ? hexValue(static_cast<unsigned char>(c)) : (c >= '0' && c <= '7' ? c - '0' : -1);
            if (i < raw.size() && digit >= 0) {
                escaped = static_cast<char16_t>((escaped << (hex ? 4 : 3)) + digit);
                ++i;
            } else {
                text += escaped;
                state = i < raw.size() ? State::Normal : State::End;
            }
        }
    }
    if (isList)
        items.push_back(std::move(text));
    return isList;
}

// ---- Values that earlier versions (or another program) stored as something other than text:
// the serialized form behind @Variant(...) and @DateTime(...), big-endian.

std::string numberText(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (value == 0)
        return "0";
    char buffer[64];
    const auto [last, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string_view scientific(buffer, static_cast<std::size_t>(last - buffer));
    const std::size_t e = scientific.find('e');
    std::string digits(scientific.substr(0, e));
    if (digits.size() > 1)
        digits.erase(1, 1);
    int exponent = 0;
    std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+' ? 1 : 0), last, exponent);
    const int point = exponent + 1;
    const int length = static_cast<int>(digits.size());
    // The shorter of the decimal and the exponent form, ties to decimal.
    int bias = 4;
    if (length <= point && length > 1)
        ++bias;
    else if (length == 1 && point <= 0)
        --bias;
    const bool decimal = point <= 0 ? 1 - point <= bias : point <= length || point <= length + bias;
    std::string text = value < 0 ? "-" : "";
    if (!decimal) {
        text += digits.substr(0, 1);
        if (length > 1)
            text += "." + digits.substr(1);
        text += exponent < 0 ? "e-" : "e+";
        text += (std::abs(exponent) < 10 ? "0" : "") + std::to_string(std::abs(exponent));
    } else if (point <= 0) {
        text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (point >= length) {
        text += digits + std::string(static_cast<std::size_t>(point - length), '0');
    } else {
        text += digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    }
    return text;
}

class VariantReader {
public:
    VariantReader(std::string_view data, bool withNullFlag) : m_data(data), m_nullFlag(withNullFlag) {}

    /// The text of the next value, or nothing when it has none. Short data reads as zeros
    /// and empty texts, as it always did; a list cut short has no text.
    std::optional<std::string> value(int depth = 0)
    {
        enum : std::uint32_t { Bool = 1, Int, UInt, LongLong, ULongLong, Double, List = 9, String, StringList,
                               Bytes, Long = 32, Short, ULong = 35, UShort, Float = 38, User = 127 };
        std::uint32_t type = static_cast<std::uint32_t>(number(4));
        if (!m_nullFlag && type >= 128)
            type -= 97;  // the older numbering of the extended types
        if (m_nullFlag && type == 1024)
            type = User;
        if (m_nullFlag)
            number(1);
        if (type == User) {
            std::string name = bytes();
            name.resize(std::min(name.size(), name.find('\0')));
            static const std::map<std::string, std::uint32_t, std::less<>> kNames{
                {"bool", Bool},    {"int", Int},         {"uint", UInt},         {"qlonglong", LongLong},
                {"qulonglong", ULongLong}, {"double", Double}, {"QVariantList", List}, {"QString", String},
                {"QStringList", StringList}, {"QByteArray", Bytes}, {"long", Long}, {"short", Short},
                {"ulong", ULong},  {"ushort", UShort},   {"float", Float}};
            const auto found = kNames.find(name);
            if (found == kNames.end()) {
                m_ok = false;
                return std::nullopt;
            }
            type = found->second;
        }
        switch (type) {
        case Bool:
            return number(1) != 0 ? "true" : "false";
        case Int:
            return std::to_string(static_cast<std::int32_t>(number(4)));
        case UInt:
            return std::to_string(static_cast<std::uint32_t>(number(4)));
        case Short:
            return std::to_string(static_cast<std::int16_t>(number(2)));
        case UShort:
            return std::to_string(static_cast<std::uint16_t>(number(2)));
        case LongLong:
        case Long:
            return std::to_string(static_cast<std::int64_t>(number(8)));
        case ULongLong:
        case ULong:
            return std::to_string(number(8));
        case Double:
            return numberText(std::bit_cast<double>(number(8)));
        case Float:
            if (m_nullFlag)
                return numberText(static_cast<float>(std::bit_cast<double>(number(8))));
            return numberText(std::bit_cast<float>(static_cast<std::uint32_t>(number(4))));
        case String:
            return utf8Of(string());
        case Bytes:
            return strictUtf8(bytes());
        case List:
        case StringList:
            return list(type == List, depth);
        default:
            if (type == 0 && !m_nullFlag)
                string();  // an empty value of the older numbering still carries a text
            return std::nullopt;
        }
    }

private:
    std::uint64_t number(std::size_t size)
    {
        if (m_data.size() - m_at < size) {
            m_at = m_data.size();
            m_ok = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value = value << 8 | static_cast<unsigned char>(m_data[m_at++]);
        return value;
    }

    /// |size| bytes, or nothing (and the rest consumed) when fewer are left.
    std::optional<std::string_view> block(std::uint32_t size)
    {
        if (m_data.size() - m_at < size) {
            m_at = m_data.size();
            m_ok = false;
            return std::nullopt;
        }
        m_at += size;
        return m_data.substr(m_at - size, size);
    }

    std::string bytes()
    {
        const auto size = static_cast<std::uint32_t>(number(4));
        if (size == 0xFFFFFFFF)
            return {};
        return std::string(block(size).value_or(std::string_view{}));
    }

    std::u16string string()
    {
        const auto size = static_cast<std::uint32_t>(number(4));
        if (size == 0xFFFFFFFF || size == 0)
            return {};
        if (size % 2 != 0) {
            m_ok = false;
            return {};
        }
        std::u16string text;
        if (const auto units = block(size)) {
            for (std::size_t i = 0; i < units->size(); i += 2)
                text += static_cast<char16_t>(static_cast<unsigned char>((*units)[i]) << 8
                                              | static_cast<unsigned char>((*units)[i + 1]));
        }
        return text;
    }

    // Items joined by ","; no text when empty, cut short, nested too deep or an item has none.
    std::optional<std::string> list(bool ofValues, int depth)
    {
        const bool wasOk = m_ok;
        m_ok = true;
        const auto count = static_cast<std::uint32_t>(number(4));
        std::optional<std::string> joined;
        for (std::uint32_t i = 0; m_ok && i < count && depth < 64; ++i) {
            const std::optional<std::string> item = ofValues ? value(depth + 1) : utf8Of(string());
            if (!item || !m_ok) {
                joined.reset();
                break;
            }
            joined = joined ? *joined + "," + *item : *item;
        }
        if (!m_ok || depth >= 64)
            joined.reset();
        m_ok = m_ok && wasOk;
        return joined;
    }

    std::string_view m_data;
    std::size_t m_at = 0;
    bool m_nullFlag;
    bool m_ok = true;
};

std::size_t argumentCount(std::u16string_view text, std::size_t open)
{
    std::size_t count = 0;
    for (std::size_t i = open + 1; i < text.size(); ++i)
        count += text[i] == u' ' || text[i] == u')';
    return count;
}

/// What one stored text stands for: itself, or the value of an "@" form.
std::optional<std::string> textOf(std::u16string_view text)
{
    const auto starts = [&](std::u16string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
    if (starts(u"@") && text.back() == u')') {
        if (starts(u"@ByteArray("))
            return strictUtf8(latin1Of(text.substr(11, text.size() - 12)));
        if (starts(u"@String("))
            return utf8Of(text.substr(8, text.size() - 9));
        if (starts(u"@Variant(") || starts(u"@DateTime(")) {
            const bool dateTime = text[1] == u'D';
            const std::string data = latin1Of(text.substr(dateTime ? 10 : 9));
            return VariantReader(data, dateTime).value();
        }
        if ((starts(u"@Rect(") && argumentCount(text, 5) == 4) || (starts(u"@Size(") && argumentCount(text, 5) == 2)
            || (starts(u"@Point(") && argumentCount(text, 6) == 2) || text == u"@Invalid()")
            return std::nullopt;
    }
    return utf8Of(starts(u"@@") ? text.substr(1) : text);
}

/// A list's items joined by ",": each is an "@" form when one of them is one.
std::optional<std::string> textOf(const std::vector<std::u16string>& items)
{
    bool forms = false;
    for (const std::u16string& item : items)
        forms = forms || (item.size() >= 1 && item[0] == u'@' && (item.size() < 2 || item[1] != u'@'));
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::optional<std::string> item = forms ? textOf(items[i]) : textOf(std::u16string_view(items[i]));
        if (!item)
            return std::nullopt;
        joined += (i == 0 ? "" : ",") + *item;
    }
    return joined;
}

// ---- Writing, in the form every earlier version reads the same.

std::string escapedName(std::u16string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char16_t c : name) {
        if (c == u'/') {
            out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
                   || c == '.') {
            out += static_cast<char>(c);
        } else if (c <= 0xFF) {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        } else {
            out += {'%', 'U', kHex[c >> 12], kHex[(c >> 8) & 15], kHex[(c >> 4) & 15], kHex[c & 15]};
        }
    }
    return out;
}

std::string headerLine(std::u16string_view section)
{
    const std::string name = escapedName(section.substr(0, section.size() - 1));
    std::string lower;
    for (const char c : name)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return (lower == "general" ? "[%" : "[") + name + "]\n";
}

std::string escapedValue(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string value = (!text.empty() && text[0] == '@' ? "@" : "") + std::string(text);
    std::string out;
    bool quote = false;
    bool hexNext = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        quote = quote || c == ';' || c == ',' || c == '=';
        const auto byte = static_cast<unsigned char>(c);
        // A byte order mark as the first character decoded would be dropped by the reader.
        if (value.compare(i, 3, "\xEF\xBB\xBF") == 0) {
            out += "\\xfeff";
            hexNext = true;
            i += 2;
            continue;
        }
        if (hexNext && hexValue(byte) >= 0) {
            out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
            continue;
        }
        hexNext = false;
        static constexpr std::string_view kNamed = "\a\b\f\n\r\t\v\"\\";
        static constexpr std::string_view kLetters = "abfnrtv\"\\";
        if (c == '\0') {
            out += "\\0";
            hexNext = true;
        } else if (const std::size_t named = kNamed.find(c); named != std::string_view::npos) {
            out += {'\\', kLetters[named]};
        } else if (byte <= 0x1F) {
            out += "\\x";
            out += byte >= 16 ? std::string{kHex[byte >> 4], kHex[byte & 15]} : std::string{kHex[byte]};
            hexNext = true;
        } else {
            out += c;
        }
    }
    if (quote || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

}  // namespace

SettingsFileText::SettingsFileText(std::string bytes) : m_bytes(std::move(bytes))
{
    const std::string_view data = m_bytes;
    std::size_t pos = startsWithBom(data) ? 3 : 0;
    std::size_t start = 0;
    std::size_t end = 0;
    std::size_t equals = 0;
    std::vector<std::size_t> bodies{0};
    while (nextLine(data, pos, start, end, equals)) {
        if (data[start] != '[')
            continue;
        const std::string_view line = data.substr(start, end - start);
        const std::string_view name = trimmed(line.substr(1, std::min(line.find(']'), line.size()) - 1));
        std::string lower;
        for (const char c : name)
            lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        std::u16string section;
        if (lower == "%general")
            section = decodeWhole(name.substr(1)) + u'/';
        else if (lower != "general")
            section = unescapedName(name) + u'/';
        m_headers.push_back({std::move(section), start});
        bodies.push_back(pos);
    }
    // Each section's lines are read on their own, the first one's from the very start of the
    // file, as they always were.
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const std::string_view body = data.substr(0, i < m_headers.size() ? m_headers[i].start : data.size());
        pos = bodies[i];
        while (nextLine(body, pos, start, end, equals)) {
            if (equals != std::string_view::npos)
                m_entries.push_back({i == 0 ? std::u16string_view() : std::u16string_view(m_headers[i - 1].section),
                                     unescapedName(body.substr(start, equals - start)), start, equals + 1, end});
        }
    }
}

const SettingsFileText::Entry* SettingsFileText::find(std::u16string_view section, std::u16string_view key) const
{
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (entry->section == section && entry->key == key)
            return &*entry;
    }
    return nullptr;
}

namespace {

std::u16string sectionName(std::string_view section) { return decodeWhole(section) + u'/'; }

}  // namespace

StoredText SettingsFileText::entryValue(const Entry& entry) const
{
    std::u16string text;
    std::vector<std::u16string> items;
    const std::string_view raw = std::string_view(m_bytes).substr(entry.valueStart, entry.lineEnd - entry.valueStart);
    const std::optional<std::string> found = unescapedValue(raw, text, items) ? textOf(items) : textOf(text);
    if (!found)
        return {StoreStatus::Failed, {}};
    return {StoreStatus::Ok, *found};
}

namespace {

/// Whether |name| is |text| (UTF-8) followed by |suffix|; plain ASCII, the tick's case, is
/// compared without decoding.
bool spells(std::u16string_view name, std::string_view text, std::u16string_view suffix = {})
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return name == decodeWhole(text) + std::u16string(suffix);
    }
    return name.size() == text.size() + suffix.size() && std::equal(text.begin(), text.end(), name.begin())
        && name.substr(text.size()) == suffix;
}

}  // namespace

StoredText SettingsFileText::value(std::string_view section, std::string_view key) const
{
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (spells(entry->key, key) && spells(entry->section, section, u"/"))
            return entryValue(*entry);
    }
    return {StoreStatus::Missing, {}};
}

// True when every key but |key| of |section| (every key of |section| when |key| is empty) reads
// the same in |other|, and |other| has no other keys. What isn't text must stay as it was written.
bool SettingsFileText::sameApartFrom(const SettingsFileText& other, std::u16string_view section,
                                     std::u16string_view key) const
{
    using Winners = std::map<std::pair<std::u16string_view, std::u16string_view>, const Entry*>;
    const auto winners = [&](const SettingsFileText& file) {
        Winners found;
        for (const Entry& entry : file.m_entries) {
            if (entry.section != section || (!key.empty() && entry.key != key))
                found[{entry.section, entry.key}] = &entry;
        }
        return found;
    };
    const auto raw = [](const SettingsFileText& file, const Entry& entry) {
        return std::string_view(file.m_bytes).substr(entry.valueStart, entry.lineEnd - entry.valueStart);
    };
    const Winners mine = winners(*this);
    const Winners theirs = winners(other);
    if (mine.size() != theirs.size())
        return false;
    for (auto a = mine.begin(), b = theirs.begin(); a != mine.end(); ++a, ++b) {
        if (a->first != b->first)
            return false;
        if (raw(*this, *a->second) == raw(other, *b->second))
            continue;
        const StoredText text = entryValue(*a->second);
        if (text.status != StoreStatus::Ok || !(other.entryValue(*b->second) == text))
            return false;
    }
    return true;
}

// Every key but the skipped ones on a line of its own, section by section.
std::string SettingsFileText::rewritten(std::u16string_view skipSection, std::u16string_view skipKey) const
{
    std::map<std::u16string_view, std::map<std::u16string_view, const Entry*>> sections;
    for (const Entry& entry : m_entries) {
        if (!(entry.section == skipSection && (skipKey.empty() || entry.key == skipKey)))
            sections[entry.section][entry.key] = &entry;
    }
    std::string out;
    for (const auto& [section, keys] : sections) {
        out += section.empty() ? "[General]\n" : headerLine(section);
        for (const auto& [key, entry] : keys) {
            // Only the file's last line can be cut off (an open quote, a final backslash): its
            // text is written afresh.
            const StoredText text = entryValue(*entry);
            out += escapedName(key) + "=";
            if (entry->lineEnd == m_bytes.size() && text.status == StoreStatus::Ok)
                out += escapedValue(text.text);
            else
                out += m_bytes.substr(entry->valueStart, entry->lineEnd - entry->valueStart);
            out += "\n";
        }
    }
    return out;
}

std::optional<std::string> SettingsFileText::withValue(std::string_view section, std::string_view key,
                                                       std::string_view value) const
{
    const std::u16string name = sectionName(section);
    const std::u16string keyName = decodeWhole(key);
    const auto good = [&](const std::string& bytes) {
        const SettingsFileText edited(bytes);
        return edited.value(section, key) == StoredText{StoreStatus::Ok, std::string(value)}
            && sameApartFrom(edited, name, keyName);
    };
    std::string edited;
    const Entry* entry = find(name, keyName);
    // A value that already reads as this text stays in the form it was written in.
    if (entry != nullptr && entryValue(*entry) == StoredText{StoreStatus::Ok, std::string(value)})
        return m_bytes;
    const std::string line = escapedName(keyName) + "=" + escapedValue(value) + "\n";
    if (entry != nullptr) {
        edited = m_bytes.substr(0, entry->valueStart) + escapedValue(value) + m_bytes.substr(entry->lineEnd);
    } else {
        edited = m_bytes;
        if (!edited.empty() && edited.back() != '\n' && edited.back() != '\r')
            edited += '\n';
        if (m_headers.empty() || m_headers.back().section != name)
            edited += headerLine(name);
        edited += line;
    }
    if (good(edited))
        return edited;
    edited = rewritten(name, keyName) + headerLine(name) + line;
    if (good(edited))
        return edited;
    return std::nullopt;
}

std::optional<std::string> SettingsFileText::withoutSection(std::string_view section) const
{
    const std::u16string name = sectionName(section);
    bool found = false;
    for (const Entry& entry : m_entries)
        found = found || entry.section == name;
    if (!found)
        return std::nullopt;
    const auto good = [&](const std::string& bytes) {
        const SettingsFileText edited(bytes);
        for (const Entry& entry : edited.m_entries) {
            if (entry.section == name)
                return false;
        }
        return sameApartFrom(edited, name, {});
    };
    std::string edited;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_headers.size(); ++i) {
        if (m_headers[i].section != name)
            continue;
        edited += m_bytes.substr(kept, m_headers[i].start - kept);
        kept = i + 1 < m_headers.size() ? m_headers[i + 1].start : m_bytes.size();
    }
    edited += m_bytes.substr(kept);
    return good(edited) ? edited : rewritten(name, {});
}
