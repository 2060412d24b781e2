#!/bin/bash
# The optimised build as a user gets it: `make run` without a display reaches its tray icon in a
# program with no sanitizer runtime, and `make install DESTDIR=...` gives a valid menu entry and a
# program that starts from the installed place and shows its tray icon, names no folder of the
# build, touches no file of its source tree, and loads no engine module or helper that is damaged,
# of another build, or could have been changed by another user.
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
for name in ocr speech audio zip http; do
    [ -n "$(find "$stage" -path "*/lib*/tavrolin/libtavrolin-$name.so" -type f)" ] && modules=$((modules + 1))
done
check "the five engine modules are installed" test "$modules" -eq 5
check "the icon is installed" test -n "$(find "$stage" -path '*/icons/hicolor/*/apps/org.tavrolin.Tavrolin.png')"
check "the menu entry is valid" desktop-file-validate "$entry"
grep -q "^Exec=\"${installed#"$stage"}\"$" "$entry"; check "the menu entry starts the installed program" test $? -eq 0
# The build folder's path as a program may hold it: in UTF-8, and in UTF-16 as Qt's string
# literals are (what `strings` and `strings -e l` would show, read straight from the bytes).
utf16=$(printf '%s' "$release" | od -An -tx1 -v | tr -s ' \n' ' ' |
    sed 's/^ //; s/ $//; s/ /\\x00\\x/g; s/^/\\x/; s/$/\\x00/')
names_build=""
while IFS= read -r file; do
    if LC_ALL=C grep -qaF "$release" "$file" || LC_ALL=C grep -qaP "$utf16" "$file"; then
        names_build="$names_build $file"
    fi
done < <(find "$stage" -type f \( -path '*/bin/*' -o -path '*/lib*/*' \))
check "no installed program or module names the build folder$names_build" test -z "$names_build"

# 3. The installed program starts on its own and shows its tray icon; it maps no engine until a
#    command needs one, then opens the module installed with it (the staged prefix, not the
#    configured one, which holds none). A truncated module, or one of another build, is the
#    command's error, and the program goes on.
home=$work/home
mkdir -p "$home/config/tavrolin" "$home/data" "$home/state" "$home/runtime" && chmod 700 "$home/runtime"
shortcut() { echo "{\"key\":\"$1\",\"command\":false,\"option\":false,\"shift\":true,\"control\":true}"; }
cat >"$home/config/tavrolin/defaults.json" <<SETTINGS
{"onboardingCompletedVersion": 1, "appSettings": {
 "captureAndTranslateShortcut": $(shortcut T), "translateMessageShortcut": $(shortcut W),
 "editTextShortcut": $(shortcut E), "writeTextShortcut": $(shortcut R), "flipLanguageShortcut": $(shortcut F),
 "openDictationScratchpadShortcut": $(shortcut D), "createPromptShortcut": $(shortcut P),
 "targetLanguage": "es", "messageTargetLanguage": "en", "dictationLanguage": "en", "launchAtLoginEnabled": false,
 "telemetryEnabled": false, "onlineFeaturesEnabled": false, "autoImproveOnDictationStop": false,
 "selectionPopupEnabled": false, "selectionPopupAutoDismissDelay": 3, "overlayMinimumDisplayDuration": 1}}
SETTINGS
start_program() {  # EXECUTABLE [TRACE]: sets pid; with TRACE, the files it and its children touch go there
    local tracer=()
    [ $# -gt 1 ] && tracer=(strace -f -qq --seccomp-bpf -e trace=%file -o "$2")
    (cd "$home" && exec setsid env XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" TAVROLIN_LOG_BACKEND=file "${tracer[@]}" "$1" \
        >>"$work/installed.log" 2>&1) &
    groups+=($!)
    pid=$(wait_for_pid tavrolin "$!") || { cat "$work/installed.log"; fatal "$1 did not start"; }
}
stop_program() {  # PID
    kill -TERM "$1"
    for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
}
log=$home/state/tavrolin/tavrolin.log
# The shortcuts are registered a moment after the tray icon shows: pressed, with the terminal in
# front, until CONDITION holds.
press_until() {  # KEY CONDITION...
    local key=$1
    shift
    for _ in $(seq 3); do
        xdotool search --onlyvisible --name '^budget$' windowactivate --sync >/dev/null 2>&1
        xdotool key --clearmodifiers "ctrl+shift+$key"
        for _ in $(seq 200); do
            "$@" && return 0
            sleep 0.05
        done
    done
    return 1
}
logged() { grep -qF -- "$1" "$log" 2>/dev/null; }
mapped() { grep -q "$1" "/proc/$pid/maps" 2>/dev/null; }

modules_dir=$(dirname "$(find "$stage" -path '*/tavrolin/libtavrolin-ocr.so' | head -1)")
ocr=$modules_dir/libtavrolin-ocr.so
cp "$ocr" "$work/ocr.so"
head -c "$(($(stat -c %s "$ocr") * 3 / 5))" "$work/ocr.so" >"$ocr"
trace=$work/installed.trace
start_program "$installed" "$trace"
check "the installed program shows its tray icon" tray_icon_shown "$pid" "$DISPLAY"
check "the installed program maps no engine module at start" bash -c "! grep -q libtavrolin- /proc/$pid/maps"
setsid xterm -title "budget" -e sh -c 'echo QUARTERLY BUDGET REVIEW ON THURSDAY; sleep 120' >/dev/null 2>&1 &
groups+=($!)
for _ in $(seq 100); do xdotool search --onlyvisible --name '^budget$' >/dev/null 2>&1 && break; sleep 0.05; done
check "Translate with a truncated module is its error" \
    press_until t logged "text recognition is not available: $ocr is damaged or not a module"
# The seal another build folder gives the same module.
cp "$work/ocr.so" "$ocr"
cmake -DMODULE="$ocr" -DIDENTITY=0badb17d -DB2SUM=b2sum -P "$src/cmake/SealModule.cmake"
check "Translate with a module of another build is its error" \
    press_until t logged "text recognition is not available: $ocr belongs to another build of the program"
check "the program goes on without mapping either" bash -c "kill -0 $pid && ! grep -q libtavrolin-ocr /proc/$pid/maps"
cp "$work/ocr.so" "$ocr"
check "Translate opens the installed text recognition module" press_until t mapped "$stage.*/tavrolin/libtavrolin-ocr.so"
stop_program "$pid"
check "the installed program quits on SIGTERM" bash -c "! kill -0 $pid 2>/dev/null"
# It reads its resources from its prefix and what is compiled in, never from the source tree it
# was built from (nor the build folder inside it), whatever lies there.
check "the trace of the installed program saw it open its module" grep -qF "\"$ocr\"" "$trace"
# A look at where another program's open files lead (a terminal's pseudo-terminal, its display
# connection) reads links by number, `readlinkat(<fd>, "3", "<target>")`: the target is that
# program's, not a file this one opens.
from_source=$(grep -F -e "\"$src/" -e "\"$src\"" "$trace" | grep -Ev 'readlinkat\([0-9]+, "[0-9]+",' | head -5)
check "the installed program touches nothing under its source folder${from_source:+: $from_source}" \
    test -z "$from_source"

# 4. A copy of the installed program in a folder all users may write to, like /tmp, with engine
#    modules and a speech model check that another user put beside it and in its prefix, and a
#    build identity file naming its build above it: none is loaded or run, the identity file does
#    not make the prefix a build folder, and the commands that need them say why.
shared=$work/shared
mkdir -p "$shared/bin" "$shared/lib/tavrolin" "$shared/libexec/tavrolin"
cp "$installed" "$shared/bin/tavrolin"
cp "$modules_dir"/libtavrolin-*.so "$shared/lib/tavrolin/"
cp "$ocr" "$shared/bin/"
printf '#!/bin/sh\ntouch "%s"\n' "$work/planted-check-ran" >"$shared/libexec/tavrolin/tavrolin-speech-model-check"
chmod 755 "$shared/libexec/tavrolin/tavrolin-speech-model-check"
chmod 1777 "$shared" "$shared/bin"
chmod 777 "$shared/libexec/tavrolin"
# Only root can give a file to another user; any user can leave one writable by all.
chown 65534:65534 "$shared/lib/tavrolin/libtavrolin-ocr.so" 2>/dev/null || chmod 666 "$shared/lib/tavrolin/libtavrolin-ocr.so"
cp "$release/tavrolin-build-identity" "$shared/"
chown 65534:65534 "$shared/tavrolin-build-identity" 2>/dev/null || chmod 666 "$shared/tavrolin-build-identity"
: >"$log"
start_program "$shared/bin/tavrolin"
check "Translate refuses another user's module" \
    press_until t logged "text recognition is not available: $shared/lib/tavrolin/libtavrolin-ocr.so is refused: "
check "Dictation refuses a speech model check others can change" \
    press_until d logged "speech model for en-US not loaded: $shared/libexec/tavrolin/tavrolin-speech-model-check is refused: $shared/libexec/tavrolin is writable by other users"
check "no planted module is mapped" bash -c "kill -0 $pid && ! grep -q '$shared.*libtavrolin-ocr' /proc/$pid/maps"
check "the planted speech model check never ran" test ! -e "$work/planted-check-ran"
stop_program "$pid"

# 5. Uninstall removes what was installed.
make -s -C "$src" uninstall DESTDIR="$stage" RUN_BUILD_DIR="$release" >"$work/uninstall.log" 2>&1
check "uninstall removes the program and the entry" bash -c "[ ! -e '$installed' ] && [ ! -e '$entry' ]"
check "uninstall removes the engine modules" test -z "$(find "$stage" -name 'libtavrolin-*.so')"

echo "release build checks done: $failures failed"
[ "$failures" -eq 0 ]
