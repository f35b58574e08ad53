#!/usr/bin/env bash
# Pavro in a real Wayland session, run as root inside the machine of run_compositor_vm.sh: udev,
# seatd, sway reading every input device through libinput, `wev` full screen as the client, and
# a "physical" keyboard made through uinput for the user's own. Pavro itself runs as an
# unprivileged member of the input group, with the udev rule it ships. What reaches the client
# is read from wev's log: pointer motion in pixels, button and key events.
# Usage: compositor_session.sh OUT_DIR (holding "programs"; the logs are left there)
out=$1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp

source "$out/programs"
source "$(dirname "$0")/../lib/desktop.sh"
E2E_CURRENT=compositor
# Emulated processors are slow: a poll of the script's own must not starve the programs it waits for.
E2E_POLL_SECONDS=0.1
log() { printf '%6s %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$*" >&2; }
phase() { log "--- $*"; }

# evdev codes; the client sees each key as its code + 8.
KEY_ENTER=28 KEY_LEFTALT=56 KEY_RIGHT=106 KEY_UP=103 KEY_DOWN=108
KEY_A=30 KEY_B=48 KEY_C=46 KEY_D=32 KEY_E=18 KEY_1=2 KEY_SPACE=57 KEY_LEFTSHIFT=42

# --- The user, udev and the seat ---
user=pavrovm uid=4242
# The group that udev gives the input devices, and Pavro's rule /dev/uinput.
getent group input >/dev/null || echo "input:x:4243:" >>/etc/group
input_gid=$(getent group input | cut -d: -f3)
echo "$user:x:$uid:$uid::/tmp/home:/bin/sh" >>/etc/passwd
echo "$user:x:$uid:" >>/etc/group
runtime=/run/user/$uid
mkdir -p "$runtime" /tmp/home
chown "$user:$user" "$runtime" /tmp/home
chmod 700 "$runtime"

phase "udev"
cp "$UDEV_RULES" /etc/udev/rules.d/
/lib/systemd/systemd-udevd --daemon 2>"$out/udev.log"
# udevadm refuses to act in a chroot unless told that this one is the system.
export SYSTEMD_IGNORE_CHROOT=1
udevadm trigger --action=add
udevadm settle --timeout=30 || abort "udev did not settle"
check "Pavro's udev rule opens /dev/uinput to the input group" test "$(stat -c '%G %a' /dev/uinput)" == "input 660"
seatd -u "$user" -g "$user" >"$out/seatd.log" 2>&1 &
track $!
wait_until 10 test -S /run/seatd.sock || abort "seatd did not start"

# as_user <command...>: runs as the session's user, in its Wayland session.
as_user() {
    setpriv --reuid=$uid --regid=$uid --groups=$uid,$input_gid \
        env -i PATH=/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 \
        QT_QPA_PLATFORM=wayland "$@"
}

phase "sway"
cat >/tmp/home/sway.conf <<'CONFIG'
output HEADLESS-1 resolution 1280x720 position 0 0
default_border none
xwayland disable
focus_follows_mouse no
input type:pointer {
    accel_profile flat
    pointer_accel 0
}
for_window [app_id="wev"] fullscreen enable
# With no notification area Pavro says so in a window of its own: elsewhere, so that the
# client keeps the keyboard and stays under the pointer.
assign [app_id="Pavro"] workspace 2
assign [title="Pavro"] workspace 2
CONFIG
as_user env WLR_BACKENDS=headless,libinput WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 LIBSEAT_BACKEND=seatd \
    sway -c /tmp/home/sway.conf >"$out/sway.log" 2>&1 &
track $!
# The test's own requests to sway go straight to its socket (as root, which spares two programs
# per request on the slow emulated processor).
sway_ready() {
    SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1)
    [[ -n $SWAYSOCK ]] && test -S "$runtime/wayland-1" && export SWAYSOCK
}
wait_until 30 sway_ready || abort "sway did not start"
has_input() { swaymsg -t get_inputs | grep -q "\"name\": \"$1\""; }

# Pavro with a store of its own.
launch() { as_user env XDG_CONFIG_HOME=/tmp/pavro "$PAVRO_BIN" "$@"; }

# Pavro starts first: its start-up and its wait for a notification area overlap the client's.
phase "Pavro"
launch >"$out/pavro.log" 2>&1 &
PAVRO_PID=$!
track $PAVRO_PID

# The user's keyboard, typed on through commands (physical_keyboard.cpp).
coproc KEYBOARD { "$KEYBOARD_BIN"; }
track "$KEYBOARD_PID"
read -r -t 10 -u "${KEYBOARD[0]}" node && [[ $node == /dev/input/* ]] || abort "no physical keyboard: $node"
kb() {
    local answer
    echo "$*" >&"${KEYBOARD[1]}"
    read -r -t 15 -u "${KEYBOARD[0]}" answer && [[ $answer == ok ]]
}

phase "client"
WEV_LOG=$out/wev.log
as_user stdbuf -oL wev -f wl_pointer:enter -f wl_pointer:motion -f wl_pointer:button \
    -f wl_keyboard:enter -f wl_keyboard:key >"$WEV_LOG" 2>&1 &
track $!
wait_until 20 grep -q 'wl_keyboard.*enter' "$WEV_LOG" || abort "the client did not get the keyboard focus"
wait_until 10 has_input "Physical test keyboard" || abort "sway did not take the physical keyboard"

# --- What the client saw, from a line of its log on ---
mark() { wc -l <"$WEV_LOG"; }
# motions_since <line>: "x y" of each pointer motion, in pixels (the pointer's entry included: a
# warp from outside the client is one).
motions_since() {
    tail -n +$(($1 + 1)) "$WEV_LOG" | sed -n 's/.*wl_pointer.*\(motion\|enter\):.*x, y: \([-0-9.]*\), \([-0-9.]*\).*/\2 \3/p'
}
# steps_from <line> <x> <y>: the x and y change of each motion since the line, from x,y on.
steps_from() {
    motions_since "$1" | awk -v x="$2" -v y="$3" '{ printf "%g,%g ", $1 - x, $2 - y; x = $1; y = $2 }'
}
# keys_since <line>: "code:state" of each key event, once per serial (wev holds two keyboards).
keys_since() {
    tail -n +$(($1 + 1)) "$WEV_LOG" |
        sed -n 's/.*wl_keyboard.*key: serial: \([0-9]*\);.*key: \([0-9]*\); state: \([01]\).*/\1 \2:\3/p' |
        awk '!seen[$1]++ { printf "%s ", $2 }'
}
# buttons_since <line>: the state of each left-button event.
buttons_since() {
    tail -n +$(($1 + 1)) "$WEV_LOG" | sed -n 's/.*wl_pointer.*button:.*button: 272.*state: \([01]\).*/\1/p' |
        tr '\n' ' '
}
buttons_are() { [[ $(buttons_since "$1") == "$2 " ]]; }  # buttons_are <line> <states>
keys_are() { [[ $(keys_since "$1") == "$2 " ]]; }  # keys_are <line> <code:state...>
# typed <line> <code:state...>: waits until the keys since the line are exactly these, in order.
typed() {
    wait_until 5 keys_are "$@" || { log "the client saw keys: $(keys_since "$1")(expected: $2)"; return 1; }
}
# pressed_now: keys and buttons the client last saw go down and never saw go up.
pressed_now() {
    { keys_since 0 | tr ' ' '\n'; buttons_since 0 | tr ' ' '\n' | sed 's/^/button:/'; } |
        awk -F: 'NF == 2 { state[$1] = $2 } END { for (k in state) if (state[k] == 1) printf "%s ", k }'
}
pointer_is() { [[ $(motions_since 0 | tail -n 1) == "$1.000000 $2.000000" ]]; }
warp() {
    swaymsg seat seat0 cursor set "$1" "$2" >/dev/null
    wait_until 5 pointer_is "$1" "$2"
}
# quiet_for <seconds>: no motion reaches the client for that long.
quiet_for() {
    local before
    before=$(mark)
    sleep "$1"
    [[ -z $(motions_since "$before") ]]
}
# stops: the pointer comes to rest within seconds, short of the right edge (where a held Right
# would come to rest too).
stops() { wait_until 5 quiet_for 0.5 && motions_since 0 | tail -n 1 | awk '{ exit !($1 < 1000) }'; }

has_pointer_device() { has_input "Pavro pointer"; }
wait_until 30 test -s /tmp/pavro/Pavro/Pavro.conf || abort "Pavro did not start"
check "Pavro's pointer joins the session" wait_until 10 has_pointer_device
kb down $KEY_A && kb up $KEY_A
check "with control off, a key reaches the client" typed 0 "38:1 38:0"

phase "second launch"
launch >"$out/second.log" 2>&1
check "a second launch ends with status 0" test $? -eq 0
check "... and the running copy grabs the physical keyboard" kb grabbed
check "... and its pass-through keyboard joins the session" wait_until 10 has_input "Pavro pass-through keyboard"

# hold_right_from <x> <y>: puts the pointer there, holds Right for 0.8 s and sets STEPS to each
# x,y change the client saw.
hold_right_from() {
    local line
    warp "$1" "$2" || fail "the pointer was not put at $1,$2"
    line=$(mark)
    kb down $KEY_RIGHT && sleep 0.8 && kb up $KEY_RIGHT
    sleep 0.3
    STEPS=$(steps_from "$line" "$1" "$2")
}

# Said after a grace period, in a window that must not come between the client and what it
# sees. Its first text is the program's first: the fonts are loaded then, on the thread that
# also moves the pointer, which takes seconds on the emulated processor. The checks begin once
# the window is on screen.
message_shown() { grep -q "No notification area" "$out/pavro.log" && swaymsg -t get_tree | grep -q '"name": "Pavro"'; }
check "with no notification area, Pavro says so" wait_until 40 message_shown

phase "steps, flat profile"
hold_right_from 200 300
log "held Right, flat profile: steps $STEPS"
std_then_fast() { [[ $STEPS =~ ^(6,0 ){11}(20,0 )+$ ]]; }
check "the held arrow moves the pointer right by 6 px eleven times, then by 20 px" std_then_fast

phase "steps, adaptive profile"
swaymsg input type:pointer accel_profile adaptive >/dev/null
hold_right_from 200 400
log "held Right, adaptive profile: steps $STEPS"
rightwards() { [[ $STEPS =~ ^([0-9.]+,0 )+$ && ! $STEPS =~ (^| )0,0 ]]; }
check "with the adaptive profile the held arrow moves the pointer right only" rightwards
swaymsg input type:pointer accel_profile flat >/dev/null

phase "click and typing"
warp 640 360 || fail "the pointer was not put at 640,360"
line=$(mark)
kb down $KEY_ENTER
check "Enter presses the client's left button" wait_until 5 buttons_are "$line" 1
kb up $KEY_ENTER
check "... and its release releases it" wait_until 5 buttons_are "$line" "1 0"
line=$(mark)
for step in "down $KEY_B" "up $KEY_B" "down $KEY_RIGHT" "down $KEY_LEFTSHIFT" "down $KEY_C" "up $KEY_RIGHT" \
    "up $KEY_C" "up $KEY_LEFTSHIFT" "down $KEY_ENTER" "down $KEY_1" "up $KEY_ENTER" "up $KEY_1" "down $KEY_UP" \
    "down $KEY_SPACE" "up $KEY_SPACE" "up $KEY_UP" "down $KEY_DOWN" "up $KEY_DOWN" "down $KEY_D" "up $KEY_D"; do
    kb $step || fail "the keyboard refused: $step"
done
check "every other key reaches the client in order; arrows and Enter do not" \
    typed "$line" "56:1 56:0 50:1 54:1 54:0 50:0 10:1 10:0 65:1 65:0 40:1 40:0"
check "... and the Enter among them clicked" buttons_are "$line" "1 0"

phase "releases under Alt"
warp 200 500 || fail "the pointer was not put at 200,500"
kb down $KEY_RIGHT && sleep 0.2 && kb down $KEY_LEFTALT && kb up $KEY_RIGHT && kb up $KEY_LEFTALT
check "Right released while Alt is down stops the pointer" stops
line=$(mark)
kb down $KEY_ENTER && kb down $KEY_LEFTALT && kb up $KEY_ENTER && kb up $KEY_LEFTALT
check "Enter released while Alt is down releases the button" wait_until 5 buttons_are "$line" "1 0"
check "... and the client saw Alt alone" typed "$line" "64:1 64:0"

phase "switched off while keys are held"
line=$(mark)
kb down $KEY_RIGHT && kb down $KEY_ENTER && kb down $KEY_E
sleep 0.2
launch >>"$out/second.log" 2>&1
check "a third launch switches off: the physical keyboard is free again" kb free
check "... the button went up" wait_until 5 buttons_are "$line" "1 0"
check "... the key held through the switch went up" typed "$line" "26:1 26:0"
kb up $KEY_RIGHT && kb up $KEY_ENTER && kb up $KEY_E
line=$(mark)
kb down $KEY_RIGHT && kb up $KEY_RIGHT
check "with control off the arrow reaches the client" typed "$line" "114:1 114:0"
check "nothing is left pressed for the client" test -z "$(pressed_now)"
# The arrow was released while control was off, unseen: it must not move the pointer once on.
launch >>"$out/second.log" 2>&1
check "a fourth launch switches on again" kb grabbed
stays_put() { warp 640 360 && quiet_for 1; }
check "... and the pointer, put at 640,360, stays there" stays_put

phase "exit"
stop_pid "$PAVRO_PID"
log "$E2E_FAILURES check(s) failed"
finish
