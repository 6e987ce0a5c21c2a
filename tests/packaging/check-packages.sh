#!/usr/bin/env bash
# Checks the packages that scripts/package.sh makes:
#   - the Debian package unpacked into a fresh root: every program there
#     answers --version with the project's version and a commit, and every
#     console program --help; every man page renders without a warning; the
#     example tremcvt.ini, the schema scripts and the README are there; the
#     systemd service template passes systemd-analyze verify where systemd
#     is present; its dependencies are Debian packages that exist;
#   - the Windows zip holds each file that its README-Windows.txt names.
#
#   tests/packaging/check-packages.sh PACKAGE...   (*.deb and *.zip)
set -euo pipefail

deb=""
zip=""
for package in "$@"; do
  case "$package" in
    *.deb) deb="$package" ;;
    *.zip) zip="$package" ;;
    *) echo "check-packages: $package is neither a .deb nor a .zip" >&2; exit 2 ;;
  esac
done
[ -n "$deb$zip" ] || { echo "usage: $0 PACKAGE... (*.deb and *.zip)" >&2; exit 2; }
root="$(cd "$(dirname "$0")/../.." && pwd)"
version="$(sed -n 's/^project(tremcvt VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "check-packages: $*" >&2; failures=$((failures + 1)); }

if [ -n "$deb" ]; then
dpkg-deb -x "$deb" "$work/root"
prefix="$work/root/usr"
for program in tremcvt tremcvt_batch tremcvt_check tremcvt_GUI windump winwrite; do
  [ -x "$prefix/bin/$program" ] || { fail "$program is missing"; continue; }
  line="$("$prefix/bin/$program" --version 2>&1)" || fail "$program --version failed"
  [[ "$line" =~ ^$program\ $version\ \(commit\ [0-9a-f]{12}\+?\)$ || "$line" == "$program $version (commit unknown)" ]] ||
    fail "$program --version says: $line"
done
for program in tremcvt tremcvt_batch tremcvt_check windump winwrite; do
  help="$("$prefix/bin/$program" --help 2>&1)" || fail "$program --help failed"
  grep -qi "usage" <<<"$help" || fail "$program --help shows no usage: $help"
  page="$prefix/share/man/man1/$program.1"
  [ -f "$page" ] || { fail "no man page for $program"; continue; }
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)" || fail "man $program failed"
  [ -z "$warnings" ] || fail "man page of $program: $warnings"
done
for file in share/doc/tremcvt/examples/tremcvt.ini share/doc/tremcvt/README.md share/tremcvt/schema/sqlite.sql \
  share/tremcvt/schema/postgresql.sql; do
  [ -s "$prefix/$file" ] || fail "$file is missing"
done
service="$work/root/lib/systemd/system/tremcvt-follow@.service"
if [ -f "$service" ]; then
  if command -v systemd-analyze >/dev/null && [ -d /run/systemd/system ]; then
    # The unit names its programs below /usr/bin; the copies unpacked here
    # stand in for them.
    sed "s|/usr/bin/|$prefix/bin/|g" "$service" >"$work/tremcvt-follow@test.service"
    systemd-analyze verify "$work/tremcvt-follow@test.service" || fail "systemd-analyze verify refuses the service"
  else
    grep -q '^ExecStart=/usr/bin/tremcvt_batch ' "$service" || fail "the service starts no tremcvt_batch"
  fi
fi
depends="$(dpkg-deb -f "$deb" Depends)"
for package in $(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | sort -u); do
  apt-cache show "$package" >/dev/null 2>&1 || fail "dependency $package is no Debian package here"
done
fi

if [ -n "$zip" ]; then
  listed="$(unzip -Z1 "$zip")"
  grep -qx 'README-Windows.txt' <<<"$listed" || fail "the zip holds no README-Windows.txt"
  unzip -p "$zip" README-Windows.txt | tr -d '\r' >"$work/README-Windows.txt"
  # The names the README lists at the start of its lines.
  for name in $(sed -n 's/^  \([A-Za-z_.]*\(\.exe\|\.ini\)\) .*/\1/p; s/^  \(schema\)\\ .*/\1\//p' "$work/README-Windows.txt"); do
    grep -q "^$name" <<<"$listed" || fail "the zip lacks $name, which README-Windows.txt names"
  done
fi

if [ "$failures" -gt 0 ]; then
  echo "check-packages: $failures failures" >&2
  exit 1
fi
echo "check-packages: $(basename -a $deb $zip | paste -sd ' ') as described"
