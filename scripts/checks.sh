# Sourced by the scripted checks (the release check, the Windows check's self-test): counted checks, each named when
# it fails, with the Wine environment and a temporary folder ($tmp) that goes, with the servers, at the end.
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
tmp=$(mktemp -d)
trap 'wine_stop; rm -rf "$tmp"' EXIT

passed=0 failed=0
# check NAME COMMAND...: one check, counted, and named when it fails.
check() {
    if "${@:2}" >/dev/null 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $1" >&2
    fi
}
has() { grep -qF -- "$2" "$1"; }
