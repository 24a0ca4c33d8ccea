#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# The program as a user runs it, with no terminal and standard input from
# /dev/null (so the key wait returns at once): exact bytes on standard output
# and standard error, and the exit status, for each command line.
# Usage: command_line.sh PROGRAM [EMULATOR]   (EMULATOR runs a Windows exe)
# DRVFLIP_CASES="NAME|NAME..." runs only the cases of those names.
set -u
# shellcheck source=../../tools/lib/report.sh
. "$(dirname "$0")/../../tools/lib/report.sh"
exe=$1
emulator=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run ARGS... : fills $work/out, $work/err and $status
  if [ -n "$emulator" ]; then
    setsid -w "$emulator" "$exe" "$@" </dev/null >"$work/out" 2>"$work/err"
  else
    setsid -w "$exe" "$@" </dev/null >"$work/out" 2>"$work/err"
  fi
  status=$?
}

crlf() { printf '%s' "${1//$'\n'/$'\r\n'}"; }

usage=$'\nUSAGE:\n\n   drvflip <command>\n\nCOMMANDS:\n\n   tavi\t\tLoad the USBIO driver.\n   pcsc\t\tLoad the PC/SC driver.\n   query\tShow the driver type now active.\n\nEXAMPLES:\n\n   drvflip tavi\n   drvflip pcsc\n   drvflip query\n\n\nPress any key to continue\n'

check() {  # check NAME STATUS OUT ERR -- ARGS...
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  case "|${DRVFLIP_CASES-$name}|" in *"|$name|"*) ;; *) return 0 ;; esac
  shift 5
  run "$@"
  local ok=1
  if [ "$status" != "$want_status" ]; then echo "FAIL $name: status $status, expected $want_status"; ok=0; fi
  if ! cmp -s "$work/out" <(crlf "$want_out"); then
    echo "FAIL $name: standard output differs:"; diff <(od -c "$work/out") <(crlf "$want_out" | od -c) | head -20; ok=0
  fi
  if ! cmp -s "$work/err" <(crlf "$want_err"); then
    echo "FAIL $name: standard error differs:"; diff <(od -c "$work/err") <(crlf "$want_err" | od -c) | head -20; ok=0
  fi
  if [ $ok = 1 ]; then report_passed; else report_failed; fi
}

check "no argument" 1 "$usage" "" --
check "two commands" 1 "$usage" "" -- pcsc tavi
check "lone dash" 1 "$usage" $'ERROR: Missing value for option \'-\'.\n' -- -
check "lone slash" 1 "$usage" $'ERROR: Missing value for option \'/\'.\n' -- /
check "unknown option" 1 "$usage" $'ERROR: Unrecognized option \'-x\'.\n' -- -x
check "-?" 1 "$usage" "" -- '-?'
check "/H" 1 "$usage" "" -- /H
check "-help" 1 "$usage" "" -- -help
check "-hx" 1 "$usage" "" -- -hx
check "near command" 1 "$usage" $'ERROR: Unknown command \'tavix\'.\n' -- tavix
check "empty argument" 1 "$usage" $'ERROR: Unknown command \'\'.\n' -- ""
check "blank inside one argument" 1 "$usage" $'ERROR: Unknown command \'pcsc tavi\'.\n' -- "pcsc tavi"
check "quote inside an argument" 1 "$usage" $'ERROR: Unknown command \'pc"sc\'.\n' -- 'pc"sc'
check "wildcard as typed" 1 "$usage" $'ERROR: Unknown command \'p*\'.\n' -- 'p*'
# shellcheck disable=SC1003 # the argument is a, two backslashes, b and one backslash
check "backslashes" 1 "$usage" $'ERROR: Unknown command \'a\\\\b\\\'.\n' -- 'a\\b\'
check "Latin-1 letter" 1 "$usage" $'ERROR: Unknown command \'pcs\xe7\'.\n' -- $'pcs\xc3\xa7'
check "letter above 255" 1 "$usage" $'ERROR: Unknown command \'p?c\'.\n' -- $'p\xe4\xb8\xadc'
check "outside the BMP: two wide characters" 1 "$usage" $'ERROR: Unknown command \'p??c\'.\n' -- $'p\xf0\x9f\x98\x80c'

if [ -n "$emulator" ]; then
  # In a bare Wine prefix there is no reader.
  check "pcsc, no reader" 0 $'0 device(s) found.\n' "" -- pcsc
  check "TAVI, no reader" 0 $'0 device(s) found.\n' "" -- TAVI
  check "query, no reader" 2 $'0 device(s) found.\n' "" -- query
else
  # The native program simulates one reader whose driver starts with PC/SC.
  path='\\?\root#drvflip_sim#0000#{c4414883-6b5b-44c2-b888-7d04fe8505d2}'
  head=$'1 device(s) found.\nOpen \''"$path"$'\'.\n\n\nDriver API version: 1.0\nDriver file version: 2.3.0.17\n'
  check "pcsc" 0 "$head"$'\nCurrently activated driver type: PCSC\n' "" -- pcsc
  check "query" 0 "$head"$'\nCurrently activated driver type: PCSC\n' "" -- query
  check "Tavi" 0 "$head"$'\nCurrently activated driver type: TAVI\n' "" -- Tavi
fi

# The key wait at a real terminal (native program only): it waits for a key
# typed at the terminal even with standard input from a file, and a function
# key's escape sequence ends it like any key.
if [ -z "$emulator" ] && command -v script >/dev/null; then
  for keys in q $'\e[15~'; do
    start=$(date +%s%N)
    # The key comes after 0.5 s; the time is taken when the program has ended.
    (sleep 0.5; printf '%s' "$keys") | {
      script -qec "'$exe' </dev/null >/dev/null 2>&1" /dev/null >/dev/null 2>&1
      echo $? >"$work/status"
      date +%s%N >"$work/end"
    }
    status=$(cat "$work/status")
    elapsed=$((($(cat "$work/end") - start) / 1000000))
    if [ "$status" = 1 ] && [ "$elapsed" -ge 450 ]; then
      report_passed
    else
      echo "FAIL key wait at a terminal ($(printf '%q' "$keys")): status $status after $elapsed ms"
      report_failed
    fi
  done
fi

# Both streams into one file: standard output's text comes first.
both() {
  if [ -n "$emulator" ]; then
    setsid -w "$emulator" "$exe" -x </dev/null >"$work/both" 2>&1
  else
    setsid -w "$exe" -x </dev/null >"$work/both" 2>&1
  fi
  if cmp -s "$work/both" <(crlf "$usage"$'ERROR: Unrecognized option \'-x\'.\n'); then
    report_passed
  else
    echo "FAIL one file for both streams:"; od -c "$work/both" | tail -5; report_failed
  fi
}
[ -n "${DRVFLIP_CASES+chosen}" ] || both

report_summary
