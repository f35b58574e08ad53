// The Linux settings store reading arbitrary file bytes: the input is the whole settings file.
// Reading never crashes and gives Ok, Missing or Failed; then, as at an exit, every value read
// as text is saved back with that text by the same store, which must succeed; and a fresh store
// then reads every readable or missing key exactly as before (nothing saved changed, nothing
// unsaved was lost).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>

#include "platform/qt/qt_settings_store.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::string_view kKeys[] = {"StdDist",   "FastDist", "TimeFast", "Refresh",
                                      "LoadStart", "ScanCode", "version",  "OnOff"};
using Reading = std::array<StoredText, std::size(kKeys)>;

QString settingsFile;

Reading readAll(QtSettingsStore& store)
{
    Reading reading;
    for (std::size_t i = 0; i < std::size(kKeys); ++i)
        reading[i] = store.read("Pavro", "Settings", kKeys[i]);
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

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A private configuration folder, in memory where the system offers it: every input writes
    // the file a few times.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                            : QDir::tempPath();
    static QTemporaryDir root(base + QStringLiteral("/pavro-fuzz-XXXXXX"));
    FUZZ_CHECK(root.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path()));
    settingsFile = QtSettingsStore::filePath("Pavro");
    FUZZ_CHECK(QDir().mkpath(QFileInfo(settingsFile).absolutePath()));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        QFile file(settingsFile);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size))
                   == static_cast<qint64>(size));
    }

    Reading first;
    {
        QtSettingsStore store;
        first = readAll(store);
        for (std::size_t i = 0; i < std::size(kKeys); ++i) {
            const StoredText& value = first[i];
            FUZZ_CHECK(value.status == StoreStatus::Ok || value.text.empty());
            if (value.status == StoreStatus::Ok)
                FUZZ_CHECK(store.save("Pavro", "Settings", kKeys[i], value.text) == StoreStatus::Ok);
        }
    }
    // A value that read as Failed may come back in another form: QSettings rewrites the whole
    // file and drops what it cannot write. The program never took such a value, and replaces it
    // at its exit.
    QtSettingsStore fresh;
    const Reading again = readAll(fresh);
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (first[i].status != StoreStatus::Failed)
            FUZZ_CHECK(again[i].status == first[i].status && again[i].text == first[i].text);
    }
    return 0;
}
