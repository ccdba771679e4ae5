# Sourced by the scripts: the build's own Wine prefix, made ready once, with a server kept up.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/mingw/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_prepare() {
  cmake/wine-run.sh "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1 || true
}
# Stops the servers of every prefix the builds made (tests make extra ones).
wine_stop() {
  local prefix
  for prefix in "$PWD"/build/*/wineprefix*/; do
    [ -d "$prefix" ] && WINEPREFIX=${prefix%/} wineserver -k 2>/dev/null || true
  done
}
