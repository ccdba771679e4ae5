#!/usr/bin/env bash
# Builds a release of TevraRemoteUpdater.exe from a clean tree of the current commit, or checks a
# shipped copy against its source (README, "Release"):
#
#   bash scripts/release.sh [--out DIR] [--cert CERT.pem --key KEY.pem | --pkcs12 FILE.pfx]
#                           [--password-file FILE] [--timestamp URL]
#   bash scripts/release.sh --verify SHIPPED.exe [SHIPPED.exe...] [--buildinfo FILE]
#
# Every input is checked before anything is built. The release is assembled in a directory beside
# DIR and moved into place only at the end, so a failed run leaves no DIR behind; an existing DIR is
# replaced then, and only when it holds nothing but an earlier release's files.
set -euo pipefail

fail() {
    echo "release: $*" >&2
    exit 1
}
usage() {
    echo "usage: $0 [--out DIR] [--cert CERT.pem --key KEY.pem | --pkcs12 FILE.pfx] [--password-file FILE] [--timestamp URL]" >&2
    echo "       $0 --verify SHIPPED.exe [SHIPPED.exe...] [--buildinfo FILE]" >&2
    exit 2
}
# Paths given on the command line are the caller's, taken before the script moves to the project.
absolute() { realpath -m -- "$1"; }
readable_file() { [ -f "$1" ] && [ -r "$1" ]; }

out="" cert="" key="" pkcs12="" password_file="" timestamp="" buildinfo="" shipped=() verify=false
while (($#)); do
    case $1 in
    --out | --cert | --key | --pkcs12 | --password-file | --timestamp | --buildinfo)
        (($# >= 2)) || fail "$1 needs a value"
        case $1 in
        --out) out=$(absolute "$2") ;;
        --cert) cert=$(absolute "$2") ;;
        --key) key=$(absolute "$2") ;;
        --pkcs12) pkcs12=$(absolute "$2") ;;
        --password-file) password_file=$(absolute "$2") ;;
        --timestamp) timestamp=$2 ;;
        --buildinfo) buildinfo=$(absolute "$2") ;;
        esac
        shift 2
        ;;
    --verify)
        verify=true
        shift
        while (($#)) && [[ $1 != --* ]]; do
            shipped+=("$(absolute "$1")")
            shift
        done
        ;;
    -h | --help) usage ;;
    *) fail "unknown option: $1 (see README.md, Release)" ;;
    esac
done
cd "$(dirname "$0")/.."

work=$(mktemp -d)
staging=""
trap 'rm -rf "$work" ${staging:+"$staging"}' EXIT
trap 'exit 130' INT TERM HUP

# The toolchain whose exact versions a build depends on; BUILDINFO records them.
toolchain=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime gcc-mingw-w64-base
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common cmake ninja-build osslsigncode)
configure_args=(-G Ninja --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF)

# build COMMIT: the exe of COMMIT, built as the `mingw` preset builds it, in $work/build.
build() {
    local commit=$1 tree=$work/tree
    mkdir -p "$tree"
    git archive "$commit" | tar -x -C "$tree"
    (cd "$tree" && cmake -S . -B "$work/build" "${configure_args[@]}" >"$work/configure.log" 2>&1) ||
        { cat "$work/configure.log" >&2; fail "configuring the build failed"; }
    cmake --build "$work/build" --target TevraRemoteUpdater --parallel 2 >"$work/build.log" 2>&1 ||
        { cat "$work/build.log" >&2; fail "the build failed"; }
    built=$work/build/TevraRemoteUpdater.exe
}

# Every command of the build, in order, with the temporary paths and the dependency-file arguments taken out.
build_commands() {
    ninja -C "$work/build" -t commands TevraRemoteUpdater |
        sed -e "s|$work/tree|<source>|g" -e "s|$work/build|<build>|g" -e 's/ -MD -MT [^ ]* -MF [^ ]*//' -e 's/^: && //'
}

# p12 ARGS...: openssl pkcs12 on the --pkcs12 file. Files exported by older tools use ciphers that
# OpenSSL 3 keeps in its legacy provider.
p12() {
    openssl pkcs12 -in "$pkcs12" "${passin[@]}" "$@" 2>/dev/null ||
        openssl pkcs12 -legacy -in "$pkcs12" "${passin[@]}" "$@" 2>/dev/null
}

# A certificate table in the PE header. (grep reads all: with -q it could stop objdump mid-write, failing the pipe.)
signed_exe() {
    x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null |
        grep -E 'Entry 4 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Security Directory' >/dev/null
}

if $verify; then
    ((${#shipped[@]})) || usage
    [[ -z $out$cert$key$pkcs12$password_file$timestamp ]] || fail "--verify takes no --out nor signing options"
    for file in "${shipped[@]}"; do readable_file "$file" || fail "cannot read $file"; done
    commit=$(git rev-parse HEAD)
    if [ -n "$buildinfo" ]; then
        readable_file "$buildinfo" || fail "cannot read $buildinfo"
        commit=$(sed -n 's/^Commit: //p' "$buildinfo")
        [ -n "$commit" ] || fail "$buildinfo names no commit"
        git cat-file -e "$commit^{commit}" 2>/dev/null || fail "commit $commit is not in this repository (fetch it first)"
        # A different toolchain explains a difference; say which before building.
        while read -r package version; do
            now=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo none)
            [ "$now" = "$version" ] || echo "note: $package is $now here, $version in $buildinfo" >&2
        done < <(sed -n 's/^Package: //p' "$buildinfo")
    fi
    echo "Building commit $commit ..."
    build "$commit"
    built_size=$(stat -c %s "$built")
    checksum=$(($(od -An -tu4 -j60 -N4 "$built") + 88))  # PE header + 4 + file header (20) + 64
    status=0
    for file in "${shipped[@]}"; do
        copy=$file
        if signed_exe "$file"; then
            copy=$work/stripped.exe
            rm -f "$copy"  # osslsigncode overwrites no file
            osslsigncode remove-signature -in "$file" -out "$copy" >/dev/null 2>&1 ||
                fail "cannot remove the signature of $file"
        fi
        if cmp -s -- "$built" "$copy"; then
            echo "identical: $file is commit $commit, built from source (sha256 $(sha256sum <"$built" | cut -c1-64))"
            continue
        fi
        status=1
        # The first differing byte outside the PE checksum, which follows from the rest (osslsigncode
        # sets it anew when it strips a signature); else where the shorter one ends, else the checksum.
        read -r offset in_checksum < <({ cmp -l -- "$built" "$copy" 2>/dev/null || true; } |
            awk -v from=$((checksum + 1)) -v to=$((checksum + 4)) '
                $1 >= from && $1 <= to { in_checksum = 1; next }
                first == "" { first = $1 - 1 }
                END { print (first == "" ? "-" : first), in_checksum + 0 }')
        size=$(stat -c %s "$copy")
        if [ "$offset" = - ]; then
            offset=$checksum
            ((size == built_size)) || offset=$((size < built_size ? size : built_size))
        fi
        note=""
        ((in_checksum == 0 || offset == checksum)) || note=" (its PE checksum differs too)"
        printf 'DIFFERENT: %s differs from commit %s at byte offset %d (0x%x)%s; %d bytes, built %d\n' \
            "$file" "$commit" "$offset" "$offset" "$note" "$size" "$built_size"
    done
    exit "$status"
fi

# Every input, before anything is built.
[ -n "$out" ] || out=$PWD/dist
[ -z "$buildinfo" ] || fail "--buildinfo goes with --verify"
[ -z "$(git status --porcelain)" ] || fail "the working tree has uncommitted changes; commit or stash them first"
if [ -e "$out" ]; then
    [ -d "$out" ] || fail "$out exists and is not a directory"
    others=$(find "$out" -mindepth 1 -maxdepth 1 ! -name TevraRemoteUpdater.exe ! -name SHA256SUMS ! -name BUILDINFO)
    [ -z "$others" ] || fail "$out holds files other than a release's; choose another --out"
fi
: >"$work/password"  # no password file means an empty password: never a prompt
if [ -n "$password_file" ]; then
    readable_file "$password_file" || fail "cannot read password file $password_file"
    # Only its first line, as openssl reads it; osslsigncode gets the same.
    head -n 1 "$password_file" | tr -d '\r\n' >"$work/password"
fi
# openssl and osslsigncode read no empty password from a file: an empty one is given as such, or not at all.
passin=(-passin pass:) readpass=()
[ ! -s "$work/password" ] || passin=(-passin "file:$work/password") readpass=(-readpass "$work/password")
signing=()
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || fail "give either --cert and --key or --pkcs12, not both"
    readable_file "$pkcs12" || fail "cannot read $pkcs12"
    p12 -noout || fail "cannot open $pkcs12: wrong password, or not a PKCS#12 file"
    p12 -clcerts -nokeys -out "$work/cert.pem" || fail "no certificate in $pkcs12"
    p12 -nocerts -nodes -out "$work/key.pem" || fail "no key in $pkcs12"
    signing=(-pkcs12 "$pkcs12" "${readpass[@]}")
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] || fail "--key needs --cert"
    [ -n "$key" ] || fail "--cert needs --key"
    readable_file "$cert" || fail "cannot read certificate $cert"
    readable_file "$key" || fail "cannot read key $key"
    cp "$cert" "$work/cert.pem"
    openssl pkey -in "$key" "${passin[@]}" -out "$work/key.pem" 2>/dev/null ||
        fail "cannot read key $key (not a private key, or a wrong password)"
    signing=(-certs "$cert" -key "$key" "${readpass[@]}")
fi
if ((${#signing[@]})); then
    openssl x509 -in "$work/cert.pem" -noout 2>/dev/null || fail "cannot read certificate ${cert:-in $pkcs12}"
    [ "$(openssl x509 -in "$work/cert.pem" -noout -pubkey)" = "$(openssl pkey -in "$work/key.pem" -pubout)" ] ||
        fail "the key does not match the certificate ${cert:-in $pkcs12}"
    subject=$(openssl x509 -in "$work/cert.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
    if [ -n "$timestamp" ]; then
        [[ $timestamp =~ ^https?://[^[:space:]]+$ ]] || fail "--timestamp needs an http:// or https:// URL, not $timestamp"
        signing+=(-ts "$timestamp")
    fi
else
    [ -z "$password_file$timestamp" ] || fail "--password-file and --timestamp need a certificate"
fi

commit=$(git rev-parse HEAD)
version=$(sed -n 's/^project(TevraRemoteUpdater VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no product version in CMakeLists.txt"
echo "Building TevraRemoteUpdater $version, commit $commit ..."
build "$commit"

# ASLR with high-entropy addresses, DEP, and no DLL beyond KERNEL32 and the C runtime.
headers=$(x86_64-w64-mingw32-objdump -p "$built")
characteristics=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -qw "$flag" <<<"$characteristics" || fail "the exe's header lacks $flag"
done
extra=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | grep -viE '^(kernel32|msvcrt|api-ms-win-crt-.*)\.dll$' | paste -sd ' ' || true)
[ -z "$extra" ] || fail "the exe imports more than KERNEL32 and the C runtime: $extra"

release=$work/release
mkdir "$release"
unsigned_sha=$(sha256sum <"$built" | cut -c1-64)
if ((${#signing[@]})); then
    osslsigncode sign "${signing[@]}" -h sha256 -n "Tevra Remote Updater" -in "$built" \
        -out "$release/TevraRemoteUpdater.exe" >"$work/sign.log" 2>&1 </dev/null ||
        { cat "$work/sign.log" >&2; fail "signing failed"; }
    # A self-signed certificate is its own root; any other chains to the system's roots.
    ca=()
    [ "$(openssl x509 -in "$work/cert.pem" -noout -subject)" != "$(openssl x509 -in "$work/cert.pem" -noout -issuer | sed 's/^issuer/subject/')" ] ||
        ca=(-CAfile "$work/cert.pem")
    osslsigncode verify "${ca[@]}" -in "$release/TevraRemoteUpdater.exe" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "the signed exe does not verify"; }
    # osslsigncode passes a signature whose time stamp it cannot check; a release asked for one that checks.
    [ -z "$timestamp" ] || grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log" ||
        { cat "$work/verify.log" >&2; fail "the time stamp from $timestamp does not verify against the system's roots"; }
    osslsigncode remove-signature -in "$release/TevraRemoteUpdater.exe" -out "$work/stripped.exe" >/dev/null
    cmp -s "$work/stripped.exe" "$built" || fail "the signed exe without its signature differs from the build"
    signature="Authenticode SHA-256 by $subject${timestamp:+, time-stamped by $timestamp}"
else
    cp "$built" "$release/TevraRemoteUpdater.exe"
    signature="none (unsigned)"
fi

{
    echo "Product: Tevra Remote Updater"
    echo "Version: $version"
    echo "Commit: $commit"
    echo "Unsigned-SHA256: $unsigned_sha"
    echo "Signature: $signature"
    for package in "${toolchain[@]}"; do
        dpkg-query -W -f='Package: ${Package} ${Version}\n' "$package" 2>/dev/null || echo "Package: $package none"
    done
    echo "Configure: cmake ${configure_args[*]}"
    build_commands | sed 's/^/Build: /'
} >"$release/BUILDINFO"
# One line for every other file of the release.
mapfile -t files < <(find "$release" -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
(cd "$release" && sha256sum -- "${files[@]}" >SHA256SUMS)

# Into place: beside DIR first (the same file system), then one rename; an earlier release goes last.
mkdir -p "$(dirname "$out")"
staging=$(mktemp -d "$(dirname "$out")/.$(basename "$out").partial.XXXXXX")
cp -p "$release"/* "$staging/"
chmod 755 "$staging"
if [ -d "$out" ]; then
    mv "$out" "$staging.old"
    mv "$staging" "$out"
    rm -rf "$staging.old"
else
    mv "$staging" "$out"
fi
staging=""

if ((${#signing[@]})); then
    echo "Signed: $signature; osslsigncode verify passed."
else
    echo "The exe is unsigned (no --cert/--key or --pkcs12 given)."
fi
echo "Wrote $out:"
(cd "$out" && sha256sum TevraRemoteUpdater.exe BUILDINFO SHA256SUMS)
echo "Check a shipped copy: bash scripts/release.sh --verify TevraRemoteUpdater.exe --buildinfo $out/BUILDINFO"
