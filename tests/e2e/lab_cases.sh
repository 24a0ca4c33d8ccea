#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# drvflip.exe end to end under Wine, against test readers served by the test
# switch driver: exact bytes on both streams and the exit status.
# Usage: lab_cases.sh LAB_FILES_DIR PREFIX_DIR
# DRVFLIP_CASES="NAME|NAME..." runs only the cases of those names (and none of
# the checks that are not a case of one run).
set -u
# shellcheck source=../../tools/lib/report.sh
. "$(dirname "$0")/../../tools/lib/report.sh"
export DRVFLIP_LAB_FILES=$1 DRVFLIP_LAB_PREFIX=$2
here=$(cd "$(dirname "$0")" && pwd)
lab=$here/../lab/lab
work=$(mktemp -d)
finish() {
  "$lab" stop
  rm -rf "$work"
}
trap finish EXIT

rm -rf "$DRVFLIP_LAB_PREFIX"
"$lab" start || { echo "FAIL the lab did not start"; exit 1; }
"$lab" add 0 || { echo "FAIL test reader 0 was not added"; exit 1; }

crlf() { printf '%s' "${1//$'\n'/$'\r\n'}"; }
path0='\\?\root#drvfliptest#0000#{c4414883-6b5b-44c2-b888-7d04fe8505d2}'
path1='\\?\root#drvfliptest#0001#{c4414883-6b5b-44c2-b888-7d04fe8505d2}'
# Expected texts are built with printf -v: command substitution would drop
# their final newlines.
head() {  # head COUNT PATH [API] [FILE]: sets H to the lines up to the versions
  printf -v H '%s device(s) found.\nOpen '"'"'%s'"'"'.\n\n\nDriver API version: %s\nDriver file version: %s\n' \
    "$1" "$2" "${3:-1.0}" "${4:-4.2.0.1234}"
}
active() { printf -v A '\nCurrently activated driver type: %s\n' "$1"; }

check() {  # check NAME STATUS OUT ERR -- ARGS...
  local name=$1 want_status=$2 want_out=$3 want_err=$4 ok=1
  case "|${DRVFLIP_CASES-$name}|" in *"|$name|"*) ;; *) return 0 ;; esac
  shift 5
  "$lab" run "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" != "$want_status" ]; then echo "FAIL $name: status $status, expected $want_status"; ok=0; fi
  if ! cmp -s "$work/out" <(crlf "$want_out"); then
    echo "FAIL $name: standard output:"; cat -A "$work/out"; echo "expected:"; crlf "$want_out" | cat -A; ok=0
  fi
  if ! cmp -s "$work/err" <(crlf "$want_err"); then
    echo "FAIL $name: standard error:"; cat -A "$work/err"; echo "expected:"; crlf "$want_err" | cat -A; ok=0
  fi
  if [ $ok = 1 ]; then echo "ok   $name"; report_passed; else report_failed; fi
}

# The type in force, read by a query. The driver refuses every set request
# meanwhile, so a query that sent one would fail.
check_type() {  # check_type NAME READER TYPE COUNT PATH
  "$lab" set "$2" SetStatus 0xC0000010
  head "$4" "$5"
  active "$3"
  check "$1" 0 "$H$A" "" -- query
  "$lab" unset "$2" SetStatus
}

head 1 "$path0"
active PCSC
check "one reader: pcsc" 0 "$H$A" "" -- pcsc
# The open as the switch driver saw it: read and write sharing (3), overlapped
# (options 0x40, FILE_NON_DIRECTORY_FILE, without FILE_SYNCHRONOUS_IO_*), read
# and write access (FILE_GENERIC_READ | FILE_GENERIC_WRITE once the I/O manager
# has mapped them; Wine 8 hands a driver no security context, recorded as
# 0xFFFFFFFF).
if [ -z "${DRVFLIP_CASES+chosen}" ]; then
  opened="$("$lab" get 0 OpenShare) $("$lab" get 0 OpenOptions) $("$lab" get 0 OpenAccess)"
  case $opened in
    "0x00000003 0x00000040 "0x0012019F | "0x00000003 0x00000040 "0xFFFFFFFF)
      echo "ok   the open: share, options, access = $opened"; report_passed ;;
    *) echo "FAIL the open: share, options, access = $opened"; report_failed ;;
  esac
fi
head 1 "$path0"
active TAVI
check "one reader: tavi" 0 "$H$A" "" -- tavi
check_type "the type lasts between runs" 0 TAVI 1 "$path0"
head 1 "$path0"
active PCSC
check "one reader: PCSC in capitals" 0 "$H$A" "" -- PCSC

"$lab" set 0 ApiVersion 0x00020000
head 1 "$path0" 2.0
check "API 2.0 refused" 1 "$H" \
  $'ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.\n' -- tavi
head 1 "$path0" 2.0
check "query: API 2.0 refused" 1 "$H" \
  $'ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor version >= 0.\n' -- QUERY
"$lab" unset 0 ApiVersion
check_type "nothing was set after the refusal" 0 PCSC 1 "$path0"

"$lab" set 0 FileVersion 0x00030007
"$lab" set 0 BuildNumber 42
"$lab" set 0 ApiVersion 0x00010002
head 1 "$path0" 1.2 3.7.0.42
active TAVI
check "versions 1.2 and 3.7.0.42" 0 "$H$A" "" -- tavi
"$lab" unset 0 FileVersion
"$lab" unset 0 BuildNumber
"$lab" unset 0 ApiVersion

"$lab" set 0 SetStatus 0xC0000010  # STATUS_INVALID_DEVICE_REQUEST: error 1
head 1 "$path0"
check "SetDriverType rejected" 1 "$H" \
  $'ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.\n' -- pcsc
"$lab" unset 0 SetStatus

"$lab" set 0 ActiveStatus 0xC00000BB  # STATUS_NOT_SUPPORTED: error 50
head 1 "$path0"
check "GetActiveDriver rejected" 0 "$H" \
  $'ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.\n' -- pcsc
head 1 "$path0"
check "query: the read refused" 1 "$H" \
  $'ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.\n' -- query
"$lab" unset 0 ActiveStatus
"$lab" set 0 ActiveBytes 2
head 1 "$path0"
check "GetActiveDriver short" 0 "$H" \
  $'ERROR: GetActiveDriver: bytes returned = 2, bytes expected = 4.\n' -- tavi
"$lab" unset 0 ActiveBytes
check_type "the type was set before the failed read-back" 0 TAVI 1 "$path0"

"$lab" set 0 InfoBytes 12
check "version reply of 12 bytes" 1 "1 device(s) found.
Open '$path0'.
" $'ERROR: GetDriverInfo: bytes returned = 12, bytes expected = 16.\n' -- pcsc
"$lab" unset 0 InfoBytes

for request in Info Set Active; do "$lab" set 0 ${request}PendMs 200; done
start=$(date +%s%N)
head 1 "$path0"
active PCSC
check "every request pending for 200 ms" 0 "$H$A" "" -- pcsc
if [ -z "${DRVFLIP_CASES+chosen}" ]; then
  elapsed=$((($(date +%s%N) - start) / 1000000))
  if [ $elapsed -ge 600 ]; then echo "ok   the pending run waited (${elapsed} ms)"; report_passed;
  else echo "FAIL the pending run took only ${elapsed} ms"; report_failed; fi
fi
"$lab" set 0 SetStatus 0xC0000010
head 1 "$path0"
check "pending request that then fails" 1 "$H" \
  $'ERROR: IoctlSync: GetOverlappedResult failed with error = 0x00000001.\n' -- tavi
for request in Info Set Active; do "$lab" unset 0 ${request}PendMs; done
"$lab" unset 0 SetStatus

# A run killed while its request is pending; the next run is unharmed.
if [ -z "${DRVFLIP_CASES+chosen}" ]; then
  "$lab" set 0 InfoPendMs 3000
  "$lab" run tavi >"$work/killed" 2>&1 &
  victim=$!
  sleep 1.5  # the request is pending by then (a warm start takes about 0.1 s)
  kill -9 $victim 2>/dev/null
  wait $victim 2>/dev/null
fi
"$lab" unset 0 InfoPendMs
head 1 "$path0"
active TAVI
check "the run after a killed one" 0 "$H$A" "" -- tavi

"$lab" add 1 || { echo "FAIL test reader 1 was not added"; report_failed; }
head 2 "$path0"
active TAVI
check "two readers: the first is switched" 0 "$H$A" "" -- tavi
"$lab" remove 0
check_type "the second reader was left alone" 1 PCSC 1 "$path1"
head 1 "$path1"
active TAVI
check "tavi on the second reader alone" 0 "$H$A" "" -- tavi
"$lab" remove 1
check "no reader after removal" 0 $'0 device(s) found.\n' "" -- pcsc
check "query: no reader" 2 $'0 device(s) found.\n' "" -- query

report_summary
