#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/qt/qt_settings_store.h"
#include "platform/fake/quiet_event_sink.h"
#include "qt_test_peers.h"

namespace {

struct StoreSink final : QuietEventSink {
    void storeChanged(bool watching) override { ++(watching ? changes : losses); }
    int changes = 0;
    int losses = 0;
};

/// Runs the event loop until |done| or |milliseconds| passed.
void runUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
}

/// The changes told within |milliseconds|, waiting no longer than for the first.
int changesWithin(StoreSink& sink, int milliseconds)
{
    runUntil([&] { return sink.changes > 0; }, milliseconds);
    return sink.changes;
}

class QtStoreWatchTest : public ::testing::Test {
public:
    void SetUp() override { useConfigHome(m_root.path() + QStringLiteral("/config")); }
    void useConfigHome(const QString& path)
    {
        m_home = path;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path));
    }
    QString folder() const { return m_home + QStringLiteral("/Pavro"); }
    QString file() const { return folder() + QStringLiteral("/Pavro.conf"); }
    /// What an editor does: the same inode rewritten.
    static void writeInPlace(const QString& path, const char* text)
    {
        QFile edited(path);
        ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
        edited.write(text);
    }
    void secondLaunchSaves(const char* value)
    {
        QtSettingsStore other;
        ASSERT_EQ(other.save("Pavro", "Settings", "OnOff", value), StoreStatus::Ok);
    }

    QTemporaryDir m_root;
    QString m_home;
};

struct ChangeCase {
    const char* name;
    std::function<void(QtStoreWatchTest&)> given;
    std::vector<std::function<void(QtStoreWatchTest&)>> steps;  ///< each one must be told
};

// Every kind of change, by any process, is told, and the watch survives it: each row ends with
// another process's save, which is told too.
TEST_F(QtStoreWatchTest, TellsEveryKindOfChangeAndKeepsWatching)
{
    using T = QtStoreWatchTest;
    auto saved = [](T& t) { t.secondLaunchSaves("0"); };
    const std::vector<ChangeCase> cases = {
        {"another process's atomic save", saved, {[](T& t) { t.secondLaunchSaves("1"); }}},
        {"an editor's write in place", saved, {[](T& t) { writeInPlace(t.file(), "[Settings]\nOnOff=1\n"); }}},
        {"the section removed", saved,
         {[](T&) { ASSERT_EQ(QtSettingsStore().removeSection("Pavro", "Settings"), StoreStatus::Ok); }}},
        {"the file deleted", saved, {[](T& t) { ASSERT_TRUE(QFile::remove(t.file())); }}},
        {"the folder deleted, then made again", saved,
         {[](T& t) { ASSERT_TRUE(QDir(t.folder()).removeRecursively()); }, saved}},
        {"the folder renamed away, then made again", saved,
         {[](T& t) { ASSERT_TRUE(QDir().rename(t.folder(), t.folder() + ".old")); }, saved}},
        {"a missing file created", [](T& t) { QDir().mkpath(t.folder()); }, {saved}},
        {"a missing configuration folder created",
         [](T& t) { t.useConfigHome(t.m_root.path() + QStringLiteral("/not/yet")); }, {saved}},
        {"a linked file's target written in place",
         [](T& t) {
             QDir().mkpath(t.folder());
             QDir().mkpath(t.m_root.path() + "/dotfiles");
             writeInPlace(t.m_root.path() + "/dotfiles/Pavro.conf", "[Settings]\nOnOff=0\n");
             ASSERT_TRUE(QFile::link(t.m_root.path() + "/dotfiles/Pavro.conf", t.file()));
         },
         {[](T& t) { writeInPlace(t.m_root.path() + "/dotfiles/Pavro.conf", "[Settings]\nOnOff=1\n"); }}},
    };
    for (const ChangeCase& row : cases) {
        SCOPED_TRACE(row.name);
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        SetUp();
        row.given(*this);
        QtSettingsStore running;
        StoreSink sink;
        (void)running.read("Pavro", "Settings", "OnOff");
        ASSERT_TRUE(running.watch(&sink));
        std::vector<std::function<void(T&)>> steps = row.steps;
        steps.push_back([](T& t) { t.secondLaunchSaves("1"); });
        for (std::size_t step = 0; step < steps.size(); ++step) {
            steps[step](*this);
            EXPECT_GT(changesWithin(sink, 5000), 0) << "step " << step;
            // What the program then does: it reads the store again.
            (void)running.read("Pavro", "Settings", "OnOff");
            QCoreApplication::processEvents();
            sink.changes = 0;
        }
        EXPECT_EQ(sink.losses, 0);
    }
}

// At rest nothing is told, reading the store tells nothing (the poll a change causes must not
// cause another), and after watch(nullptr) no change is told.
TEST_F(QtStoreWatchTest, IsQuietAtRestAndAfterWatchingEnds)
{
    secondLaunchSaves("0");
    QtSettingsStore running;
    StoreSink sink;
    (void)running.read("Pavro", "Settings", "OnOff");
    ASSERT_TRUE(running.watch(&sink));
    EXPECT_EQ(changesWithin(sink, 300), 0);
    secondLaunchSaves("1");
    ASSERT_GT(changesWithin(sink, 5000), 0);
    ASSERT_EQ(running.read("Pavro", "Settings", "OnOff").text, "1");
    sink.changes = 0;
    EXPECT_EQ(changesWithin(sink, 300), 0);

    EXPECT_FALSE(running.watch(nullptr));
    secondLaunchSaves("1");
    EXPECT_EQ(changesWithin(sink, 300), 0);
    EXPECT_EQ(sink.losses, 0);
}

// Limits of a user namespace of this process's own: |limits| pairs a file under /proc/sys/user
// with its value. False when there is no such namespace to be had here.
bool ownLimits(std::initializer_list<std::pair<const char*, const char*>> limits)
{
    for (const auto& [name, value] : limits) {
        QFile limit(QStringLiteral("/proc/sys/user/") + QLatin1String(name));
        if (!limit.open(QIODevice::WriteOnly) || limit.write(value) <= 0)
            return false;
    }
    return true;
}

// The system's refusals, with the kernel's own limits: no inotify instance makes the store
// unwatchable; a watch it can no longer grant later (room for the folder and the file, none
// for the configuration folder once the folder was renamed away) is told as lost, once, and
// nothing is told after.
int refusalsInChild()
{
    const QByteArray map = "0 " + QByteArray::number(::geteuid()) + " 1";
    QFile uidMap(QStringLiteral("/proc/self/uid_map"));
    if (::unshare(CLONE_NEWUSER) != 0 || !uidMap.open(QIODevice::WriteOnly) || uidMap.write(map) <= 0
        || !ownLimits({{"max_inotify_instances", "0"}}))
        return 77;
    uidMap.close();
    QtSettingsStore running;
    StoreSink sink;
    if (running.save("Pavro", "Settings", "OnOff", "0") != StoreStatus::Ok || running.watch(&sink))
        return 1;
    if (!ownLimits({{"max_inotify_instances", "1"}, {"max_inotify_watches", "2"}}) || !running.watch(&sink))
        return 1;
    const QString folder = QFileInfo(TestPeer<QtSettingsStore>::filePath("Pavro")).absolutePath();
    if (!QDir().rename(folder, folder + ".old"))
        return 1;
    runUntil([&] { return sink.losses > 0; }, 5000);
    (void)QtSettingsStore().save("Pavro", "Settings", "OnOff", "1");
    changesWithin(sink, 300);
    return sink.losses == 1 && sink.changes == 0 ? 0 : 1;
}

TEST_F(QtStoreWatchTest, ToldWhenTheSystemRefusesAWatch)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        std::_Exit(refusalsInChild());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no user namespace of our own to set inotify limits in";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
