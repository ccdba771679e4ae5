#!/usr/bin/env bash
# Shows the updater at work under Wine: a real package installed by the Windows Installer,
# a refused package, a failed install, a mistyped command line and the mark operation, with
# the state file after each step. Everything lives in build/demo and is made afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target TevraRemoteUpdater >/dev/null

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo"
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all
echo "Preparing a Wine prefix for the demo (about 10 s)..."
cmake/wine-run.sh "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT

cp build/mingw/TevraRemoteUpdater.exe "$demo/"
DEMO_VERSION=2.0.0 bash tests/fixtures/make_packages.sh "$demo/packages-2.0.0" >/dev/null
DEMO_VERSION=1.0.0 bash tests/fixtures/make_packages.sh "$demo/packages-1.0.0" >/dev/null

# The demo user's local application data, inside the demo's own prefix (Wine sets LOCALAPPDATA).
local_app_data=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local
product=$local_app_data/Tevra\ Remote
staging=$product/Updates
installed=$local_app_data/TevraRemoteDemo/tevra-demo.txt

# The arguments as a Windows command line carries them, so that a reader can copy it: quoted when
# empty or holding a blank, with the backslashes before a quote (or the closing quote) doubled.
windows_quoted() {
  local arg line=""
  for arg; do
    if [[ -z $arg || $arg == *[[:blank:]\"]* ]]; then
      arg=$(sed -E 's/(\\*)"/\1\1\\"/g; s/(\\+)$/\1\1/' <<<"$arg")
      arg="\"$arg\""
    fi
    line+=" $arg"
  done
  printf '%s' "$line"
}

updater() {
  echo
  echo "\$ TevraRemoteUpdater.exe$(windows_quoted "$@")"
  set +e
  wine "$demo/TevraRemoteUpdater.exe" "$@"
  local status=$?
  set -e
  echo "exit status: $status"
  if [ -f "$product/update_state.json" ]; then
    echo "update_state.json:"
    cat "$product/update_state.json"
    echo
  else
    echo "(no state file)"
  fi
}

step() { printf '\n== %s\n' "$*"; }

step "1. Usage"
updater --help

step "2. A mistyped command line is reported and recorded"
updater --apply-msi

step "3. The application marks the installed version as waiting for its first start"
updater --mark-awaiting-first-start

step "4. A real package staged in Updates is installed by the Windows Installer"
mkdir -p "$staging/2.0.0"
cp "$demo/packages-2.0.0/demo.msi" "$staging/2.0.0/TevraRemoteDemo-2.0.0.msi"
updater --apply-msi "$(winepath -w "$staging/2.0.0/TevraRemoteDemo-2.0.0.msi")" --expected-version 2.0.0
echo "installed file: ${installed#$WINEPREFIX/}"
cat "$installed"

step "5. A file that is no signed or unsigned package is refused before any installer starts"
cp "$demo/packages-2.0.0/not-a-package.msi" "$staging/broken.msi"
updater --apply-msi "$(winepath -w "$staging/broken.msi")" --expected-version 2.0.1

step "6. A package outside the staging directory is refused"
updater --apply-msi "$(winepath -w "$demo/packages-2.0.0/demo.msi")" --expected-version 2.0.0

step "7. The installer fails (a downgrade to 1.0.0): its exit code is recorded"
mkdir -p "$staging/1.0.0"
cp "$demo/packages-1.0.0/demo.msi" "$staging/1.0.0/TevraRemoteDemo-1.0.0.msi"
updater --apply-msi "$(winepath -w "$staging/1.0.0/TevraRemoteDemo-1.0.0.msi")" --expected-version 1.0.0
