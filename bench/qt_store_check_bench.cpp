// What the running copy pays to look at the store when nothing changed: QtSettingsStore::read
// of "OnOff" with the file untouched since the last read, each read timed on its own, in a
// private configuration folder. Also one read right after another process's kind of write (a
// new file renamed over the old one), for comparison. Prints "name=value" lines in
// microseconds: build-bench/bin/qt_store_check_bench
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/qt/qt_settings_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double microsOf(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void print(const char* name, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(std::ceil(q * double(values.size()))) - 1)];
    };
    std::printf("%s_median=%.3f\n%s_p99=%.3f\n%s_samples=%zu\n", name, at(0.5), name, at(0.99), name, values.size());
}

} // namespace

int main()
{
    char folder[] = "/tmp/pavro-store-bench.XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    setenv("XDG_CONFIG_HOME", folder, 1);
    int status = 0;
    {
        QtSettingsStore store;
        QtSettingsStore writer;  // another process's store: a cache of its own
        if (store.save("Pavro", "Settings", "OnOff", "0") != StoreStatus::Ok) {
            std::fprintf(stderr, "the store refused a write: %s\n", store.lastError().c_str());
            return 1;
        }
        std::vector<double> unchanged;
        std::vector<double> changed;
        for (int i = 0; i < 20000; ++i) {
            const Clock::time_point start = Clock::now();
            const StoredText text = store.read("Pavro", "Settings", "OnOff");
            const Clock::time_point end = Clock::now();
            if (text.status != StoreStatus::Ok)
                status = 1;
            if (i >= 100)
                unchanged.push_back(microsOf(end - start));
        }
        for (int i = 0; i < 200; ++i) {
            if (writer.save("Pavro", "Settings", "OnOff", i % 2 ? "0" : "1") != StoreStatus::Ok)
                status = 1;
            const Clock::time_point start = Clock::now();
            const StoredText text = store.read("Pavro", "Settings", "OnOff");
            const Clock::time_point end = Clock::now();
            if (text.text != (i % 2 ? "0" : "1"))
                status = 1;
            changed.push_back(microsOf(end - start));
        }
        print("store_read_unchanged", unchanged);
        print("store_read_changed", changed);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (status != 0)
        std::fprintf(stderr, "a read did not give what was stored\n");
    return status;
}
