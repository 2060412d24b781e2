#!/bin/bash
# A headless desktop session for tests: Xvfb + openbox + trayer + session D-Bus + AT-SPI + PulseAudio null sink.
# usage: desktop-session.sh [--user-folders] COMMAND [ARGS...]
#   COMMAND runs with DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR set.
# Tests and benchmarks never touch the user's own configuration: XDG_CONFIG_HOME, XDG_DATA_HOME,
# XDG_STATE_HOME and XDG_CACHE_HOME point into the session's temporary folder, deleted on exit.
# With --user-folders (what `make run` uses) they stay the user's own, so settings, logs and the
# single-instance lock outlive the session as they do on a real desktop.
# Every service is started here and stopped by its own PID on exit; the COMMAND's exit code is returned.
set -u
user_folders=false
if [ "${1:-}" = "--user-folders" ]; then user_folders=true; shift; fi
work=$(mktemp -d ${TMPDIR:-/tmp}/desktop-session.XXXXXX)
pids=()
cleanup() {
    local i
    for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    for ((i=${#pids[@]}-1; i>=0; i--)); do
        for _ in $(seq 20); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.05; done
        kill -9 "${pids[i]}" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
die() { echo "harness: $*" >&2; for f in "$work"/*.log; do [ -s "$f" ] && { echo "== $f" >&2; tail -5 "$f" >&2; }; done; exit 1; }

export XDG_RUNTIME_DIR="$work/xdg"; mkdir -m 700 "$XDG_RUNTIME_DIR"
if ! $user_folders; then
    export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
fi
# No system bus on these machines: point at a path that does not exist so nothing autolaunches.
export DBUS_SYSTEM_BUS_ADDRESS="${TAVROLIN_SYSTEM_BUS_ADDRESS:-unix:path=$work/no-system-bus}"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 OMP_THREAD_LIMIT=1

# 1. X server on a free display number (-displayfd prints it when the server is ready)
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || die "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

# 2. session D-Bus (its own daemon, so no dbus-launch autolaunch can leave strays)
dbus-daemon --session --nofork --nopidfile --print-address=6 6>"$work/bus" >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/bus" ] && break; sleep 0.05; done
[ -s "$work/bus" ] || die "dbus-daemon did not start"
export DBUS_SESSION_BUS_ADDRESS="$(head -1 "$work/bus")"

# 3. accessibility bus: start the launcher ourselves (not by activation) so we own its PID; turn AT on
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break; sleep 0.05
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1 || die "AT-SPI bus not available"

# 4. window manager (EWMH: _NET_ACTIVE_WINDOW, focus, frames) and an XEmbed tray host for QSystemTrayIcon
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
trayer --edge bottom --align right --widthtype pixel --width 200 --height 32 --SetDockType true --transparent false >"$work/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool search --class trayer >/dev/null 2>&1 && break; sleep 0.05; done

# 5. sound server with a null sink and a non-monitor virtual mic (Qt Multimedia hides monitor sources)
pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load=module-native-protocol-unix --load="module-null-sink sink_name=vsink" \
    --load="module-remap-source source_name=vmic master=vsink.monitor source_properties=device.description=VirtualMic" >"$work/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl set-default-source vmic >/dev/null 2>&1 || die "pulseaudio not ready"

"$@"
status=$?
exit $status
