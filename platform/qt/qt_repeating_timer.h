#pragma once

#include <QTimer>

#include "platform/repeating_timer.h"

/// The window's tick: a QTimer with millisecond precision.
class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer();

    void setEventSink(FormEventSink* sink) override { m_sink = sink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;

private:
    QTimer m_timer;
    FormEventSink* m_sink = nullptr;
    bool m_enabled = false;
};
