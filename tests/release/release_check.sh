#!/usr/bin/env bash
# The release check (README, "Release"), run by CI after the test command: from two clones of HEAD in different
# directories, the exe and SHA256SUMS are the same bytes; a signed release verifies, is the unsigned exe once
# stripped, and is trusted by WinVerifyTrust under Wine; `--verify` tells a copy with one byte changed; bad input
# gets its one-line error and leaves no output directory. Prints "N passed, N failed" last; exits 1 on a failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
# shellcheck source=scripts/checks.sh
source scripts/checks.sh
# release CLONE ARGS...: scripts/release.sh of CLONE; its output in $tmp/stdout and $tmp/stderr, its status in $status.
release() {
    status=0
    bash "$1/scripts/release.sh" "${@:2}" </dev/null >"$tmp/stdout" 2>"$tmp/stderr" || status=$?
}
same() { cmp -s -- "$1" "$2"; }
sha() { sha256sum <"$1" | cut -c1-64; }
sums_hold() { (cd "$1" && sha256sum --strict -c SHA256SUMS); }
no_output_left() { ! compgen -G "$1*" >/dev/null && ! compgen -G "$(dirname "$1")/.$(basename "$1")*" >/dev/null; }
# refused CLONE MESSAGE ARGS...: scripts/release.sh of CLONE with ARGS fails, saying "release: MESSAGE..."
# in one line, and leaves no output directory.
refused() {
    release "$1" --out "$tmp/bad" "${@:3}"
    local run="${*:3}"
    run="release ${run:-with no options} in $1"
    check "$run: fails" test "$status" != 0
    check "$run: says '$2'" has "$tmp/stderr" "release: $2"
    check "$run: in one line" test "$(wc -l <"$tmp/stderr")" = 1
    check "$run: leaves no output directory" no_output_left "$tmp/bad"
}
# flip FILE OFFSET: the byte at OFFSET inverted.
flip() {
    local byte
    byte=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
    printf '%b' "\\x$(printf %02x $((byte ^ 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# trust FILE: WinVerifyTrust's status for FILE under Wine, in eight hex digits.
trust() { cmake/wine-run.sh "$WINEPREFIX" "$preset/build/mingw/trust_status.exe" "Z:$1" </dev/null | tr -d '\r'; }

echo "Release check of commit $(git rev-parse HEAD)"
a=$tmp/a/TevraRemoteUpdater b=$tmp/b/another/place
git clone -q . "$a"
git clone -q . "$b"
exe=TevraRemoteUpdater.exe

# A throwaway self-signed code-signing certificate, its key in the clear, encrypted and in a
# PKCS#12 file, and a key of another.
keys=$tmp/keys
mkdir "$keys"
echo "release check" >"$keys/password"
echo "not it" >"$keys/wrong"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Tevra Remote Release Check" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl pkey -in "$keys/key.pem" -aes256 -passout "file:$keys/password" -out "$keys/encrypted.pem"
openssl pkcs12 -export -in "$keys/cert.pem" -inkey "$keys/key.pem" -passout "file:$keys/password" -out "$keys/signer.pfx"
openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:2048 -out "$keys/other.pem" 2>/dev/null

# The preset's build, and the trust probe beside it.
preset=$PWD
[ -z "$(git status --porcelain)" ] || preset=$a
(cd "$preset" && cmake --preset mingw >/dev/null && cmake --build --preset mingw --target TevraRemoteUpdater trust_status >/dev/null)

release "$a" --out "$tmp/a-dist"
check "an unsigned release from $a" test "$status" = 0
check "the release says the exe is unsigned" has "$tmp/stdout" "unsigned"
check "the release prints the exe's SHA-256" has "$tmp/stdout" "$(sha "$tmp/a-dist/$exe")  $exe"
check "the release ends with how to check a shipped copy" \
    test "$(tail -n 1 "$tmp/stdout")" = "Check a shipped copy: bash scripts/release.sh --verify $exe --buildinfo $tmp/a-dist/BUILDINFO"
release "$b" --out "$tmp/b-dist"
check "an unsigned release from $b" test "$status" = 0

unsigned=$tmp/a-dist/$exe
check "the preset's build and the release's are the same bytes" same "$preset/build/mingw/$exe" "$unsigned"
check "the two clones' exes are the same bytes" same "$unsigned" "$tmp/b-dist/$exe"
check "the two clones' SHA256SUMS are the same bytes" same "$tmp/a-dist/SHA256SUMS" "$tmp/b-dist/SHA256SUMS"
check "SHA256SUMS names every other file of the release" \
    test "$(cut -c67- "$tmp/a-dist/SHA256SUMS" | sort)" = "$(find "$tmp/a-dist" -type f ! -name SHA256SUMS -printf '%f\n' | sort)"
check "SHA256SUMS is in sha256sum's format, and right" sums_hold "$tmp/a-dist"
info=$tmp/a-dist/BUILDINFO
check "BUILDINFO names the commit" has "$info" "Commit: $(git -C "$a" rev-parse HEAD)"
check "BUILDINFO names the product version" \
    has "$info" "Version: $(sed -n 's/^project(TevraRemoteUpdater VERSION \([0-9.]*\).*/\1/p' "$a/CMakeLists.txt")"
check "BUILDINFO holds the unsigned exe's SHA-256" has "$info" "Unsigned-SHA256: $(sha "$unsigned")"
for package in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common \
    gcc-mingw-w64-x86-64-posix-runtime; do
    check "BUILDINFO holds $package's exact version" has "$info" "Package: $package $(dpkg-query -W -f='${Version}' "$package")"
done
check "BUILDINFO holds the build's flags" has "$info" "-fstack-protector-strong -D_FORTIFY_SOURCE=2"
headers=$(x86_64-w64-mingw32-objdump -p "$unsigned")
for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    check "the exe's DllCharacteristics hold $flag" \
        grep -qw "$flag" <(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
done
check "the exe imports KERNEL32.dll and msvcrt.dll only" \
    test "$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | paste -sd ' ')" = "KERNEL32.dll msvcrt.dll"

release "$b" --out "$tmp/signed" --pkcs12 "$keys/signer.pfx" --password-file "$keys/password"
check "a signed release" test "$status" = 0
signed=$tmp/signed/$exe
check "the signed release says who signed it" has "$tmp/stdout" "Signed: Authenticode SHA-256 by CN=Tevra Remote Release Check"
osslsigncode verify -CAfile "$keys/cert.pem" -in "$signed" >"$tmp/verify.log" 2>&1 && verified=0 || verified=$?
check "osslsigncode verify passes the signed exe" test "$verified" = 0
check "the signature is SHA-256" grep -qE '^Message digest algorithm *: SHA256' "$tmp/verify.log"
check "the signature's description is the product's" has "$tmp/verify.log" "Text description: Tevra Remote Updater"
osslsigncode remove-signature -in "$signed" -out "$tmp/stripped.exe" >/dev/null
check "the signed exe without its signature is the unsigned exe" same "$tmp/stripped.exe" "$unsigned"
tampered=$tmp/tampered.exe
cp "$signed" "$tampered"
text=$(x86_64-w64-mingw32-objdump -h "$signed" | awk '$2 == ".text" { print $6 }')
offset=$((16#$text + 4096))
flip "$tampered" "$offset"

# Wine's trust provider, asked as the updater asks it. Wine checks the file's hash but not the chain to
# a trusted root, so a self-signed certificate gets status 0 without being added to the prefix's roots.
wine_prepare
while read -r file expected; do
    status=$(trust "$file" || true)
    check "WinVerifyTrust gives $expected for $file (got $status)" test "$status" = "$expected"
done <<EOF
$signed 00000000
$unsigned 800b0100
$tampered 80096010
EOF

release "$a" --verify "$signed" "$tampered" --buildinfo "$tmp/signed/BUILDINFO"
check "--verify fails when a copy differs" test "$status" = 1
check "--verify calls the signed release identical" has "$tmp/stdout" "identical: $signed is commit"
check "--verify names the changed byte's offset" \
    grep -qE "^DIFFERENT: $tampered differs from commit [0-9a-f]{40} at byte offset $offset \(" "$tmp/stdout"
release "$b" --verify "$tmp/b-dist/$exe"
check "--verify of an identical copy of HEAD succeeds" test "$status" = 0

# Bad input: ARGUMENTS | what the one line of error says.
k=$keys
while IFS='|' read -r args message; do
    read -ra args <<<"$args"
    refused "$a" "$message" "${args[@]}"
done <<EOF
--sign|unknown option: --sign
--cert $k/missing.pem --key $k/key.pem|cannot read certificate $k/missing.pem
--cert $k/key.pem --key $k/key.pem|cannot read certificate $k/key.pem
--cert $k/cert.pem --key $k/missing.pem|cannot read key $k/missing.pem
--cert $k/cert.pem --key $k/other.pem|the key does not match the certificate $k/cert.pem
--cert $k/cert.pem --key $k/encrypted.pem --password-file $k/wrong|cannot read key $k/encrypted.pem (not a private
--pkcs12 $k/signer.pfx --password-file $k/wrong|cannot open $k/signer.pfx: wrong password
--pkcs12 $k/cert.pem|cannot open $k/cert.pem: wrong password, or not a PKCS#12 file
--cert $k/cert.pem|--cert needs --key
--timestamp http://example|--password-file and --timestamp need a certificate
EOF
# A dirty tree, then a commit whose exe lacks a DllCharacteristics flag.
echo "an edit" >>"$b/README.md"
refused "$b" "the working tree has uncommitted changes"
git -C "$b" checkout -q -- README.md
printf 'target_link_options(TevraRemoteUpdater PRIVATE -Wl,--disable-nxcompat)\n' >>"$b/CMakeLists.txt"
git -C "$b" -c user.name=check -c user.email=check@localhost commit -qam "No NX_COMPAT"
refused "$b" "the exe's header lacks NX_COMPAT"

# A directory that holds something else is never replaced.
mkdir "$tmp/not-a-release"
echo "someone's notes" >"$tmp/not-a-release/notes.txt"
release "$a" --out "$tmp/not-a-release"
check "a directory that is no release is refused" has "$tmp/stderr" "holds files other than a release's"
check "... and kept as it was" test "$(ls "$tmp/not-a-release")" = notes.txt

echo "release check: $passed passed, $failed failed"
((failed == 0))
