#include "platform/fake/fake_platform.h"

#include "platform/program_event_sink.h"

#include <algorithm>
#include <utility>

namespace {

const char* imageName(TrayImage image)
{
    switch (image) {
    case TrayImage::Active: return "active";
    case TrayImage::Inactive: return "inactive";
    case TrayImage::None: break;
    }
    return "none";
}

std::string sectionKey(std::string_view app, std::string_view section)
{
    return std::string(app) + "/" + std::string(section);
}

} // namespace

std::vector<std::string> CallLog::only(std::initializer_list<std::string_view> prefixes) const
{
    std::vector<std::string> result;
    for (const std::string& call : m_calls) {
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&](std::string_view prefix) { return call.rfind(prefix, 0) == 0; }))
            result.push_back(call);
    }
    return result;
}

std::uintptr_t FakeKeyEventSource::install(KeySink& sink)
{
    if (refuse) {
        m_log.add("SetWindowsHookEx -> 0");
        return 0;
    }
    m_sink = &sink;
    m_handle = m_nextHandle++;
    m_log.add("SetWindowsHookEx -> " + std::to_string(m_handle));
    return m_handle;
}

std::uintptr_t FakeKeyEventSource::reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                                             std::uint8_t& stillDown)
{
    uninstall(handle);
    const std::uintptr_t installed = install(sink);
    stillDown = installed != 0 ? static_cast<std::uint8_t>(claimed & keysDown) : 0;
    return installed;
}

void FakeKeyEventSource::uninstall(std::uintptr_t handle)
{
    m_log.add("UnhookWindowsHookEx " + std::to_string(handle));
    if (handle != 0 && handle == m_handle) {
        m_sink = nullptr;
        m_handle = 0;
    }
}

int FakeKeyEventSource::deliver(const KeyChange& change)
{
    if (!m_sink)
        return -1;
    return m_sink->keyChanged(change) ? 1 : 0;
}

int FakeInputLoop::press(CapturedKey key, bool alt)
{
    const int result = m_keys.press(key, alt);
    afterChange();
    return result;
}

int FakeInputLoop::release(CapturedKey key, bool alt)
{
    const int result = m_keys.release(key, alt);
    afterChange();
    return result;
}

void FakeInputLoop::afterChange()
{
    if (const auto due = core().nextTick(); due && *due <= now)
        core().runDue(now);
}

void FakeInputLoop::advance(std::int32_t ms)
{
    const LoopTime until = now + static_cast<LoopTime>(ms) * 1'000'000;
    for (auto due = core().nextTick(); due && *due <= until; due = core().nextTick()) {
        now = std::max(now, *due);
        core().runDue(now);
    }
    now = until;
}

bool FakeInputLoop::tick()
{
    const auto due = core().nextTick();
    if (!due)
        return false;
    now = std::max(now, *due);
    core().runDue(now);
    return true;
}

bool FakePointer::read(CursorPoint& point)
{
    m_log.add("GetCursorPos");
    if (failReads)
        return false;
    point = position;
    return true;
}

bool FakePointer::moveTo(std::int32_t x, std::int32_t y)
{
    m_log.add("SetCursorPos " + std::to_string(x) + "," + std::to_string(y));
    if (failMoves)
        return false;
    position.x = std::clamp(x, 0, width - 1);
    position.y = std::clamp(y, 0, height - 1);
    return true;
}

StoredText FakeSettingsStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    m_log.add("GetSetting " + std::string(key));
    m_lastError = m_data.unusable;
    if (!m_data.unusable.empty() || m_data.failReads.count(std::string(key)))
        return {StoreStatus::Failed, {}};
    const auto group = m_data.values.find(sectionKey(app, section));
    if (group == m_data.values.end())
        return {StoreStatus::Missing, {}};
    const auto value = group->second.find(std::string(key));
    if (value == group->second.end())
        return {StoreStatus::Missing, {}};
    return {StoreStatus::Ok, value->second};
}

StoreStatus FakeSettingsStore::save(std::string_view app, std::string_view section, std::string_view key,
                                    std::string_view value)
{
    m_log.add("SaveSetting " + std::string(key) + "=" + std::string(value));
    m_lastError = m_data.unusable;
    if (!m_data.unusable.empty())
        return StoreStatus::Failed;
    if (m_data.failSaves.count(std::string(key))) {
        m_lastError = "the test refused to write " + std::string(key);
        return StoreStatus::Failed;
    }
    m_data.values[sectionKey(app, section)][std::string(key)] = std::string(value);
    ++m_data.changes;
    return StoreStatus::Ok;
}

StoreStatus FakeSettingsStore::removeSection(std::string_view app, std::string_view section)
{
    m_log.add("DeleteSetting " + sectionKey(app, section));
    m_lastError = m_data.unusable.empty() ? "the test refused the removal" : m_data.unusable;
    if (m_data.failRemove || !m_data.unusable.empty())
        return StoreStatus::Failed;
    if (m_data.values.erase(sectionKey(app, section)) == 0)
        return StoreStatus::Missing;
    ++m_data.changes;
    return StoreStatus::Ok;
}

bool FakeSettingsStore::watch(ProgramEventSink* sink)
{
    m_watcher = m_data.watchable ? sink : nullptr;
    m_changesTold = m_data.changes;
    return m_watcher != nullptr;
}

bool FakeSettingsStore::deliverChanges()
{
    if (m_watcher == nullptr || m_changesTold == m_data.changes)
        return false;
    m_changesTold = m_data.changes;
    m_watcher->storeChanged(true);
    return true;
}

StoreStatus FakeSettingsStore::whileLocked(std::string_view, std::string_view, std::string_view key,
                                           const std::function<StoreStatus()>& locked)
{
    if (auto other = std::exchange(m_data.beforeUpdate, nullptr))
        other();
    m_log.add("UpdateSetting " + std::string(key));
    return locked();
}

std::string FakeStoreData::value(const std::string& key) const
{
    const auto group = values.find("Pavro/Settings");
    if (group == values.end())
        return "<missing>";
    const auto found = group->second.find(key);
    return found == group->second.end() ? "<missing>" : found->second;
}

void FakeSettingsView::setFieldText(int index, std::string_view text)
{
    texts[index] = std::string(text);
    m_log.add("Text1(" + std::to_string(index) + ")=" + texts[index]);
}

void FakeSettingsView::createControls(const WindowLayout& layout)
{
    m_log.add("CreateControls");
    caption = std::string(layout.caption);
    for (const ControlSpec& control : layout.controls) {
        const auto i = static_cast<std::size_t>(control.index);
        switch (control.name) {
        case ControlName::MotionField: texts[i] = std::to_string(control.value); break;
        case ControlName::MotionSlider: sliders[i] = control.value; break;
        case ControlName::OptionCheck: checks[i] = control.value; break;
        case ControlName::OnOffButton: buttonCaption = std::string(control.caption); break;
        case ControlName::OnOffMenuItem: menuCaption = std::string(control.caption); break;
        default: break;
        }
    }
}

void FakeSettingsView::setSliderValue(int index, std::int16_t value)
{
    sliders[index] = value;
    m_log.add("HScroll1(" + std::to_string(index) + ")=" + std::to_string(value));
}

void FakeSettingsView::setCheckValue(int index, std::int16_t value)
{
    checks[index] = value;
    m_log.add("chkDefault(" + std::to_string(index) + ")=" + std::to_string(value));
}

void FakeSettingsView::setButtonOnOffCaption(std::string_view text)
{
    buttonCaption = std::string(text);
    m_log.add("cmdOnOff.Caption=" + buttonCaption);
}

void FakeSettingsView::setMenuOnOffCaption(std::string_view text)
{
    menuCaption = std::string(text);
    m_log.add("mnuOnOff.Caption=" + menuCaption);
}

void FakeSettingsView::setCaption(std::string_view text)
{
    caption = std::string(text);
    m_log.add("Caption=" + caption);
}

void FakeSettingsView::show()
{
    visible = true;
    m_log.add("Show");
}

void FakeSettingsView::hide()
{
    visible = false;
    m_log.add("Hide");
}

void FakeSettingsView::setWindowState(WindowState newState)
{
    state = newState;
    m_log.add(std::string("WindowState=") + (newState == WindowState::Minimized ? "1" : "0"));
}

void FakeSettingsView::unload()
{
    unloaded = true;
    m_log.add("Unload");
}

bool FakeTrayIcon::add(TrayImage newImage, std::string_view newTip)
{
    m_log.add(std::string("NIM_ADD ") + imageName(newImage) + " " + std::string(newTip));
    if (refuseAdd)
        return false;
    shown = true;
    image = newImage;
    tip = std::string(newTip);
    return true;
}

bool FakeTrayIcon::modify(TrayImage newImage)
{
    m_log.add(std::string("NIM_MODIFY ") + imageName(newImage));
    image = newImage;
    return shown;
}

bool FakeTrayIcon::remove()
{
    m_log.add("NIM_DELETE");
    const bool was = shown;
    shown = false;
    return was;
}

void FakeTrayIcon::showMessage(std::string_view title, std::string_view text)
{
    m_log.add("TrayMessage " + std::string(title) + ": " + std::string(text));
}

void FakeRepeatingTimer::setEnabled(bool on)
{
    enabled = on;
    m_log.add(std::string("Timer1.Enabled=") + (on ? "1" : "0"));
}

void FakeRepeatingTimer::startNow()
{
    enabled = true;
    ++immediateTicks;
}

void FakeRepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    period = milliseconds;
    m_log.add("Timer1.Period=" + std::to_string(milliseconds));
}

bool FakeInstanceLock::tryAcquire()
{
    const bool first = !m_table.held;
    m_table.held = true;
    m_log.add(std::string("PrevInstance=") + (first ? "0" : "1"));
    if (first) {
        m_holds = true;
        m_table.holder = m_sink;
    }
    return first;
}

FakeInstanceLock::~FakeInstanceLock()
{
    // The lock stays taken, as the tests have always had it; only the sink goes away.
    if (m_holds)
        m_table.holder = nullptr;
}

void FakeInstanceLock::setEventSink(ProgramEventSink* sink)
{
    m_sink = sink;
    if (m_holds)
        m_table.holder = sink;
}

bool FakeInstanceLock::forward(LaunchRequest request, std::string& reason)
{
    m_log.add("forward");
    if (m_table.holder == nullptr) {
        reason = "the running copy could not be reached";
        return false;
    }
    return m_table.holder->instanceRequest(request, reason);
}

FakePlatform::FakePlatform(FakeStoreData& sharedStore, FakeLockTable& sharedLocks, AppVersion appVersion)
    : store(sharedStore, log), instance(log, sharedLocks), version(appVersion)
{
}
