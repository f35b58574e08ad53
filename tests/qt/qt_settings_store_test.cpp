#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QSettings>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "platform/qt/qt_settings_store.h"

namespace {

/// Each test gets its own configuration folder.
class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        m_runtime = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
    }

    QString file(const QString& app = QStringLiteral("Pavro")) const
    {
        return m_config.path() + QLatin1Char('/') + app + QLatin1Char('/') + app + QStringLiteral(".conf");
    }

    /// Writes |content| the way another process's atomic save does (temporary file, rename),
    /// with the given modification time.
    void writeRaw(const QByteArray& content, timespec modified)
    {
        QDir().mkpath(QFileInfo(file()).absolutePath());
        const QByteArray temporary = QFile::encodeName(file() + QStringLiteral(".new"));
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.constData(), static_cast<size_t>(content.size())), content.size());
        const timespec times[2] = {modified, modified};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
        ASSERT_EQ(::rename(temporary.constData(), QFile::encodeName(file()).constData()), 0);
    }

    /// What a plain QSettings (as any other program would) finds under |key|.
    QVariant independentValue(const QString& key)
    {
        QSettings settings(file(), QSettings::NativeFormat);
        return settings.value(key);
    }

    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_runtime;
};

TEST_F(QtSettingsStoreTest, ReadsMissingFileKeyAndSectionAsMissing)
{
    QtSettingsStore store;
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Missing);
    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "25"), StoreStatus::Ok);
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Missing);
    EXPECT_EQ(store.read("Pavro", "Other", "StdDist").status, StoreStatus::Missing);
    const StoredText found = store.read("Pavro", "Settings", "StdDist");
    EXPECT_EQ(found.status, StoreStatus::Ok);
    EXPECT_EQ(found.text, "25");
}

// Another process rewrites the file with the same size within the same millisecond: a plain
// QSettings keeps the old value; the store must not.
TEST_F(QtSettingsStoreTest, SeesSameSizeRewritesWithinOneMillisecond)
{
    QtSettingsStore store;
    timespec when{1700000000, 100000000};
    writeRaw("[Settings]\nOnOff=0\n", when);
    ASSERT_EQ(store.read("Pavro", "Settings", "OnOff").text, "0");
    for (int round = 0; round < 50; ++round) {
        const char* next = (round % 2 == 0) ? "1" : "0";
        when.tv_nsec += 1000;
        writeRaw(QByteArray("[Settings]\nOnOff=") + next + "\n", when);
        const StoredText found = store.read("Pavro", "Settings", "OnOff");
        ASSERT_EQ(found.status, StoreStatus::Ok);
        ASSERT_EQ(found.text, next) << "round " << round;
    }
    // Identical size and identical timestamp: only the new inode of the rename tells.
    writeRaw("[Settings]\nOnOff=7\n", when);
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").text, "7");
}

TEST_F(QtSettingsStoreTest, SeesWritesOfAnotherStoreAndRemovalOfTheFile)
{
    QtSettingsStore running;
    QtSettingsStore secondLaunch;
    ASSERT_EQ(running.save("Pavro", "Settings", "OnOff", "0"), StoreStatus::Ok);
    ASSERT_EQ(running.read("Pavro", "Settings", "OnOff").text, "0");
    for (const char* value : {"1", "0", "1"}) {
        ASSERT_EQ(secondLaunch.save("Pavro", "Settings", "OnOff", value), StoreStatus::Ok);
        EXPECT_EQ(running.read("Pavro", "Settings", "OnOff").text, value);
    }
    ASSERT_TRUE(QFile::remove(file()));
    EXPECT_EQ(running.read("Pavro", "Settings", "OnOff").status, StoreStatus::Missing);
}

// While the file keeps its identity the parsed copy is used: an in-place edit that restores
// size and timestamp goes unseen, which shows that no parse took place.
TEST_F(QtSettingsStoreTest, DoesNotParseAnUnchangedFile)
{
    QtSettingsStore store;
    const timespec when{1700000000, 123456789};
    writeRaw("[Settings]\nOnOff=0\n", when);
    ASSERT_EQ(store.read("Pavro", "Settings", "OnOff").text, "0");
    {
        const int fd = ::open(QFile::encodeName(file()).constData(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "1", 1, 17), 1);
        const timespec times[2] = {when, when};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").text, "0");
}

TEST_F(QtSettingsStoreTest, OddTextsRoundTripExactly)
{
    const std::vector<std::string> values{"",       "abc",          "1e400", "99999999999999999999", "line\nbreak",
                                          "a=b",    "[Settings]",   ";#",    "\"quoted\"",           "@Variant(x)",
                                          "  25  ", "1, 2",         "\xc3\xa9t\xc3\xa9", "tab\there", "back\\slash"};
    {
        QtSettingsStore store;
        for (std::size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(store.save("Pavro", "Settings", "K" + std::to_string(i), values[i]), StoreStatus::Ok);
    }
    QtSettingsStore reader;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const StoredText found = reader.read("Pavro", "Settings", "K" + std::to_string(i));
        EXPECT_EQ(found.status, StoreStatus::Ok) << i;
        EXPECT_EQ(found.text, values[i]) << i;
    }
}

// Values another program stored as something other than text.
TEST_F(QtSettingsStoreTest, ReadsNonTextValuesAsTextOnlyWhenFaithfulAndWritesThemBackAsTheyWere)
{
    QDir().mkpath(QFileInfo(file()).absolutePath());
    {
        QFile raw(file());
        ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
        raw.write("[Settings]\n"
                  "StdDist=1,5\n"
                  "FastDist=@ByteArray(80)\n"
                  "TimeFast=@ByteArray(\\xff\\xfe)\n"
                  "Refresh=@Invalid()\n");
    }
    {
        QSettings other(file(), QSettings::NativeFormat);
        other.setValue(QStringLiteral("Settings/LoadStart"), QPoint(1, 2));
    }

    QtSettingsStore store;
    const StoredText list = store.read("Pavro", "Settings", "StdDist");
    EXPECT_EQ(list.status, StoreStatus::Ok);
    EXPECT_EQ(list.text, "1,5");
    const StoredText bytes = store.read("Pavro", "Settings", "FastDist");
    EXPECT_EQ(bytes.status, StoreStatus::Ok);
    EXPECT_EQ(bytes.text, "80");
    EXPECT_EQ(store.read("Pavro", "Settings", "TimeFast").status, StoreStatus::Failed);
    EXPECT_EQ(store.read("Pavro", "Settings", "Refresh").status, StoreStatus::Failed);
    EXPECT_EQ(store.read("Pavro", "Settings", "LoadStart").status, StoreStatus::Failed);

    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "1,5"), StoreStatus::Ok);
    ASSERT_EQ(store.save("Pavro", "Settings", "FastDist", "80"), StoreStatus::Ok);
    EXPECT_EQ(independentValue(QStringLiteral("Settings/StdDist")), QVariant(QStringList{"1", "5"}));
    EXPECT_EQ(independentValue(QStringLiteral("Settings/FastDist")), QVariant(QByteArray("80")));
    EXPECT_EQ(independentValue(QStringLiteral("Settings/LoadStart")), QVariant(QPoint(1, 2)));

    // A changed value is text from then on.
    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "30"), StoreStatus::Ok);
    EXPECT_EQ(independentValue(QStringLiteral("Settings/StdDist")), QVariant(QStringLiteral("30")));
}

TEST_F(QtSettingsStoreTest, ReadsAValueNestedTooDeepToDecodeAsFailed)
{
    // Lists nested 60000 deep in under a megabyte: QSettings itself runs out of stack on them.
    writeRaw("[Settings]\nStdDist=5\nScanCode=@Variant(" + QByteArray("\\0\\0\\0\\t\\0\\0\\0\\x1").repeated(60000)
                 + ")\n",
             {1, 0});
    QtSettingsStore store;
    EXPECT_EQ(store.read("Pavro", "Settings", "ScanCode"), (StoredText{StoreStatus::Failed, {}}));
    EXPECT_EQ(store.read("Pavro", "Settings", "StdDist"), (StoredText{StoreStatus::Ok, "5"}));
}

TEST_F(QtSettingsStoreTest, RemovesOnlyTheSection)
{
    QtSettingsStore store;
    EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Missing);
    ASSERT_EQ(store.save("Pavro", "Other", "Keep", "yes"), StoreStatus::Ok);
    EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Missing);
    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "25"), StoreStatus::Ok);
    ASSERT_EQ(store.save("Pavro", "Settings", "OnOff", "1"), StoreStatus::Ok);
    ASSERT_EQ(store.save("Neighbour", "Settings", "StdDist", "99"), StoreStatus::Ok);

    EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Ok);
    EXPECT_EQ(store.read("Pavro", "Settings", "StdDist").status, StoreStatus::Missing);
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Missing);
    EXPECT_EQ(store.read("Pavro", "Other", "Keep").text, "yes");
    EXPECT_EQ(store.read("Neighbour", "Settings", "StdDist").text, "99");
    EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Missing);
}

TEST_F(QtSettingsStoreTest, SaveFailsWhenTheFileCannotBeWritten)
{
    // The application's folder name is taken by a plain file: nothing can be created there.
    QFile blocker(m_config.path() + QStringLiteral("/Pavro"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QtSettingsStore store;
    EXPECT_EQ(store.save("Pavro", "Settings", "OnOff", "1"), StoreStatus::Failed);
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Failed);
    EXPECT_NE(store.lastError().find("Pavro is not a folder"), std::string::npos) << store.lastError();
}

TEST_F(QtSettingsStoreTest, LeavesNoLinksBehind)
{
    {
        QtSettingsStore store;
        ASSERT_EQ(store.save("Pavro", "Settings", "OnOff", "1"), StoreStatus::Ok);
        ASSERT_EQ(store.read("Pavro", "Settings", "OnOff").text, "1");
    }
    EXPECT_TRUE(QDir(m_runtime->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
    EXPECT_TRUE(QFile::exists(file()));
}

}  // namespace
