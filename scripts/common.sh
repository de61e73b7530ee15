# Shared by scripts/run and scripts/test: installs what is missing, builds, prepares Wine.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" # no Mono or Gecko prompts

# Debian packages the build and the tests need.
PACKAGES=(cmake g++ make googletest g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine
          xvfb openbox xdotool imagemagick x11-utils tesseract-ocr tesseract-ocr-eng bc python3)

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

build_windows() {
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw -j"$(nproc)"
}

# Makes a Wine prefix ready for LarkSpool. Debian keeps Wine's own fonts apart from the prefix;
# without them dialog text falls back to a much wider font and the labels clip.
prepare_prefix() {
    local prefix="$1"
    if [ ! -f "$prefix/system.reg" ]; then
        echo "Creating the Wine prefix $prefix"
        WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
        WINEPREFIX="$prefix" wineserver -w
    fi
    mkdir -p "$prefix/drive_c/windows/Fonts"
    for font in /usr/share/wine/fonts/*; do
        [ -e "$prefix/drive_c/windows/Fonts/$(basename "$font")" ] || cp "$font" "$prefix/drive_c/windows/Fonts/"
    done
}

# An X server of our own, for machines without a display and for every test run, with a window
# manager: it keeps topmost windows above the others, as a desktop does.
start_xvfb() {
    local display
    for display in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
        Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$display" ] && break
            sleep 0.1
        done
        export DISPLAY=":$display"
        openbox --sm-disable >/dev/null 2>&1 &
        WM_PID=$!
        sleep 0.5
        return 0
    done
    echo "No free X display number" >&2
    return 1
}

stop_xvfb() {
    [ -n "${WM_PID:-}" ] && kill "$WM_PID" 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    return 0
}
