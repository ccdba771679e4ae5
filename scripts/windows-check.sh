#!/usr/bin/env bash
# The Windows check (README, "Checking a Windows machine"): a zip that runs the project's test programs on any
# Windows machine with one command, check.cmd, and nothing installed there.
#
#   bash scripts/windows-check.sh [--out DIR]   builds DIR/TevraRemoteUpdater-<version>-windows-check.zip (DIR:
#                                               build/windows-check) from the mingw build; prints its path last
#   bash scripts/windows-check.sh --self-test   builds the kit, then runs it under Wine from a fresh folder
#                                               (CI runs this after the test command)
#
# The zip mirrors the build directory's layout, which the tests expect around them: the updater, the test programs,
# the stand-in installer, planted\MSISIP.dll and packages\ (its keys and certificates left out), and at the root
# check.cmd with the runner it calls. Its entries are sorted and carry one fixed time.
set -euo pipefail

fail() {
    echo "windows-check: $*" >&2
    exit 1
}
out="" self_test=false
while (($#)); do
    case $1 in
    --out)
        (($# >= 2)) || fail "--out needs a value"
        out=$(realpath -m -- "$2")
        shift 2
        ;;
    --self-test)
        self_test=true
        shift
        ;;
    *) fail "unknown option: $1 (usage: $0 [--out DIR] | --self-test)" ;;
    esac
done
cd "$(dirname "$0")/.."
project=$PWD

if $self_test; then
    exec bash scripts/windows-check/self_test.sh
fi

out=${out:-$project/build/windows-check}
bash scripts/setup.sh >&2
build=$project/build/mingw
# Build output goes to standard error: the zip's path is the last line of standard output.
{
    cmake --preset mingw
    cmake --build --preset mingw --target TevraRemoteUpdater unit_tests e2e_tests installer_stub planted_dll \
        test_packages
} >&2
version=$(sed -n 's/^#define TEVRA_PRODUCT_VERSION "\(.*\)"$/\1/p' "$build/generated/version.h")
[ -n "$version" ] || fail "no product version in $build/generated/version.h"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kit=$work/kit
mkdir -p "$kit/planted" "$kit/packages"
cp "$build"/{TevraRemoteUpdater,unit_tests,e2e_tests,installer_stub}.exe "$kit/"
cp "$build/planted/MSISIP.dll" "$kit/planted/"
find "$build/packages" -maxdepth 1 -type f ! -name '*.key' ! -name '*.crt' ! -name '*.pem' ! -name '*.pfx' \
    -exec cp {} "$kit/packages/" \;
compgen -G "$kit/packages/*.msi" >/dev/null || fail "no packages in $build/packages"
sed 's/\r*$/\r/' scripts/windows-check/check.cmd >"$kit/check.cmd"
# The runner is tooling, not part of the product: built here, with the product's warnings, statically.
x86_64-w64-mingw32-g++-posix -std=c++23 -O2 -Wall -Wextra -Wpedantic -Werror -static -municode -s \
    -Wl,--no-insert-timestamp -o "$kit/check_runner.exe" scripts/windows-check/check_runner.cpp

zip=TevraRemoteUpdater-$version-windows-check.zip
mkdir -p "$out"
rm -f "$out/$zip"
find "$kit" -exec touch -h -d '2000-01-01 00:00:00Z' {} +
(cd "$kit" && find . -type f -printf '%P\n' | LC_ALL=C sort | TZ=UTC zip -X -q -@ "$work/$zip")
mv "$work/$zip" "$out/$zip"
echo "$out/$zip"
