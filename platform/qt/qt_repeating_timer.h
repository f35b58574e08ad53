#pragma once

#include <QTimer>

#include "platform/repeating_timer.h"

class Form1;

/// Form1's tick: a QTimer with millisecond precision that calls Form1::Timer1_Timer.
class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer();
    /// Ticks go to |form| from now on; nothing ticks before this is called.
    void attach(Form1& form);

    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;

private:
    QTimer m_timer;
    Form1* m_form = nullptr;
    bool m_enabled = false;
};
