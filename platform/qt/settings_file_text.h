#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"
#include "platform/test_peer.h"

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
/// reads as Failed. Keys of the root section are never a section's keys, and a section's keys
/// are its own whatever other sections sort near it.
///
/// Editing writes the file afresh, as earlier versions did: the last of each key on a line of its
/// own, section by section, every value but the changed one in the very form it was written in.
/// Comments, lines that are not keys and repeated keys go.
class SettingsFileText {
public:
    explicit SettingsFileText(std::string bytes);
    SettingsFileText(const SettingsFileText&) = delete;  // entries point into the section names
    SettingsFileText& operator=(const SettingsFileText&) = delete;

    const std::string& bytes() const { return m_bytes; }
    /// |key| of |section|: Ok with its text, Missing, or Failed when what is stored is not text.
    StoredText value(std::string_view section, std::string_view key) const;
    /// The file with |key| of |section| holding |value| and every other key as it was.
    std::string withValue(std::string_view section, std::string_view key, std::string_view value) const;
    /// The file without |section|'s keys; nothing when it has none.
    std::optional<std::string> withoutSection(std::string_view section) const;

private:
    friend struct TestPeer<SettingsFileText>;
    struct Entry {
        std::u16string_view section;  ///< "" for the root, else the section's name and '/'
        std::u16string key;
        std::size_t valueStart;
        std::size_t valueEnd;
    };

    const Entry* find(std::u16string_view section, std::u16string_view key) const;
    std::string_view rawValue(const Entry& entry) const;
    StoredText entryValue(const Entry& entry) const;
    std::string rewritten(std::u16string_view section, const std::u16string* key, std::string_view added) const;

    std::string m_bytes;
    std::vector<std::u16string> m_sections;
    std::vector<Entry> m_entries;
};
