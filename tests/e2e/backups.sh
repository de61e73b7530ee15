#!/usr/bin/env bash
# The Backups window with the real mouse and keyboard: opened from the main window's background,
# its rows, a comparison in its table, sorted by a click on a heading, a restore that replaces
# the key exactly and keeps the list from before, and a planted backup that would write
# elsewhere, refused.
source "$(dirname "$0")/lib.sh"
MEASURE="$5"
TITLE="LarkSpool Backups"
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

name() { wine reg add "$ADDON_KEY\\CustomNames" /v "$1" /d "$2" /f >/dev/null; }
dump() { wine reg query "$1" /s 2>/dev/null | tr -d '\r' | grep REG_ | sed 's/^ *//' | sort; }
measure() { wine "$MEASURE" "$@" 2>/dev/null | tr -d '\r'; }
backup_now() { wine "$EXE" /backup >/dev/null 2>&1; }
# Three backups of a changing list, each a run of its own that moves the count on by two:
# 5 (Alice, Bob), 7 (Carol added), 9 (Bob's name changed).
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
wine reg delete "$RUN_KEY" /v LarkSpoolPlanted /f >/dev/null 2>&1
wipe_backups
set_counter 5
name alice@example.org "Alice"
name bob@example.org "Bob"
backup_now
name carol@example.org "Carol"
backup_now
name bob@example.org "Bobby"
backup_now
equals "three backups made" "11" "$(counter)"

set_counter 20
start_app
open_backups
keep_screenshot backups-window
equals "the window is above the main window" "1" "$topmost"
ROWS=$(measure rows "$TITLE")
equals "rows newest first, with their counts" "9 3 2 same as now|7 3 2 differs from now|5 2 2 differs from now" \
    "$(echo "$ROWS" | awk -F'\t' '{print $1, $4, $5, $6}' | tr '\n' '|' | sed 's/|$//')"
check "each row has its date" eval "[ \$(echo \"\$ROWS\" | cut -f2 | grep -c -E '^[0-9]{2}-[0-9]{2}-[0-9]{4} ') -eq 3 ]"

# Compare backup 5 with the key changed since: one added, one removed, one changed.
name dave@example.org "Dave"
wine reg delete "$ADDON_KEY\\CustomNames" /v alice@example.org /f >/dev/null
select_row 3
click_at 44 16 # Compare
sleep 1
TAB=$'\t'
equals "the table names what changed since backup 5" "removed${TAB}\\CustomNames${TAB}alice@example.org${TAB}\"Alice\"${TAB}(none)
changed${TAB}\\CustomNames${TAB}bob@example.org${TAB}\"Bob\"${TAB}\"Bobby\"
added${TAB}\\CustomNames${TAB}carol@example.org${TAB}(none)${TAB}\"Carol\"
added${TAB}\\CustomNames${TAB}dave@example.org${TAB}(none)${TAB}\"Dave\"" "$(measure rows "$TITLE" 2)"
reads "the summary above it" "Since backup 5: 2 added, 1 removed, 1 changed" "$(text_at 8 233 424 17)"
click_at 30 262 # the heading "Change"
equals "a click on a heading sorts by it" "added added changed removed" "$(measure rows "$TITLE" 2 | cut -f1 | tr '\n' ' ' | sed 's/ $//')"
click_at 30 262
equals "a second click the other way" "removed changed added added" "$(measure rows "$TITLE" 2 | cut -f1 | tr '\n' ' ' | sed 's/ $//')"
click_at 100 285 3 # a right-click on the table's first row: its own menu
xdotool key c
sleep 0.5
equals "the table's menu copies the row" "Change Key Name Before After|removed \\CustomNames alice@example.org \"\"\"Alice\"\"\" (none)|" \
    "$(wine "$MEASURE" clipboard 2>/dev/null | tr '\t' ' ' | tr -d '\r' | tr '\n' '|')"
keep_screenshot backups-compare

# Restore backup 5: afterwards the key is backup 5 exactly; the list before is a new backup.
BEFORE=$(dump "$ADDON_KEY")
select_row 3
click_at 124 16 # Restore
answer y
answer Return
equals "the key is backup 5 exactly" "$(printf 'alice@example.org    REG_SZ    Alice\nbob@example.org    REG_SZ    Bob')" \
    "$(dump "$ADDON_KEY")"
SAFETY="$DRIVE_C/Larkspool20/Larkspool20.reg"
check "a safety backup was made" test -f "$SAFETY"
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
wine reg import 'C:\Larkspool20\Larkspool20.reg' >/dev/null 2>&1
equals "the safety backup holds the list from before" "$BEFORE" "$(dump "$ADDON_KEY")"
window "LarkSpool."
equals "title moved on as for one export" "Wrenlet! 2 LarkSpool. (Times Run = 21)" "$title"
equals "counter moved on as for one export" "22" "$(counter)"

# A planted backup that also writes to the Run key is refused; neither key changes.
mkdir -p "$DRIVE_C/Larkspool30"
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames]\r\n"mallory@example.org"="Mallory"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n'
    printf '"LarkSpoolPlanted"="C:\\\\planted.exe"\r\n'
} | iconv -f UTF-8 -t UTF-16 >"$DRIVE_C/Larkspool30/Larkspool30.reg"
ADDON_BEFORE=$(dump "$ADDON_KEY")
RUN_BEFORE=$(dump "$RUN_KEY")
window "$TITLE"
xdotool key F5
sleep 1
click_at 100 60 3 # a right-click on the first row
equals "a right-click on the list opens its menu" "menu=1" "$(probe menu)"
xdotool key Escape
select_row 1
click_at 124 16 # Restore
keep_screenshot backups-refused
answer Return
equals "the add-on's key is unchanged" "$ADDON_BEFORE" "$(dump "$ADDON_KEY")"
equals "the Run key is unchanged" "$RUN_BEFORE" "$(dump "$RUN_KEY")"
check "nothing was written to the Run key" eval "! dump '$RUN_KEY' | grep -q LarkSpoolPlanted"

# Automatic backups switched on: by mouse, every week on Sunday at 12:00 (the window's default);
# by keyboard, Monday. Wine's Task Scheduler keeps the task by name, and the line under the
# comparison tells the schedule.
AUTOMATIC="Automatic Backups"
SCHEDULE_KEY='HKCU\Software\VB and VBA Program Settings\lsBundle\Automatic'
schedule_chosen() { helper reg query "$SCHEDULE_KEY" /v Schedule | grep REG_SZ | sed 's/.*REG_SZ *//'; }
backups_line() { probe says "$TITLE" | grep -F 'Automatic backups:'; }
window "$TITLE"
click_at 300 290 # the message closed above leaves the keyboard with the window manager
click_at 40 $((client_height - 17)) # Automatic...
check "Automatic... opens its window" probe wait "$AUTOMATIC" 10
window "$AUTOMATIC"
click_at 20 56  # Every week on
keep_screenshot automatic-window
click_at 110 131 # OK
check "OK registers and closes the window" eventually eval "! probe window '$AUTOMATIC' >/dev/null"
equals "the choice by mouse" "weekly sun 12:00" "$(schedule_chosen)"
check "the task is registered" test -f "$DRIVE_C/windows/system32/tasks/LarkSpool/LarkSpool automatic backup"
check "the line tells it: $(backups_line)" eval "backups_line | grep -q 'Automatic backups: every Sunday at 12:00'"
window "$TITLE"
keep_screenshot backups-automatic
click_at 300 290 # as after a message: Openbox keeps the keyboard when the owned window closes
xdotool key alt+u
check "Alt+U opens the window" probe wait "$AUTOMATIC" 10
sleep 0.5
xdotool key alt+w Tab m Return # every week, on to the day, Monday, OK
check "Enter registers and closes the window" eventually eval "! probe window '$AUTOMATIC' >/dev/null"
equals "the choice by keyboard" "weekly mon 12:00" "$(schedule_chosen)"
check "the line tells it: $(backups_line)" eval "backups_line | grep -q 'Automatic backups: every Monday at 12:00'"
larkspool /schedule off

window "$TITLE"
# Openbox passes over an owned tool window when the message it owns closes: the click gives the
# keyboard back, as in keyboard.sh.
click_at 300 290
xdotool key Escape
sleep 0.5
check "Esc closes the window" eval "! probe window '$TITLE' | grep -q found=1"
window "LarkSpool."
click_at 312 120
wait_ended 5

finish
