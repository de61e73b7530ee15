#!/usr/bin/env bash
# The command line of scheduled and scripted backups, with the real registry tool: exit codes,
# printed lines, folders and the counter; a /backup beside the open window.
source "$(dirname "$0")/lib.sh"
PLANTED="$3"

seed_three_names() { # four values in two keys
    wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
    wine reg add "$ADDON_KEY" /v Version /d "2.0" /f >/dev/null
    for i in 1 2 3; do
        wine reg add "$ADDON_KEY\\CustomNames" /v "friend$i@example.org" /d "Friend number $i" /f >/dev/null
    done
}

# What an interactive command prompt in the program's folder shows when the lines are typed at it,
# each once the prompt asks for it, without the prompts and the banner. Unlike a batch file or
# cmd /c, a prompt waits only for console programs, and "LarkSpool" finds LarkSpool.com first.
at_prompt() {
    local folder prompt input out="$ARTIFACTS/prompt.txt" asked=0 line pid to_prompt
    folder=$(dirname "$EXE")
    prompt="$(winepath -w "$folder")>"
    input=$(mktemp -u)
    mkfifo "$input"
    (cd "$folder" && wine cmd <"$input" >"$out" 2>&1) &
    pid=$!
    exec {to_prompt}>"$input"
    for line in "$@" exit; do
        asked=$((asked + 1))
        for _ in $(seq 300); do
            [ "$(grep -o -F "$prompt" "$out" | wc -l)" -ge "$asked" ] && break
            sleep 0.1
        done
        (printf '%s\r\n' "$line" >&"$to_prompt") 2>/dev/null || break # a prompt that ended early
    done
    exec {to_prompt}>&-
    wait "$pid"
    rm -f "$input"
    PROMPT_OUT=$(tr -d '\r' <"$out")
    PROMPT_OUT=$(echo "${PROMPT_OUT//"$prompt"/}" | sed 1d | grep -v '^$')
}

seed_three_names
wipe_backups
set_counter 5
larkspool /backup
equals "/backup: exit code" "0" "$CODE"
equals "/backup: the line" "C:\\Larkspool5\\Larkspool5.reg: $(kilobytes "$(stat -c %s "$DRIVE_C/Larkspool5/Larkspool5.reg")") kb, 4 values in 2 keys, checked" "$OUT"
check "/backup: the date stamp" test -f "$DRIVE_C/Larkspool5/Date Created.txt"
equals "/backup: the counter moved as for a run with one export" "7" "$(counter)"
check "no window was made" eval "! probe window 'LarkSpool.' | grep -q found=1"

larkspool -BACKUP
equals "a second /backup: exit code" "0" "$CODE"
check "a second /backup fills the next folder" test -f "$DRIVE_C/Larkspool7/Larkspool7.reg"

# /check of a good file, after a change of the key, and of a truncated file.
larkspool /check 'C:\Larkspool5\Larkspool5.reg'
equals "/check of a good file" "0:No differences" "$CODE:$OUT"
wine reg add "$ADDON_KEY\\CustomNames" /v "friend2@example.org" /d "Best friend" /f >/dev/null
larkspool /Check 'C:\Larkspool5\Larkspool5.reg'
equals "/check after a change" "4" "$CODE"
equals "/check names the change" "0 added, 0 removed, 1 changed
changed  \\CustomNames  friend2@example.org  \"Friend number 2\" -> \"Best friend\"" "$OUT"
head -c 300 "$DRIVE_C/Larkspool5/Larkspool5.reg" >"$DRIVE_C/truncated.reg"
larkspool /check 'C:\truncated.reg'
equals "/check of a truncated file" "5" "$CODE"
check "/check says it is unreadable: $OUT" eval "echo '$OUT' | grep -q 'unreadable: line'"
# Typed at a prompt, the program is waited for: its lines come before the next prompt, and
# %ERRORLEVEL% is its exit code. Why it failed goes to standard error, which 2>nul keeps off.
at_prompt 'LarkSpool /check C:\truncated.reg' 'echo after %ERRORLEVEL%' \
    'LarkSpool /check C:\truncated.reg 2>nul' 'echo after %ERRORLEVEL%'
equals "/check typed at a prompt" "$OUT
after 5
after 5" "$PROMPT_OUT"
rm -f "$DRIVE_C/truncated.reg"
# LarkSpool.com starts only the LarkSpool.exe beside it, never one of the current folder.
mkdir -p "$DRIVE_C/Lone"
cp "$(dirname "$EXE")/LarkSpool.com" "$DRIVE_C/Lone/"
cp "$PLANTED" "$DRIVE_C/LarkSpool.exe"
OUT=$(cd "$DRIVE_C" && wine 'C:\Lone\LarkSpool.com' /check 'C:\x.reg' 2>&1 | tr -d '\r')
CODE=${PIPESTATUS[0]}
equals "LarkSpool.com without LarkSpool.exe beside it" "11:C:\Lone\LarkSpool.exe could not be started: File not found." "$CODE:$OUT"
check "nor is a LarkSpool.exe in the current folder started" test ! -e "$DRIVE_C/planted-program-ran.txt"
rm -rf "$DRIVE_C/Lone" "$DRIVE_C/LarkSpool.exe"

# /list: newest first, with the state of each against the key now.
mkdir "$DRIVE_C/Larkspool9"
larkspool /list
equals "/list: exit code" "0" "$CODE"
equals "/list: the numbers, newest first" "9 7 5" "$(echo "$OUT" | cut -f1 | tr '\n' ' ' | sed 's/ $//')"
equals "/list: the states" "no backup file|differs from now|differs from now" "$(echo "$OUT" | cut -f6 | tr '\n' '|' | sed 's/|$//')"
equals "/list: values and keys" "4 2" "$(echo "$OUT" | sed -n 2p | cut -f4,5 | tr '\t' ' ')"
rmdir "$DRIVE_C/Larkspool9"

# /restore of a file from another folder: the key becomes the file's list; a file that also
# writes the Run key is refused before anything, the registry as it was.
mkdir -p "$DRIVE_C/From Stick"
cp "$DRIVE_C/Larkspool5/Larkspool5.reg" "$DRIVE_C/From Stick/names.reg"
larkspool /restore 'C:\From Stick\names.reg'
equals "/restore: exit code" "0" "$CODE"
equals "/restore: the last line" "C:\From Stick\names.reg restored: 4 values in 2 keys, checked. The list as it was before is backup 9." "$(echo "$OUT" | tail -n 1)"
larkspool /check 'C:\From Stick\names.reg'
equals "/restore: the key is the file's list" "0:No differences" "$CODE:$OUT"
printf 'REGEDIT4\r\n\r\n[%s]\r\n"Version"="9"\r\n\r\n[%s]\r\n"x"="C:\\\\x.exe"\r\n' \
    'HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2' 'HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run' \
    >"$DRIVE_C/From Stick/planted.reg"
FOLDERS=$(ls -d "$DRIVE_C"/Larkspool* | wc -l)
larkspool /restore 'C:\From Stick\planted.reg'
equals "/restore of a file that writes the Run key: exit code" "7" "$CODE"
check "/restore names the Run key: $OUT" eval "echo '$OUT' | grep -q 'writes to HKEY_CURRENT_USER.Software.Microsoft.Windows.CurrentVersion.Run'"
larkspool /check 'C:\From Stick\names.reg'
equals "/restore refused: the key is unchanged" "0:No differences" "$CODE:$OUT"
check "/restore refused: nothing in the Run key" eval "! wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v x >/dev/null 2>&1"
equals "/restore refused: no backup was made" "$FOLDERS" "$(ls -d "$DRIVE_C"/Larkspool* | wc -l)"
rm -rf "$DRIVE_C/From Stick"

# Copies on a second drive: a folder mapped as D: the way Wine maps drives; unplugged, the mapping
# is gone. The copy equals the backup byte for byte, its stamp read-only; a failed copy leaves the
# backup checked and ends with 6; plugged back, the next backup is copied.
STICK=$(mktemp -d)
ln -sfn "$STICK" "$WINEPREFIX/dosdevices/d:"
larkspool /copies 'D:\Copies'
equals "/copies of a folder that is not there: exit code" "1" "$CODE"
mkdir "$STICK/Copies"
larkspool /copies 'D:\Copies'
equals "/copies FOLDER" "0:Copies: D:\Copies" "$CODE:$OUT"
larkspool /copies
equals "/copies shows the folder" "D:\Copies" "$OUT"
larkspool /backup
equals "/backup with copies: exit code" "0" "$CODE"
equals "/backup with copies: the copy's line" "copy kept" "$(echo "$OUT" | sed -n 2p)"
NUMBER=$(echo "$OUT" | head -n 1 | sed 's/^C:.Larkspool\([0-9]*\).*/\1/')
COPY=$(ls -d "$STICK"/Copies/*/"Larkspool$NUMBER")
check "the copy equals the backup byte for byte" cmp -s "$DRIVE_C/Larkspool$NUMBER/Larkspool$NUMBER.reg" "$COPY/Larkspool$NUMBER.reg"
check "the copy's date stamp equals the backup's" cmp -s "$DRIVE_C/Larkspool$NUMBER/Date Created.txt" "$COPY/Date Created.txt"
check "the copy's date stamp is read-only" eval "stat -c %A '$COPY/Date Created.txt' | grep -qv w"
check "no temporary file is left" eval "! ls '$COPY' | grep -q LarkSpool-copy"
rm "$WINEPREFIX/dosdevices/d:"
larkspool /backup
equals "/backup with the drive unplugged: exit code" "6" "$CODE"
check "the backup still checks out: $OUT" eval "echo '$OUT' | head -n 1 | grep -q ', checked$'"
check "the copy is told as not made: $OUT" eval "echo '$OUT' | sed -n 2p | grep -q '^copy not made: '"
UNPLUGGED=$(echo "$OUT" | head -n 1 | sed 's/^C:.Larkspool\([0-9]*\).*/\1/')
ln -sfn "$STICK" "$WINEPREFIX/dosdevices/d:"
larkspool /backup
equals "/backup with the drive plugged back" "0:copy kept" "$CODE:$(echo "$OUT" | sed -n 2p)"
check "the copy missed while unplugged is made too: $OUT" cmp -s "$DRIVE_C/Larkspool$UNPLUGGED/Larkspool$UNPLUGGED.reg" \
    "$(dirname "$COPY")/Larkspool$UNPLUGGED/Larkspool$UNPLUGGED.reg"
# A copies folder in a backup folder would go with it. /copies into one is refused, however it is
# spelt; one chosen before that has come to lie in one (C:\Stick, made a link into it, as Wine
# makes a junction) gets no copy, and /keep deletes the other folders, never that one.
has_line() { echo "$1" | grep -q -F -x -- "$2"; }
NEWEST=$(cd "$DRIVE_C" && ls -d Larkspool* | sed 's/Larkspool//' | sort -n | tail -n 1)
larkspool /copies "C:\\Larkspool$NEWEST"
equals "/copies into a backup folder" "1:Copies are not kept in C:\\Larkspool$NEWEST: it lies in C:\\Larkspool$NEWEST, \
a backup folder that Delete and /keep remove whole" "$CODE:$OUT"
larkspool /copies "c:\\windows\\..\\LARKSPOOL$NEWEST"
equals "/copies into a backup folder spelt otherwise: exit code" "1" "$CODE"
larkspool /copies
equals "the folder chosen before stays" "D:\Copies" "$OUT"
mkdir "$DRIVE_C/Stick"
larkspool /copies 'C:\Stick'
equals "/copies C:\Stick" "0" "$CODE"
rmdir "$DRIVE_C/Stick"
ln -s "Larkspool$NEWEST" "$DRIVE_C/Stick"
larkspool /backup /keep 1
equals "/backup /keep 1, the copies folder in a backup folder: exit code" "6" "$CODE"
check "the copy is refused: $OUT" has_line "$OUT" "copy not made: the folder is in C:\\Larkspool$NEWEST"
check "the backup folder that holds the copies folder is not deleted: $OUT" \
    has_line "$OUT" "Not deleted: C:\\Larkspool$NEWEST holds the copies folder"
check "nor is its backup" test -f "$DRIVE_C/Larkspool$NEWEST/Larkspool$NEWEST.reg"
equals "the other backups are deleted" "2" "$(ls -d "$DRIVE_C"/Larkspool* | wc -l)"
rm "$DRIVE_C/Stick"
larkspool /copies OFF
larkspool /copies
equals "/copies off" "0:off" "$CODE:$OUT"
rm "$WINEPREFIX/dosdevices/d:"
rm -rf "$STICK"

# What the Task Scheduler runs: three automatic runs with a change before the second make one
# folder; an unchanged list makes none.
FOLDERS=$(ls -d "$DRIVE_C"/Larkspool* | wc -l)
larkspool /backup /auto
check "/backup /auto of an unchanged list: $OUT" eval "[[ '$CODE:$OUT' == '0:unchanged since backup '*' of '??-??-???? ]]"
helper reg add "$ADDON_KEY\\CustomNames" /v "auto@example.org" /d "Auto" /f >/dev/null
larkspool /backup /auto
check "/backup /auto of a changed list backs it up: $OUT" eval "[[ '$CODE:$OUT' == '0:C:'*', checked' ]]"
larkspool /backup /auto
check "then it is unchanged: $OUT" eval "[[ '$CODE:$OUT' == '0:unchanged since backup '* ]]"
equals "one folder more" "$((FOLDERS + 1))" "$(ls -d "$DRIVE_C"/Larkspool* | wc -l)"
# Registered with Wine's Task Scheduler, which keeps the task but not its trigger nor its command:
# the schedule is told from the last choice, with the last automatic run above.
larkspool /schedule weekly sun 12:00
equals "/schedule weekly" "0:Automatic backups: every Sunday at 12:00" "$CODE:$OUT"
larkspool /schedule
equals "/schedule: exit code" "0" "$CODE"
check "/schedule tells the schedule: $OUT" eval "echo '$OUT' | head -n 1 | grep -q '^Automatic backups: every Sunday at 12:00'"
check "/schedule tells the program: $OUT" eval "echo '$OUT' | grep -q -F 'Program: \"$(winepath -w "$EXE")\" /backup /auto'"
check "/schedule tells the last run: $OUT" eval "echo '$OUT' | tail -n 1 | grep -q 'exit code 0: unchanged since backup '"
larkspool /schedule off
equals "/schedule off" "0:Automatic backups: off" "$CODE:$OUT"
larkspool /schedule
equals "/schedule when off" "Automatic backups: off" "$(echo "$OUT" | head -n 1)"

larkspool /restore
equals "a switch without its file: exit code" "1" "$CODE"
equals "a switch without its file is named first" "The switch /restore needs the backup file to restore." "$(echo "$OUT" | head -n 1)"
larkspool /?
equals "/?: exit code" "0" "$CODE"
check "/? shows the usage" eval "echo '$OUT' | grep -q '/backup'"

# Without the key: exit code 2 and no folder.
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
set_counter 20
larkspool /backup
equals "/backup without the key" "2:Nothing to back up: HKCU\\Software\\Zephrix\\Wrenlet2 does not exist" "$CODE:$OUT"
check "no folder is left" test ! -e "$DRIVE_C/Larkspool20"
seed_three_names

# The window exporting and a /backup at the same moment never share a folder; both check out.
wipe_backups
set_counter 30
start_app
click_at 224 120 # Export Custom Names
larkspool /backup
equals "/backup beside the window: exit code" "0" "$CODE"
check "the window and /backup filled two folders" eval "[ \$(ls -d \"$DRIVE_C\"/Larkspool* | wc -l) -eq 2 ]"
for _ in $(seq 20); do
    LABEL=$(window "LarkSpool." && text_at 8 80 345 14)
    echo "$LABEL" | grep -q -i checked && break
    sleep 0.5
done
check "the window's backup checked too: $LABEL" eval "echo '$LABEL' | grep -q -i checked"
click_at 312 120
wait_ended 5

finish
