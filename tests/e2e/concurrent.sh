#!/usr/bin/env bash
# Two LarkSpools at once: while one restores 20 000 values from the command line, a second one
# started at each of its steps (/?, /list, /backup, a window) never takes the live restore for one
# cut off, and does and says what it documents.
source "$(dirname "$0")/lib.sh"

wipe_backups
set_counter 1
larkspool /copies off
fill_key 200 "Custom name"
larkspool /backup
equals "backup 1 checked" "0" "$CODE"
fill_key 200 "Another name"

KINDS=(/? /list /backup window)
out="$ARTIFACTS/concurrent"
rm -rf "$out" && mkdir -p "$out"
wine "$EXE" /restore 'C:\Larkspool1\Larkspool1.reg' >"$out/restore.txt" 2>/dev/null &
first=$!
seen=0
started=0
windows=()
while kill -0 "$first" 2>/dev/null; do
    lines=$(grep -c . "$out/restore.txt")
    if [ "$lines" -gt "$seen" ]; then # a step began: a second LarkSpool starts now
        seen=$lines
        kind=${KINDS[$((started % 4))]}
        tr -d '\r' <"$out/restore.txt" | sed -n "${lines}p" >"$out/$started.step"
        if [ "$kind" == window ]; then
            wine "$EXE" >/dev/null 2>&1 &
            windows+=($!)
        else
            (wine "$EXE" "$kind" 2>/dev/null | tr -d '\r' >"$out/$started.txt"; echo "${PIPESTATUS[0]}" >"$out/$started.code") &
        fi
        echo "$kind" >"$out/$started.kind"
        started=$((started + 1))
    fi
    sleep 0.05
done
wait "$first"
code=$?
wait_seconds=0
while [ "$(ls "$out"/*.code 2>/dev/null | wc -l)" -lt $((started - ${#windows[@]})) ] && [ $wait_seconds -lt 1200 ]; do
    sleep 0.1
    wait_seconds=$((wait_seconds + 1))
done
tr -d '\r' <"$out/restore.txt" | sed 's/^/    restore: /'
equals "the restore: exit code" "0" "$code"
check "the restore: restored and checked" grep -q 'Larkspool1.reg restored: 20000 values in 202 keys, checked' "$out/restore.txt"
check "a second LarkSpool started at steps of the restore ($started)" eval "[ $started -ge 4 ]"

# Every window that started shows the main window and no message: there was nothing to recover.
for pid in "${windows[@]}"; do
    APP_PID=$pid
    stop_app
done
check "no message of a second start" eval "! xdotool search --onlyvisible --name '^LarkSpool\$' >/dev/null 2>&1"

for ((n = 0; n < started; n++)); do
    kind=$(cat "$out/$n.kind")
    [ "$kind" == window ] && continue
    what="$kind started at \"$(cat "$out/$n.step")\""
    equals "$what: exit code" "0" "$(cat "$out/$n.code" 2>/dev/null)"
    check "$what: no restore taken for one cut off" eval "! grep -q 'interrupted' '$out/$n.txt'"
    case "$kind" in
    /?) check "$what: the usage" grep -q '^Backs up the custom names' "$out/$n.txt" ;;
    /list) check "$what: backup 1 listed" grep -q '^1	' "$out/$n.txt" ;;
    /backup) check "$what: a whole list, checked" grep -q 'values in 20[12] keys, checked$' "$out/$n.txt" ;;
    esac
done

larkspool /check 'C:\Larkspool1\Larkspool1.reg'
equals "the key is backup 1 exactly" "0:No differences" "$CODE:$OUT"
check "nothing beside the add-on's key, no journal" \
    eval "! key_exists '${SIBLINGS[0]}' && ! key_exists '${SIBLINGS[1]}' && ! key_exists '$JOURNAL'"

# A restore while another LarkSpool holds the lock (a backup of it that waits): exit code 10.
fill_key 200 "Third name"
wine "$EXE" /restore 'C:\Larkspool1\Larkspool1.reg' >"$out/first.txt" 2>/dev/null &
first=$!
for _ in $(seq 200); do grep -q '^Writing' "$out/first.txt" 2>/dev/null && break; sleep 0.05; done
larkspool /restore 'C:\Larkspool1\Larkspool1.reg'
equals "a second /restore while the first writes: exit code" "10" "$CODE"
check "a second /restore: says another is restoring" eval "echo '$OUT' | grep -q 'Another LarkSpool is restoring the list'"
wait "$first"
equals "the first /restore: exit code" "0" "$?"
finish
