#pragma once

#include "platform/program_event_sink.h"

/// An event sink that ignores every event; a test overrides the ones it watches.
struct QuietEventSink : ProgramEventSink {
    void controlClicked(ControlName) override {}
    void motionSliderMoved(int, int) override {}
    void motionSliderScrolled(int, ScrollAction, int) override {}
    void optionCheckChanged(int, int) override {}
    void trayEvent(TrayEvent) override {}
    void timerTicked() override {}
    void closeRequested() override {}
    void windowResized() override {}
    void sessionEnding() override {}
    void renewKeyCapture() override {}
    void suspendKeyCapture() override {}
    void storeChanged(bool) override {}
};
