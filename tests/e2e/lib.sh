# Helpers of the end-to-end tests: the real LarkSpool.exe under Wine on the test run's X server,
# driven with the real mouse, checked through the registry, the files and the screen's pixels.
# shellcheck shell=bash
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh" # prefix_pids

EXE="$1"
PROBE="$2"
: "${WINEPREFIX:?the tests run in the throw-away prefix that scripts/test makes}"
: "${DISPLAY:?the tests run on the X server that scripts/test starts}"
export WINEDEBUG=-all
DRIVE_C="$WINEPREFIX/drive_c"
ARTIFACTS="$(dirname "$EXE")/e2e-artifacts"
mkdir -p "$ARTIFACTS"
COUNTER_KEY='HKCU\Software\VB and VBA Program Settings\lsBundle\TimesRun'
ADDON_KEY='HKCU\Software\Zephrix\Wrenlet2'
PASSED=0
FAILED=0
APP_PID=""

check() { # description, then a command that must succeed
    local what="$1"
    shift
    if "$@"; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        echo "FAIL: $what" >&2
    fi
}

equals() { # description, expected, actual
    if [ "$2" == "$3" ]; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        echo "FAIL: $1: expected [$2], got [$3]" >&2
    fi
}

eventually() { # a command that must succeed within three seconds
    for _ in $(seq 30); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

in_front() { probe foreground | grep -q -F "$1"; }
# Processes the program starts itself are looked for, and ended, only in this run's prefix.
running() { [ -n "$(prefix_pids "$1")" ]; } # a process whose command line matches the pattern
end_matching() { # ends the processes whose command line matches the pattern
    local pids
    mapfile -t pids < <(prefix_pids "$1")
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null
    return 0
}

trap stop_app EXIT # also when a test script ends early

finish() {
    stop_app
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

# A Wine helper that fails at once is tried once more: on a busy machine Wine now and then fails
# to start a program at all. Its errors are kept with the artifacts.
helper() { # program and arguments; its output without CRs
    local out status started=$SECONDS
    out=$(wine "$@" 2>>"$ARTIFACTS/helper-errors.txt")
    status=$?
    if [ "$status" -ne 0 ] && [ $((SECONDS - started)) -lt 3 ]; then
        out=$(wine "$@" 2>>"$ARTIFACTS/helper-errors.txt")
        status=$?
    fi
    [ -z "$out" ] || printf '%s\n' "$out" | tr -d '\r'
    return "$status"
}

probe() { helper "$PROBE" "$@"; }

counter() { # the stored run count, or <none>
    local line
    line=$(helper reg query "$COUNTER_KEY" /v 1 | grep REG_SZ) || { echo "<none>"; return; }
    echo "${line##*REG_SZ}" | sed 's/^[[:space:]]*//'
}

set_counter() {
    if [ "$1" == "<none>" ]; then
        helper reg delete "$COUNTER_KEY" /f >/dev/null 2>&1
    else
        helper reg add "$COUNTER_KEY" /v 1 /d "$1" /f >/dev/null 2>&1
    fi
}

start_app() { # [folder the program is started from]
    local exe="$EXE"
    if [ $# -gt 0 ]; then
        exe="$1"
    fi
    wine "$exe" >/dev/null 2>&1 &
    APP_PID=$!
    probe wait "LarkSpool." 60 || { echo "FAIL: the main window did not appear" >&2; FAILED=$((FAILED + 1)); }
    sleep 0.5
    window "LarkSpool."
}

stop_app() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    wait_ended 5 >/dev/null
    APP_PID=""
}

wait_ended() { # seconds; succeeds when the program has ended
    local tenths=$(($1 * 10))
    for _ in $(seq "$tenths"); do
        [ -z "$APP_PID" ] && return 0
        kill -0 "$APP_PID" 2>/dev/null || { wait "$APP_PID" 2>/dev/null; APP_PID=""; return 0; }
        sleep 0.1
    done
    return 1
}

window() { # loads left, top, width, height, client_x, client_y, topmost, enabled, title, found
    found=0
    eval "$(probe window "$1" | sed -n 's/^\([a-z_]*\)=\(.*\)$/\1='"'"'\2'"'"'/p')"
}

# Positions are in the main window's client area, in pixels at 96 DPI (15 twips a pixel).
move_to() { xdotool mousemove $((client_x + $1)) $((client_y + $2)); sleep 0.3; }
click_at() { move_to "$1" "$2"; xdotool click "${3:-1}"; sleep 0.5; }

screen() { import -window root "$ARTIFACTS/.screen.png"; }
pixel() { # colour at a client position of the last window, as RRGGBB, from a fresh screenshot
    screen
    convert "$ARTIFACTS/.screen.png" -crop "1x1+$((client_x + $1))+$((client_y + $2))" -depth 8 txt:- |
        tail -n 1 | grep -o '#[0-9A-F]\{6\}' | tr -d '#'
}
count_colour() { # RRGGBB, then a client rectangle x y w h: how many pixels have that colour
    screen
    convert "$ARTIFACTS/.screen.png" -crop "${4}x${5}+$((client_x + $2))+$((client_y + $3))" -depth 8 txt:- |
        grep -c -i "#$1"
}
text_at() { # the text painted in a client rectangle x y w h of the last window, read back by OCR
    screen
    convert "$ARTIFACTS/.screen.png" -crop "${3}x${4}+$((client_x + $1))+$((client_y + $2))" +repage \
        -colorspace Gray -resize 300% "$ARTIFACTS/.text.png"
    tesseract "$ARTIFACTS/.text.png" - --psm 7 2>/dev/null | head -n 1
}
# Text read back by OCR, folded so that the shapes it confuses at 8 points compare equal.
ocr_fold() { tr 'A-Z' 'a-z' | sed "s/[é'\`]//g" | tr -d ' \\|/.,' | tr 'sgqliow' '5qq110v' | tr -s '[:alnum:]'; }
reads() { # description, expected text, text read back
    equals "$1" "$(echo "$2" | ocr_fold)" "$(echo "$3" | ocr_fold)"
}
kilobytes() { # a length in bytes as the size label shows it ("#.##", halves up, "." separator)
    local hundredths=$((($1 * 100 + 512) / 1024))
    local whole=$((hundredths / 100)) fraction=$((hundredths % 100))
    local text=""
    [ "$whole" -gt 0 ] && text=$whole
    text="$text."
    if [ $((fraction % 10)) -ne 0 ]; then
        text="$text$(printf '%02d' "$fraction")"
    elif [ "$fraction" -ne 0 ]; then
        text="$text$((fraction / 10))"
    fi
    echo "$text"
}
keep_screenshot() { # name: the last window's picture, kept as a test artefact
    screen
    convert "$ARTIFACTS/.screen.png" -crop "${width}x${height}+${left}+${top}" +repage "$ARTIFACTS/$1.png"
}

# The add-on's key with nine values in three keys: the backups of the tests hold these.
seed_key() { # one import: each Wine start is a chance for a busy machine to fail one
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' '[-HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2]' '' \
        '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2]' '"Version"="2.0"' '"Flags"=dword:00000007' '' \
        '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\CustomNames]' \
        '"friend1@example.org"="Friend number 1"' '"friend2@example.org"="Friend number 2"' \
        '"friend3@example.org"="Friend number 3"' '"friend4@example.org"="Friend number 4"' \
        '"friend5@example.org"="Friend number 5"' '"friend6@example.org"="Friend number 6"' '' \
        '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\CustomNames\Groups]' '"Choir"="Carol;Dave"' >"$DRIVE_C/seed.reg"
    helper reg import 'C:\seed.reg' >/dev/null 2>&1
    rm -f "$DRIVE_C/seed.reg"
}
dump_key() { wine reg query "$ADDON_KEY" /s 2>/dev/null | tr -d '\r' | grep REG_ | sed 's/^ *//' | sort; }
wait_for_backup() { # path of the .reg file: waits until it exists and has stopped growing
    local size=-1 now
    for _ in $(seq 100); do
        now=$(stat -c %s "$1" 2>/dev/null || echo -1)
        [ "$now" -gt 0 ] && [ "$now" == "$size" ] && return 0
        size=$now
        sleep 0.3
    done
    return 1
}

# The Backups window, opened and answered as a person would.
BACKUPS_TITLE="LarkSpool Backups"
open_backups() { # right-click on the background, then the menu's second item
    window "LarkSpool."
    click_at 60 100 3
    xdotool key Down Down Return
    probe wait "$BACKUPS_TITLE" 10 || return 1
    sleep 1
    window "$BACKUPS_TITLE"
}
select_row() { # n: the list's row, counted from 1, alone selected
    click_at 100 60 # the first row
    xdotool key Home
    for _ in $(seq 2 "$1"); do xdotool key Down; done
    sleep 0.3
}
answer() { # the key for the message box that comes up: y for Yes, Return for OK
    local box=""
    for _ in $(seq 100); do
        box=$(xdotool search --onlyvisible --name '^LarkSpool$' 2>/dev/null | head -n 1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || { echo "FAIL: no message box came up" >&2; FAILED=$((FAILED + 1)); return; }
    sleep 0.3
    xdotool windowactivate --sync "$box" 2>/dev/null
    xdotool key "$1"
    for _ in $(seq 50); do # gone before the next step
        xdotool search --onlyvisible --name '^LarkSpool$' >/dev/null 2>&1 || break
        sleep 0.1
    done
}


wipe_backups() { rm -rf "$DRIVE_C"/[Ll]ark[Ss]pool* "$DRIVE_C/planted-program-ran.txt"; }

larkspool() { # runs LarkSpool.exe with the arguments; sets OUT (its output and errors in order) and CODE
    OUT=$(wine "$EXE" "$@" 2>&1 | tr -d '\r')
    CODE=${PIPESTATUS[0]}
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
# What a restore keeps beside the add-on's key while it runs, and its journal.
SIBLINGS=('HKCU\Software\Zephrix\Wrenlet2.LarkSpool-restore' 'HKCU\Software\Zephrix\Wrenlet2.LarkSpool-before')
JOURNAL='HKCU\Software\VB and VBA Program Settings\lsBundle\Restore'
fill_key() { # groups of 100 names, and the text of each name: the add-on's key holds exactly these
    python3 - "$DRIVE_C/names.reg" "$1" "$2" <<'PY'
import sys
lines = ["Windows Registry Editor Version 5.00", "", r"[-HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2]", ""]
for group in range(int(sys.argv[2])):
    lines.append(r"[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\CustomNames\Group%03d]" % group)
    for n in range(100):
        lines.append('"contact%03d-%03d@example.org"="%s %d of group %d"' % (group, n, sys.argv[3], n, group))
    lines.append("")
with open(sys.argv[1], "w", encoding="utf-16", newline="\r\n") as f:
    f.write("\n".join(lines) + "\n")
PY
    helper reg import 'C:\names.reg' >/dev/null 2>&1
}
