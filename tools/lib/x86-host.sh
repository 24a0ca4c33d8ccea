#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# The 32-bit exe's tests on this host; sourced by tools/test, which reads the
# X86_CASE and X86_WHY that it sets.
# shellcheck disable=SC2034
#
# Some x86-64 hosts run no 32-bit code at all (a kernel booted with
# ia32_emulation=false, some hypervisors): every i386 program fails with "Exec
# format error", so Wine's 32-bit side cannot start. x86_case finds out, by
# running a 32-bit program, which of three cases holds, and sets X86_CASE and
# X86_WHY:
#   wow64     the host runs 32-bit code: every test of the 32-bit exe runs
#             under Wine's WoW64;
#   emulated  it does not, but this run may register Debian's qemu-i386 for
#             i386 programs through binfmt_misc: a chosen few tests run, since
#             each 32-bit Wine process costs 25 to 55 s under the emulator;
#   skip      neither: the 32-bit exe is built, its runtime tests are skipped.
# DRVFLIP_X86=wow64|emulated|skip forces a case. A registered emulator comes
# before the kernel's own loader, so emulation can be forced on any host.
#
# x86_emulation_start registers the emulator (and mounts binfmt_misc) where
# nothing handles i386 programs yet; x86_emulation_stop removes what a run of
# ours added once no other run of ours uses it, and never a handler that we did
# not register. Runs share the registration under a lock in /dev/shm, which a
# chroot that binds the host's /dev shares too: each holds it shared while it
# runs, and the last one out removes it.

x86_dir=/proc/sys/fs/binfmt_misc
x86_name=drvflip-qemu-i386
x86_qemu=/usr/bin/qemu-i386-static
# shellcheck source=wine.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine.sh"
x86_wine=$wine_loader32
x86_lock=
x86_setup=
x86_state=/dev/shm
[ -d "$x86_state" ] && [ -w "$x86_state" ] || x86_state=/tmp
x86_mounted_mark=$x86_state/drvflip-binfmt-mounted
X86_CASE=
X86_WHY=

x86_root() {  # runs a command as root, itself or through a sudo that asks nothing
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo -n "$@"; fi
}

# Prints the name of an enabled handler of i386 programs that is not ours.
x86_foreign_handler() {
  local f
  for f in "$x86_dir"/*; do
    case ${f##*/} in register | status | "$x86_name" | '*') continue ;; esac
    # ELF, 32-bit, little-endian, and machine 3 (i386) in bytes 18 and 19.
    awk 'NR == 1 { on = $0 == "enabled" } /^magic / { m = $2 }
         END { exit !(on && substr(m, 1, 10) == "7f454c4601" && substr(m, 37, 4) == "0300") }' \
      "$f" 2>/dev/null && { echo "${f##*/}"; return 0; }
  done
  return 1
}

# Runs a 32-bit program: Wine's own 32-bit loader, which prints its version.
x86_runs() { [ -x "$x86_wine" ] && "$x86_wine" --version >/dev/null 2>&1; }

x86_case() {
  local handler
  case ${DRVFLIP_X86-} in
    wow64) X86_CASE=wow64 X86_WHY="forced by DRVFLIP_X86=wow64" ;;
    emulated) X86_CASE=emulated X86_WHY="forced by DRVFLIP_X86=emulated" ;;
    skip) X86_CASE=skip X86_WHY="forced by DRVFLIP_X86=skip" ;;
    '')
      if handler=$(x86_foreign_handler); then
        X86_CASE=emulated X86_WHY="i386 programs are handled by the binfmt_misc entry '$handler'"
      elif x86_runs; then
        X86_CASE=wow64 X86_WHY="this host runs 32-bit code ($x86_wine --version ran)"
      elif [ ! -x "$x86_wine" ]; then
        X86_CASE=skip X86_WHY="Wine's 32-bit side ($x86_wine, package wine32:i386) is not installed"
      elif [ "$(id -u)" != 0 ] && ! sudo -n true 2>/dev/null; then
        X86_CASE=skip X86_WHY="this host runs no 32-bit code, and emulating it needs root or a sudo that asks no password"
      else
        X86_CASE=emulated X86_WHY="this host runs no 32-bit code ($x86_wine --version: Exec format error)"
      fi
      ;;
    *)
      echo "DRVFLIP_X86 is '$DRVFLIP_X86'; it may be wow64, emulated or skip" >&2
      return 2
      ;;
  esac
}

# Registers qemu-i386 for the length of the run; on failure sets X86_WHY and returns 1.
# Two locks: drvflip-binfmt.lock, held shared by every run that uses the
# emulator (the last one out is the one that can take it exclusive), and
# drvflip-binfmt-setup.lock, held while a run sets up or tears down, briefly.
x86_emulation_start() {
  local magic mask
  [ -x "$x86_qemu" ] || { X86_WHY="qemu-user-static could not be installed"; return 1; }
  exec {x86_lock}>>"$x86_state/drvflip-binfmt.lock" {x86_setup}>>"$x86_state/drvflip-binfmt-setup.lock" ||
    { X86_WHY="cannot open the locks in $x86_state"; return 1; }
  flock -x "$x86_setup"
  flock -s "$x86_lock"
  if [ ! -e "$x86_dir/register" ]; then
    if ! x86_root mount -t binfmt_misc binfmt_misc "$x86_dir" 2>/dev/null; then
      X86_WHY="binfmt_misc cannot be mounted on $x86_dir"
      x86_emulation_stop
      return 1
    fi
    # Who mounted it, seen from which root: only that root's last run unmounts it.
    stat -c %d:%i / >"$x86_mounted_mark"
  fi
  if ! x86_foreign_handler >/dev/null && [ ! -e "$x86_dir/$x86_name" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    # Flag F opens the emulator now, so that it also serves programs in a chroot.
    if ! printf ':%s:M::%s:%s:%s:F' "$x86_name" "$magic" "$mask" "$x86_qemu" |
      x86_root tee "$x86_dir/register" >/dev/null 2>&1; then
      X86_WHY="qemu-i386 could not be registered in $x86_dir"
      x86_emulation_stop
      return 1
    fi
  fi
  if ! x86_runs; then
    X86_WHY="$x86_wine does not start under qemu-i386"
    x86_emulation_stop
    return 1
  fi
  flock -u "$x86_setup"
}

x86_emulation_stop() {
  [ -n "$x86_lock" ] || return 0
  flock -x "$x86_setup"
  # The last run out (no other holds the lock) removes what runs of ours added.
  if flock -x -n "$x86_lock"; then
    [ ! -e "$x86_dir/$x86_name" ] || echo -1 | x86_root tee "$x86_dir/$x86_name" >/dev/null 2>&1 ||
      echo "the binfmt_misc entry $x86_dir/$x86_name could not be removed" >&2
    if [ -e "$x86_mounted_mark" ] && [ "$(cat "$x86_mounted_mark")" = "$(stat -c %d:%i /)" ] &&
      [ -e "$x86_dir/register" ] && [ -z "$(x86_foreign_handler)" ]; then
      x86_root umount "$x86_dir" && rm -f "$x86_mounted_mark"
    fi
  fi
  exec {x86_lock}>&- {x86_setup}>&-
  x86_lock=
}
