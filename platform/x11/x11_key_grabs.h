#pragma once

#include <bitset>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_table.h"

/// The passive grabs that capture our keys: for each keycode, every modifier state in which it
/// reports one of our keys, except the states another client already holds (a window manager's
/// Shift+Alt+arrow, say), which stay that client's.
///
/// Each keycode costs the server one grab entry: an XInput2 grab for any modifiers, less the
/// states not wanted. The server checks every new grab against all grabs on the root window,
/// so one entry per state (over two thousand) made installing slow. XInput2 grabs don't
/// collide with other clients' core grabs (the newer grab would simply win), so plan() first
/// looks for those with core grabs that are dropped at once.
class X11KeyGrabs {
public:
    struct Counts {
        int succeeded = 0;  ///< modifier states grabbed, over all keycodes
        int failed = 0;     ///< states another client holds
    };

    /// Finds which states of |table|'s keys other clients hold through core grabs. Any
    /// connection of ours will do; round trips and an error trap, so on that connection's thread.
    void plan(Display* display, const X11KeyTable& table);
    /// Grabs what plan() found free through |display|, the connection that will read the
    /// events; another client's XInput2 grabs are found here and left to it. Returns an empty
    /// string, or why the capture cannot work: an arrow or Enter held without modifiers (Lock
    /// and NumLock aside) by another client, or no key to capture. No error trap needed.
    std::string apply(Display* display);
    /// Whether another client has taken, since plan(), one of the unmodified states (Lock and
    /// NumLock aside) of an arrow or Enter that plan() found free: a plan reused without this
    /// check would grab through XInput2 past the other client's core grab and never be told.
    /// One round trip and an error trap, before apply().
    bool essentialStatesTakenSince(Display* display) const;
    /// Drops every grab apply() made.
    void remove(Display* display) noexcept;
    Counts counts() const noexcept;
    /// Whether plan() found the same keys, states and other clients' states in both.
    bool samePlan(const X11KeyGrabs& other) const noexcept;

private:
    struct Key {
        unsigned keycode = 0;
        std::bitset<256> wanted;  ///< states in which the key reports one of ours
        std::bitset<256> failed;  ///< wanted states another client holds
        bool operator==(const Key&) const = default;
    };

    std::vector<Key> m_keys;
    /// The master keyboards apply() grabbed on.
    std::vector<int> m_devices;
    /// Keycodes of the keys that must be grabbed without modifiers, and the NumLock modifier.
    std::vector<unsigned> m_essential;
    unsigned m_numLock = 0;
};
