#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Sourced by each test runner in bash: it counts the cases and prints the one
# summary line, "N passed, N failed, N skipped", that tools/test reads back.
# Sourcing it sets the three counts to 0 and defines the functions below.
passed=0 failed=0 skipped=0

# report_passed [N], report_failed [N], report_skipped [N]: N cases (1) more.
report_passed() { passed=$((passed + ${1:-1})); }
report_failed() { failed=$((failed + ${1:-1})); }
report_skipped() { skipped=$((skipped + ${1:-1})); }

# report_summary: the summary line; fails where a case failed.
report_summary() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
}

# report_read LOG: the counts of the last summary line in LOG, added to these;
# a LOG without one (a runner that ended before its count) is one failure.
report_read() {
  local line p f s
  line=$(grep -Eo '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$1" | tail -n 1) || { report_failed; return 1; }
  read -r p _ f _ s _ <<<"$line"
  report_passed "$p"
  report_failed "$f"
  report_skipped "$s"
}
