#include "shell/on_off_follower.h"

#include <optional>
#include <string_view>
#include <utility>

#include "engine/numbers.h"
#include "engine/on_off_poll.h"
#include "shell/store_location.h"

namespace {

constexpr std::string_view kOnOffKey = "OnOff";

} // namespace

OnOffFollower::OnOffFollower(SettingsStore& store, RepeatingTimer& timer, const std::string& decimalSeparator,
                             std::function<void()> saveFailed)
    : m_store(store), m_timer(timer), m_decimalSeparator(decimalSeparator), m_saveFailed(std::move(saveFailed))
{
}

void OnOffFollower::start(ProgramEventSink& sink, const std::string& startState)
{
    m_storeWatched = m_store.watch(&sink);
    if (m_store.save(kAppName, kSectionName, kOnOffKey, startState) == StoreStatus::Ok) {
        m_seen = {StoreStatus::Ok, startState};
        return;
    }
    m_saveFailed();
    const StoredText left = m_store.read(kAppName, kSectionName, kOnOffKey);
    if (left.status != StoreStatus::Failed)
        m_seen = left;
}

void OnOffFollower::storeSwitch(const std::string& stateText)
{
    bool written = false;
    const StoreStatus status = m_store.update(
        kAppName, kSectionName, kOnOffKey, [&](const StoredText& current) -> std::optional<std::string> {
            if (UnfollowedRequest(current, m_seen, m_decimalSeparator)) {
                m_pollPending = true;
                return std::nullopt;
            }
            written = true;
            return stateText;
        });
    if (status != StoreStatus::Ok)
        m_saveFailed();
    else if (written)
        m_seen = {StoreStatus::Ok, stateText};
}

StoreStatus OnOffFollower::requestSwitch()
{
    return m_store.update(kAppName, kSectionName, kOnOffKey,
                          [this](const StoredText& stored) -> std::optional<std::string> {
                              std::optional<double> value;
                              if (stored.status == StoreStatus::Ok)
                                  value = parseNumber(stored.text, m_decimalSeparator);
                              const bool turnOn = !value || *value == 0.0;
                              return std::string(turnOn ? "1" : "0");
                          });
}

bool OnOffFollower::pollFollows(bool isOn)
{
    // A watched store that told of no change still holds what this copy last saw there: the
    // poll would follow nothing, so it is left out.
    if (m_storeWatched && !m_pollPending)
        return false;
    m_pollPending = false;
    const StoredText onOff = m_store.read(kAppName, kSectionName, kOnOffKey);
    const bool follow = PollFollows(onOff, m_seen, isOn, m_decimalSeparator);
    if (onOff.status != StoreStatus::Failed)
        m_seen = onOff;
    return follow;
}

void OnOffFollower::storeChanged(bool watching, bool ticks)
{
    if (!watching)
        m_storeWatched = false;
    m_pollPending = true;
    // A running timer polls at its next tick; a resting one polls at once, with a tick as
    // soon as the current handler returns. Before the start-up enabled the ticks, their
    // first one polls.
    if (ticks && !m_ticking) {
        m_ticking = true;
        m_timer.startNow();
    }
}

void OnOffFollower::updateTicking(bool ticks)
{
    const bool needed = ticks && (!m_storeWatched || m_pollPending);
    if (needed == m_ticking)
        return;
    m_ticking = needed;
    m_timer.setEnabled(needed);
}
