#!/usr/bin/env bash
# Saves a picture of the Windows launcher dialog tremcvt_GUI.exe as it first
# appears under wine, with a sample tremcvt.ini, on a virtual X display.
#
#   scripts/launcher-screenshot-windows.sh <path to tremcvt_GUI.exe> [output.png]
#
# Builds nothing; the default output is docs/launcher-windows.png of this
# tree. Installs xvfb, xdotool, imagemagick and fonts-wine from Debian when
# missing (wine itself comes with scripts/test-windows.sh). The dialog shows
# the date in the Russian short form, as on the operators' workstations.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <path to tremcvt_GUI.exe> [output.png]" >&2
  exit 2
fi
program=$(readlink -f "$1")
root="$(cd "$(dirname "$0")/.." && pwd)"
output=${2:-"$root/docs/launcher-windows.png"}
case "$output" in
  /*) ;;
  *) output="$(pwd)/$output" ;;
esac

"$root/scripts/install-deps.sh" xvfb xdotool imagemagick fonts-wine >/dev/null
# shellcheck source=lib/wine.sh
. "$root/scripts/lib/wine.sh"

# shellcheck source=lib/virtual-display.sh
. "$root/scripts/lib/virtual-display.sh"
work=$(mktemp -d /tmp/tremcvt-screenshot.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  stop_virtual_display
  rm -rf "$work"
}
trap cleanup EXIT
start_virtual_display "$work/xvfb.log"

mkdir -p "$WINEPREFIX"
"$wineserver" -p
"$wine" cmd /c exit >/dev/null 2>&1
# Wine draws the window frame itself (no window manager runs here), with the
# caption buttons' glyphs from its Marlett font.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Control Panel\International' /v sShortDate /t REG_SZ /d dd.MM.yyyy /f >/dev/null 2>&1
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

cat >"$work/tremcvt.ini" <<'INI'
[system]
nsta=3
dir=D:\win
time=14/09/2009 11:04
timeqty=000 01:00

[sta0]
name=kam

[sta1]
name=ARS
dir=D:\win\ars

[sta2]
name=TLG
INI

(cd "$work" && "$wine" "$program" >"$work/launcher.log" 2>&1 &)
window=$(timeout 30 xdotool search --sync --name '^Tremcvt$' | head -1) || true
[ -n "$window" ] || { echo "the dialog did not appear: $(cat "$work/launcher.log")" >&2; exit 1; }
sleep 1  # its first paint
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "saved $output"
