#include "platform/qt/qt_repeating_timer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/program_event_sink.h"

namespace {

constexpr long long kNanosecondsPerMillisecond = 1'000'000;

timespec timespecOf(long long nanoseconds)
{
    return {static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
}

} // namespace

QtRepeatingTimer::QtRepeatingTimer()
{
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("the tick timer could not be created");
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { expired(); });
}

QtRepeatingTimer::~QtRepeatingTimer()
{
    m_notifier.reset();
    close(m_fd);
}

void QtRepeatingTimer::arm(long long firstNanoseconds)
{
    itimerspec spec{};
    if (firstNanoseconds > 0) {
        spec.it_value = timespecOf(firstNanoseconds);
        spec.it_interval = timespecOf(m_period * kNanosecondsPerMillisecond);
    }
    // Only a bad descriptor or bad values fail, and neither can happen here.
    timerfd_settime(m_fd, 0, &spec, nullptr);
}

void QtRepeatingTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    arm(enabled ? m_period * kNanosecondsPerMillisecond : 0);
}

void QtRepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    // A period of 0 would mean "disarmed" to the kernel; the interface allows 1 and up, and
    // anything lower is held at 1.
    const std::int32_t period = std::max<std::int32_t>(milliseconds, 1);
    if (period == m_period)
        return;
    m_period = period;
    // On a running timer this restarts the period from now: the next tick comes one new
    // period after the call.
    if (m_enabled)
        arm(m_period * kNanosecondsPerMillisecond);
}

void QtRepeatingTimer::startNow()
{
    m_enabled = true;
    // The shortest expiry the kernel takes: due before the loop next polls.
    arm(1);
}

void QtRepeatingTimer::expired()
{
    std::uint64_t expirations = 0;
    // Nothing to read when a disarm or re-arm came after the loop saw the timer readable.
    if (read(m_fd, &expirations, sizeof expirations) != sizeof expirations || !m_enabled)
        return;
    if (m_sink)
        m_sink->timerTicked();
}
