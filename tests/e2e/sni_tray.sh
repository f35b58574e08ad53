#!/usr/bin/env bash
# The tray on a StatusNotifierItem host (xfce4-panel's status tray over D-Bus), driven with the
# mouse as a user does: the icon and its state, the double click, the host's own right-click menu
# with each of its items, and a failure message when no notification service can show it.
E2E_PRIVATE_BUS=1
E2E_BUS_WITHOUT='*Notifications*'  # no notification service until the test starts one
source "$(dirname "$0")/session.sh"

# sni_item: the bus name of Pavro's registered item ("<name>/StatusNotifierItem" at the watcher).
sni_item() { sni_watcher_property RegisteredStatusNotifierItems | grep -o '"[^"]*/StatusNotifierItem"' | cut -d/ -f1 | tr -d '"' | head -n 1; }
item_property() {
    dbus-send --session --print-reply --dest="$ITEM" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierItem "string:$1" 2>/dev/null
}
# menu_labels: the exported menu's item labels as the host reads them, one line.
menu_labels() {
    local menu
    menu=$(item_property Menu | sed -n 's/.*object path "\(.*\)"/\1/p')
    dbus-send --session --print-reply --dest="$ITEM" "$menu" com.canonical.dbusmenu.GetLayout int32:0 int32:-1 \
        array:string: 2>/dev/null | grep -A1 '"label"' | sed -n 's/.*string "\(.*\)"/\1/p' | grep -v '^label$' | paste -sd'|'
}
window_named() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
item_has() { item_property "$1" | grep -qF -- "$2"; }  # item_has <property> <text>
menu_is() { [[ $(menu_labels) == "$1" ]]; }
item_registered() { [[ -n $(sni_item) ]]; }
# icon_blueness: how much bluer than red the icon on the panel is (the active image is blue).
icon_blueness() {
    read -r x y <<<"$PANEL_ICON"
    import -window root -crop 16x16+$((x - 8))+$((y - 8)) +repage -format '%[fx:int(100*(mean.b-mean.r))]' info:
}
icon_active() { (($(icon_blueness) > 20)); }
icon_inactive() { (($(icon_blueness) < 5)); }
double_click_icon() { xdotool mousemove $PANEL_ICON click --repeat 2 --delay 80 1; }
# host_menu_item <index>: the host's right click on the icon, then item <index> of the menu it shows.
host_menu_item() {
    xdotool mousemove $PANEL_ICON click 3
    wait_until 5 menu_window wrapper-2.0 >/dev/null || { fail "the host showed no menu"; return 1; }
    choose_item "$1" "$(menu_window wrapper-2.0)"
}

start_x
start_wm
start_sni_tray
new_profile sni
start_pavro || abort "Pavro did not start"
check "Pavro registered its item with the host" wait_until 10 item_registered
ITEM=$(sni_item)
check "the item exports a menu" item_has Menu 'object path "/MenuBar"'
check "its tooltip reads Cursor" item_has ToolTip '"Cursor"'
check "the menu offers &Turn On, Settings, &Exit" menu_is "_Turn On|Settings|_Exit"
check "the panel shows the inactive image" wait_until 5 icon_inactive

# --- Two activations within the double-click interval switch; one alone does nothing ---
double_click_icon
check "a double click on the icon switched on" wait_until 5 conf_is OnOff 1
check "... the panel shows the active image" wait_until 5 icon_active
check "... the menu says &Turn Off" wait_until 5 menu_is "_Turn Off|Settings|_Exit"
xdotool mousemove $PANEL_ICON click 1
sleep 0.6  # longer than the double-click interval: the next two clicks are a pair of their own
double_click_icon
# Had the single click counted, the double click would have been its pair and one click left over.
check "a single click did nothing (the double click after it switched off)" wait_until 5 conf_is OnOff 0
check "... the panel shows the inactive image again" wait_until 5 icon_inactive

# --- The host's right click shows Pavro's menu; each item does its work ---
host_menu_item 0
check "the host's menu: \"&Turn On\" switched on" wait_until 5 conf_is OnOff 1
host_menu_item 1
check "the host's menu: \"Settings\" showed the window" \
    wait_until 5 window_named "^${CAPTION//./\\.}\$"

# A host that leaves the menu to the item (ContextMenu) gets Pavro's own popup.
dbus-send --session --print-reply --dest="$ITEM" /StatusNotifierItem org.kde.StatusNotifierItem.ContextMenu \
    int32:100 int32:100 >/dev/null
check "a host asking the item for its menu gets Pavro's popup" wait_until 5 menu_window
xdotool key Escape
wait_until 5 not menu_window

host_menu_item 2
check "the host's menu: \"&Exit\" ended Pavro" wait_until 5 pavro_ended
check "... and saved the settings" conf_is version "$STORED_VERSION"
# --- A failure message: the item asks for attention, and with no notification service in the
# session to show it, a dialog tells it ---
"$(dirname "$PROBE_BIN")/key_holder" >"$E2E_WORK/holder.log" 2>&1 &
track $!
wait_until 5 grep -q holding "$E2E_WORK/holder.log"
new_profile sni-message
start_pavro || abort "Pavro did not start again"
wait_until 10 item_registered && ITEM=$(sni_item)
# On by a second launch: the panel may not show the new item's icon yet, and this part is
# about the message, not the click.
second_launch  # on: the arrows are held by another program
check "a capture failure: the item needs attention" wait_until 5 item_has Status NeedsAttention
check "... its tooltip tells why" item_has ToolTip "could not capture the arrow keys"
check "... and with no notification service a dialog tells it too" wait_until 5 window_named '^Pavro$'

# With a notification service (XFCE's own), the message is a notification and no dialog.
/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd >"$E2E_WORK/notifyd.log" 2>&1 &
track $!
wait_until 10 dbus-send --session --print-reply --dest=org.freedesktop.Notifications /org/freedesktop/Notifications \
    org.freedesktop.Notifications.GetServerInformation >/dev/null 2>&1 || abort "xfce4-notifyd did not start"
stop_pid "$PAVRO_PID"
new_profile sni-notification
start_pavro || abort "Pavro did not start a third time"
wait_until 10 item_registered && ITEM=$(sni_item)
second_launch
check "with a notification service: the message is a notification" \
    wait_until 5 bash -c "xdotool search --onlyvisible --class Xfce4-notifyd >/dev/null 2>&1"
check "... and no dialog" not window_named '^Pavro$'
finish
