#pragma once

#include "platform/input_injector.h"

/// Left-button events through SendInput, delivered at the pointer's current position like
/// the physical button. Runs on the key path: one stack record and one system call.
class Win32InputInjector final : public InputInjector {
public:
    void leftButtonDown() noexcept override;
    void leftButtonUp() noexcept override;
};
