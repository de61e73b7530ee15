# Shared by the scripts and the end-to-end tests: installs what is missing, builds, prepares Wine,
# finds this prefix's processes.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" # no Mono or Gecko prompts

# Debian packages the build and the tests need.
PACKAGES=(cmake g++ make googletest g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine fonts-dejavu-core clang
          xvfb openbox xdotool libxtst6 imagemagick x11-utils tesseract-ocr tesseract-ocr-eng bc python3 locales)
# Locales that tests run Wine in: Wine takes the ANSI code page from the locale (1251, 932).
LOCALES=(ru_RU.UTF-8 ja_JP.UTF-8)

install_missing() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Generates the LOCALES the system does not have yet (install_missing brings the locales package).
install_locales() {
    local missing=() locale
    for locale in "${LOCALES[@]}"; do
        locale -a 2>/dev/null | grep -qixF "${locale%.UTF-8}.utf8" || missing+=("$locale")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Generating locales: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    for locale in "${missing[@]}"; do
        grep -qxF "$locale UTF-8" /etc/locale.gen 2>/dev/null ||
            echo "$locale UTF-8" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    done
    "${sudo[@]}" locale-gen >/dev/null
}

build_windows() {
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw -j"$(nproc)"
}

# Makes a Wine prefix ready for LarkSpool. Debian keeps Wine's own fonts apart from the prefix;
# without them dialog text falls back to a much wider font and the labels clip.
prepare_prefix() { # a prefix in this project's build folder
    local prefix="$1" attempt
    # A creation that was cut off leaves the registry without the system folder, which every
    # later start would fail on: such a prefix is made anew, and a second try follows a failed one.
    for attempt in 1 2; do
        [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] && break
        rm -rf "$prefix"
        echo "Creating the Wine prefix $prefix"
        WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
        WINEPREFIX="$prefix" wineserver -w
    done
    if [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
        echo "The Wine prefix $prefix could not be created (wineboot -i failed twice)" >&2
        return 1
    fi
    mkdir -p "$prefix/drive_c/windows/Fonts"
    for font in /usr/share/wine/fonts/*; do
        [ -e "$prefix/drive_c/windows/Fonts/$(basename "$font")" ] || cp "$font" "$prefix/drive_c/windows/Fonts/"
    done
}

# An X server of our own, for machines without a display and for every test run, with a window
# manager: it keeps topmost windows above the others, as a desktop does. Says on stderr and fails
# when the server does not come up.
start_xvfb() {
    local display log
    for display in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
        log=$(mktemp)
        Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 100); do
            if [ -S "/tmp/.X11-unix/X$display" ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
                break
            fi
            sleep 0.1
        done
        if [ -S "/tmp/.X11-unix/X$display" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
            rm -f "$log"
            export DISPLAY=":$display"
            openbox --sm-disable >/dev/null 2>&1 &
            WM_PID=$!
            sleep 0.5
            return 0
        fi
        if ! kill -0 "$XVFB_PID" 2>/dev/null && [ -e "/tmp/.X$display-lock" ]; then
            rm -f "$log" # another server took this number meanwhile: try the next one
            XVFB_PID=""
            continue
        fi
        if kill -0 "$XVFB_PID" 2>/dev/null; then
            echo "The X server did not come up: Xvfb :$display made no socket /tmp/.X11-unix/X$display in 10 s" >&2
            kill "$XVFB_PID" 2>/dev/null
        else
            echo "The X server did not come up: Xvfb :$display ended at once" >&2
        fi
        sed 's/^/    Xvfb: /' "$log" >&2
        rm -f "$log"
        XVFB_PID=""
        return 1
    done
    echo "No free X display number between :90 and :120" >&2
    return 1
}

stop_xvfb() {
    [ -n "${WM_PID:-}" ] && kill "$WM_PID" 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    WM_PID="" XVFB_PID=""
    return 0
}

# PIDs of the processes of this $WINEPREFIX (by the environment they started with) whose command
# line, its arguments joined by blanks as pgrep -f sees it, matches an extended regular expression:
# processes of other prefixes and other users are never touched. No fork per process, so it can be
# polled.
prefix_pids() {
    local environ pid args cmdline IFS=$' \t\n' # joins with blanks, splits grep's lines
    for environ in $(grep -lsxzF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ); do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        mapfile -d '' -t args 2>/dev/null <"/proc/$pid/cmdline" || continue
        cmdline="${args[*]}"
        cmdline="${cmdline%"${cmdline##*[! ]}"}" # Wine pads its command lines with empty arguments
        [[ "$cmdline" =~ $1 ]] && echo "$pid"
    done
    return 0
}
