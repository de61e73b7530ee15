#!/usr/bin/env bash
# The keyboard alone: backups with Enter at the start and Alt+E right after, Tab round the command
# labels, Esc that ends nothing, the About window with Alt+A and Esc, the system menu, the list's
# menu and Shift+F10, a comparison and a restore in the Backups window; the focus rectangle shows
# only once a key was pressed.
source "$(dirname "$0")/lib.sh"
MEASURE="$5"
TITLE="LarkSpool Backups"

measure() { wine "$MEASURE" "$@" 2>/dev/null | tr -d '\r'; }
# The black dots of a focus rectangle along the top inside the border of a command label.
focus_dots() { count_colour 000000 "$(($1 + 2))" 113 "$(($2 - 4))" 1; }

seed_key
wipe_backups
set_counter 5
start_app
click_at 60 100 # the background, which takes the keyboard and lights no label
equals "no focus rectangle before the first key" "0" "$(($(focus_dots 112 49) + $(focus_dots 168 113)))"
xdotool key Escape
sleep 1
check "Esc on the main window leaves it open" eval "probe window 'LarkSpool.' | grep -q found=1"
# The keyboard starts on Export Custom Names; the registry tool, started minimised, leaves the
# keyboard with the window, so that Alt+E follows at once.
xdotool key Return
check "Enter at the start makes a backup" wait_for_backup "$DRIVE_C/Larkspool5/Larkspool5.reg"
xdotool key alt+e
check "Alt+E right after it, without the mouse, makes the next one" wait_for_backup "$DRIVE_C/Larkspool6/Larkspool6.reg"
xdotool key Tab shift+Tab
sleep 0.5
keep_screenshot keyboard-focus
check "Export Custom Names shows the focus rectangle" test "$(focus_dots 168 113)" -gt 20
equals "About does not" "0" "$(focus_dots 112 49)"
xdotool key Tab Tab Tab # Exit, the check box, then About: never the text box below the window
sleep 0.5
check "Tab goes round to About past the text box" test "$(focus_dots 112 49)" -gt 20
for n in 5 6; do
    check "backup $n holds the add-on's values" eval \
        "iconv -f UTF-16 -t UTF-8 '$DRIVE_C/Larkspool$n/Larkspool$n.reg' | grep -q 'Friend number 6'"
done
window "LarkSpool."
equals "the title moved on twice" "Wrenlet! 2 LarkSpool. (Times Run = 7)" "$title"

click_at 60 100
xdotool key alt+a
check "Alt+A opens About" probe wait "About LarkSpool" 10
sleep 0.5
xdotool key Escape
sleep 0.5
equals "Esc closes About" "found=0" "$(probe window "About LarkSpool" | head -n 1)"

# The keyboard is back with the main window without a click. The system menu (Alt+Space, which
# the window manager keeps here) opens the Backups window, where the list's menu (the menu key)
# compares the newest backup, its first row, with the key, to which a name was added.
check "the main window is in front again" eventually in_front "LarkSpool."
xdotool key alt+a
check "Alt+A right after Esc, without a click, opens About again" probe wait "About LarkSpool" 10
sleep 0.5
xdotool key Escape
sleep 0.5
wine reg add "$ADDON_KEY\\CustomNames" /v dave@example.org /d "$(printf 'Dave\tDancer')" /f >/dev/null 2>&1
probe sysmenu "LarkSpool."
sleep 0.5
xdotool key b
check "the system menu's Backups... opens the Backups window" probe wait "$TITLE" 10
sleep 1
xdotool key Tab Tab Tab Tab Tab Tab Tab Home # past the command labels into the list, its first row
sleep 0.3
xdotool key Menu
sleep 0.5
xdotool key c
sleep 1
TAB=$'\t'
equals "the list's menu compares the selected backup with the list now" \
    "added${TAB}\\CustomNames${TAB}dave@example.org${TAB}(none)${TAB}\"Dave${TAB}Dancer\"" "$(measure rows "$TITLE" 2)"
# Tab to the table, where Enter compares nothing again; Ctrl+A and Ctrl+C copy its rows.
xdotool key Tab Return
sleep 0.5
xdotool key ctrl+a ctrl+c
sleep 0.5
equals "Ctrl+A, Ctrl+C in the table copy its rows with their headings, a tab quoted" \
    "$(printf 'Change\tKey\tName\tBefore\tAfter\r\nadded\t\\CustomNames\tdave@example.org\t(none)\t"""Dave\tDancer"""\r\n' | od -c)" \
    "$(wine "$MEASURE" clipboard 2>/dev/null | od -c)"
check "no message came up" eval "! probe window LarkSpool | grep -q '^title=LarkSpool$'"
wine reg delete "$ADDON_KEY\\CustomNames" /v dave@example.org /f >/dev/null 2>&1
# Alt+R restores it, Y answers the question and Enter the result: the list before is backed up
# first (backup 7) and the key is the backup.
BEFORE=$(dump_key)
xdotool key alt+r
answer y
# The outcome is the Backups window's message: above it and the main window, the first window
# whose title has "LarkSpool" from the top.
result_on_top() { # waits for it up to 15 seconds
    for _ in $(seq 30); do
        probe window LarkSpool | grep -q '^title=LarkSpool$' && return 0
        sleep 0.2
    done
    return 1
}
check "the outcome comes up above both windows" result_on_top
equals "the outcome's owner" "owner=$TITLE" "$(probe window LarkSpool | grep '^owner=')"
answer Return
check "Alt+R restores: the list before is backup 7" test -s "$DRIVE_C/Larkspool7/Larkspool7.reg"
equals "Alt+R restores: the key is the backup" "$BEFORE" "$(dump_key)"
window "$TITLE"
click_at 300 290 # the text box: the window has the keyboard again after the message
xdotool key Escape
sleep 0.5
check "Esc closes the Backups window" eval "! probe window '$TITLE' | grep -q found=1"

# Enlarged downwards, the window shows its text box, which Tab and the mouse then reach; Esc there
# leaves the program running too.
window "LarkSpool."
xdotool windowsize "$(xdotool search --onlyvisible --name '^Wrenlet! 2 LarkSpool' | head -n 1)" "$width" $((height + 200))
sleep 0.5
click_at 100 210
xdotool type Z
xdotool key Escape
sleep 1
check "the text box below the window takes the keyboard" eval "measure text 'LarkSpool.' | grep -q Z"
check "Esc in that text box leaves the window open" eval "probe window 'LarkSpool.' | grep -q found=1"
click_at 60 100
xdotool key alt+x
check "Alt+X ends the program" wait_ended 5
equals "the count kept after the backups" "9" "$(counter)"

finish
