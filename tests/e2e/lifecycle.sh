#!/usr/bin/env bash
# How the program ends: its Exit label, a quit message from outside, the end of the session;
# and the About window's text in the dialog font.
source "$(dirname "$0")/lib.sh"

EXIT_CODE=""
await_end() { # seconds; sets EXIT_CODE to the program's exit code, or "running"
    EXIT_CODE="running"
    for _ in $(seq $(($1 * 10))); do
        if ! kill -0 "$APP_PID" 2>/dev/null; then
            wait "$APP_PID"
            EXIT_CODE=$?
            APP_PID=""
            return 0
        fi
        sleep 0.1
    done
    return 1
}

block_text() { # the lines painted in a client rectangle x y w h of the last window, by OCR, as one
    screen
    convert "$ARTIFACTS/.screen.png" -crop "${3}x${4}+$((client_x + $1))+$((client_y + $2))" +repage \
        -colorspace Gray -resize 300% "$ARTIFACTS/.text.png"
    tesseract "$ARTIFACTS/.text.png" - --psm 6 2>/dev/null | tr '\n' ' '
}
contains() { # text read back, then the words it must hold; both folded as OCR confuses them
    case "$(echo "$1" | ocr_fold)" in
    *"$(echo "$2" | ocr_fold)"*) return 0 ;;
    *) echo "read: $1" >&2; return 1 ;;
    esac
}

# Exit ends the program normally.
set_counter 2
start_app
click_at 312 120 # Exit
await_end 5
equals "exit code after Exit" "0" "$EXIT_CODE"
equals "count after Exit without a backup" "1" "$(counter)"

# A quit message posted from outside ends the loop; the program ends with the message's code.
start_app
check "quit message posted" probe quit "LarkSpool." 3
await_end 5
equals "exit code after a quit message" "3" "$EXIT_CODE"
stop_app

# The end of the session runs the unload path: the run number goes back, nothing asks.
set_counter 5
start_app
equals "count after start" "6" "$(counter)"
equals "the session may end" "query=1" "$(probe endsession "LarkSpool.")"
await_end 5
equals "ended with the session" "0" "$EXIT_CODE"
equals "count after the end of the session" "4" "$(counter)"
stop_app

# The About text in the dialog font keeps its last words inside the label.
set_counter 3
start_app
click_at 136 120 # About
check "About window opens" probe wait "About LarkSpool" 10
sleep 0.5
window "About LarkSpool"
keep_screenshot about-text
check "the About text ends in its label" contains "$(block_text 8 8 297 81)" "file and away you go."
click_at 160 104 # About's Exit
window "LarkSpool."
click_at 312 120
check "Exit ends the program" wait_ended 5

finish
