#pragma once

#include "platform/form_event_sink.h"

/// An event sink that ignores every event; a test overrides the ones it watches.
struct QuietEventSink : FormEventSink {
    void controlClicked(ControlName) override {}
    void HScroll1_UserChange(int, int) override {}
    void HScroll1_Scroll(int, ScrollAction, int) override {}
    void chkDefault_UserChange(int, int) override {}
    void trayEvent(TrayEvent) override {}
    void Timer1_Timer() override {}
    void closeRequested() override {}
    void Form_Resize() override {}
    void sessionEnding() override {}
    void renewKeyCapture() override {}
    void suspendKeyCapture() override {}
    void storeChanged(bool) override {}
};
