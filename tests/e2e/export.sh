#!/usr/bin/env bash
# The backup with the real registry tool: folder, files, restore, size label, planted programs,
# a missing key and a deleted backup file.
source "$(dirname "$0")/lib.sh"
PLANTED="$3"

BLUE=3D70B6

seed_key
ORIGINAL=$(dump_key)
wipe_backups
set_counter 5
start_app
click_at 224 120 # Export Custom Names
BACKUP="$DRIVE_C/Larkspool5/Larkspool5.reg"
check "the backup file is written" wait_for_backup "$BACKUP"
sleep 1.2 # two ticks of the size monitor
window "LarkSpool."
keep_screenshot after-export
equals "title moves on" "Wrenlet! 2 LarkSpool. (Times Run = 6)" "$title"
equals "count after the export" "7" "$(counter)"
check "the size label shows" test "$(count_colour $BLUE 8 80 200 14)" -gt 20
SIZE_TEXT="Size of LarkSpool 5.reg is: $(kilobytes "$(stat -c %s "$BACKUP")") kb"
reads "size label text" "$SIZE_TEXT (9 values checked)" "$(text_at 8 80 345 14)"
STAMP="$DRIVE_C/Larkspool5/Date Created.txt"
check "date stamp bytes" grep -qzP '^Date Created: \d\d-\d\d-\d{4}\r\nTime Created: [^\r\n]+\r\n$' "$STAMP"
equals "date stamp is read-only" "0" "$((8#$(stat -c %a "$STAMP") & 8#222))"
equals "nothing else in the folder" "Date Created.txt Larkspool5.reg" "$(cd "$DRIVE_C/Larkspool5" && echo *)"

# The backup restores every value.
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
equals "key wiped" "" "$(dump_key)"
wine reg import 'C:\Larkspool5\Larkspool5.reg' >/dev/null 2>&1
equals "restored key" "$ORIGINAL" "$(dump_key)"

# While the modal About window is open, the size monitor keeps following the file.
click_at 136 120
probe wait "About LarkSpool" 10
xdotool search --name "About LarkSpool" windowmove 0 0
head -c 3000 /dev/zero >>"$BACKUP"
sleep 1.2
window "LarkSpool."
SIZE_TEXT="Size of LarkSpool 5.reg is: $(kilobytes "$(stat -c %s "$BACKUP")") kb"
reads "size label follows the file while About is open, and no longer calls it checked" "$SIZE_TEXT" \
    "$(text_at 8 80 345 14)"
window "About LarkSpool"
click_at 160 104 # About's Exit
window "LarkSpool."

# A deleted backup file is not made again by the size monitor.
rm -f "$BACKUP"
sleep 1.5
check "the monitor does not recreate the file" test ! -e "$BACKUP"
reads "the size label keeps the last size" "$SIZE_TEXT" "$(text_at 8 80 345 14)"

# A second export fills the next folder.
click_at 224 120
check "second backup written" wait_for_backup "$DRIVE_C/Larkspool6/Larkspool6.reg"
window "LarkSpool."
equals "title after two exports" "Wrenlet! 2 LarkSpool. (Times Run = 7)" "$title"
click_at 312 120 # Exit
check "Exit ends the program" wait_ended 5
equals "count kept at exit after a backup" "8" "$(counter)"

# A run number whose folder exists already is passed over: the old backup stays as it was.
set_counter 6
echo "earlier backup" >"$DRIVE_C/Larkspool6/marker.txt"
before=$(md5sum "$DRIVE_C/Larkspool6/Larkspool6.reg")
start_app
click_at 224 120
check "backup goes to the next free folder" wait_for_backup "$DRIVE_C/Larkspool7/Larkspool7.reg"
equals "earlier backup untouched" "$before" "$(md5sum "$DRIVE_C/Larkspool6/Larkspool6.reg")"
window "LarkSpool."
equals "title after passing over 6" "Wrenlet! 2 LarkSpool. (Times Run = 8)" "$title"
equals "count after passing over 6" "9" "$(counter)"
click_at 312 120
wait_ended 5

# From a folder with a blank in its name, C:\My.exe is never started.
wipe_backups
mkdir -p "$DRIVE_C/My Tools"
cp "$EXE" "$DRIVE_C/My Tools/LarkSpool.exe"
cp "$DRIVE_C/windows/system32/reg.exe" "$DRIVE_C/My Tools/reg.exe"
cp "$PLANTED" "$DRIVE_C/My.exe"
cp "$PLANTED" "$DRIVE_C/My Tools/explorer.exe" # a file browser planted beside the program
set_counter 11
start_app 'C:\My Tools\LarkSpool.exe'
click_at 120 144 # Open Folder After Export
equals "folder opening ticked" "checked=1" "$(probe checkbox "LarkSpool.")"
click_at 224 120
check "backup from a program folder with a blank" wait_for_backup "$DRIVE_C/Larkspool11/Larkspool11.reg"
check "the folder opens in the system's file browser" eventually running 'C:.windows.*explorer\.exe C:\\LarkSpool11$'
end_matching 'C:.windows.*explorer\.exe C:\\LarkSpool11$'
check "no planted program ever ran" test ! -e "$DRIVE_C/planted-program-ran.txt"
click_at 312 120
wait_ended 5
rm -rf "$DRIVE_C/My Tools" "$DRIVE_C/My.exe"

# Without the key there is nothing to back up, and the user is told so.
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
set_counter 20
start_app
move_to 60 100
before_label=$(count_colour $BLUE 8 80 340 14)
click_at 224 120
sleep 3
window "LarkSpool."
keep_screenshot nothing-to-back-up
check "no backup file" test ! -e "$DRIVE_C/Larkspool20/Larkspool20.reg"
reads "the label tells of the failure" 'Nothing to back up: HKCU\Software\Zephrix\Wrenlet2 does not exist' \
    "$(text_at 8 80 345 14)"
equals "label hidden before" "0" "$before_label"
click_at 312 120
wait_ended 5
seed_key

finish
