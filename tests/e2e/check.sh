#!/usr/bin/env bash
# Every backup is read back and compared with the key: the size label says so only when the file
# checks out. The system's reg.exe comes before one beside the program; a missing key leaves no
# folder; a backup folder is the user's own.
source "$(dirname "$0")/lib.sh"
PLANTED="$3"
HALF_EXPORT="$4"

size_label() { window "LarkSpool."; text_at 8 80 345 14; }
label_settles() { # waits until the size label holds one of the words given, then prints it
    local text
    for _ in $(seq 20); do
        text=$(size_label)
        if echo "$text" | grep -q -i -E "$1"; then
            break
        fi
        sleep 0.5
    done
    echo "$text"
}

# A checked backup: the label names the number of values read back.
seed_key
wipe_backups
set_counter 5
start_app
click_at 224 120 # Export Custom Names
BACKUP="$DRIVE_C/Larkspool5/Larkspool5.reg"
check "the backup file is written" wait_for_backup "$BACKUP"
LABEL=$(label_settles checked)
window "LarkSpool."
keep_screenshot checked
reads "the label tells the check" "Size of LarkSpool 5.reg is: $(kilobytes "$(stat -c %s "$BACKUP")") kb (9 values checked)" \
    "$LABEL"
equals "the backup folder is the user's alone" "0" "$((8#$(stat -c %a "$DRIVE_C/Larkspool5") & 8#007))"
click_at 312 120 # Exit
wait_ended 5

# A reg.exe beside the program never runs while the system has one.
mkdir -p "$DRIVE_C/Downloads"
cp "$EXE" "$DRIVE_C/Downloads/LarkSpool.exe"
cp "$PLANTED" "$DRIVE_C/Downloads/reg.exe"
rm -f "$DRIVE_C/planted-program-ran.txt"
set_counter 6
start_app 'C:\Downloads\LarkSpool.exe'
click_at 224 120
check "the system's tool writes the backup" wait_for_backup "$DRIVE_C/Larkspool6/Larkspool6.reg"
check "the reg.exe beside the program never ran" test ! -e "$DRIVE_C/planted-program-ran.txt"
reads "that backup checks out too" "checked" "$(label_settles checked | grep -o -i 'checked')"
click_at 312 120
wait_ended 5

# With no reg.exe in the system, the one beside the program writes half a file and ends with 0:
# the label must not call it checked.
head -c $(($(stat -c %s "$BACKUP") / 2)) "$BACKUP" >"$DRIVE_C/half-export.reg"
cp "$HALF_EXPORT" "$DRIVE_C/Downloads/reg.exe"
set_counter 7
start_app 'C:\Downloads\LarkSpool.exe'
SYSTEM_REG="$DRIVE_C/windows/system32/reg.exe" # away only while nothing else needs it
mv "$SYSTEM_REG" "$SYSTEM_REG.away"
click_at 224 120
check "the stand-in wrote its half" wait_for_backup "$DRIVE_C/Larkspool7/Larkspool7.reg"
LABEL=$(label_settles 'unreadable|differs')
window "LarkSpool."
keep_screenshot half-a-file
check "half a file is told as unreadable or differing: $LABEL" \
    eval "echo '$LABEL' | grep -q -i -E 'unreadable|differs'"
check "half a file is never called checked" eval "! echo '$LABEL' | grep -q -i checked"
mv "$SYSTEM_REG.away" "$SYSTEM_REG"
click_at 312 120
wait_ended 5
rm -rf "$DRIVE_C/Downloads" "$DRIVE_C/half-export.reg"

# Without the key there is nothing to back up, and no folder is left behind.
wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
set_counter 20
start_app
click_at 224 120
LABEL=$(label_settles 'nothing')
reads "the label tells of the missing key" 'Nothing to back up: HKCU\Software\Zephrix\Wrenlet2 does not exist' "$LABEL"
check "no folder is left" test ! -e "$DRIVE_C/Larkspool20"
window "LarkSpool."
equals "title moves on as for any export" "Wrenlet! 2 LarkSpool. (Times Run = 21)" "$title"
click_at 312 120
wait_ended 5
seed_key

# Snippets as a user writes them, imported with the registry tool into the emptied key: /check
# finds the key exactly as the file says. A file of another key is no backup of the list.
reg_file() { # path, then the lines after the header: a UTF-16 file as the registry tool writes
    local path="$1"
    shift
    { printf '\xff\xfe'; printf 'Windows Registry Editor Version 5.00\r\n\r\n' | iconv -t UTF-16LE
      printf '%s\r\n' "$@" | iconv -t UTF-16LE; } >"$path"
}
imported_checks() { # description, then the lines of the snippet
    local what="$1"
    shift
    reg_file "$DRIVE_C/snippet.reg" "$@"
    wine reg delete "$ADDON_KEY" /f >/dev/null 2>&1
    wine reg import 'C:\snippet.reg' >/dev/null 2>&1
    larkspool /check 'C:\snippet.reg'
    equals "$what, imported, then checked" "0:No differences" "$CODE:$OUT"
}
imported_checks "a subkey's section alone" '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\Subkey"1]' '"name"="value"'
imported_checks "backslashes at the end of sections" '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\Subkey1e\]' \
    '"e"="1"' '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\Subkey1f\\]' \
    '[HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\Subkey1g\\\\]' '"g"=dword:00000007'
equals "the tool made the keys the file names" "Subkey1e Subkey1f Subkey1g" \
    "$(wine reg query "$ADDON_KEY" 2>/dev/null | tr -d '\r' | grep -o 'Subkey1.$' | tr '\n' ' ' | sed 's/ $//')"
reg_file "$DRIVE_C/other.reg" '[HKEY_CURRENT_USER\Software\Classes\.bmp]' '@="Paint.Picture"'
larkspool /check 'C:\other.reg'
equals "a file of another key is no backup of the list" \
    '5:C:\other.reg: not a backup of HKCU\Software\Zephrix\Wrenlet2: line 3 writes HKEY_CURRENT_USER\Software\Classes\.bmp' \
    "$CODE:$OUT"
rm -f "$DRIVE_C/snippet.reg" "$DRIVE_C/other.reg"
seed_key

finish
