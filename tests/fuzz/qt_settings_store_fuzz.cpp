// The Linux settings store's file text from arbitrary bytes: the input is the whole settings
// file, parsed in memory. Reading never crashes and gives Ok, Missing or Failed; then, as at an
// exit, every value read as text is saved back with that text, which must leave the file as it
// was; a new value must read back as saved without changing any other key of any section, and
// removing the section must take its keys and nothing else.
#include <array>
#include <map>
#include <string>

#include "platform/qt/settings_file_text.h"
#include "tests/fuzz/fuzz_support.h"

template <>
struct TestPeer<SettingsFileText> {
    /// True when every key of |before| but |key| of |section| (all of |section| when |key| is
    /// null) reads the same in |after|, and |after| has no other keys: the keys no reader of ours
    /// asks for must survive an edit too. Values are compared as written first, read second.
    static bool keepsEveryOtherKey(const SettingsFileText& before, const SettingsFileText& after,
                                   std::u16string_view section, const std::u16string_view* key)
    {
        using Name = std::pair<std::u16string_view, std::u16string_view>;
        const auto last = [&](const SettingsFileText& file) {
            std::map<Name, const SettingsFileText::Entry*> found;
            for (const SettingsFileText::Entry& entry : file.m_entries) {
                if (entry.section != section || (key != nullptr && entry.key != *key))
                    found[{entry.section, entry.key}] = &entry;
            }
            return found;
        };
        const auto old = last(before);
        const auto now = last(after);
        return std::equal(old.begin(), old.end(), now.begin(), now.end(), [&](const auto& a, const auto& b) {
            return a.first == b.first
                && (before.rawValue(*a.second) == after.rawValue(*b.second)
                    || before.entryValue(*a.second) == after.entryValue(*b.second));
        });
    }
};

namespace {

constexpr std::string_view kKeys[] = {"StdDist",   "FastDist", "TimeFast", "Refresh",
                                      "LoadStart", "ScanCode", "version",  "OnOff"};
using Reading = std::array<StoredText, std::size(kKeys)>;
using Peer = TestPeer<SettingsFileText>;
constexpr std::u16string_view kEdited = u"Refresh";

Reading readAll(const SettingsFileText& file, std::string_view section = "Settings")
{
    Reading reading;
    for (std::size_t i = 0; i < std::size(kKeys); ++i)
        reading[i] = file.value(section, kKeys[i]);
    return reading;
}

} // namespace

// A "@Variant(...)" value can claim a list of a billion items, and Qt then asks for a block of
// many gigabytes that it never touches; it copes when the request fails. The sanitizer would
// shadow the whole block, so here such a request fails, as on a machine with less memory.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=1024:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const SettingsFileText original(std::string(reinterpret_cast<const char*>(data), size));
    const Reading first = readAll(original);
    const Reading other = readAll(original, "Other");
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        FUZZ_CHECK(first[i].status == StoreStatus::Ok || first[i].text.empty());
        if (first[i].status == StoreStatus::Ok)
            FUZZ_CHECK(original.withValue("Settings", kKeys[i], first[i].text) == original.bytes());
    }

    // A value with every character that needs care, saved over whatever is there.
    const std::string value = " ,;=\"\\\n\r\t\x01\xef\xbb\xbf@x ";
    {
        const SettingsFileText edited(original.withValue("Settings", "Refresh", value));
        Reading expected = first;
        expected[3] = {StoreStatus::Ok, value};
        FUZZ_CHECK(readAll(edited) == expected);
        FUZZ_CHECK(readAll(edited, "Other") == other);
        FUZZ_CHECK(Peer::keepsEveryOtherKey(original, edited, u"Settings/", &kEdited));
    }

    if (const std::optional<std::string> next = original.withoutSection("Settings")) {
        const SettingsFileText removed(*next);
        for (const StoredText& left : readAll(removed))
            FUZZ_CHECK(left.status == StoreStatus::Missing);
        FUZZ_CHECK(readAll(removed, "Other") == other);
        FUZZ_CHECK(Peer::keepsEveryOtherKey(original, removed, u"Settings/", nullptr));
    }
    return 0;
}
