#!/usr/bin/env bash
# Packs the build tree given as $1 into a .deb in a scratch folder, checks its
# control fields, unpacks it with dpkg -x into a scratch root and runs the
# installed programs from there, without a display.
set -euo pipefail
build=$1
version=$2
example=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

if ! (cd "$build" && cpack -G DEB -B "$scratch/pack") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  fail "cpack failed"
fi
deb="$scratch/pack/talvo_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb; cpack made: $(ls "$scratch/pack")"

# Control fields: dependencies come from the libraries actually linked.
[ "$(dpkg-deb -f "$deb" Package)" = talvo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libstdc++6 libc6; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
done
dpkg-deb -e "$deb" "$scratch/control"
grep -q dialout "$scratch/control/postinst" || fail "the post-install note does not mention dialout"

root="$scratch/root"
dpkg -x "$deb" "$root"
for f in usr/bin/talvo usr/libexec/talvo/talvo-cli usr/bin/talvo-gui usr/share/applications/talvo.desktop \
         usr/share/icons/hicolor/16x16/apps/talvo.png usr/share/icons/hicolor/48x48/apps/talvo.png \
         usr/share/icons/hicolor/256x256/apps/talvo.png usr/share/man/man1/talvo.1.gz \
         usr/share/man/man1/talvo-gui.1.gz usr/share/doc/talvo/copyright usr/share/doc/talvo/changelog.gz; do
  [ -s "$root/$f" ] || fail "missing or empty: /$f"
done
file "$root/usr/share/icons/hicolor/48x48/apps/talvo.png" | grep -q '48 x 48' || fail "the 48x48 icon is not 48x48"
zcat "$root/usr/share/man/man1/talvo.1.gz" | grep -q '^\.SH EXIT STATUS' || fail "the man page lacks its exit codes"
if ! grep -q '^Icon=talvo$' "$root/usr/share/applications/talvo.desktop"; then fail "desktop entry icon"; fi

# The installed programs, run from the scratch root without any display.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
out=$("$root/usr/bin/talvo" --version)
case "$out" in "talvo $version (Qt 6."*) ;; *) fail "talvo --version said: $out" ;; esac
# The launcher converts HEX itself and runs /usr/libexec/talvo/talvo-cli for the rest.
ldd "$root/usr/bin/talvo" | grep -q libQt6 && fail "the installed talvo loads Qt"
printf ':0300000001020CEE\n:00000001FF\n' >"$scratch/in.hex"
"$root/usr/bin/talvo" hex2bin "$scratch/in.hex" "$scratch/out.bin" || fail "talvo hex2bin failed"
[ "$(od -An -tx1 "$scratch/out.bin" | tr -d ' \n')" = 01020c ] || fail "talvo hex2bin wrote $(od -An -tx1 "$scratch/out.bin")"
out=$("$root/usr/bin/talvo" sim --list)
case "$out" in *stc89c52rc*stm32f103*|*stm32f103*stc89c52rc*) ;; *) fail "talvo sim --list said: $out" ;; esac
out=$("$root/usr/bin/talvo-gui" --version)
case "$out" in "talvo-gui $version (Qt 6."*) ;; *) fail "talvo-gui --version said: $out" ;; esac
"$root/usr/bin/talvo-gui" --help | grep -q -- '--screenshot' || fail "talvo-gui --help"

# A download by the installed program into a simulated board: the board's
# flash must then begin with the example image.
"$root/usr/bin/talvo" hex2bin "$example" "$scratch/blink.bin" >/dev/null || fail "talvo hex2bin $example"
if ! "$root/usr/bin/talvo" download --chip stc89 --port "sim:stc89c52rc,dump=$scratch/flash.bin" "$example" \
     >"$scratch/download.log" 2>&1; then
  cat "$scratch/download.log" >&2
  fail "talvo download into sim:stc89c52rc failed"
fi
cmp -n "$(stat -c %s "$scratch/blink.bin")" "$scratch/blink.bin" "$scratch/flash.bin" ||
  fail "the simulated board's flash does not hold $example"
echo "package test: $(basename "$deb") installs and runs"
