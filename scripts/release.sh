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

out=dist cert="" key="" pkcs12="" password_file="" timestamp="" buildinfo="" shipped=() verify=false
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
[ "$out" = dist ] && out=$(absolute "$(dirname "$0")/../dist")
cd "$(dirname "$0")/.."
root=$PWD

work=$(mktemp -d)
staging=""
trap 'rm -rf "$work" ${staging:+"$staging"}' EXIT

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

# The build's compiler and linker flags for the program's own code, with the temporary paths taken out.
build_flags() {
    grep -E '^ *(FLAGS|DEFINES|LINK_FLAGS|LINK_LIBRARIES) = ' "$work/build/build.ninja" |
        sed -e "s|$work/tree|<source>|g" -e "s|$work/build|<build>|g" -e 's/^ *//' | sort -u
}

signed_exe() { x86_64-w64-mingw32-objdump -p "$1" | grep -Eq 'Entry 4 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Security Directory'; }

if $verify; then
    ((${#shipped[@]})) || usage
    [[ -z $cert$key$pkcs12$password_file$timestamp ]] || fail "--verify takes no signing options"
    for file in "${shipped[@]}"; do [ -r "$file" ] || fail "cannot read $file"; done
    commit=$(git rev-parse HEAD)
    if [ -n "$buildinfo" ]; then
        [ -r "$buildinfo" ] || fail "cannot read $buildinfo"
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
    status=0
    for file in "${shipped[@]}"; do
        copy=$file
        if signed_exe "$file"; then
            copy=$work/stripped.exe
            osslsigncode remove-signature -in "$file" -out "$copy" >/dev/null || fail "cannot remove the signature of $file"
        fi
        if difference=$(cmp -- "$built" "$copy" 2>&1); then
            echo "identical: $file is commit $commit, built from source (sha256 $(sha256sum <"$built" | cut -c1-64))"
        else
            status=1
            if [[ $difference =~ differ:\ (char|byte)\ ([0-9]+) ]]; then
                offset=$((BASH_REMATCH[2] - 1))
                printf 'DIFFERENT: %s differs from commit %s at byte offset %d (0x%x)\n' "$file" "$commit" "$offset" "$offset"
            else
                echo "DIFFERENT: $file differs from commit $commit in length ($(stat -c %s "$copy") bytes, built $(stat -c %s "$built"))"
            fi
        fi
    done
    exit "$status"
fi

# Every input, before anything is built.
[ -z "$buildinfo" ] || fail "--buildinfo goes with --verify"
[ -z "$(git status --porcelain)" ] || fail "the working tree has uncommitted changes; commit or stash them first"
if [ -e "$out" ]; then
    [ -d "$out" ] || fail "$out exists and is not a directory"
    others=$(find "$out" -mindepth 1 -maxdepth 1 ! -name TevraRemoteUpdater.exe ! -name SHA256SUMS ! -name BUILDINFO)
    [ -z "$others" ] || fail "$out holds files other than a release's; choose another --out"
fi
signing=""
passin=(-passin "pass:")  # never a prompt: no password file means an empty password
if [ -n "$password_file" ]; then
    [ -r "$password_file" ] && [ -f "$password_file" ] || fail "cannot read password file $password_file"
    # Only its first line, as openssl reads it; osslsigncode gets the same.
    head -n 1 "$password_file" | tr -d '\r\n' >"$work/password"
    passin=(-passin "file:$work/password")
fi
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || fail "give either --cert and --key or --pkcs12, not both"
    [ -r "$pkcs12" ] && [ -f "$pkcs12" ] || fail "cannot read $pkcs12"
    [ -n "$password_file" ] || : >"$work/password"
    passin=(-passin "file:$work/password")
    openssl pkcs12 -in "$pkcs12" "${passin[@]}" -noout 2>/dev/null ||
        fail "cannot open $pkcs12: wrong password, or not a PKCS#12 file"
    openssl pkcs12 -in "$pkcs12" "${passin[@]}" -clcerts -nokeys -out "$work/cert.pem" 2>/dev/null
    openssl pkcs12 -in "$pkcs12" "${passin[@]}" -nocerts -nodes -out "$work/key.pem" 2>/dev/null
    signing=(-pkcs12 "$pkcs12" -readpass "$work/password")
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || fail "--cert and --key go together"
    [ -r "$cert" ] && [ -f "$cert" ] || fail "cannot read certificate $cert"
    [ -r "$key" ] && [ -f "$key" ] || fail "cannot read key $key"
    cp "$cert" "$work/cert.pem"
    openssl pkey -in "$key" "${passin[@]}" -out "$work/key.pem" 2>/dev/null ||
        fail "cannot read key $key (not a private key, or a wrong password)"
    signing=(-certs "$cert" -key "$key")
    [ -z "$password_file" ] || signing+=(-readpass "$work/password")
fi
if [ -n "$signing" ]; then
    openssl x509 -in "$work/cert.pem" -noout 2>/dev/null || fail "cannot read certificate ${cert:-in $pkcs12}"
    [ "$(openssl x509 -in "$work/cert.pem" -noout -pubkey)" = "$(openssl pkey -in "$work/key.pem" -pubout)" ] ||
        fail "the key does not match the certificate ${cert:-in $pkcs12}"
    subject=$(openssl x509 -in "$work/cert.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
    [ -z "$timestamp" ] || signing+=(-ts "$timestamp")
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
for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers" | grep -qw "$flag" ||
        fail "the exe's header lacks $flag"
done
extra=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | grep -viE '^(kernel32|msvcrt|api-ms-win-crt-.*)\.dll$' || true)
[ -z "$extra" ] || fail "the exe imports more than KERNEL32 and the C runtime: $(echo $extra)"

release=$work/release
mkdir "$release"
unsigned_sha=$(sha256sum <"$built" | cut -c1-64)
if [ -n "$signing" ]; then
    osslsigncode sign "${signing[@]}" -h sha256 -n "Tevra Remote Updater" -in "$built" \
        -out "$release/TevraRemoteUpdater.exe" >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; fail "signing failed"; }
    # A self-signed certificate is its own root; any other chains to the system's roots.
    ca=()
    [ "$(openssl x509 -in "$work/cert.pem" -noout -subject)" != "$(openssl x509 -in "$work/cert.pem" -noout -issuer | sed 's/^issuer/subject/')" ] ||
        ca=(-CAfile "$work/cert.pem")
    osslsigncode verify "${ca[@]}" -in "$release/TevraRemoteUpdater.exe" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "the signed exe does not verify"; }
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
    build_flags | sed 's/^/Build: /'
} >"$release/BUILDINFO"
(cd "$release" && sha256sum TevraRemoteUpdater.exe BUILDINFO >SHA256SUMS)

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

[ -n "$signing" ] || echo "The exe is unsigned (no --cert/--key or --pkcs12 given)."
echo "Wrote $out:"
cat "$out/SHA256SUMS"
echo "Check a shipped copy: bash scripts/release.sh --verify TevraRemoteUpdater.exe --buildinfo $out/BUILDINFO"
