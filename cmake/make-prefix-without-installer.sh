#!/bin/sh
# Makes a Wine prefix from which the Windows Installer program is gone: PREFIX
set -e
prefix=$1
here=$(dirname "$0")
"$here/wine-run.sh" "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
for dir in windows/system32 windows/syswow64 windows; do
  rm -f "$prefix/drive_c/$dir/msiexec.exe"
done
