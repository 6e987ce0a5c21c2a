#!/bin/sh
# Saves a picture of the launcher dialog as it first appears, with a sample
# tremcvt.ini, under the offscreen platform (no display needed). Russian
# texts need a font with Cyrillic glyphs (Debian: fonts-dejavu-core).
#
#   scripts/launcher-screenshot.sh <path to tremcvt_GUI> [output.png]
#
# Builds nothing; the default output is docs/launcher.png of this tree.
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 <path to tremcvt_GUI> [output.png]" >&2
    exit 2
fi
program=$(readlink -f "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
output=${2:-"$here/docs/launcher.png"}
case "$output" in
    /*) ;;
    *) output="$(pwd)/$output" ;;
esac

if ! fc-list :lang=ru 2>/dev/null | grep -q .; then
    echo "warning: no font with Cyrillic glyphs found (install fonts-dejavu-core)" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/tremcvt.ini" <<'INI'
[system]
nsta=3
dir=/srv/win
time=14/09/2009 11:04
timeqty=000 01:00

[sta0]
name=kam

[sta1]
name=ARS
dir=/srv/win/ars

[sta2]
name=TLG
INI

mkdir -p "$(dirname "$output")"
cd "$work"
LC_ALL= LANG=ru_RU.UTF-8 QT_QPA_PLATFORM=offscreen "$program" --screenshot "$output"
echo "saved $output"
