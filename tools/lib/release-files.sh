#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
# Sourced by tools/release, tools/verify-release, tools/fresh-check, the
# release check and the fleet tests: the
# one maker of each file of the release, so that what the verifier checks is
# what the release holds. Sourcing it defines what it defines below and
# changes nothing else of its caller's, but for one thing: every exported
# function is removed, whether it came in the environment or the caller
# exported it (export -f cmake would stand in for the command of that name in
# every process the recipe starts); a function the caller defined and did not
# export is kept.
eval "$(declare -Fx | sed 's/^declare -fx /unset -f /')"
# shellcheck source=prelude.sh
. "$(dirname "${BASH_SOURCE[0]}")/prelude.sh"

# The Debian packages whose versions decide the bytes of the exes and the zip
# (tools/lib/toolchain); a file that cannot be read stops the caller.
mapfile -t toolchain_packages < <(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/toolchain" 2>/dev/null | grep .)
[ "${#toolchain_packages[@]}" -gt 0 ] ||
  { echo "${0##*/}: the toolchain's packages could not be read from $(dirname "${BASH_SOURCE[0]}")/toolchain" >&2; return 1; }

# One line per package: "NAME VERSION", or "NAME (not installed)".
toolchain() {
  local p v
  for p in "${toolchain_packages[@]}"; do
    v=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null) || v=
    echo "$p ${v:-(not installed)}"
  done
}

# release_env: the environment of the build, the same whatever the caller's.
# Every exported variable goes but HOME (git's own safety settings live
# there), TMPDIR and DRVFLIP_OSSLSIGNCODE: CMake seeds its flags from CFLAGS,
# CXXFLAGS, LDFLAGS and RCFLAGS and reads CMAKE_* settings, zip reads ZIPOPT,
# git its GIT_* settings. Fixed locale, time zone, search path and umask.
release_env() {
  local v
  while read -r v; do
    case $v in
      HOME | TMPDIR | DRVFLIP_OSSLSIGNCODE) ;;
      *) unset "$v" 2>/dev/null || true ;;
    esac
  done < <(compgen -e)
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C TZ=UTC
  umask 022
}

# export_tree COMMIT DIR: the files of COMMIT as git stores them, in DIR. Each
# blob is written raw, so that no line-ending setting (core.autocrlf, core.eol,
# eol attributes) or filter of the caller's git changes a byte.
export_tree() {
  local commit=$1 dir=$2 meta mode object path
  git ls-tree -r -z --full-tree "$commit" | while IFS=$'\t' read -r -d '' meta path; do
    read -r mode _ object <<<"$meta"
    case $mode in
      100644 | 100755) ;;
      *) echo "${0##*/}: $path: a tree entry of mode $mode is not exported" >&2; return 1 ;;
    esac
    mkdir -p "$dir/$(dirname "$path")" && git cat-file blob "$object" >"$dir/$path" || return 1
    [ "$mode" = 100644 ] || chmod 755 "$dir/$path"
  done
}

# release_version TREE: the project version in TREE's CMakeLists.txt; the
# release's folder is drvflip-VERSION.
release_version() { trust version "$1/CMakeLists.txt"; }

# releases: "VERSION COMMIT" for each release that RELEASES (in the current
# folder) records, one a line, in its order; a line of another form is none.
releases() { trust releases RELEASES; }

# released_from VERSION: the commits that RELEASES records for VERSION, one a line.
released_from() {
  releases | awk -v v="$1" '$1 == v { print $2 }' | sort -u
}

# The release's exes: ARCH/drvflip.exe for each ARCH.
arches=(x64 x86)

# mingw_cpu ARCH: the CPU of the MinGW-w64 toolchain that builds ARCH's exe
# (cmake/mingw-w64-CPU.cmake, CPU-w64-mingw32-gcc).
mingw_cpu() {
  case $1 in
    x64) echo x86_64 ;;
    x86) echo i686 ;;
    *) return 1 ;;
  esac
}

# build_exes TREE WORK: builds WORK/build-ARCH/drvflip.exe of each ARCH from
# the source tree TREE, in fresh folders.
build_exes() {
  local tree=$1 work=$2 arch file
  for arch in "${arches[@]}"; do
    file=mingw-w64-$(mingw_cpu "$arch")
    echo "${0##*/}: building the $arch exe"
    rm -rf "$work/build-$arch"
    cmake -S "$tree" -B "$work/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/$file.cmake" -DBUILD_TESTING=OFF >/dev/null &&
      cmake --build "$work/build-$arch" --target drvflip >/dev/null || return 1
  done
}

crlf() { sed 's/$/\r/'; }

# make_texts TREE VERSION DIR: DIR/README.txt, the administrator's manual
# (its sections, without comment lines), DIR/CHANGELOG.txt and DIR/LICENSE.txt,
# all with CR LF line ends.
make_texts() {
  local tree=$1 version=$2 dir=$3
  awk '/^## / { keep = 1 } keep && !/^<!--/' "$tree/docs/manual.md" |
    { printf '# drvflip %s\n\n' "$version"; cat; } |
    crlf >"$dir/README.txt" && crlf <"$tree/CHANGELOG.md" >"$dir/CHANGELOG.txt" &&
    crlf <"$tree/LICENSE" >"$dir/LICENSE.txt"
}

# The release's own tools, in the folder above this one.
release_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# make_sbom VERSION COMMIT STAMP WORK DIR: DIR/drvflip-VERSION.cdx.json and
# DIR/THIRD-PARTY-NOTICES.txt, from the links of each WORK/build-ARCH (its
# linker map) and the exes as shipped in DIR/ARCH. Stops, naming it, at
# anything linked that it cannot account for.
make_sbom() {
  local arch exes=()
  for arch in "${arches[@]}"; do exes+=("$arch=$4/build-$arch:$5/$arch/drvflip.exe"); done
  python3 "$release_tools/sbom.py" make "$1" "$2" "$3" "$5" "${exes[@]}" </dev/null
}

# trust COMMAND ARGS...: what verify-release decides of a zip, in three steps
# that print its own lines, and what the other tools read of a release
# (tools/drvflip_release/trust.py, which names them).
trust() {
  PYTHONPATH=$release_tools python3 -B -m drvflip_release.trust "$@" </dev/null
}

# build_system: "ID CODENAME" of this system ("debian bookworm"), as
# /etc/os-release names it; a stock root of it builds a release as it was built.
build_system() {
  local id codename
  # shellcheck disable=SC1091 # the system's own file
  read -r id codename < <( (. /etc/os-release && echo "${ID:-} ${VERSION_CODENAME:-}") 2>/dev/null) || true
  echo "${id:-unknown} ${codename:-unknown}"
}

# buildinfo_head VERSION COMMIT SYSTEM: the lines of BUILDINFO.txt before the
# toolchain's "package NAME VERSION" lines, one for each toolchain package.
buildinfo_head() {
  echo "# What built this release: tools/verify-release ZIP builds it again from this and compares."
  echo "version $1"
  echo "commit $2"
  echo "system $3"
}

# make_buildinfo VERSION COMMIT DIR: DIR/BUILDINFO.txt, with this machine's
# system and toolchain.
make_buildinfo() {
  { buildinfo_head "$1" "$2" "$(build_system)" && toolchain | sed 's/^/package /'; } | crlf >"$3/BUILDINFO.txt"
}

# fleet COMMAND ARGS...: the fleet scripts (tools/drvflip_release/fleet.py):
# names SOURCE, make SOURCE DIR, unsign SCRIPT TEXT SIGNATURE.
fleet() {
  PYTHONPATH=$release_tools python3 -B -m drvflip_release.fleet "$@" </dev/null
}

# make_scripts TREE DIR: DIR/scripts/, the fleet scripts made from TREE/fleet/.
make_scripts() {
  fleet make "$1/fleet" "$2/scripts"
}

# release_files NAME: the paths in the zip, in the zip's order.
release_files() {
  local scripts script
  scripts=$(fleet names "$release_tools/../fleet") || return 1
  printf '%s\n' "$1/BUILDINFO.txt" "$1/CHANGELOG.txt" "$1/LICENSE.txt" "$1/README.txt" \
    "$1/THIRD-PARTY-NOTICES.txt" "$1/$1.cdx.json"
  while read -r script; do echo "$1/scripts/$script"; done <<<"$scripts"
  for arch in "${arches[@]}"; do echo "$1/$arch/drvflip.exe"; done
}

# pack_zip PACK NAME STAMP ZIP: the zip ZIP (a new file) of PACK/NAME's files,
# with fixed modes, times (STAMP, in seconds) and order, and no extra fields
# (owners, Unix times).
pack_zip() {
  local pack=$1 name=$2 stamp=$3 zip=$4
  local files
  mapfile -t files < <(release_files "$name")
  find "$pack" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} + &&
    find "$pack" -exec touch -h -d "@$stamp" {} + &&
    (cd "$pack" && TZ=UTC zip -q -X -D "$zip" "${files[@]}")
}

