#include <ostream>

#include "engine/numbers.h"
#include "shell/tray_program.h"

namespace {

constexpr std::string_view kFieldKeys[4] = {"StdDist", "FastDist", "TimeFast", "Refresh"};
constexpr std::string_view kStoreReadFailureText = "The settings cannot be read, the defaults are used";
constexpr std::string_view kCheckKeys[2] = {"LoadStart", "ScanCode"};

} // namespace

std::string TrayProgram::readSetting(std::string_view key, std::string_view fallback, bool& ok)
{
    const StoredText stored = m_platform.store.read(kAppName, kSectionName, key);
    ok = stored.status != StoreStatus::Failed;
    if (!ok && !m_platform.store.lastError().empty())
        noteStoreFailure(kStoreReadFailureText);
    if (stored.status == StoreStatus::Ok)
        return stored.text;
    return std::string(fallback);
}

void TrayProgram::LoadSettings()
{
    // Each statement stands alone: a value that can't be read or taken is skipped and the
    // control keeps what it had.
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const std::string text = readSetting(kFieldKeys[i], decimalText(kRowDefaults[i]), ok);
        if (ok)
            setMotionField(i, text);
    }
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        const std::string text = readSetting(kCheckKeys[i], "0", ok);
        if (!ok)
            continue;
        const auto number = parseNumber(text, m_platform.decimalSeparator);
        if (!number)
            continue;
        if (const auto value = toInteger16(*number))
            setOptionCheck(i, *value);
    }
}

std::optional<std::int16_t> TrayProgram::versionNumber(AppVersion version)
{
    // 16-bit arithmetic, each product and sum tested.
    const auto fits = [](long value) { return value >= -32768 && value <= 32767; };
    const long major = static_cast<long>(version.major) * 10000;
    if (!fits(major))
        return std::nullopt;
    const long minor = static_cast<long>(version.minor) * 100;
    if (!fits(minor))
        return std::nullopt;
    const long sum = major + minor;
    if (!fits(sum))
        return std::nullopt;
    const long total = sum + version.revision;
    if (!fits(total))
        return std::nullopt;
    return static_cast<std::int16_t>(total);
}

bool TrayProgram::SaveSettings()
{
    SettingsStore& store = m_platform.store;
    const auto saved = [&](std::string_view key, std::string_view text) {
        if (store.save(kAppName, kSectionName, key, text) == StoreStatus::Ok)
            return true;
        m_saveError = store.lastError();
        if (m_saveError.empty())
            m_saveError = "the settings store refused " + std::string(key);
        return false;
    };
    for (int i = 0; i < 4; ++i) {
        if (!saved(kFieldKeys[i], m_controls.motionFields[i]))
            return false;
    }
    for (int i = 0; i < 2; ++i) {
        if (!saved(kCheckKeys[i], decimalText(m_controls.optionChecks[i])))
            return false;
    }
    const auto version = versionNumber(m_platform.version);
    if (!version) {
        m_saveError = "the version number does not fit";
        return false;
    }
    return saved("version", decimalText(*version));
}

void TrayProgram::noteStoreFailure(std::string_view what)
{
    if (!m_storeFailure.empty())
        return;
    const std::string reason = m_platform.store.lastError();
    m_storeFailure = withReason(what, reason);
    tellStoreFailure();
}

void TrayProgram::tellStoreFailure()
{
    if (!m_trayReady || m_storeFailureTold || m_storeFailure.empty())
        return;
    m_storeFailureTold = true;
    m_platform.tray.showMessage("Pavro", m_storeFailure);
    if (m_platform.errors)
        *m_platform.errors << "Pavro: " << m_storeFailure << '\n';
}
