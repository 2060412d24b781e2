#!/bin/bash
# The optimised build as a user gets it: `make run` without a display reaches its tray icon in a
# program with no sanitizer runtime, and `make install DESTDIR=...` gives a valid menu entry and a
# program that starts from the installed place and shows its tray icon.
# usage: release_build_desktop_test.sh RELEASE_BUILD_DIR   (inside the desktop session)
set -uo pipefail
release=$(cd "$1" && pwd) || { echo "FAIL: no build folder $1"; exit 1; }
src=${TAVROLIN_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
exe=$release/src/app/tavrolin
work=$(mktemp -d)
groups=()
manifest=$release/install_manifest.txt
[ -f "$manifest" ] && cp "$manifest" "$work/manifest.saved"

cleanup() {
    local g
    for g in "${groups[@]}"; do kill -TERM -- "-$g" 2>/dev/null; done
    for g in "${groups[@]}"; do
        for _ in $(seq 40); do kill -0 -- "-$g" 2>/dev/null || break; sleep 0.05; done
        kill -KILL -- "-$g" 2>/dev/null
    done
    # The staging install must not replace the record of a real one.
    if [ -f "$work/manifest.saved" ]; then cp "$work/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }
fatal() { echo "FAIL: $*"; exit 1; }

[ -x "$exe" ] || fatal "no optimised build at $exe (make run or make test builds it)"

wait_for_pid() {  # NAME GROUP -> pid of the process NAME in process group GROUP
    local pid
    for _ in $(seq 300); do
        pid=$(pgrep -g "$2" -x "$1" | head -1)
        [ -n "$pid" ] && { echo "$pid"; return 0; }
        sleep 0.05
    done
    return 1
}
tray_icon_shown() {  # PID DISPLAY
    for _ in $(seq 200); do
        [ -n "$(DISPLAY=$2 xdotool search --all --onlyvisible --pid "$1" --class Tavrolin 2>/dev/null)" ] && return 0
        sleep 0.05
    done
    return 1
}
optimised() { ! grep -Eq 'lib(a|ub|l|t)san' "/proc/$1/maps"; }
environ_of() { tr '\0' '\n' < "/proc/$1/environ" | sed -n "s/^$2=//p"; }
display_of() { environ_of "$1" DISPLAY; }

# 1. make run's starter without a display brings up its own virtual desktop, and keeps the user's
#    own settings folder there (a person's changed settings must outlive the session).
user_config=$work/user-config
mkdir -p "$user_config"
setsid env -u DISPLAY XDG_CONFIG_HOME="$user_config" TAVROLIN_EXECUTABLE="$exe" "$src/scripts/run.sh" >"$work/run.log" 2>&1 &
groups+=($!)
pid=$(wait_for_pid tavrolin "${groups[0]}") || { cat "$work/run.log"; fatal "make run started no program"; }
check "run without a display shows the tray icon" tray_icon_shown "$pid" "$(display_of "$pid")"
check "the program make run starts has no sanitizer runtime" optimised "$pid"
grep -q "DISPLAY is not set" "$work/run.log"; check "run says it uses a virtual display" test $? -eq 0
check "run keeps the user's settings folder" test "$(environ_of "$pid" XDG_CONFIG_HOME)" = "$user_config"
kill -TERM -- "-${groups[0]}"

# 2. A staged install: program, engine modules, icon and a menu entry that desktop-file-validate
#    accepts.
stage=$work/stage
make -s -C "$src" install DESTDIR="$stage" RUN_BUILD_DIR="$release" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fatal "make install failed"; }
installed=$(find "$stage" -path '*/bin/tavrolin' -type f | head -1)
entry=$(find "$stage" -path '*/share/applications/org.tavrolin.Tavrolin.desktop' | head -1)
check "the program is installed into bin" test -x "$installed"
modules=0
for name in ocr speech audio zip; do
    [ -n "$(find "$stage" -path "*/lib*/tavrolin/libtavrolin-$name.so" -type f)" ] && modules=$((modules + 1))
done
check "the four engine modules are installed" test "$modules" -eq 4
check "the icon is installed" test -n "$(find "$stage" -path '*/icons/hicolor/*/apps/org.tavrolin.Tavrolin.png')"
check "the menu entry is valid" desktop-file-validate "$entry"
grep -q "^Exec=\"${installed#"$stage"}\"$" "$entry"; check "the menu entry starts the installed program" test $? -eq 0

# 3. The installed program starts on its own and shows its tray icon; it maps no engine until a
#    command needs one, then opens the module installed with it (the staged prefix, not the
#    configured one, which holds none).
home=$work/home
mkdir -p "$home/config/tavrolin" "$home/data" "$home/state" "$home/runtime" && chmod 700 "$home/runtime"
shortcut() { echo "{\"key\":\"$1\",\"command\":false,\"option\":false,\"shift\":true,\"control\":true}"; }
cat >"$home/config/tavrolin/defaults.json" <<SETTINGS
{"onboardingCompletedVersion": 1, "appSettings": {
 "captureAndTranslateShortcut": $(shortcut T), "translateMessageShortcut": $(shortcut W),
 "editTextShortcut": $(shortcut E), "writeTextShortcut": $(shortcut R), "flipLanguageShortcut": $(shortcut F),
 "openDictationScratchpadShortcut": $(shortcut D), "createPromptShortcut": $(shortcut P),
 "targetLanguage": "es", "messageTargetLanguage": "en", "launchAtLoginEnabled": false,
 "telemetryEnabled": false, "onlineFeaturesEnabled": false, "autoImproveOnDictationStop": false,
 "selectionPopupEnabled": false, "selectionPopupAutoDismissDelay": 3, "overlayMinimumDisplayDuration": 1}}
SETTINGS
setsid env XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" \
    XDG_RUNTIME_DIR="$home/runtime" TAVROLIN_LOG_BACKEND=file "$installed" >"$work/installed.log" 2>&1 &
groups+=($!)
pid=$(wait_for_pid tavrolin "${groups[1]}") || { cat "$work/installed.log"; fatal "the installed program did not start"; }
check "the installed program shows its tray icon" tray_icon_shown "$pid" "$DISPLAY"
check "the installed program maps no engine module at start" bash -c "! grep -q libtavrolin- /proc/$pid/maps"
setsid xterm -title "budget" -e sh -c 'echo QUARTERLY BUDGET REVIEW ON THURSDAY; sleep 120' >/dev/null 2>&1 &
groups+=($!)
for _ in $(seq 100); do xdotool search --onlyvisible --name '^budget$' >/dev/null 2>&1 && break; sleep 0.05; done
xdotool search --onlyvisible --name '^budget$' windowactivate --sync >/dev/null 2>&1
# The shortcuts are registered a moment after the tray icon shows: pressed until one is taken.
module_mapped() {
    for _ in $(seq 3); do
        xdotool key --clearmodifiers ctrl+shift+t
        for _ in $(seq 200); do
            grep -q "$stage.*/tavrolin/libtavrolin-ocr.so" "/proc/$pid/maps" 2>/dev/null && return 0
            sleep 0.05
        done
    done
    return 1
}
check "Translate opens the installed text recognition module" module_mapped
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
check "the installed program quits on SIGTERM" bash -c "! kill -0 $pid 2>/dev/null"

# 4. Uninstall removes what was installed.
make -s -C "$src" uninstall DESTDIR="$stage" RUN_BUILD_DIR="$release" >"$work/uninstall.log" 2>&1
check "uninstall removes the program and the entry" bash -c "[ ! -e '$installed' ] && [ ! -e '$entry' ]"
check "uninstall removes the engine modules" test -z "$(find "$stage" -name 'libtavrolin-*.so')"

echo "release build checks done: $failures failed"
[ "$failures" -eq 0 ]
