# Sourced by the scripts: the build's own Wine prefix, made ready once, with a server kept up.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/mingw/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_prepare() {
  cmake/wine-run.sh "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1 || true
}
wine_stop() {
  wineserver -k 2>/dev/null || true
}
