#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include <sstream>

#include "platform/qt/qt_instance_lock.h"

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

}  // namespace
