#!/bin/sh
# discord_game_sdk.dll exports DiscordCreate and nothing else, and imports
# only DLLs of the system: the C++ runtime, libgcc and winpthread are inside.
#
# dll_check.sh OBJDUMP DLL
set -eu
objdump=${1:?usage: dll_check.sh OBJDUMP DLL}
dll=${2:?}

headers=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
status=0
# A DLL whose import table was not read (a changed objdump, a truncated file)
# lists nothing, and nothing would look foreign: it must import kernel32.
if ! printf '%s\n' "$imports" | grep -qx 'kernel32.dll'; then
    echo "FAIL: no import of kernel32.dll found: the import table was not read"
    printf '%s\n' "$headers" | head -20
    status=1
fi
if [ "$exports" != "DiscordCreate" ]; then
    echo "FAIL: the exports are not DiscordCreate alone:"
    printf '%s\n' "$exports"
    status=1
fi
system='^(kernel32|user32|advapi32|ws2_32|iphlpapi|msvcrt|shell32|ole32|oleaut32|bcrypt|ntdll)\.dll$'
others=$(printf '%s\n' "$imports" | grep -Ev "$system" || true)
if [ -n "$others" ]; then
    echo "FAIL: imports DLLs that are not the system's:"
    printf '%s\n' "$others"
    status=1
fi
[ "$status" -ne 0 ] || echo "discord_game_sdk.dll: exports DiscordCreate alone; imports" $imports
exit "$status"
