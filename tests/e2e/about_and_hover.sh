#!/usr/bin/env bash
# Hover highlighting, the check box's popup menu, the picture's link and the modal About window,
# with the real mouse.
source "$(dirname "$0")/lib.sh"

LIT=6291CA
WHITE=FFFFFF
BLUE=3D70B6

set_counter 3
start_app
MAIN_X=$client_x
MAIN_Y=$client_y

# The command labels light up under the pointer, and go back over the background or the text.
move_to 60 100
move_to 170 120
equals "Export lit under the pointer" "$LIT" "$(pixel 170 120)"
equals "About untouched" "$WHITE" "$(pixel 114 120)"
keep_screenshot hover-export
move_to 60 100
equals "Export back to white over the background" "$WHITE" "$(pixel 170 120)"
move_to 290 120
move_to 15 140 # onto the picture
equals "Exit stays lit over the picture" "$LIT" "$(pixel 290 120)"
move_to 120 144 # onto the check box
equals "Exit stays lit over the check box" "$LIT" "$(pixel 290 120)"
move_to 100 30 # the description text
equals "Exit back to white over the text" "$WHITE" "$(pixel 290 120)"
move_to 114 120
move_to 20 86 # where the hidden size label lies: background
equals "a hidden size label counts as background" "$WHITE" "$(pixel 114 120)"

# Right press on the check box: the popup menu, and the box keeps its state.
click_at 120 144 3
equals "popup menu open" "menu=1" "$(probe menu)"
equals "check box unchanged by the right button" "checked=0" "$(probe checkbox "LarkSpool.")"
screen
cp "$ARTIFACTS/.screen.png" "$ARTIFACTS/popup-menu.png"
xdotool mousemove_relative 20 8 click 1
check "Open Containing Folder starts the file browser on C:\\" eventually running 'C:.windows.*explorer\.exe C:\\$'
end_matching 'C:.windows.*explorer\.exe C:\\$'
window "LarkSpool."
click_at 120 144 # left: toggles, no menu
equals "left click ticks the box" "checked=1" "$(probe checkbox "LarkSpool.")"
equals "no menu on the left button" "menu=0" "$(probe menu)"
click_at 120 144 2 # middle: nothing
equals "middle button changes nothing" "checked=1" "$(probe checkbox "LarkSpool.")"
equals "no menu on the middle button" "menu=0" "$(probe menu)"

# The picture opens the add-on's web site: Wine hands the address on to the Unix browser,
# which here is a script that writes it down.
OPENED="$ARTIFACTS/opened-url.txt"
rm -f "$OPENED"
printf '#!/bin/sh\necho "$1" > "%s"\n' "$OPENED" >"$ARTIFACTS/browser.sh"
chmod +x "$ARTIFACTS/browser.sh"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$ARTIFACTS/browser.sh" /f >/dev/null 2>&1
click_at 15 140
for _ in $(seq 50); do [ -s "$OPENED" ] && break; sleep 0.1; done
equals "the picture opens the web site" "http://www.zephrix.com/wrenlet/" "$(cat "$OPENED" 2>/dev/null)"

# About: modal, centred, topmost above the main window.
window "LarkSpool."
click_at 136 120
check "About window opens" probe wait "About LarkSpool" 10
sleep 0.5
window "About LarkSpool"
equals "About is topmost" "1" "$topmost"
equals "About's client area" "312x115" "${client_width}x${client_height}"
screen_w=$(probe screen | sed -n 's/^width=//p')
check "About is centred" test $(((2 * left + width - screen_w) ** 2)) -le 4
check "About shows its text" test "$(count_colour $BLUE 8 8 297 81)" -gt 200
equals "About's Exit starts in the window colours" "$WHITE" "$(pixel 138 104)"
ABOUT_X=$client_x
ABOUT_Y=$client_y
window "LarkSpool."
equals "main window takes no input while About is open" "0" "$enabled"
click_at 312 120 # the main window's Exit
check "a click on the main window does nothing" test -n "$APP_PID" -a "$(kill -0 "$APP_PID" 2>/dev/null && echo alive)" == alive
window "About LarkSpool"
move_to 138 104
equals "About's Exit lit under the pointer" "$LIT" "$(pixel 138 104)"
# The README's picture: both windows, a lit label.
screen
cp "$ARTIFACTS/.screen.png" "$ARTIFACTS/about.png"
move_to 20 5 # About's text
equals "About's Exit back to white over the text" "$WHITE" "$(pixel 138 104)"

# Closing from the title bar does what Exit does; the main window is active and topmost again.
click_at $((width - 14)) $((top - client_y + 10))
sleep 0.5
equals "About closed" "found=0" "$(probe window "About LarkSpool" | head -n 1)"
window "LarkSpool."
equals "main window takes input again" "1" "$enabled"
equals "main window topmost again" "1" "$topmost"
check "main window in front" eventually in_front "LarkSpool."

# A second showing starts again in the layout's colours; its Exit label closes it.
click_at 136 120
probe wait "About LarkSpool" 10
sleep 0.5
window "About LarkSpool"
equals "second showing starts white" "$WHITE" "$(pixel 138 104)"
click_at 160 104
sleep 0.5
equals "About's Exit closes it" "found=0" "$(probe window "About LarkSpool" | head -n 1)"

window "LarkSpool."
click_at 312 120
check "Exit ends the program" wait_ended 5
equals "count after a run without a backup" "2" "$(counter)"
: "$MAIN_X" "$MAIN_Y" "$ABOUT_X" "$ABOUT_Y"

finish
