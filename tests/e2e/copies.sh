#!/usr/bin/env bash
# Copies on a second drive (a folder mapped as D:, the way Wine maps drives), from the window: a
# click makes a checked backup and its copy; with the drive unplugged the window says the copy was
# not made, its whole line showing at 96 and 144 DPI; on a new computer, with no backup left on
# C:, the Backups window lists the copies and restoring one makes the key equal to it.
source "$(dirname "$0")/lib.sh"
MEASURE="$5"
BLUE=3D70B6
TITLE="LarkSpool Backups"
STICK=$(mktemp -d)
mkdir "$STICK/Copies"
plug() { ln -sfn "$STICK" "$WINEPREFIX/dosdevices/d:"; }
unplug() { rm -f "$WINEPREFIX/dosdevices/d:"; }
trap 'stop_app; unplug; rm -rf "$STICK"' EXIT

copy_line() { text_at "$1" "$2" "$3" "$4"; } # the line under the size label, read back
wait_for_line() { # expected text, then the line's client rectangle: waits up to ten seconds
    local expected="$1" line=""
    shift
    for _ in $(seq 20); do
        window "LarkSpool."
        line=$(copy_line "$@")
        [ "$(echo "$line" | ocr_fold)" == "$(echo "$expected" | ocr_fold)" ] && break
        sleep 0.5
    done
    echo "$line"
}
# The whole line shows: nothing of the text's colour in the last columns of the window's width.
ends_inside() { [ "$(count_colour $BLUE $(($1 - 6)) "$2" 6 "$3")" -eq 0 ]; }

seed_key
ORIGINAL=$(dump_key)
wipe_backups
set_counter 5
plug
larkspool /copies 'D:\Copies'
equals "copies on" "0" "$CODE"

# A click: the backup checks out and its copy is kept, equal byte for byte, the stamp read-only.
start_app
click_at 224 120 # Export Custom Names
check "the backup is written" wait_for_backup "$DRIVE_C/Larkspool5/Larkspool5.reg"
reads "the window says the copy is kept, and where the backups are" "copy kept. Right-click for your backups." \
    "$(wait_for_line "copy kept" 8 94 345 14)"
reads "the size label still says checked" \
    "Size of LarkSpool 5.reg is: $(kilobytes "$(stat -c %s "$DRIVE_C/Larkspool5/Larkspool5.reg")") kb (9 values checked)" \
    "$(text_at 8 80 345 14)"
COPY=$(ls -d "$STICK"/Copies/*/Larkspool5)
check "the copy equals the backup byte for byte" cmp -s "$DRIVE_C/Larkspool5/Larkspool5.reg" "$COPY/Larkspool5.reg"
check "the copy's stamp equals the backup's" cmp -s "$DRIVE_C/Larkspool5/Date Created.txt" "$COPY/Date Created.txt"
check "the copy's stamp is read-only" eval "stat -c %A '$COPY/Date Created.txt' | grep -qv w"
equals "nothing else beside the copy" "Date Created.txt Larkspool5.reg" "$(cd "$COPY" && echo *)"

# Unplugged: the next backup still checks out; the line says why its copy was not made.
unplug
click_at 224 120
check "the second backup is written" wait_for_backup "$DRIVE_C/Larkspool6/Larkspool6.reg"
FAILED_LINE="Larkspool6.reg: 9 values checked, copy not made: D:\\ is not ready"
reads "the window says the copy failed, at 96 DPI" "$FAILED_LINE" "$(wait_for_line "$FAILED_LINE" 8 94 345 14)"
check "the whole line shows at 96 DPI" ends_inside "$client_width" 94 14
check "the first backup is still called checked" eval "text_at 8 80 345 14 | grep -q -i checked"
keep_screenshot copy-failed

# Plugged back, the Backups window catches up the copy that was missed, and its Copy column says so.
plug
open_backups
copy_column() { wine "$MEASURE" rows "$TITLE" 2>/dev/null | tr -d '\r' | awk -F'\t' '{print $1, $7}' | tr '\n' '|'; }
for _ in $(seq 20); do
    [ "$(copy_column)" == "6 kept|5 kept|" ] && break
    sleep 0.5
done
equals "the Copy column once the missed copy is made" "6 kept|5 kept|" "$(copy_column)"
check "the missed copy equals its backup" cmp -s "$DRIVE_C/Larkspool6/Larkspool6.reg" \
    "$(dirname "$COPY")/Larkspool6/Larkspool6.reg"
keep_screenshot backups-copies
xdotool key Escape
sleep 0.5
window "LarkSpool."
click_at 312 120 # Exit
wait_ended 5

# At 144 DPI the line, with a backup's name before it, shows whole too.
unplug
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
SECOND=$(($(counter) + 1))
start_app
click_at 336 180 # Export Custom Names, twice
click_at 336 180
check "a backup at 144 DPI" wait_for_backup "$DRIVE_C/Larkspool$SECOND/Larkspool$SECOND.reg"
FAILED_LINE="Larkspool$SECOND.reg: 9 values checked, copy not made: D:\\ is not ready"
reads "the window says the copy failed, at 144 DPI" "$FAILED_LINE" "$(wait_for_line "$FAILED_LINE" 12 141 518 21)"
check "the whole line shows at 144 DPI" ends_inside "$client_width" 141 21
keep_screenshot copy-failed-144dpi
click_at 468 180 # Exit
wait_ended 5
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1

# An automatic run without the drive backs up but cannot copy: the next start of the window tells
# it once, before the window shows; the start after that does not.
helper reg add "$ADDON_KEY\\CustomNames" /v "auto@example.org" /d "Auto" /f >/dev/null
larkspool /backup /auto
equals "/backup /auto without the drive: exit code" "6" "$CODE"
wine "$EXE" >/dev/null 2>&1 &
APP_PID=$!
check "the next start tells the failed run" probe wait "LarkSpool" 30
TOLD=$(probe says LarkSpool)
check "it says the automatic backup failed, and why: $TOLD" \
    eval "echo '$TOLD' | grep -q -F 'The automatic backup on ' && echo '$TOLD' | grep -q -F 'D:\\ is not ready'"
answer Return
probe wait "LarkSpool." 30
stop_app
start_app
check "the start after that tells nothing" eval "! xdotool search --onlyvisible --name '^LarkSpool\$' >/dev/null 2>&1"
stop_app

# Plugged back, the next backup catches up the copies that were missed.
plug
larkspool /backup
equals "/backup with the drive plugged back" "0" "$CODE"
ON_C=$(cd "$DRIVE_C" && ls -d Larkspool* | sed 's/Larkspool//' | sort -rn)
equals "every backup has its copy" "$(echo "$ON_C" | tr '\n' ' ')" \
    "$(cd "$(dirname "$COPY")" && ls -d Larkspool* | sed 's/Larkspool//' | sort -rn | tr '\n' ' ')"

# A new computer: nothing on C:, a list of its own, the run count anew; the copies folder chosen
# again. The Backups window lists the copies; restoring backup 5's copy makes the key equal to it.
wipe_backups
set_counter 1
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
wine reg add "$ADDON_KEY\\CustomNames" /v "new@example.org" /d "Someone new" /f >/dev/null
start_app
open_backups
ROWS=$(wine "$MEASURE" rows "$TITLE" 2>/dev/null | tr -d '\r')
equals "the copies are the rows" "$(echo "$ON_C" | sed 's/$/ (copy)/' | tr '\n' '|')" \
    "$(echo "$ROWS" | cut -f1 | tr '\n' '|')"
select_row "$(echo "$ON_C" | wc -l)" # backup 5, the oldest
click_at 124 16                      # Restore
answer y
answer Return
equals "the key is backup 5's copy" "$ORIGINAL" "$(dump_key)"
larkspool /check "D:\\Copies\\$(basename "$(dirname "$COPY")")\\Larkspool5\\Larkspool5.reg"
equals "/check of the copy" "0:No differences" "$CODE:$OUT"
check "the list from before was backed up first" test -f "$DRIVE_C/Larkspool1/Larkspool1.reg"
check "and copied" test -f "$(dirname "$COPY")/Larkspool1/Larkspool1.reg"
window "LarkSpool."
click_at 312 120
wait_ended 5

finish
