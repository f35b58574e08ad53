#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

/// The text of one settings file: INI as every earlier version of this program wrote and read
/// it (through QSettings), parsed from untrusted bytes without QSettings: Qt only decodes the
/// UTF-8 and the values @Variant(...) and @DateTime(...) hold (QDataStream).
///
/// Reading follows that format to the letter: "[section]" headers with %XX / %UXXXX escapes,
/// repeated sections joined, the last of repeated keys wins, ';' comments, quotes that span
/// lines, C escapes, an unquoted ',' making a list (read back joined by ","), and the "@" forms
/// (@@, @String, @ByteArray, @Variant and @DateTime with the number, text and list types they
/// can hold). A value read as text is its faithful text; anything else (a point, @Invalid(), a
/// list without items, text with a lone surrogate, a @Variant or @DateTime payload over 4 KB)
/// reads as Failed. Keys of the root section are
/// never a section's keys, and a section's keys are its own whatever other sections sort near it.
///
/// Editing keeps every byte it does not have to change: a saved value replaces the old value's
/// text on its own line (or is added at the end of the section), removing a section removes its
/// lines. An edit is checked by parsing the result; should it change any other key, the file is
/// written out afresh instead, one line per key.
class SettingsFileText {
public:
    explicit SettingsFileText(std::string bytes);
    SettingsFileText(const SettingsFileText&) = delete;  // entries point into the headers
    SettingsFileText& operator=(const SettingsFileText&) = delete;

    const std::string& bytes() const { return m_bytes; }
    /// |key| of |section|: Ok with its text, Missing, or Failed when what is stored is not text.
    StoredText value(std::string_view section, std::string_view key) const;
    /// The file with |key| of |section| holding |value|, every other key as it was; nothing
    /// when no such file could be made (an unterminated value that isn't text at its very end).
    std::optional<std::string> withValue(std::string_view section, std::string_view key,
                                         std::string_view value) const;
    /// The file without |section|'s keys; nothing when it has none.
    std::optional<std::string> withoutSection(std::string_view section) const;

private:
    struct Entry {
        std::u16string_view section;  ///< "" for the root, else the section's name and '/'
        std::u16string key;
        std::size_t lineStart;
        std::size_t valueStart;
        std::size_t lineEnd;
    };
    struct Header {
        std::u16string section;
        std::size_t start;
    };

    static bool sameName(const Entry* a, const Entry* b);
    StoredText entryValue(const Entry& entry) const;
    const Entry* find(std::u16string_view section, std::u16string_view key) const;
    bool sameApartFrom(const SettingsFileText& other, std::u16string_view section, std::u16string_view key) const;
    std::string rewritten(std::u16string_view skipSection, std::u16string_view skipKey) const;

    std::string m_bytes;
    std::vector<Entry> m_entries;
    std::vector<Header> m_headers;
};
