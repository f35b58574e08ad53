#include "platform/qt/qt_settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString settingsKey(std::string_view section, std::string_view key)
{
    return toQString(section) + QLatin1Char('/') + toQString(key);
}

std::string convertedKey(std::string_view app, std::string_view section, std::string_view key)
{
    std::string joined;
    joined.reserve(app.size() + section.size() + key.size() + 2);
    joined.append(app).push_back('\n');
    joined.append(section).push_back('\n');
    joined.append(key);
    return joined;
}

/// |text| as UTF-8; nothing when it holds a lone surrogate (a malformed "\x" escape gives one),
/// which has no UTF-8 form and which QSettings drops when it writes the value back.
std::optional<std::string> utf8Text(const QString& text)
{
    if (!text.isValidUtf16())
        return std::nullopt;
    return text.toStdString();
}

/// The text a non-text stored value faithfully stands for, or nothing.
std::optional<std::string> faithfulText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return utf8Text(value.toString());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        // An unquoted "1,5" (a decimal comma typed by hand) arrives as a list; its items joined
        // with "," give back what was typed, apart from blanks QSettings trimmed around them.
        // When an item starts with '@' ("@5,5") the items are values of their own, and QSettings
        // writes such a list back with the '@' escaped, as a list of strings: both read as the
        // same text. An empty list has none: QSettings writes it back as @Invalid().
        const QVariantList items = value.toList();
        if (items.isEmpty())
            return std::nullopt;
        std::string joined;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const std::optional<std::string> item = faithfulText(items[i]);
            if (!item)
                return std::nullopt;
            joined += (i == 0 ? "" : ",") + *item;
        }
        return joined;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder(bytes);
        if (decoder.hasError())
            return std::nullopt;
        return decoded.toStdString();
    }
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

/// Where the private alias folder goes: the session's runtime folder when there is one,
/// else the temporary folder. QTemporaryDir makes it 0700.
QString aliasTemplate()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir(base).exists())
        base = QDir::tempPath();
    return base + QStringLiteral("/settings-alias-XXXXXX");
}

}  // namespace

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::~QtSettingsStore()
{
    for (auto& [app, snapshot] : m_snapshots) {
        snapshot.settings.reset();
        dropAlias(snapshot.aliasPath);
    }
    if (m_aliasRoot) {
        // Every alias is removed right after use, so the folder is empty here; rmdir rather
        // than a recursive removal, which must never walk through a link into the real folder.
        const QString root = m_aliasRoot->path();
        m_aliasRoot.reset();
        QDir().rmdir(root);
    }
}

QString QtSettingsStore::filePath(std::string_view app)
{
    const QString name = toQString(app);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + name + QLatin1Char('/') + name + QStringLiteral(".conf");
}

QtSettingsStore::FileIdentity QtSettingsStore::identify(const QByteArray& encodedPath)
{
    FileIdentity identity;
    struct stat info {};
    if (::stat(encodedPath.constData(), &info) != 0)
        return identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.mtimeSeconds = info.st_mtim.tv_sec;
    identity.mtimeNanoseconds = info.st_mtim.tv_nsec;
    return identity;
}

// WORKAROUND: QSettings keeps one parsed copy per file path for the whole process and re-reads
// it only when the size or the millisecond modification time differ, so a same-size rewrite by
// another process within the same millisecond is never seen, not even by a new QSettings.
// Opening the file through a fresh path (a link to the real folder under a new name) gives a
// copy of its own, read from disk. Locking and the atomic rename still happen in the real
// folder, since the link resolves to it.
std::unique_ptr<QSettings> QtSettingsStore::openFresh(std::string_view app, QString& aliasPath)
{
    if (!m_aliasRoot) {
        m_aliasRoot = std::make_unique<QTemporaryDir>(aliasTemplate());
        m_aliasRoot->setAutoRemove(false);
        if (!m_aliasRoot->isValid()) {
            m_aliasRoot.reset();
            return nullptr;
        }
    }
    const QString realFolder = QFileInfo(filePath(app)).absolutePath();
    aliasPath = m_aliasRoot->path() + QLatin1Char('/') + QString::number(++m_aliasCounter);
    if (::symlink(QFile::encodeName(realFolder).constData(), QFile::encodeName(aliasPath).constData()) != 0) {
        aliasPath.clear();
        return nullptr;
    }
    const QString name = toQString(app);
    return std::make_unique<QSettings>(aliasPath + QLatin1Char('/') + name + QStringLiteral(".conf"),
                                       QSettings::NativeFormat);
}

void QtSettingsStore::dropAlias(QString& aliasPath)
{
    if (aliasPath.isEmpty())
        return;
    ::unlink(QFile::encodeName(aliasPath).constData());
    aliasPath.clear();
}

void QtSettingsStore::forget(std::string_view app)
{
    const auto found = m_snapshots.find(app);
    if (found == m_snapshots.end())
        return;
    found->second.settings.reset();
    dropAlias(found->second.aliasPath);
    found->second.valid = false;
}

StoredText QtSettingsStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    auto found = m_snapshots.find(app);
    if (found == m_snapshots.end())
        found = m_snapshots.emplace(std::string(app), Snapshot{}).first;
    Snapshot& snapshot = found->second;

    // stat() before parsing: whatever is parsed is at least as new as the identity kept, so a
    // write that lands in between only causes one more parse at the next read.
    if (snapshot.encodedPath.isEmpty())
        snapshot.encodedPath = QFile::encodeName(filePath(app));
    const FileIdentity now = identify(snapshot.encodedPath);
    if (!snapshot.valid || !(snapshot.identity == now)) {
        snapshot.settings.reset();
        dropAlias(snapshot.aliasPath);
        snapshot.valid = false;
        if (now.exists) {
            snapshot.settings = openFresh(app, snapshot.aliasPath);
            if (!snapshot.settings)
                return {StoreStatus::Failed, {}};
            // QSettings read the whole file while opening; the link is no longer needed.
            dropAlias(snapshot.aliasPath);
        }
        snapshot.identity = now;
        snapshot.valid = true;
    }

    if (!snapshot.settings)
        return {StoreStatus::Missing, {}};
    if (snapshot.settings->status() == QSettings::AccessError)
        return {StoreStatus::Failed, {}};

    const QString name = settingsKey(section, key);
    if (!snapshot.settings->contains(name))
        return {StoreStatus::Missing, {}};
    const QVariant value = snapshot.settings->value(name);
    std::optional<std::string> text = faithfulText(value);
    std::string remembered = convertedKey(app, section, key);
    if (!text) {
        m_converted.erase(remembered);
        return {StoreStatus::Failed, {}};
    }
    if (value.typeId() == QMetaType::QString)
        m_converted.erase(remembered);
    else
        m_converted.insert_or_assign(std::move(remembered), ConvertedValue{*text, value});
    return {StoreStatus::Ok, std::move(*text)};
}

StoreStatus QtSettingsStore::save(std::string_view app, std::string_view section, std::string_view key,
                                  std::string_view value)
{
    const QString path = filePath(app);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return StoreStatus::Failed;

    QVariant stored = toQString(value);
    const auto converted = m_converted.find(convertedKey(app, section, key));
    if (converted != m_converted.end() && converted->second.text == value)
        stored = converted->second.original;

    const FileIdentity before = identify(QFile::encodeName(path));
    QString aliasPath;
    std::unique_ptr<QSettings> settings = openFresh(app, aliasPath);
    if (!settings)
        return StoreStatus::Failed;
    settings->setValue(settingsKey(section, key), stored);
    settings->sync();
    const QSettings::Status status = settings->status();
    settings.reset();
    dropAlias(aliasPath);
    forget(app);

    // The status sticks at the first problem, so a file that merely had a malformed line still
    // reports FormatError after a good write; the new file (a rename gives a new inode) tells.
    const FileIdentity after = identify(QFile::encodeName(path));
    if (status == QSettings::AccessError || !after.exists || after == before)
        return StoreStatus::Failed;
    return StoreStatus::Ok;
}

StoreStatus QtSettingsStore::removeSection(std::string_view app, std::string_view section)
{
    const QString path = filePath(app);
    const FileIdentity before = identify(QFile::encodeName(path));
    if (!before.exists)
        return StoreStatus::Missing;

    QString aliasPath;
    std::unique_ptr<QSettings> settings = openFresh(app, aliasPath);
    if (!settings)
        return StoreStatus::Failed;
    StoreStatus result = StoreStatus::Ok;
    if (settings->status() == QSettings::AccessError) {
        result = StoreStatus::Failed;
    } else {
        const QString group = toQString(section);
        settings->beginGroup(group);
        const bool present = !settings->allKeys().isEmpty();
        settings->endGroup();
        if (!present) {
            result = StoreStatus::Missing;
        } else {
            settings->remove(group);
            settings->sync();
            const QSettings::Status status = settings->status();
            const FileIdentity after = identify(QFile::encodeName(path));
            if (status == QSettings::AccessError || after == before)
                result = StoreStatus::Failed;
        }
    }
    settings.reset();
    dropAlias(aliasPath);
    forget(app);
    m_converted.clear();
    return result;
}
