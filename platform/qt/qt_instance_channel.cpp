#include "platform/qt/qt_instance_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include "platform/program_event_sink.h"

namespace {

// A request line is one short word; anything longer is not a request.
constexpr std::size_t kMaxLine = 64;
// A peer that connects and says nothing is dropped after this long.
constexpr int kIdleMs = 5000;
// A copy that has just taken the lock may not listen yet.
constexpr int kConnectWaitMs = 2000;
// Showing a window or saving the settings at exit takes far less than this.
constexpr int kAnswerWaitMs = 10000;

std::string systemError(int error)
{
    return std::strerror(error);
}

bool socketAddress(const QString& path, sockaddr_un& address, std::string& reason)
{
    const QByteArray encoded = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(encoded.size()) >= sizeof(address.sun_path)) {
        reason = "the path is too long for a socket: " + path.toStdString();
        return false;
    }
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    return true;
}

const char* requestWord(LaunchRequest request)
{
    switch (request) {
    case LaunchRequest::ShowSettings: return "settings";
    case LaunchRequest::Exit: return "exit";
    case LaunchRequest::SwitchOnOff: break;
    }
    return "switch";
}

/// One accepted connection: reads one line without blocking, answers it and closes. A peer
/// that sends too much, or nothing for a while, is dropped unanswered.
class InstanceConnection final : public QObject {
public:
    InstanceConnection(int fd, QObject* parent, std::function<std::string(const std::string&)> answer)
        : QObject(parent), m_fd(fd), m_notifier(fd, QSocketNotifier::Read, this), m_answer(std::move(answer))
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readable(); });
        m_idle.setSingleShot(true);
        QObject::connect(&m_idle, &QTimer::timeout, this, [this] { finish(); });
        m_idle.start(kIdleMs);
    }
    ~InstanceConnection() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    void readable()
    {
        char chunk[kMaxLine];
        for (;;) {
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    finish();
                return;
            }
            m_line.append(chunk, static_cast<std::size_t>(got));
            const std::size_t end = m_line.find('\n');
            if (end != std::string::npos) {
                std::string line = m_line.substr(0, end);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                std::string reply = m_answer(line) + '\n';
                ::send(m_fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                finish();
                return;
            }
            if (m_line.size() > kMaxLine) {
                finish();
                return;
            }
        }
    }

    void finish()
    {
        m_notifier.setEnabled(false);
        m_idle.stop();
        ::close(m_fd);
        m_fd = -1;
        deleteLater();
    }

    int m_fd;
    QSocketNotifier m_notifier;
    QTimer m_idle;
    std::function<std::string(const std::string&)> m_answer;
    std::string m_line;
};

}  // namespace

QtInstanceServer::~QtInstanceServer()
{
    delete m_notifier;
    if (m_listening >= 0) {
        ::close(m_listening);
        QFile::remove(m_path);
    }
}

bool QtInstanceServer::listen(const QString& path, std::string& reason)
{
    if (m_listening >= 0)
        return true;
    sockaddr_un address;
    if (!socketAddress(path, address, reason))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reason = systemError(errno);
        return false;
    }
    // Only the lock's holder gets here: a file at the path was left by a copy that ended.
    ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        reason = systemError(errno);
        ::close(fd);
        return false;
    }
    m_listening = fd;
    m_path = path;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { acceptPending(); });
    return true;
}

void QtInstanceServer::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(m_listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        // The folder is private already; a peer of another user is refused all the same.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        new InstanceConnection(fd, &m_connections, [this](const std::string& line) { return answer(line); });
    }
}

std::string QtInstanceServer::answer(const std::string& line)
{
    LaunchRequest request = LaunchRequest::SwitchOnOff;
    if (line == requestWord(LaunchRequest::ShowSettings))
        request = LaunchRequest::ShowSettings;
    else if (line == requestWord(LaunchRequest::Exit))
        request = LaunchRequest::Exit;
    else
        return "failed the running copy takes no such request";
    if (m_sink == nullptr)
        return "failed the running copy is not ready";
    std::string reason;
    if (m_sink->instanceRequest(request, reason))
        return "ok";
    for (char& c : reason)
        if (c == '\n' || c == '\r')
            c = ' ';
    return "failed " + reason;
}

bool sendInstanceRequest(const QString& path, LaunchRequest request, std::string& reason)
{
    sockaddr_un address;
    if (!socketAddress(path, address, reason))
        return false;
    QElapsedTimer clock;
    clock.start();
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            reason = systemError(errno);
            return false;
        }
        // Bounds the connect and the send should the running copy's queue be full.
        const timeval sendLimit{kConnectWaitMs / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        ::close(fd);
        if ((error == ENOENT || error == ECONNREFUSED) && clock.elapsed() < kConnectWaitMs) {
            QThread::msleep(20);
            continue;
        }
        reason = "the running copy could not be reached: " + systemError(error);
        return false;
    }

    const std::string line = std::string(requestWord(request)) + '\n';
    std::string reply;
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        clock.restart();
        pollfd wait{fd, POLLIN, 0};
        while (reply.find('\n') == std::string::npos && reply.size() <= kMaxLine * 4) {
            const qint64 left = kAnswerWaitMs - clock.elapsed();
            if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) <= 0)
                break;
            char chunk[kMaxLine * 4];
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            reply.append(chunk, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    const std::size_t end = reply.find('\n');
    if (end == std::string::npos) {
        reason = "the running copy gave no answer";
        return false;
    }
    reply.resize(end);
    if (reply == "ok")
        return true;
    const std::string failed = "failed ";
    reason = reply.rfind(failed, 0) == 0 ? reply.substr(failed.size()) : "the running copy answered: " + reply;
    return false;
}
