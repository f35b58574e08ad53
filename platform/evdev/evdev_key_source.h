#pragma once

#include <array>
#include <bitset>
#include <ctime>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <linux/input.h>

#include "platform/evdev/uinput_device.h"
#include "platform/key_event_source.h"
#include "platform/test_peer.h"

/// Captures the keyboards below the display server, for Wayland sessions: every keyboard under
/// /dev/input (a device with the arrows and Enter) is grabbed (EVIOCGRAB), so that its events
/// reach this process only. The captured keys go to the sink; what it does not claim, and every
/// other key, is written, unchanged and in order with its scan codes and SYN reports, to one
/// virtual keyboard made through /dev/uinput, which the desktop reads instead of the grabbed ones.
///
/// A keyboard is grabbed only once no key is down on it: a grab taken while a key is held
/// would leave that key pressed for the desktop. Keyboards plugged in later are found through
/// inotify on the input folder; unplugged ones are dropped. The keypad's 4/8/6/2 are arrows
/// while NumLock is off, as the desktop shows on the virtual keyboard's LED (which is passed on
/// to the grabbed keyboards: a grab keeps the desktop from setting their LEDs itself). Either
/// Alt down sets the change's alt; a release is always delivered with the alt and the key of
/// its press, so it ends what the press began. Auto-repeat (value 2)
/// is a key down.
///
/// Events are read in dispatch(), which the input loop calls on its thread whenever pollFd() is
/// readable. A crash ends the grabs and destroys the virtual keyboard (the kernel does both
/// when the descriptors close), and the kernel then releases every key still down on it.
class EvdevKeySource final : public KeyEventSource {
public:
    explicit EvdevKeySource(std::string inputDir = "/dev/input", std::string uinputPath = "/dev/uinput");
    ~EvdevKeySource() override;
    EvdevKeySource(const EvdevKeySource&) = delete;
    EvdevKeySource& operator=(const EvdevKeySource&) = delete;

    /// Readable (poll/epoll) while dispatch() has something to do; valid for the object's life.
    int pollFd() const noexcept override { return m_epoll; }
    /// Handles everything pending: key events, LED changes, keyboards plugged and unplugged.
    void dispatch() override;

    /// Makes the virtual keyboard and grabs the keyboards present (those with keys down once
    /// they are released). Fails when /dev/uinput or the keyboards cannot be opened, naming
    /// the fix, or when no keyboard is found.
    std::uintptr_t install(KeySink& sink) override;
    /// Releases every grab and destroys the virtual keyboard.
    void uninstall(std::uintptr_t handle) override;
    std::string lastError() const override { return m_lastError; }

private:
    friend struct TestPeer<EvdevKeySource>;
    /// The virtual keyboard's event node, empty while not installed.
    std::string passThroughNode() const { return m_passThrough.eventNode(); }
    /// How many keyboards are grabbed now.
    int grabbedCount() const noexcept;

    struct Keyboard {
        int fd = -1;
        std::string path;
        bool grabbed = false;
        /// Events after a SYN_DROPPED are skipped up to the next SYN_REPORT.
        bool dropping = false;
        /// Events older than the grab went to the desktop too: they are not passed on again.
        timespec grabTime{};
        /// Keys whose press came from this keyboard and whose release has not yet.
        std::bitset<KEY_CNT> down;
    };

    void fail(std::string reason);
    void release();
    /// Opens |path| when it is a keyboard of the user's; false when it is none. Sets
    /// |permissionDenied| when it could not be opened for lack of permission.
    bool addDevice(const std::string& path, bool& permissionDenied);
    void removeKeyboard(int fd);
    /// Grabs when no key is down; true when grabbed.
    bool tryGrab(Keyboard& keyboard);
    void readKeyboard(Keyboard& keyboard);
    /// False when the sink uninstalled the source while handling |event|.
    bool handleKey(Keyboard& keyboard, const input_event& event) noexcept;
    /// Delivers a release for every key down on |keyboard| that |downNow| shows up; false
    /// when the sink uninstalled the source meanwhile.
    bool endPresses(Keyboard& keyboard, const unsigned char (&downNow)[KEY_CNT / 8 + 1]) noexcept;
    void readHotplug();
    void readLeds();
    void flushScan() noexcept;
    void resync(Keyboard& keyboard) noexcept;

    std::string m_inputDir;
    std::string m_uinputPath;
    int m_epoll = -1;
    int m_inotify = -1;
    UinputDevice m_passThrough;
    std::vector<std::unique_ptr<Keyboard>> m_keyboards;
    KeySink* m_sink = nullptr;
    std::uintptr_t m_handle = 0;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastError;

    bool m_numLock = false;
    /// Bit 0 left Alt, bit 1 right Alt.
    unsigned m_altDown = 0;
    /// Per key code, the virtual-key code delivered with its press (0 when up) and whether
    /// the press came as the system-key variant.
    std::array<std::uint8_t, KEY_CNT> m_downVk{};
    std::bitset<KEY_CNT> m_downSys;
    /// A scan code is held until the key event it belongs to is known: a swallowed key's
    /// scan code is swallowed with it.
    input_event m_pendingScan{};
    bool m_hasPendingScan = false;
    input_event m_releaseEvent{};
    std::array<input_event, 64> m_buffer{};
};
