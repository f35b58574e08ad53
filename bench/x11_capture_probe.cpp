#include "x11_capture_probe.h"

#include <cstdint>

#include <X11/Xlibint.h>
#include <X11/extensions/XI2proto.h>
#include <X11/extensions/XInput2.h>

X11CaptureProbe::X11CaptureProbe(Display* display) : m_display(display)
{
    int event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &m_opcode, &event, &error))
        return;
    int major = 2, minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success) {
        m_opcode = 0;
        return;
    }
    int count = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(display, XIAllMasterDevices, &count)) {
        for (int i = 0; i < count && m_keyboard == 0; ++i)
            if (devices[i].use == XIMasterKeyboard)
                m_keyboard = devices[i].deviceid;
        XIFreeDeviceInfo(devices);
    }
}

namespace {

/// The grab's answer, read by Xlib as it passes on the way to the answer waited for.
struct GrabAnswer {
    unsigned long sequence = 0;
    bool answered = false;
    bool refused = false;
};

Bool readGrabAnswer(Display* dpy, xReply* reply, char* buffer, int length, XPointer data)
{
    auto* answer = reinterpret_cast<GrabAnswer*>(data);
    if (dpy->last_request_read != answer->sequence || reply->generic.type == X_Error)
        return False;
    xXIPassiveGrabDeviceReply copy{};
    const auto* grab = reinterpret_cast<const xXIPassiveGrabDeviceReply*>(
        _XGetAsyncReply(dpy, reinterpret_cast<char*>(&copy), reply, buffer, length, 0, True));
    answer->answered = true;
    answer->refused = grab->num_modifiers > 0;
    return True;
}

} // namespace

bool X11CaptureProbe::heldByAnother(unsigned keycode, unsigned modifiers)
{
    Display* dpy = m_display;  // the name Xlib's request macros expect
    const ::Window root = DefaultRootWindow(dpy);
    // The server serves no one else from the trial grab to its release: a server that yields
    // between two requests of one write (its time slice ran out) would otherwise let another
    // client's grab meet ours and fail.
    XGrabServer(dpy);
    LockDisplay(dpy);
    // The grab, with an empty event mask of one unit and one modifier set after it.
    xXIPassiveGrabDeviceReq* grab = nullptr;
    GetReqExtra(XIPassiveGrabDevice, 8, grab);
    grab->reqType = static_cast<std::uint8_t>(m_opcode);
    grab->ReqType = X_XIPassiveGrabDevice;
    grab->time = CurrentTime;
    grab->grab_window = static_cast<std::uint32_t>(root);
    grab->cursor = None;
    grab->detail = keycode;
    grab->deviceid = static_cast<std::uint16_t>(m_keyboard);
    grab->num_modifiers = 1;
    grab->mask_len = 1;
    grab->grab_type = XIGrabtypeKeycode;
    grab->grab_mode = XIGrabModeAsync;
    grab->paired_device_mode = XIGrabModeAsync;
    grab->owner_events = False;
    auto* grabExtra = reinterpret_cast<std::uint32_t*>(grab + 1);
    grabExtra[0] = 0;
    grabExtra[1] = modifiers;
    GrabAnswer answer;
    answer.sequence = dpy->request;
    _XAsyncHandler handler{};
    handler.next = dpy->async_handlers;
    handler.handler = readGrabAnswer;
    handler.data = reinterpret_cast<XPointer>(&answer);
    dpy->async_handlers = &handler;
    // Its release: a no-op when the grab was refused (only a client's own grabs go).
    xXIPassiveUngrabDeviceReq* ungrab = nullptr;
    GetReqExtra(XIPassiveUngrabDevice, 4, ungrab);
    ungrab->reqType = static_cast<std::uint8_t>(m_opcode);
    ungrab->ReqType = X_XIPassiveUngrabDevice;
    ungrab->grab_window = static_cast<std::uint32_t>(root);
    ungrab->detail = keycode;
    ungrab->deviceid = static_cast<std::uint16_t>(m_keyboard);
    ungrab->num_modifiers = 1;
    ungrab->grab_type = XIGrabtypeKeycode;
    *reinterpret_cast<std::uint32_t*>(ungrab + 1) = modifiers;
    xReq* release = nullptr;
    GetEmptyReq(UngrabServer, release);
    (void)release;
    // All of it goes out in one write with the wait for the last one's answer.
    xGetInputFocusReply focus{};
    xReq* sync = nullptr;
    GetEmptyReq(GetInputFocus, sync);
    (void)sync;
    _XReply(dpy, reinterpret_cast<xReply*>(&focus), 0, True);
    DeqAsyncHandler(dpy, &handler);
    UnlockDisplay(dpy);
    SyncHandle();
    return answer.answered && answer.refused;
}
