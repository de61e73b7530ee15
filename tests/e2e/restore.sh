#!/usr/bin/env bash
# A restore that nothing can break, with the real program and registry: killed at seven moments of
# a restore of 10 000 values, the next start leaves the key exactly the backup or exactly the list
# from before and says which; the window keeps answering while 100 000 values are restored, and
# its progress bar counts them; Delete with the real mouse; /backup /keep.
source "$(dirname "$0")/lib.sh"
MEASURE="$5"
TITLE="LarkSpool Backups"

select_last_row() {
    click_at 100 60
    xdotool key End
    sleep 0.3
}

# Backup 1 holds 10 000 names; 100 of them change, and backup 3 holds the list as it is then.
wipe_backups
set_counter 1
fill_key 100 "Custom name"
larkspool /backup
equals "backup 1 checked" "0" "$CODE"
python3 - "$DRIVE_C/changed.reg" <<'PY'
import sys
lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\CustomNames\Group000]"]
lines += ['"contact000-%03d@example.org"="Changed name %d"' % (n, n) for n in range(100)]
with open(sys.argv[1], "w", encoding="utf-16", newline="\r\n") as f:
    f.write("\n".join(lines) + "\n\n")
PY
wine reg import 'C:\changed.reg' >/dev/null 2>&1
larkspool /backup
equals "backup 3 checked" "0" "$CODE"
BACKUP='C:\Larkspool1\Larkspool1.reg'
BEFORE='C:\Larkspool3\Larkspool3.reg'

# Killed at seven moments after the restore has written its journal, before it touches the key:
# while the new list is written beside the key, swapped in, read back, and the list before removed.
journal_step() { wine reg query "$JOURNAL" /v Step 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
seen=""
outcome=before
for delay in 0 0.3 0.6 0.8 1.0 1.3 1.7; do
    if [ "$outcome" != before ]; then # the last restore finished: the list before is put back by hand
        wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
        wine reg import "$BEFORE" >/dev/null 2>&1
    fi
    start_app
    open_backups
    select_last_row
    click_at 124 16 # Restore
    answer y
    for _ in $(seq 100); do [ -n "$(journal_step)" ] && break; done
    sleep "$delay"
    mapfile -t doomed < <(prefix_pids '^[A-Z]:.*LarkSpool\.exe')
    kill -KILL "$APP_PID" "${doomed[@]}" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=""
    end_matching 'reg\.exe'
    step=$(journal_step)
    # The next start deals with it first; a start whose output Wine lost is made again.
    for _ in 1 2 3; do
        larkspool /list
        [ -n "$OUT" ] && break
    done
    told=$(echo "$OUT" | head -n 1)
    larkspool /check "$BACKUP"
    backup_code=$CODE
    larkspool /check "$BEFORE"
    case "$backup_code:$CODE" in
    0:4) outcome=backup ;;
    4:0) outcome=before ;;
    *) outcome="a mix ($backup_code:$CODE)" ;;
    esac
    check "killed $delay s into the restore (step ${step:-none}): the key is one whole list ($outcome)" \
        eval "[ '$outcome' == backup ] || [ '$outcome' == before ]"
    case "$told" in
    *"It is complete: the list is backup 1."*) told=backup ;;
    *"The list as it was before is back (backup "*) told=before ;;
    *) [ -z "$step" ] && told=$outcome ;; # ended before the journal was written or after its end
    esac
    equals "killed $delay s into the restore: the message names the list that is there" "$outcome" "$told"
    check "killed $delay s into the restore: nothing is left beside the add-on's key" \
        eval "! key_exists '${SIBLINGS[0]}' && ! key_exists '${SIBLINGS[1]}' && ! key_exists '$JOURNAL'"
    seen="$seen ${step:-none}/$outcome"
done
echo "moments seen (journal step/outcome):$seen"

# 100 000 values: the windows keep answering while the whole restore runs.
wipe_backups
set_counter 1
fill_key 1000 "Custom name"
larkspool /backup
fill_key 1000 "Another name"
start_app
open_backups
select_last_row
click_at 124 16 # Restore
answer y
started=$(date +%s.%N)
wine "$MEASURE" pauses "$TITLE" 25 >"$ARTIFACTS/restore-pauses.txt" 2>/dev/null &
pauses=$!
wine "$MEASURE" pauses "LarkSpool." 25 >"$ARTIFACTS/restore-main-pauses.txt" 2>/dev/null &
main_pauses=$!
probe progress "$TITLE" 120 >"$ARTIFACTS/restore-progress.txt" &
bar=$!
for _ in $(seq 1200); do # the result's message
    xdotool search --onlyvisible --name '^LarkSpool$' >/dev/null 2>&1 && break
    sleep 0.05
done
echo "restore of 100 000 values, Yes until the result: $(echo "$(date +%s.%N) - $started" | bc) s"
wait "$pauses" "$main_pauses" "$bar"
# The bar counts the values written, only forward, and has gone when the result is told.
counted=$(awk '$1 == "bar=1" && $2 == 0 && $4 == 100000 && $3 > 0 && $3 < 100000' "$ARTIFACTS/restore-progress.txt" | wc -l)
check "the progress bar counts the values written ($counted positions between none and all of 100 000)" \
    test "$counted" -ge 2
check "the progress bar only moves forward while the values are written" \
    awk '$2 == 0 && $4 == 100000 { if ($3 < last) exit 1; last = $3 }' "$ARTIFACTS/restore-progress.txt"
equals "the progress bar has gone once the restore ended" "bar=0" "$(tail -n 1 "$ARTIFACTS/restore-progress.txt" | cut -d' ' -f1)"
for file in restore-pauses restore-main-pauses; do
    longest=$(tr -d '\r' <"$ARTIFACTS/$file.txt" | sed -n 's/^longest_pause_ms=//p')
    echo "$file: longest pause ${longest:-?} ms during a restore of 100 000 values"
    check "$file: no pause of 250 ms or more (${longest:-?} ms)" eval "[ -n '$longest' ] && [ \$(echo '$longest < 250' | bc) -eq 1 ]"
done
window "$TITLE"
keep_screenshot restore-done
answer Return
larkspool /check 'C:\Larkspool1\Larkspool1.reg'
equals "the key is backup 1 of 100 000 values" "0:No differences" "$CODE:$OUT"

# F5 while two backups of 100 000 values are compared lists again at once: the comparison is let
# go, not waited for.
window "$TITLE"
click_at 100 60
xdotool key shift+Down
sleep 0.5
wine "$MEASURE" pauses "$TITLE" 4 >"$ARTIFACTS/compare-pauses.txt" 2>/dev/null &
pauses=$!
sleep 0.5
click_at 44 16 # Compare
xdotool key F5
wait "$pauses"
longest=$(tr -d '\r' <"$ARTIFACTS/compare-pauses.txt" | sed -n 's/^longest_pause_ms=//p')
echo "F5 during a comparison of two backups of 100 000 values: longest pause ${longest:-?} ms"
check "F5 during a comparison: no pause of 250 ms or more (${longest:-?} ms)" eval "[ -n '$longest' ] && [ \$(echo '$longest < 250' | bc) -eq 1 ]"
stop_app

# Delete with the real mouse removes exactly the selected folder; /backup /keep 2 leaves the
# newest two.
wipe_backups
set_counter 1
seed_key
for _ in 1 2 3 4 5; do larkspool /backup; done
start_app
open_backups
click_at 100 60 # the first row, backup 9
xdotool key Down # backup 7
sleep 0.3
click_at 204 16 # Delete
answer y
sleep 1
check "the selected backup is gone" eval "[ ! -e '$DRIVE_C/Larkspool7' ]"
equals "the others stay" "1 3 5 9" "$(cd "$DRIVE_C" && ls -d Larkspool* | sed 's/Larkspool//' | sort -n | tr '\n' ' ' | sed 's/ $//')"
stop_app
set_counter 13
larkspool /backup /keep 2
equals "/backup /keep 2: exit code" "0" "$CODE"
equals "/backup /keep 2: the newest two are left" "9 13" \
    "$(cd "$DRIVE_C" && ls -d Larkspool* | sed 's/Larkspool//' | sort -n | tr '\n' ' ' | sed 's/ $//')"
equals "/backup /keep 2: a line per deleted folder" "Deleted C:\\Larkspool1|Deleted C:\\Larkspool3|Deleted C:\\Larkspool5" \
    "$(echo "$OUT" | grep '^Deleted' | tr '\n' '|' | sed 's/|$//')"

finish
