#!/usr/bin/env bash
# The Debian package as a user and the archive would see it: its control
# data and contents, a scratch installation (programs, man pages, desktop
# entry, AppStream metadata, udev rule), lintian, and a per-user
# `cmake --install` whose virtual stick starts the program installed beside it.
#   check_deb.sh DEB BUILD_DIR VERSION
set -u
deb=$(realpath "$1") build=$(realpath "$2") version=$3
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2], want [$3]"; fail=1; else echo "ok     $1"; fi; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
programs=(verdanox verdanox-frames verdanox-send verdanox-virtual-stick)

# control data
check "package and version" "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" "Package: verdanox Version: $version "
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libfox-1.6-0 libsoapysdr0.8 libc6 libstdc++6; do
  case "$depends" in *"$lib"*) echo "ok     depends on $lib";; *) echo "FAIL: no $lib in Depends: $depends"; fail=1;; esac
done

# contents
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in "${programs[@]/#/./usr/bin/}" "${programs[@]/#/./usr/share/man/man1/}" \
    ./usr/share/applications/example.verdanox.Verdanox.desktop \
    ./usr/share/metainfo/example.verdanox.Verdanox.metainfo.xml \
    ./usr/lib/udev/rules.d/60-verdanox-stick.rules ./usr/share/doc/verdanox/copyright \
    ./usr/bin/verdanox-launch ./usr/share/man/man1/verdanox-launch.1.gz ./usr/share/verdanox/VDXconfig.txt \
    ./usr/share/verdanox/examples/rigs/month-end.toml ./usr/share/verdanox/examples/rigs/generate-rig.py \
    ./usr/share/verdanox/examples/rigs/all-profiles.toml ./usr/share/verdanox/examples/profiles/water.toml; do
  case "$path" in */man1/*.gz) ;; */man1/*) path=$path.1.gz;; esac
  grep -qxF "$path" <<<"$contents" || { echo "FAIL: $path is not in the package"; fail=1; }
done
check "hicolor icons 16 to 256" "$(grep -c '^./usr/share/icons/hicolor/[0-9]*x[0-9]*/apps/verdanox.png$' <<<"$contents")" 8

# a scratch installation
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
for p in "${programs[@]}"; do
  check "$p --version" "$("$root/usr/bin/$p" --version 2>&1)" "$p $version"
  file "$root/usr/bin/$p" | grep -q "stripped" && ! file "$root/usr/bin/$p" | grep -q "not stripped" \
    || { echo "FAIL: $p is not stripped"; fail=1; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/$p.1.gz" 2>&1 >/dev/null)
  check "man page of $p renders without warnings" "$warnings" ""
done
check "desktop entry valid" "$(desktop-file-validate "$root/usr/share/applications/example.verdanox.Verdanox.desktop" 2>&1)" ""
check "desktop entry matches the window's class" \
  "$(grep '^StartupWMClass=' "$root/usr/share/applications/example.verdanox.Verdanox.desktop")" "StartupWMClass=www.verdanox.example"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.verdanox.Verdanox.metainfo.xml" >"$scratch/as.txt" 2>&1
check "AppStream metadata valid" "$?" 0
for size in 16 256; do
  check "icon ${size}x${size} with transparency" \
    "$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); print(struct.unpack('>IIBB', d[16:26]))" \
       "$root/usr/share/icons/hicolor/${size}x${size}/apps/verdanox.png")" "($size, $size, 8, 6)"
done
rules=$root/usr/lib/udev/rules.d/60-verdanox-stick.rules
check "every udev rule keeps ModemManager off" "$(grep -c '^SUBSYSTEM' "$rules")" "$(grep -c 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rules")"
check "FTDI only for serials VA* and VB*" "$(grep '0403' "$rules" | grep -o 'ATTRS{serial}=="[^"]*"' | tr '\n' ' ')" \
  'ATTRS{serial}=="VA*" ATTRS{serial}=="VB*" '

# the menu's launcher: ~/Verdanox without a documents folder, the documents
# folder's Verdanox with one; the sample only where no VDXconfig.txt is
launch() { HOME=$1 XDG_CONFIG_HOME=$1/.config "$root/usr/bin/verdanox-launch" --version; }
home=$scratch/home-launch
mkdir -p "$home"
check "launcher starts the program" "$(launch "$home")" "verdanox $version"
check "no documents folder: ~/Verdanox with the sample" "$(cmp "$home/Verdanox/VDXconfig.txt" "$root/usr/share/verdanox/VDXconfig.txt" && echo same)" same
mkdir -p "$home/.config" "$home/Dokumente"
echo 'XDG_DOCUMENTS_DIR="$HOME/Dokumente"' > "$home/.config/user-dirs.dirs"
launch "$home" >/dev/null
check "documents folder: its Verdanox with the sample" "$(cmp "$home/Dokumente/Verdanox/VDXconfig.txt" "$root/usr/share/verdanox/VDXconfig.txt" && echo same)" same
echo "9858705634120103" > "$home/Dokumente/Verdanox/VDXconfig.txt"
launch "$home" >/dev/null
check "a changed VDXconfig.txt is kept" "$(cat "$home/Dokumente/Verdanox/VDXconfig.txt")" "9858705634120103"

# the installed example rigs run as they are
for rig in "$root"/usr/share/verdanox/examples/rigs/*.toml; do
  "$root/usr/bin/verdanox-frames" --rig "$rig" --ticks 3 >/dev/null
  check "example $(basename "$rig") runs" $? 0
done
python3 "$root/usr/share/verdanox/examples/rigs/generate-rig.py" 50 --mode5 --each > "$scratch/fifty.toml"
check "a generated rig of 50 meters" "$("$root/usr/bin/verdanox-frames" --rig "$scratch/fifty.toml" --ticks 100 | wc -l)" 200

lintian --fail-on error "$deb" >"$scratch/lintian.txt" 2>&1
check "lintian: no errors" "$?" 0
cat "$scratch/lintian.txt"

# a per-user install; its virtual stick starts the program beside it, not
# the build tree's
cmake --install "$build" --prefix "$scratch/home/.local" >/dev/null
check "per-user cmake --install" "$?" 0
for p in "${programs[@]}"; do
  [ -x "$scratch/home/.local/bin/$p" ] || { echo "FAIL: per-user install lacks $p"; fail=1; }
done
printf '#!/bin/sh\necho "the installed program"\nexit 3\n' > "$scratch/home/.local/bin/verdanox"
out=$(cd "$scratch" && timeout 60 "$scratch/home/.local/bin/verdanox-virtual-stick" 2>&1)
grep -q "the installed program" <<<"$out" && grep -q "program ended with status 3" <<<"$out"
check "the installed virtual stick starts the verdanox beside it" "$?" 0

[ $fail = 0 ] && echo "Debian package: all checks passed"
exit $fail
