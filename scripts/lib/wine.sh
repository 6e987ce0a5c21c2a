# Sourced by the scripts that run Windows programs: sets "wine" and
# "wineserver" to the 64-bit loader and server. Debian 12 has them as
# /usr/lib/wine/wine64 and wineserver64; the "wine" script would look for a
# 32-bit wine first. Newer packages have a single "wine".
if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; else wine="$(command -v wine64 || command -v wine)"; fi
if [ -x /usr/lib/wine/wineserver64 ]; then wineserver=/usr/lib/wine/wineserver64
else wineserver="$(command -v wineserver || echo /usr/lib/wine/wineserver)"; fi
