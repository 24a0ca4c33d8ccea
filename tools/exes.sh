# Sourced by tools/release and tools/verify-release: the toolchain that builds
# the release exes, and the build of both from one source tree.

# The Debian packages whose versions decide the exes' bytes.
toolchain_packages=(
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 cmake
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-base
  gcc-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime
  gcc-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime
  mingw-w64-common mingw-w64-i686-dev mingw-w64-x86-64-dev ninja-build)

# One line per package: "NAME VERSION", or "NAME (not installed)".
toolchain() {
  local p v
  for p in "${toolchain_packages[@]}"; do
    v=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null) || v=
    echo "$p ${v:-(not installed)}"
  done
}

# build_exes TREE WORK: builds WORK/build-x64/drvflip.exe and
# WORK/build-x86/drvflip.exe from the source tree TREE, in fresh folders.
build_exes() {
  local tree=$1 work=$2 arch toolchain
  for arch in x64 x86; do
    toolchain=$([ $arch = x64 ] && echo mingw-w64-x86_64 || echo mingw-w64-i686)
    echo "${0##*/}: building the $arch exe"
    rm -rf "$work/build-$arch"
    cmake -S "$tree" -B "$work/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/$toolchain.cmake" -DBUILD_TESTING=OFF >/dev/null &&
      cmake --build "$work/build-$arch" --target drvflip >/dev/null || return 1
  done
}

# need_git: stops with a clear message where git is missing.
need_git() {
  command -v git >/dev/null 2>&1 ||
    { echo "${0##*/}: git is needed (apt-get install git)" >&2; exit 1; }
}
