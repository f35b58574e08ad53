#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include <atomic>
#include <sstream>
#include <thread>

#include "platform/qt/qt_instance_lock.h"
#include "platform/fake/quiet_event_sink.h"

namespace {

class QtInstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    QTemporaryDir m_runtime;
    std::ostringstream m_errors;
};

TEST_F(QtInstanceLockTest, OnlyOneHolderAtATimeAndTheLockGoesWithIt)
{
    auto first = std::make_unique<QtInstanceLock>(QStringLiteral("Pavro"), &m_errors);
    ASSERT_TRUE(first->tryAcquire());
    EXPECT_TRUE(QFile::exists(m_runtime.path() + QStringLiteral("/Pavro.lock")));

    QtInstanceLock second(QStringLiteral("Pavro"), &m_errors);
    EXPECT_FALSE(second.tryAcquire());
    QtInstanceLock otherProgram(QStringLiteral("Other"), &m_errors);
    EXPECT_TRUE(otherProgram.tryAcquire());

    first.reset();
    EXPECT_TRUE(second.tryAcquire());
    EXPECT_TRUE(m_errors.str().empty());
}

// A copy that crashed left its lock file; its process is gone.
TEST_F(QtInstanceLockTest, TakesOverALockLeftByADeadProcess)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    QFile stale(m_runtime.path() + QStringLiteral("/Pavro.lock"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(child) + "\nPavro\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();

    QtInstanceLock lock(QStringLiteral("Pavro"), &m_errors);
    EXPECT_TRUE(lock.tryAcquire());
}

// An old lock whose holder still runs stays held: age alone never makes it stale.
TEST_F(QtInstanceLockTest, KeepsAnOldLockOfALiveHolder)
{
    QFile held(m_runtime.path() + QStringLiteral("/Pavro.lock"));
    ASSERT_TRUE(held.open(QIODevice::WriteOnly));
    // The holder: our parent, named as it runs (a lock naming another program is stale).
    const QString holder = QFileInfo(QStringLiteral("/proc/%1/exe").arg(::getppid())).symLinkTarget();
    held.write(QByteArray::number(::getppid()) + "\n" + QFile::encodeName(holder) + "\n"
               + QSysInfo::machineHostName().toUtf8() + "\n");
    held.close();
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    ASSERT_TRUE(held.setFileTime(hourAgo, QFileDevice::FileModificationTime));
    held.close();

    QtInstanceLock lock(QStringLiteral("Pavro"), &m_errors);
    EXPECT_FALSE(lock.tryAcquire());
}

// What the running copy does with a later launch's request: shows the window; fails to save.
struct RequestSink final : QuietEventSink {
    bool instanceRequest(LaunchRequest request, std::string& reason) override
    {
        requests.push_back(request);
        if (request == LaunchRequest::ShowSettings)
            return true;
        reason = "the disk is full";
        return false;
    }
    std::vector<LaunchRequest> requests;
};

// A later launch's request reaches the holder's sink, over the socket file a crashed copy left
// behind, and the holder's answer comes back to the launch.
TEST_F(QtInstanceLockTest, RequestsReachTheHolderOverASocketLeftByACrash)
{
    int argc = 1;
    char name[] = "qt_instance_lock_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QFile left(m_runtime.path() + QStringLiteral("/Pavro.socket"));
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.close();

    QtInstanceLock holder(QStringLiteral("Pavro"), &m_errors);
    ASSERT_TRUE(holder.tryAcquire());
    RequestSink sink;
    holder.setEventSink(&sink);
    QtInstanceLock later(QStringLiteral("Pavro"), &m_errors);
    ASSERT_FALSE(later.tryAcquire());

    // The launch waits for its answer; the holder answers from its event loop.
    const auto forward = [&](LaunchRequest request, std::string& reason) {
        std::atomic<bool> done = false;
        bool result = false;
        std::thread launch([&] {
            result = later.forward(request, reason);
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        launch.join();
        return result;
    };
    std::string reason;
    EXPECT_TRUE(forward(LaunchRequest::ShowSettings, reason));
    EXPECT_FALSE(forward(LaunchRequest::Exit, reason));
    EXPECT_EQ(reason, "the disk is full");
    EXPECT_EQ(sink.requests, (std::vector<LaunchRequest>{LaunchRequest::ShowSettings, LaunchRequest::Exit}));
    EXPECT_TRUE(m_errors.str().empty()) << m_errors.str();
}

}  // namespace
