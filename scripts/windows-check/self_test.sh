#!/usr/bin/env bash
# The Windows check's own check (scripts/windows-check.sh --self-test; CI runs it after the test command): builds
# the kit, unzips it into a fresh folder whose name holds a blank, and runs check.cmd there through Wine's cmd in the
# build's prefix, as a user on Windows would. With the platform's own expectations it must be green and name the
# platform; the difference list must have at least five rows, each in the README's table; with TEVRA_CHECK_EXPECT=
# windows exactly the listed tests must fail, no other; and no demo product may be left installed. No Windows runner
# is reachable from here, so the workflow that runs the kit there is checked against the published schema, by a
# validator that must refuse a job with an unknown key. Prints "N passed, M failed" last; exits 1 on a failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
project=$PWD
started=$SECONDS
# shellcheck source=scripts/checks.sh
source scripts/checks.sh
# check_cmd NAME ARGS...: check.cmd ARGS in the kit's folder; its output (LF line ends) in $tmp/NAME.out and .err,
# its status in $status.
check_cmd() {
    status=0
    (cd "$kit" && "$project/cmake/wine-run.sh" "$WINEPREFIX" cmd /c check.cmd "${@:2}") </dev/null \
        >"$tmp/$1.raw" 2>"$tmp/$1.err" || status=$?
    tr -d '\r' <"$tmp/$1.raw" >"$tmp/$1.out"
    echo "check.cmd${2:+ ${*:2}}: status $status, $(tail -n 1 "$tmp/$1.out")"
}
# failed_tests FILE: the tests GoogleTest's output in FILE calls failed, one per line, sorted.
failed_tests() { sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' "$1" | sed '/^[0-9]*$/d' | LC_ALL=C sort -u; }

validate() { npx --yes @action-validator/cli@0.6.0 "$1"; }
refused() { grep -q runs_on "$1" && ! validate "$1"; }
workflow=.github/workflows/windows.yml
check "the Windows workflow validates" validate "$workflow"
sed 's/^    runs-on: windows-latest$/&\n    runs_on: windows-latest/' "$workflow" >"$tmp/broken.yml"
check "a workflow whose job has an unknown key does not" refused "$tmp/broken.yml"

zip=$(bash scripts/windows-check.sh --out "$tmp/out" 2>"$tmp/build.log" | tail -n 1) || {
    cat "$tmp/build.log" >&2
    exit 1
}
check "the kit is named after the product version" \
    test "$(basename "$zip")" = "TevraRemoteUpdater-$(sed -n 's/^project(TevraRemoteUpdater VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-windows-check.zip"
kit="$tmp/a kit"
mkdir "$kit"
unzip -q "$zip" -d "$kit"
check "the kit holds check.cmd at its root, with CRLF line ends" grep -q $'\r$' "$kit/check.cmd"
check "the kit holds no key" test -z "$(find "$kit" -name '*.key' -o -name '*.pem' -o -name '*.pfx')"
wine_prepare

check_cmd own
check "check.cmd is green under Wine" test "$status" = 0
check "check.cmd names the platform first" grep -qE '^platform: Wine [0-9]' <(head -n 1 "$tmp/own.out")
check "check.cmd ends with its count, and nothing failed" \
    grep -qE '^check: [1-9][0-9]* passed, 0 failed$' <(tail -n 1 "$tmp/own.out")
check "GoogleTest's own output passes through" has "$tmp/own.out" "[  PASSED  ]"
check "a JUnit report for each program" test -s "$kit/report/unit_tests.xml" -a -s "$kit/report/e2e_tests.xml"
# Where a per-user install puts the demo's file in the prefix, whatever LOCALAPPDATA the installer was given.
demo=$(compgen -G "$WINEPREFIX/drive_c/users/*/AppData/Local/TevraRemoteDemo/tevra-demo.txt" || true)
check "no demo product is left installed" test -z "$demo"

check_cmd differences --differences
check "check.cmd --differences succeeds" test "$status" = 0
cut -f1 "$tmp/differences.out" | LC_ALL=C sort -u >"$tmp/listed"
check "at least five differences" test "$(wc -l <"$tmp/listed")" -ge 5
check "each difference is one line: a test's full name, a tab, why" \
    test -z "$(grep -vP '^[A-Za-z_][A-Za-z0-9_/]*\.[A-Za-z_][A-Za-z0-9_/]*\t\S' "$tmp/differences.out")"
while IFS=$'\t' read -r name why; do
    check "README's difference table holds $name" has README.md "| \`$name\` | $why |"
done < <(((status == 0)) && cat "$tmp/differences.out")

export TEVRA_CHECK_EXPECT=windows
check_cmd windows
unset TEVRA_CHECK_EXPECT
check "forced to Windows' expectations, check.cmd fails" test "$status" = 1
check "it says which expectations it was given" has "$tmp/windows.out" "expectations: windows"
failed_tests "$tmp/windows.out" >"$tmp/failed"
if ! cmp -s "$tmp/listed" "$tmp/failed"; then
    diff "$tmp/listed" "$tmp/failed" | sed 's/^/  listed < > failed: /' >&2 || true
fi
check "forced to Windows' expectations, exactly the listed tests fail" cmp -s "$tmp/listed" "$tmp/failed"
check "its count says as many failed as are listed" \
    grep -qE "^check: [1-9][0-9]* passed, $(wc -l <"$tmp/listed") failed$" <(tail -n 1 "$tmp/windows.out")

if ((failed)); then
    for run in own differences windows; do
        echo "--- check.cmd output ($run), last lines" >&2
        tail -n 40 "$tmp/$run.out" "$tmp/$run.err" >&2
    done
fi
echo "windows check self-test: $passed passed, $failed failed ($((SECONDS - started)) s)"
((failed == 0))
