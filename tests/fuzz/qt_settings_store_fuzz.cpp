// The Linux settings store's file text from arbitrary bytes: the input is the whole settings
// file, parsed in memory. Reading never crashes and gives Ok, Missing or Failed; then, as at an
// exit, every value read as text is saved back with that text, which must leave the file as it
// was; a new value must read back as saved without changing any other key of any section, and
// removing the section must take its keys and nothing else.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

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
        // The last entry of each name, in one order of names for both files: sizes, then bytes.
        const auto order = [](std::u16string_view a, std::u16string_view b) {
            if (a.size() != b.size())
                return a.size() < b.size() ? -1 : 1;
            return a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t));
        };
        const auto last = [&](const SettingsFileText& file) {
            std::vector<const SettingsFileText::Entry*> found;
            for (const SettingsFileText::Entry& entry : file.m_entries) {
                if (entry.section != section || (key != nullptr && entry.key != *key))
                    found.push_back(&entry);
            }
            std::sort(found.begin(), found.end(), [&](const auto* a, const auto* b) {
                const int bySection = order(a->section, b->section);
                const int byName = bySection != 0 ? bySection : order(a->key, b->key);
                return byName != 0 ? byName < 0 : a > b;
            });
            const auto same = [](const auto* a, const auto* b) { return a->section == b->section && a->key == b->key; };
            found.erase(std::unique(found.begin(), found.end(), same), found.end());
            return found;
        };
        const auto old = last(before);
        const auto now = last(after);
        return std::equal(old.begin(), old.end(), now.begin(), now.end(), [&](const auto* a, const auto* b) {
            return a->section == b->section && a->key == b->key
                && (before.rawValue(*a) == after.rawValue(*b) || before.entryValue(*a) == after.entryValue(*b));
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

// A "@Variant(...)" value can claim a list or text of millions or billions of items, and Qt then
// asks for a block it never touches; it copes when the request fails. The sanitizer shadows every
// block it grants, which took half of a long run's time (in the kernel), so here a request over
// 64 MB fails, as on a machine with less memory. libFuzzer's own largest block is about 20 MB.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=64:allocator_may_return_null=1";
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
