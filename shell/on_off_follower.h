#pragma once

#include <functional>
#include <string>

#include "platform/program_event_sink.h"
#include "platform/repeating_timer.h"
#include "platform/settings_store.h"

/// The on/off state shared between launches: "OnOff" in the store. A later launch flips it
/// there (requestSwitch), and the running copy follows: its timer polls the store and the
/// program switches when the poll says so. The running copy's own switches are stored too,
/// but never over a request it has not followed yet.
///
/// Owns what this copy last saw stored and when the platform timer has to run for the poll:
/// while a change to the store waits for its poll, or always when the store can't be watched.
/// Every reference must outlive the follower.
class OnOffFollower {
public:
    /// |saveFailed| runs when a write of "OnOff" fails, while the store's lastError() still
    /// says why.
    OnOffFollower(SettingsStore& store, RepeatingTimer& timer, const std::string& decimalSeparator,
                  std::function<void()> saveFailed);

    /// The running copy's start: watches the store for |sink| from before the first write, so
    /// no change of another process's goes unseen, then stores |startState|. When that write
    /// fails, what stays stored is no request: only what changes from here is followed.
    void start(ProgramEventSink& sink, const std::string& startState);
    /// Stores a switch this copy made, unless a later launch's request landed since this copy
    /// last looked: that one is left for the next poll to follow.
    void storeSwitch(const std::string& stateText);
    /// A later launch's switch: flips the stored state under the store's lock, so launches at
    /// the same moment each flip. An unknown stored state counts as off. Not Ok when the store
    /// refused; its lastError() says why.
    StoreStatus requestSwitch();

    /// The tick's poll: true when the stored state asks the program to switch from |isOn|.
    /// A watched store that told of no change is not read.
    bool pollFollows(bool isOn);
    /// The store may have changed: the next tick polls it, and one comes at once when |ticks|
    /// (the program's ticks are enabled) and the timer was resting. |watching| false: from now
    /// on every tick polls.
    void storeChanged(bool watching, bool ticks);
    /// Runs or rests the platform timer for what the ticks have to do now; |ticks| false
    /// rests it whatever is pending.
    void updateTicking(bool ticks);

private:
    SettingsStore& m_store;
    RepeatingTimer& m_timer;
    const std::string& m_decimalSeparator;
    std::function<void()> m_saveFailed;
    /// "OnOff" as this copy last read or stored it: only a different value is a request.
    StoredText m_seen;
    /// The store tells this copy of every change, so ticks need not poll it unasked.
    bool m_storeWatched = false;
    /// A change to the store that no tick has polled yet.
    bool m_pollPending = false;
    /// Whether the platform timer was last told to run.
    bool m_ticking = false;
};
