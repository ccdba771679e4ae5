#!/bin/sh
# Runs a Windows program under Wine in the build's own prefix: wine-run.sh PREFIX PROGRAM ARGS...
# The prefix is made once (under a lock, since tests may start together) and a persistent server
# keeps later starts fast; it ends by itself when idle.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -e "$prefix/.ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -e "$prefix/.ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$prefix/.ready"
    fi
  ) 9>"$prefix.lock"
fi
wineserver -p 60 >/dev/null 2>&1 || true
exec wine "$@"
