#!/usr/bin/env bash
# Start-up, the run counter and both ways out, with the real program and the real mouse.
source "$(dirname "$0")/lib.sh"

WHITE=FFFFFF

# A first run finds no count, shows 0 and stores 1; leaving without a backup gives it back.
set_counter "<none>"
start_app
equals "title of a first run" "Wrenlet! 2 LarkSpool. (Times Run = 0)" "$title"
equals "count after a first start" "1" "$(counter)"
click_at 312 120 # Exit
check "Exit ends the program" wait_ended 5
equals "count after Exit without a backup" "0" "$(counter)"

set_counter 5
start_app
equals "title" "Wrenlet! 2 LarkSpool. (Times Run = 5)" "$title"
equals "count after start" "6" "$(counter)"
equals "topmost" "1" "$topmost"
screen_w=$(probe screen | sed -n 's/^width=//p')
screen_h=$(probe screen | sed -n 's/^height=//p')
window "LarkSpool."
check "centred horizontally" test $(((2 * left + width - screen_w) ** 2)) -le 4
check "centred vertically" test $(((2 * top + height - screen_h) ** 2)) -le 4
equals "client area" "353x158" "${client_width}x${client_height}"
move_to 60 100 # the background, so that no label is lit
keep_screenshot startup
equals "window background" "$WHITE" "$(pixel 60 100)"
check "description text in blue" test "$(count_colour 3D70B6 8 8 333 53)" -gt 100
equals "size label hidden" "0" "$(count_colour 3D70B6 8 80 200 14)"
check "picture shown" test "$(count_colour "$WHITE" 0 128 30 25)" -lt 100
equals "check box unticked" "checked=0" "$(probe checkbox "LarkSpool.")"

# Another program's window, activated by the user, stays below.
wine notepad >/dev/null 2>&1 &
NOTEPAD=$!
probe wait "Notepad" 30
window "Notepad"
click_at 20 20
check "notepad is in front" eventually in_front "Notepad"
window "LarkSpool."
equals "still topmost" "1" "$topmost"
# "wine notepad" is start.exe, which runs notepad.exe as a process of its own.
end_matching 'C:.windows.*notepad\.exe$'
kill "$NOTEPAD" 2>/dev/null

# The close button of the title bar does what Exit does: one did_backup, then the end.
click_at $((width - 14)) -10
check "close button ends the program" wait_ended 5
equals "count after closing without a backup" "4" "$(counter)"

# A count changed from outside into something else is reported, and counting starts again.
set_counter "abc"
wine "$EXE" >/dev/null 2>&1 &
APP_PID=$!
check "a message about the stored value" probe wait "LarkSpool" 30
sleep 1
window "LarkSpool"
keep_screenshot bad-count-message
xdotool key Return
sleep 1
start_count=$(counter)
equals "count after the message" "1" "$start_count"
window "LarkSpool."
equals "title after a bad count" "Wrenlet! 2 LarkSpool. (Times Run = 0)" "$title"
click_at 312 120
check "Exit ends the program" wait_ended 5

# At 144 dots per inch the layout's twips give half as many pixels again, and it stays sharp.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
start_app
equals "client area at 144 DPI" "530x237" "${client_width}x${client_height}"
keep_screenshot startup-144dpi
click_at 468 180 # Exit, at 144 DPI
check "Exit ends the program at 144 DPI" wait_ended 5
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1

finish
