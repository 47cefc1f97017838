#!/usr/bin/env bash
# Builds FOX 1.6 as a static library for Windows (x86_64-w64-mingw32) from
# Debian's own FOX 1.6 source package, once per machine, into a folder outside
# the checkout keyed by FOX version, flags and compiler version. Prints that
# folder. A completion stamp marks a finished build; a folder without one is
# built again.
#   VDX_CACHE  where such builds live (default ~/.cache/verdanox)
set -euo pipefail

host=x86_64-w64-mingw32
# the posix-threads compilers, as the project's toolchain file uses: one libstdc++
export CC=$host-gcc-posix CXX=$host-g++-posix
cppflags="-DWIN32 -D_WIN32_WINNT=0x0601 -Wno-register"
cxxflags="-O2"
configure_options=(--host=$host --enable-static --disable-shared --enable-release --with-opengl=no
                   --disable-jpeg --disable-png --disable-tiff --disable-zlib --disable-bz2lib --without-xft)

source_version() { apt-cache showsrc fox1.6 2>/dev/null | awk '/^Version:/ {print $2; exit}' || true; }
version=$(source_version)
if [ -z "$version" ]; then
  # the source package lists are needed only here, once per machine
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Adding Debian's source package lists" >&2
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm bookworm-updates" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    $sudo tee /etc/apt/sources.list.d/verdanox-deb-src.sources >/dev/null
  $sudo apt-get update -q >&2
  version=$(source_version)
fi
[ -n "$version" ] || { echo "fox1.6 source package not known to apt" >&2; exit 1; }
upstream=${version%-*}
compiler=$($CXX -dumpfullversion 2>/dev/null || $CXX -dumpversion)
key=$(printf '%s\n' "$version" "$cppflags" "$cxxflags" "${configure_options[*]}" "$compiler" | sha256sum | cut -c1-12)
dest=${VDX_CACHE:-$HOME/.cache/verdanox}/fox-$upstream-mingw64-gcc$compiler-$key

if [ -f "$dest/.complete" ]; then
  echo "$dest"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
log=$work/build.log
# the build's own output goes to a log; its end is shown if a step fails
quiet() {
  "$@" >>"$log" 2>&1 || { tail -n 60 "$log" >&2; echo "FOX for Windows: '$*' failed" >&2; exit 1; }
}
echo "Building FOX $upstream for Windows into $dest (once per machine, a few minutes)" >&2
# the .dsc and the upstream tarball come from the package registry; the
# Debian packaging tarball is not needed for a Windows build
apt-get source --download-only fox1.6 >>"$log" 2>&1 || true
dsc=$(ls fox1.6_*.dsc)
tarball=fox1.6_$upstream.orig.tar.gz
[ -f "$tarball" ] || { echo "upstream tarball $tarball not downloaded" >&2; exit 1; }
expected=$(awk -v f="$tarball" '/^Checksums-Sha256:/ {on=1; next} /^[A-Za-z]/ {on=0} on && $3 == f {print $1}' "$dsc")
actual=$(sha256sum "$tarball" | cut -d' ' -f1)
if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
  echo "checksum of $tarball does not match $dsc: $actual, expected $expected" >&2
  exit 1
fi
echo "verified $tarball: sha256 $actual" >&2

tar xzf "$tarball"
cd "$(tar tzf "$tarball" | head -1 | cut -d/ -f1)"
rm -rf "$dest"
quiet env CPPFLAGS="$cppflags" CXXFLAGS="$cxxflags" ./configure --prefix="$dest" "${configure_options[@]}"
# the library's icons are wrapped by reswrap at build time: use the native one
quiet make -j"$(nproc)" -C src RESWRAP="$(command -v reswrap)"
quiet make -C src install RESWRAP="$(command -v reswrap)"
quiet make -C include install
touch "$dest/.complete"
echo "$dest"
