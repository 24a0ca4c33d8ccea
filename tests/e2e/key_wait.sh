#!/usr/bin/env bash
# The key wait of drvflip.exe at a real console. Under a pseudo-terminal
# (script) Wine gives a program a console; console_keys.exe runs drvflip.exe
# in it, queues input events or waits for keys typed at the terminal, and
# writes the outcome to a file: the exit status or "waiting" after the time
# allowed, and whether the console input mode came back.
# Usage: key_wait.sh DRVFLIP_EXE CONSOLE_KEYS_EXE EMULATOR
set -u
exe=$1 helper=$2 emulator=$3
work=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$work"' EXIT
cp "$exe" "$work/drvflip.exe"
cp "$helper" "$work/console_keys.exe"
cd "$work" || exit 1
mkfifo keys
exec 3<>keys  # held open: an end of input would reach the console as a key
passed=0
failures=0

check() {  # check NAME TYPED MODE WAIT_MS STEPS EXPECTED
  local name=$1 typed=$2 mode=$3 wait_ms=$4 steps=$5 want=$6
  rm -f result.txt raw
  timeout 60 script -qfec "'$emulator' console_keys.exe result.txt $mode $wait_ms $steps drvflip.exe" \
    /dev/null <&3 >/dev/null 2>&1 &
  local pid=$!
  if [ -n "$typed" ]; then
    for _ in $(seq 200); do [ -e raw ] && break; sleep 0.05; done
    printf '%s' "$typed" >&3
  fi
  wait $pid
  local got
  got=$(tr -d '\r' <result.txt 2>/dev/null)
  if [ "$got" = "$want" ]; then
    passed=$((passed + 1))
  else
    echo "FAIL $name: '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

# NAME | typed at the terminal | mode set first | ms allowed once the steps are done | steps | outcome
check "a letter typed" q - 10000 start,raw "status=1 mode=same"
check "Enter typed" $'\r' - 10000 start,raw "status=1 mode=same"
check "an arrow key typed" $'\e[A' - 10000 start,raw "status=1 mode=same"
check "nothing typed: still waiting after 2 s" "" - 2000 start,raw "status=waiting mode=0x1F7->0x1F0"
check "standard input from a file" "" - 2000 stdin-file,start,raw "status=waiting mode=0x1F7->0x1F0"
check "keys and events that do not end it" "" - 2000 shift,caps,alt,a-up,focus,mouse,start,raw \
  "status=waiting mode=0x1F7->0x1F0"
check "a Ctrl+C key event ends it" "" - 10000 start,raw,ctrl-c "status=1 mode=same"
check "F1 without a character" "" - 10000 start,raw,f1 "status=1 mode=same"
check "a key queued before the start" "" - 10000 a,start "status=1 mode=same"
check "virtual-terminal input off during the wait" "" 3F7 2000 start,raw "status=waiting mode=0x3F7->0x1F0"
check "virtual-terminal input back after it" "" 3F7 10000 start,raw,a "status=1 mode=same"

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
