#pragma once

/// Sends left-button events to the system as the physical button would, at the pointer's
/// current position. Called on the key path: implementations must not allocate or block.
/// Failures are not reported; the system simply sees no click.
class InputInjector {
public:
    virtual ~InputInjector() = default;
    virtual void leftButtonDown() noexcept = 0;
    virtual void leftButtonUp() noexcept = 0;
};
