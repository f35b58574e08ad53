// The store, the single-instance lock and the exit signals against hostile or unlucky
// surroundings: files that are not files, folders of other users, no runtime folder, many
// writers at once, stale locks, nohup.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <iostream>
#include <string>

#include "platform/qt/qt_settings_store.h"

namespace {

constexpr uid_t kOtherUser = 65534;

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

void write(const QString& path, const QByteArray& content)
{
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(content);
}

mode_t typeOf(const QString& path, bool follow)
{
    struct stat info {};
    const int result = follow ? ::stat(encoded(path).constData(), &info) : ::lstat(encoded(path).constData(), &info);
    return result == 0 ? (info.st_mode & S_IFMT) : 0;
}

class StoreFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", encoded(m_config.path()));
        // Reading and writing must not need a runtime folder.
        qputenv("XDG_RUNTIME_DIR", "/nonexistent/runtime");
        QDir().mkpath(folder());
    }

    QString folder() const { return m_config.path() + QStringLiteral("/Pavro"); }
    QString file() const { return folder() + QStringLiteral("/Pavro.conf"); }
    QString outside(const QString& name) const { return m_config.path() + QLatin1Char('/') + name; }

    QTemporaryDir m_config;
};

TEST_F(StoreFault, RefusesAnythingButARegularFileWithoutBlockingOrWritingThroughIt)
{
    struct Shape {
        const char* name;
        std::function<bool(const QString& file)> make;  // false: can't be made here (not root)
        const char* says;
    };
    const QString target = outside(QStringLiteral("target"));
    const auto link = [&](const QString& file) { return ::symlink(encoded(target).constData(), encoded(file).constData()) == 0; };
    const Shape shapes[] = {
        {"link to a device", [&](const QString& file) {
             return ::mknod(encoded(target).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0 && link(file); },
         "is a link to something other than a file of this user"},
        {"FIFO", [](const QString& file) { return ::mkfifo(encoded(file).constData(), 0600) == 0; },
         "is not a regular file"},
        {"link to a FIFO", [&](const QString& file) { return ::mkfifo(encoded(target).constData(), 0600) == 0 && link(file); },
         "is a link to something other than a file of this user"},
        {"dangling link", [&](const QString& file) { return link(file); }, "is a link to nothing usable"},
        {"link to a folder", [&](const QString& file) { return QDir().mkdir(target) && link(file); },
         "is a link to something other than a file of this user"},
        {"link to another user's file", [&](const QString& file) {
             write(target, "[Settings]\nOnOff=0\n");
             return ::chown(encoded(target).constData(), kOtherUser, kOtherUser) == 0 && link(file); },
         "is a link to something other than a file of this user"},
        {"folder", [](const QString& file) { return QDir().mkdir(file); }, "is not a regular file"},
        {"2 MB file", [](const QString& file) {
             write(file, "[Settings]\nOnOff=0\n");
             return ::truncate(encoded(file).constData(), 2 << 20) == 0; },
         "is larger than 1 MB"},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        QDir(folder()).removeRecursively();
        QDir(target).removeRecursively();
        QFile::remove(target);
        QDir().mkpath(folder());
        if (!shape.make(file())) {
            std::cout << "skipped (needs root): " << shape.name << '\n';
            continue;
        }
        const mode_t linkType = typeOf(file(), false);
        const mode_t targetType = typeOf(file(), true);
        QtSettingsStore store;
        EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Failed);
        EXPECT_NE(store.lastError().find(shape.says), std::string::npos) << store.lastError();
        EXPECT_EQ(store.save("Pavro", "Settings", "OnOff", "1"), StoreStatus::Failed);
        EXPECT_EQ(store.update("Pavro", "Settings", "OnOff", [](const StoredText&) { return std::string("1"); }),
                  StoreStatus::Failed);
        EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Failed);
        EXPECT_EQ(typeOf(file(), false), linkType);
        EXPECT_EQ(typeOf(file(), true), targetType);
    }
}

// Dotfile managers keep the real file elsewhere and link it in: that keeps working, and the
// link stays a link.
TEST_F(StoreFault, WritesThroughALinkToARegularFileOfTheUser)
{
    QDir().mkpath(outside(QStringLiteral("dotfiles")));
    const QString target = outside(QStringLiteral("dotfiles/pavro.conf"));
    write(target, "[Settings]\nStdDist=30\n");
    ASSERT_EQ(::symlink("../dotfiles/pavro.conf", encoded(file()).constData()), 0);
    QtSettingsStore store;
    EXPECT_EQ(store.read("Pavro", "Settings", "StdDist").text, "30");
    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "40"), StoreStatus::Ok);
    EXPECT_EQ(typeOf(file(), false), static_cast<mode_t>(S_IFLNK));
    QtSettingsStore other;
    EXPECT_EQ(other.read("Pavro", "Settings", "StdDist").text, "40");
}

TEST_F(StoreFault, RefusesAFolderOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder away";
    for (const QString& given : {m_config.path(), folder()}) {
        SCOPED_TRACE(given.toStdString());
        ASSERT_EQ(::chown(encoded(given).constData(), kOtherUser, kOtherUser), 0);
        QtSettingsStore store;
        EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").status, StoreStatus::Failed);
        EXPECT_NE(store.lastError().find("belongs to another user"), std::string::npos) << store.lastError();
        EXPECT_EQ(store.save("Pavro", "Settings", "OnOff", "1"), StoreStatus::Failed);
        EXPECT_FALSE(QFile::exists(file()));
        ASSERT_EQ(::chown(encoded(given).constData(), 0, 0), 0);
    }
}

TEST_F(StoreFault, NeedsNeitherARuntimeNorATemporaryFolder)
{
    const QByteArray temporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/nonexistent/tmp");
    QtSettingsStore store;
    EXPECT_EQ(store.save("Pavro", "Settings", "StdDist", "30"), StoreStatus::Ok);
    EXPECT_EQ(store.update("Pavro", "Settings", "OnOff", [](const StoredText&) { return std::string("1"); }),
              StoreStatus::Ok);
    EXPECT_EQ(store.read("Pavro", "Settings", "OnOff").text, "1");
    EXPECT_EQ(store.removeSection("Pavro", "Settings"), StoreStatus::Ok);
    EXPECT_EQ(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Pavro"});
    qputenv("TMPDIR", temporary);
}

// Every update of many processes at once lands: a counter raised 90 times ends at 90.
TEST_F(StoreFault, UpdatesOfManyProcessesAtOnceAllLand)
{
    constexpr int kProcesses = 6;
    constexpr int kEach = 15;
    pid_t children[kProcesses];
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            QtSettingsStore store;
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                const StoreStatus status = store.update("Pavro", "Settings", "Count", [](const StoredText& current) {
                    const int count = current.status == StoreStatus::Ok ? std::stoi(current.text) : 0;
                    return std::to_string(count + 1);
                });
                if (status != StoreStatus::Ok) {
                    ++failures;
                    std::cerr << "update failed: " << store.lastError() << '\n';
                }
                // Launches don't come back-to-back; a waiter gets its turn.
                ::usleep(1000);
            }
            ::_exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    QtSettingsStore store;
    EXPECT_EQ(store.read("Pavro", "Settings", "Count").text, std::to_string(kProcesses * kEach));
}

// Another process's same-size write within the millisecond of this process's last write: a
// later save must merge into that file, not into the copy QSettings cached of its own.
TEST_F(StoreFault, ASaveKeepsAnotherProcesssSameMillisecondWrite)
{
    QtSettingsStore store;
    ASSERT_EQ(store.save("Pavro", "Settings", "OnOff", "0"), StoreStatus::Ok);
    struct stat info {};
    ASSERT_EQ(::stat(encoded(file()).constData(), &info), 0);
    QFile original(file());
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    QByteArray content = original.readAll();
    original.close();
    content.replace("OnOff=0", "OnOff=1");
    const QString temporary = file() + QStringLiteral(".new");
    write(temporary, content);
    const timespec sameMillisecond[2] = {info.st_mtim, info.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, encoded(temporary).constData(), sameMillisecond, 0), 0);
    ASSERT_EQ(::rename(encoded(temporary).constData(), encoded(file()).constData()), 0);

    ASSERT_EQ(store.save("Pavro", "Settings", "StdDist", "25"), StoreStatus::Ok);
    QtSettingsStore other;
    EXPECT_EQ(other.read("Pavro", "Settings", "OnOff").text, "1");
    EXPECT_EQ(other.read("Pavro", "Settings", "StdDist").text, "25");
}

}  // namespace
