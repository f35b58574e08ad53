#include "platform/qt/settings_file_text.h"

#include <QByteArray>
#include <QDataStream>
#include <QString>
#include <QStringDecoder>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

namespace {

// ---- Text is decoded by Qt's UTF-8 decoder, as the files always were: each byte that starts no
// valid sequence becomes one U+FFFD.

bool startsWithBom(std::string_view bytes) { return bytes.substr(0, 3) == "\xEF\xBB\xBF"; }

QByteArrayView bytesOf(std::string_view text) { return {text.data(), static_cast<qsizetype>(text.size())}; }

QStringView viewOf(std::u16string_view text) { return {text.data(), static_cast<qsizetype>(text.size())}; }

void append(std::u16string& text, QStringView more)
{
    text.append(more.utf16(), static_cast<std::size_t>(more.size()));
}

/// A whole key or section name: a leading byte order mark is dropped.
std::u16string decodeWhole(std::string_view bytes)
{
    if (startsWithBom(bytes))
        bytes.remove_prefix(3);
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::u16string(bytes.begin(), bytes.end());
    return QString::fromUtf8(bytesOf(bytes)).toStdU16String();
}

/// UTF-8 of |text|; nothing when it holds a lone surrogate.
std::optional<std::string> utf8Of(QStringView text)
{
    if (!text.isValidUtf16())
        return std::nullopt;
    return text.toUtf8().toStdString();
}

/// Bytes that are strictly valid UTF-8 (a leading byte order mark dropped) as text.
std::optional<std::string> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text.toStdString();
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

int octalValue(char16_t c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/// ASCII letters in lower case, as section names compare with "General".
std::string lowered(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return lower;
}

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
// |data| must be followed by a NUL in memory (a prefix of a std::string is).

bool nextLine(std::string_view data, std::size_t& pos, std::size_t& start, std::size_t& end, std::size_t& equals)
{
    const auto lineBreak = [](char c) { return c == '\n' || c == '\r'; };
    std::size_t i = pos;
    for (;;) {
        while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || lineBreak(data[i])))
            ++i;
        if (i == data.size() || data[i] != ';')
            break;
        while (i < data.size() && !lineBreak(data[i]))
            ++i;
    }
    start = i;
    equals = std::string_view::npos;
    bool inQuotes = false;
    while (i < data.size()) {
        // Ordinary bytes are skipped in bulk: |data| lies within a NUL-terminated string, and a NUL
        // inside it is ordinary too.
        i = std::min(data.size(), i + std::strcspn(data.data() + i, "=\n\r\\\";"));
        if (i == data.size())
            break;
        const char c = data[i++];
        if (c == '=' && !inQuotes && equals == std::string_view::npos) {
            equals = i - 1;
        } else if (c == '\\' && i < data.size()) {
            // An escaped line break may be two characters.
            const bool pair =
                i + 1 < data.size() && lineBreak(data[i]) && lineBreak(data[i + 1]) && data[i] != data[i + 1];
            i += pair ? 2 : 1;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if ((lineBreak(c) || c == ';') && !inQuotes) {
            --i;
            break;
        }
    }
    pos = end = i;
    return end > start;
}

/// A key or section name: '\' stands for '/', %XX and %UXXXX for that character.
std::u16string unescapedName(std::string_view raw)
{
    raw = trimmed(raw);
    // A plain name, the common case, is its own text.
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return c > 0 && c != '%' && c != '\\'; }))
        return std::u16string(raw.begin(), raw.end());
    const std::u16string decoded = decodeWhole(raw);
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

/// A value's text (quotes, C escapes, blanks trimmed unless quoted); true, with the items in
/// |items|, when an unquoted ',' made it a list.
bool unescapedValue(std::string_view raw, std::u16string& text, std::vector<std::u16string>& items)
{
    static constexpr std::string_view kNamed = "abfnrtv\"?'\\";
    static constexpr std::u16string_view kMeaning = u"\a\b\f\n\r\t\v\"?'\\";
    // The text between escapes goes through one decoder: a sequence cut by an escape is finished
    // by the next piece (after the escaped character), a byte order mark as the value's first
    // character is dropped, and a sequence still open at the end is lost, as it always was.
    QStringDecoder decoder(QStringDecoder::Utf8);
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    std::size_t kept = 0;  // unquoted blanks at the end are trimmed, but not from before here
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
            ++i;
        kept = text.size();
    };
    const auto trim = [&] {
        while (!quoted && text.size() > kept && (text.back() == u' ' || text.back() == u'\t'))
            text.pop_back();
    };
    // \x and \ followed by octal digits take every digit that follows from |from|, kept to 16 bits.
    const auto number = [&](int bits, int (*digit)(char16_t), std::size_t from) {
        char16_t value = 0;
        i = from;
        for (; i < raw.size() && digit(static_cast<unsigned char>(raw[i])) >= 0; ++i)
            value = static_cast<char16_t>((value << bits) + digit(static_cast<unsigned char>(raw[i])));
        text += value;
    };
    skipBlanks();
    while (i < raw.size()) {
        const char c = raw[i++];
        if (c == '\\') {
            const char next = i < raw.size() ? raw[i++] : '\0';
            const std::size_t named = kNamed.find(next);
            if (named != std::string_view::npos)
                text += kMeaning[named];
            else if (next == 'x' && i < raw.size() && hexValue(static_cast<unsigned char>(raw[i])) >= 0)
                number(4, hexValue, i);
            else if (next >= '0' && next <= '7')
                number(3, octalValue, i - 1);
            else if ((next == '\n' || next == '\r') && i < raw.size() && (raw[i] == '\n' || raw[i] == '\r')
                     && raw[i] != next)
                ++i;  // an escaped line break of two characters
            kept = text.size();
        } else if (c == '"') {
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            trim();
            isList = true;
            items.push_back(std::move(text));
            text.clear();
            quoted = false;
            skipBlanks();
        } else {
            // Pieces end at a ',' in quotes too: Qt's decoder drops a byte after an unfinished
            // sequence at a piece's end, and the file was always read that way.
            const std::size_t end = std::min(raw.size(), raw.find_first_of("\\\",", i));
            append(text, QString(decoder(bytesOf(raw.substr(i - 1, end - i + 1)))));
            i = end;
        }
    }
    trim();
    if (isList)
        items.push_back(std::move(text));
    return isList;
}

// ---- Values that earlier versions (or another program) stored as something other than text:
// @Variant(...) and @DateTime(...) hold a QVariant as QDataStream writes it.

/// Qt reads nested lists by recursion, so a payload nested deep enough exhausts the stack. A
/// value of ours takes a few dozen bytes; a payload over this is not read.
constexpr qsizetype kMaxStreamedValue = 4096;

/// The text a value of another type faithfully stands for, or nothing.
std::optional<std::string> textOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return utf8Of(value.toString());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        // Items joined by ","; an empty list has no text.
        const QVariantList items = value.toList();
        std::optional<std::string> joined;
        for (const QVariant& item : items) {
            const std::optional<std::string> text = textOf(item);
            if (!text)
                return std::nullopt;
            joined = joined ? *joined + "," + *text : *text;
        }
        return joined;
    }
    case QMetaType::QByteArray:
        return strictUtf8(value.toByteArray());
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toString().toStdString();
    default:
        return std::nullopt;
    }
}

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
            return strictUtf8(viewOf(text.substr(11, text.size() - 12)).toLatin1());
        if (starts(u"@String("))
            return utf8Of(viewOf(text.substr(8, text.size() - 9)));
        if (starts(u"@Variant(") || starts(u"@DateTime(")) {
            const bool dateTime = text[1] == u'D';
            const QByteArray data = viewOf(text.substr(dateTime ? 10 : 9)).toLatin1();
            if (data.size() > kMaxStreamedValue)
                return std::nullopt;
            QDataStream stream(data);
            stream.setVersion(dateTime ? QDataStream::Qt_5_15 : QDataStream::Qt_4_0);
            QVariant value;
            stream >> value;
            return textOf(value);
        }
        if ((starts(u"@Rect(") && argumentCount(text, 5) == 4) || (starts(u"@Size(") && argumentCount(text, 5) == 2)
            || (starts(u"@Point(") && argumentCount(text, 6) == 2) || text == u"@Invalid()")
            return std::nullopt;
    }
    return utf8Of(viewOf(starts(u"@@") ? text.substr(1) : text));
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
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        // A '\' just before the '=' would escape it.
        if (c == u'/' && i + 1 < name.size()) {
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

/// The header of |section| ("" for the root): "[General]" means the root, so a section of that
/// name is written as "[%General]".
std::string headerLine(std::u16string_view section)
{
    if (section.empty())
        return "[General]\n";
    const std::string name = escapedName(section.substr(0, section.size() - 1));
    return (lowered(name) == "general" ? "[%" : "[") + name + "]\n";
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
    std::vector<std::size_t> bounds;  // where each header starts and its section's lines begin
    while (nextLine(data, pos, start, end, equals)) {
        if (data[start] != '[')
            continue;
        const std::string_view line = data.substr(start, end - start);
        const std::string_view name = trimmed(line.substr(1, std::min(line.find(']'), line.size()) - 1));
        const std::string lower = lowered(name);
        std::u16string section;
        if (lower == "%general")
            section = decodeWhole(name.substr(1)) + u'/';
        else if (lower != "general")
            section = unescapedName(name) + u'/';
        m_sections.push_back(std::move(section));
        bounds.insert(bounds.end(), {start, pos});
    }
    // Each section's lines are read on their own, the root's from the very start of the file, as
    // they always were.
    for (std::size_t i = 0; i <= m_sections.size(); ++i) {
        const std::string_view body = data.substr(0, i < m_sections.size() ? bounds[2 * i] : data.size());
        pos = i == 0 ? 0 : bounds[2 * i - 1];
        while (nextLine(body, pos, start, end, equals)) {
            if (equals != std::string_view::npos)
                m_entries.push_back({i == 0 ? std::u16string_view() : std::u16string_view(m_sections[i - 1]),
                                     unescapedName(body.substr(start, equals - start)), equals + 1, end});
        }
    }
}

const SettingsFileText::Entry* SettingsFileText::find(std::u16string_view section, std::u16string_view key) const
{
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (entry->key == key && entry->section == section)
            return &*entry;
    }
    return nullptr;
}

std::string_view SettingsFileText::rawValue(const Entry& entry) const
{
    return std::string_view(m_bytes).substr(entry.valueStart, entry.valueEnd - entry.valueStart);
}

StoredText SettingsFileText::entryValue(const Entry& entry) const
{
    std::u16string text;
    std::vector<std::u16string> items;
    const bool isList = unescapedValue(rawValue(entry), text, items);
    const std::optional<std::string> found = isList ? textOf(items) : textOf(text);
    if (!found)
        return {StoreStatus::Failed, {}};
    return {StoreStatus::Ok, *found};
}

namespace {

std::u16string sectionName(std::string_view section) { return decodeWhole(section) + u'/'; }

}  // namespace

StoredText SettingsFileText::value(std::string_view section, std::string_view key) const
{
    const auto ascii = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0; });
    };
    if (!ascii(section) || !ascii(key)) {
        const Entry* entry = find(sectionName(section), decodeWhole(key));
        return entry ? entryValue(*entry) : StoredText{StoreStatus::Missing, {}};
    }
    // Plain ASCII, the tick's case, is compared without decoding or allocating.
    const auto spells = [](std::u16string_view name, std::string_view text) {
        return name.size() == text.size() && std::equal(text.begin(), text.end(), name.begin());
    };
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (spells(entry->key, key) && !entry->section.empty()
            && spells(entry->section.substr(0, entry->section.size() - 1), section))
            return entryValue(*entry);
    }
    return {StoreStatus::Missing, {}};
}

// The file written afresh: the last of each key but the dropped ones (|key| of |section|, or the
// whole section when |key| is null) on a line of its own, section by section, its value as it was
// written; |added| joins |section| as |key|'s value.
std::string SettingsFileText::rewritten(std::u16string_view section, const std::u16string* key,
                                        std::string_view added) const
{
    std::map<std::u16string_view, std::map<std::u16string_view, std::string_view>> sections;
    for (const Entry& entry : m_entries) {
        // A value ending in an escaped '\r' keeps the character that ended it: a '\n' right after
        // it would continue the line.
        const bool endsInReturn = entry.valueEnd > entry.valueStart && entry.valueEnd < m_bytes.size()
            && m_bytes[entry.valueEnd - 1] == '\r';
        const std::size_t length = entry.valueEnd - entry.valueStart + (endsInReturn ? 1 : 0);
        if (entry.section != section || (key != nullptr && entry.key != *key))
            sections[entry.section][entry.key] = std::string_view(m_bytes).substr(entry.valueStart, length);
    }
    // A value the end of the file cuts short (an open quote, a final backslash) is cut short the
    // same way only at the end: it goes last, as it was.
    std::string last;
    if (!m_entries.empty() && m_entries.back().valueEnd == m_bytes.size()) {
        const Entry& entry = m_entries.back();
        const auto found = sections.find(entry.section);
        if (found != sections.end() && found->second.erase(entry.key) != 0)
            last = headerLine(entry.section) + escapedName(entry.key) + "=" + std::string(rawValue(entry));
    }
    if (key != nullptr)
        sections[section][*key] = added;
    std::string out;
    for (const auto& [name, keys] : sections) {
        if (keys.empty())
            continue;
        out += headerLine(name);
        for (const auto& [keyName, raw] : keys) {
            out += escapedName(keyName);
            out += '=';
            out += raw;
            out += '\n';
        }
    }
    return out + last;
}

std::string SettingsFileText::withValue(std::string_view section, std::string_view key, std::string_view value) const
{
    const std::u16string name = sectionName(section);
    const std::u16string keyName = decodeWhole(key);
    const Entry* entry = find(name, keyName);
    // A value that already reads as this text stays in the form it was written in.
    if (entry != nullptr && entryValue(*entry) == StoredText{StoreStatus::Ok, std::string(value)})
        return m_bytes;
    return rewritten(name, &keyName, escapedValue(value));
}

std::optional<std::string> SettingsFileText::withoutSection(std::string_view section) const
{
    const std::u16string name = sectionName(section);
    if (std::none_of(m_entries.begin(), m_entries.end(), [&](const Entry& entry) { return entry.section == name; }))
        return std::nullopt;
    return rewritten(name, nullptr, {});
}
