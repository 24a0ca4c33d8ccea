#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# The key wait of drvflip.exe at a real console. Under a pseudo-terminal
# (script) Wine gives a program a console; console_keys.exe runs drvflip.exe
# in it, queues input events or waits for keys typed at the terminal, and
# writes the outcome to a file: the exit status or "waiting" after the time
# allowed, whether the console input mode came back, and whether the usage
# was on the screen during the wait. It also starts drvflip.exe with raw
# command lines, as CreateProcessW passes them, and compares the bytes out.
# Usage: key_wait.sh DRVFLIP_EXE CONSOLE_KEYS_EXE EMULATOR
set -u
# shellcheck source=../../tools/lib/report.sh
. "$(dirname "$0")/../../tools/lib/report.sh"
exe=$1 helper=$2 emulator=$3
work=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$work"' EXIT
cp "$exe" "$work/drvflip.exe"
cp "$helper" "$work/console_keys.exe"
cd "$work" || exit 1
mkfifo keys
exec 3<>keys  # held open: an end of input would reach the console as a key

# terminal: what the pseudo-terminal showed, its lines without the console's
# cursor escapes, so that Wine's own failure line (a client that lost the
# wineserver, a crash) is in the test's output, where tools/test looks for it.
terminal() {
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\r//g' typescript 2>/dev/null | grep . | head -n 8 | sed 's/^/  terminal: /'
}

check() {  # check NAME TYPED MODE WAIT_MS STEPS EXPECTED
  local name=$1 typed=$2 mode=$3 wait_ms=$4 steps=$5 want=$6
  rm -f result.txt raw typescript
  timeout 60 script -qfec "'$emulator' console_keys.exe result.txt $mode $wait_ms $steps drvflip.exe" \
    /dev/null <&3 >typescript 2>&1 &
  local pid=$!
  if [ -n "$typed" ]; then
    for _ in $(seq 200); do [ -e raw ] && break; sleep 0.05; done
    printf '%s' "$typed" >&3
  fi
  wait $pid
  local got
  got=$(tr -d '\r' <result.txt 2>/dev/null)
  if [ "$got" = "$want" ]; then
    report_passed
  else
    echo "FAIL $name: '$got', expected '$want'"
    terminal
    report_failed
  fi
}

# NAME | typed at the terminal | mode set first | ms allowed once the steps are done | steps | outcome
check "a letter typed, the usage on the screen" q - 10000 start,raw,screen \
  "status=1 mode=same screen=shown"
check "Enter typed" $'\r' - 10000 start,raw "status=1 mode=same"
check "an arrow key typed" $'\e[A' - 10000 start,raw "status=1 mode=same"
check "nothing typed: still waiting after 2 s" "" - 2000 start,raw "status=waiting mode=0x1F7->0x1F0"
check "standard input from a file" "" - 2000 stdin-file,start,raw,screen \
  "status=waiting mode=0x1F7->0x1F0 screen=shown"
check "keys and events that do not end it" "" - 2000 shift,caps,alt,a-up,focus,mouse,start,raw \
  "status=waiting mode=0x1F7->0x1F0"
check "a Ctrl+C key event ends it" "" - 10000 start,raw,ctrl-c "status=1 mode=same"
check "F1 without a character" "" - 10000 start,raw,f1 "status=1 mode=same"
check "a key queued before the start" "" - 10000 a,start "status=1 mode=same"
check "virtual-terminal input off during the wait" "" 3F7 2000 start,raw "status=waiting mode=0x3F7->0x1F0"
check "virtual-terminal input back after it" "" 3F7 10000 start,raw,a "status=1 mode=same"

crlf() { printf '%s' "${1//$'\n'/$'\r\n'}"; }
usage=$'\nUSAGE:\n\n   drvflip <command>\n\nCOMMANDS:\n\n   tavi\t\tLoad the USBIO driver.\n   pcsc\t\tLoad the PC/SC driver.\n   query\tShow the driver type now active.\n\nEXAMPLES:\n\n   drvflip tavi\n   drvflip pcsc\n   drvflip query\n\n\nPress any key to continue\n'
line() {  # line RAW_COMMAND_LINE STATUS OUT ERR: a key is queued first, for the usage's wait
  rm -f result.txt out.txt err.txt typescript
  printf '%s\n' "$1" >line.txt
  timeout 60 script -qfec "'$emulator' console_keys.exe result.txt - 10000 a,out-files,start @line.txt" \
    /dev/null <&3 >typescript 2>&1
  if [ "$(tr -d '\r' <result.txt 2>/dev/null)" = "status=$2 mode=same" ] &&
    cmp -s out.txt <(crlf "$3") && cmp -s err.txt <(crlf "$4"); then
    report_passed
  else
    echo "FAIL raw command line $1: $(cat result.txt 2>/dev/null)"
    od -c out.txt | head -5
    od -c err.txt | head -5
    terminal
    report_failed
  fi
}
# RAW COMMAND LINE | status | standard output | standard error
line 'drvflip.exe "a""b c"' 1 "$usage" $'ERROR: Unknown command \'a"b c\'.\n'
line 'C:\dir\"drvflip.exe" tavi' 0 $'0 device(s) found.\n' ""
line 'drvflip.exe "pcsc' 0 $'0 device(s) found.\n' ""
line 'drvflip.exe a\\\"b' 1 "$usage" $'ERROR: Unknown command \'a\\"b\'.\n'
line 'drvflip.exe  "pcsc tavi"  ' 1 "$usage" $'ERROR: Unknown command \'pcsc tavi\'.\n'
# A command line without the program's name: its first word is taken for the name.
line 'pcsc' 1 "$usage" ""

report_summary
