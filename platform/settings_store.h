#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class ProgramEventSink;

enum class StoreStatus {
    Ok,       ///< the operation found (read) or did (save, remove, update) what it was asked
    Missing,  ///< read: no such key; remove: no such section, nothing was changed
    Failed,   ///< the store could not be read or written
};

struct StoredText {
    StoreStatus status = StoreStatus::Missing;
    /// The stored text when status is Ok (it may be empty); empty otherwise.
    std::string text;
    bool operator==(const StoredText&) const = default;
};

/// The per-user application settings store, shared by every process of the user.
/// Values are text, addressed by application, section and key. Writes must be atomic:
/// a crash never leaves a half-written store behind.
///
/// A store that can't be used as a whole (its place unsafe or unwritable, its file not a file)
/// fails every call that needs it, and lastError() says why; nothing blocks for long.
class SettingsStore {
public:
    /// What update() makes of the value it found: the text to store, or nothing to leave it.
    using Change = std::function<std::optional<std::string>(const StoredText& current)>;

    virtual ~SettingsStore() = default;
    /// Reads one value. Must see another process's latest write, and stay cheap when
    /// nothing changed (it runs on every tick). A stored value that is not text reads as
    /// Failed with an empty lastError(); a store that can't be read, as Failed with the reason.
    [[nodiscard]] virtual StoredText read(std::string_view app, std::string_view section, std::string_view key) = 0;
    /// Creates what is missing and overwrites the value. Ok, or Failed with nothing changed.
    [[nodiscard]] virtual StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                                           std::string_view value) = 0;
    /// Removes the section with all its keys and nothing else: Ok, Missing when there was
    /// no such section, Failed when the store refused.
    [[nodiscard]] virtual StoreStatus removeSection(std::string_view app, std::string_view section) = 0;
    /// Reads |key| afresh, asks |change| what to make of it and stores that, while every other
    /// process's update waits: two updates never both act on the same value. Ok when |change|
    /// ran and what it asked for was stored (or it asked for nothing); Failed when the store
    /// refused, could not be read or stayed busy for two seconds (|change| may not have run).
    [[nodiscard]] StoreStatus update(std::string_view app, std::string_view section, std::string_view key,
                                     const Change& change)
    {
        return whileLocked(app, section, key, [&] {
            const StoredText current = read(app, section, key);
            if (current.status == StoreStatus::Failed && !lastError().empty())
                return StoreStatus::Failed;
            const std::optional<std::string> next = change(current);
            return next ? save(app, section, key, *next) : StoreStatus::Ok;
        });
    }
    /// Why the last call that returned Failed failed, as one line for the user; empty when
    /// only the value was at fault (stored, but not as text).
    virtual std::string lastError() const = 0;
    /// Tells |sink| (storeChanged) whenever a stored value may have changed, by this or any
    /// other process, until watch(nullptr) or the store's end; a change may be told more than
    /// once, and never in the middle of another handler. True when watching; false when this
    /// store can't be watched, and whoever follows it must read it on every tick instead.
    virtual bool watch(ProgramEventSink* sink)
    {
        (void)sink;
        return false;
    }

protected:
    /// Runs |locked| (which reads and saves |key|) while holding the lock that every process's
    /// update of |app|'s |section| takes, and returns what it returned; Failed, with the reason
    /// in lastError() and without running it, when the lock could not be had within two seconds.
    virtual StoreStatus whileLocked(std::string_view app, std::string_view section, std::string_view key,
                                    const std::function<StoreStatus()>& locked) = 0;
};
