#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Sourced by tools/wine-run, tools/lib/x86-host.sh, tests/lab/lab and
# bench/run: the Wine lab, once.
# Wine's programs (Debian's wine64 and, for the 32-bit side, wine32:i386: none
# is on the PATH), the environment of a run in a private prefix, and how a
# prefix is made. Sourcing it defines what it defines below and changes
# nothing else.

wine_loader=/usr/lib/wine/wine64
wine_loader32=/usr/lib/wine/wine
wine_server=/usr/lib/wine/wineserver

# wine_env PREFIX: exports what every run in the private prefix PREFIX has: no
# debug channels, UTF-8 arguments, no Mono or Gecko installer.
wine_env() {
  export WINEPREFIX=$1 WINEDEBUG=-all LANG=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
}

# wine_quiet COMMAND...: COMMAND with no terminal and no output (Wine's
# background processes would otherwise hold the caller's streams open).
wine_quiet() { "$@" </dev/null >/dev/null 2>&1; }

# wine_x86_side_missing: true where $WINEPREFIX has no 32-bit kernel32.dll and
# a 32-bit program runs now. A prefix made where none could run (before Wine's
# 32-bit side was installed, or on a host that runs no 32-bit code and emulated
# none then) starts no 32-bit exe, although wineboot may have made syswow64.
wine_x86_side_missing() {
  [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
    [ -x "$wine_loader32" ] && "$wine_loader32" --version >/dev/null 2>&1
}

# wine_make_prefix MARKER: makes $WINEPREFIX where the file MARKER in it is
# missing, or again where its 32-bit side is (its session ended first), and
# waits until the session that made it has ended: an install while it is still
# ending is lost.
wine_make_prefix() {
  local marker=$WINEPREFIX/$1
  [ ! -e "$marker" ] || wine_x86_side_missing || return 0
  if [ -e "$marker" ]; then
    wine_quiet "$wine_server" -k || true
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  wine_quiet "$wine_loader" wineboot -i || true
  wine_quiet "$wine_server" -w || true
  touch "$marker"
}
