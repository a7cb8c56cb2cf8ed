#!/bin/bash
# "make installer" with SIGN_CERT and SIGN_KEY: the installer is signed and
# verifies against the certificate, two signed builds at the same
# SOURCE_DATE_EPOCH are byte-identical, and the signature leaves the image
# alone (resources, manifest, messages, icon, the page-aligned resource
# section and a header checksum that matches the signed file). An unsigned
# build verifies as unsigned. A CA-issued certificate verifies against
# SIGN_CA. A half-given pair or a missing key is a usage error; a key that
# does not sign for the certificate, or a signature that does not verify,
# fails the build and leaves no installer at OUT. make inspect shows a signed
# build as signed and verified against the CA given, and not verified
# against another.
# usage: signed_build.sh <source dir> <sample payload dir> <scratch dir>
set -uo pipefail
source_dir=$1 sample=$2 scratch=$3
check=(/usr/bin/python3 "$source_dir/tests/image/check_image.py")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch/sign keys" "$scratch/out"
export INSTALLER_BUILD_DIR="$scratch/build"
export SOURCE_DATE_EPOCH=1700000000
throwaway_certificate() { # <key> <cert>
    openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 -keyout "$1" -out "$2" >/dev/null 2>&1
}
throwaway_certificate "$scratch/sign keys/k.pem" "$scratch/sign keys/c.pem" || fail "openssl made no certificate"
throwaway_certificate "$scratch/sign keys/other-k.pem" "$scratch/sign keys/other-c.pem" || fail "openssl made no second certificate"
# A certificate issued by a throwaway CA: it verifies against the CA only.
throwaway_certificate "$scratch/sign keys/ca-k.pem" "$scratch/sign keys/ca.pem" &&
    openssl req -newkey rsa:2048 -nodes -subj /CN=issued -keyout "$scratch/sign keys/issued-k.pem" \
        -out "$scratch/issued.csr" >/dev/null 2>&1 &&
    openssl x509 -req -in "$scratch/issued.csr" -CA "$scratch/sign keys/ca.pem" -CAkey "$scratch/sign keys/ca-k.pem" \
        -days 2 -out "$scratch/sign keys/issued.pem" >/dev/null 2>&1 || fail "openssl issued no certificate"

build() { # <out> [make variables...]: make installer from the scratch folder, relative paths
    local out=$1
    shift
    (cd "$scratch" && make -s -C "$source_dir" installer PAYLOAD_DIR="$sample" OUT="$out" "$@") \
        >"$scratch/stdout" 2>"$scratch/stderr"
}
verify() { # <exe>: osslsigncode's exit code against the test certificate
    osslsigncode verify -CAfile "$scratch/sign keys/c.pem" -in "$1" >"$scratch/verify.log" 2>&1
}
signing=(SIGN_CERT="sign keys/c.pem" SIGN_KEY="sign keys/k.pem")

build out/unsigned.exe || fail "unsigned make installer failed: $(cat "$scratch/stderr")"
verify "$scratch/out/unsigned.exe"
status=$?
[ "$status" = 1 ] || fail "an unsigned build verifies with exit $status, not 1 (unsigned)"

build out/signed.exe "${signing[@]}" || fail "signed make installer failed: $(cat "$scratch/stderr")"
signed="$scratch/out/signed.exe"
verify "$signed" || fail "the signed build does not verify: $(cat "$scratch/verify.log")"
grep -q 'Message digest algorithm: SHA256' "$scratch/verify.log" || fail "not signed with SHA-256"
grep -q 'Signing time: Nov 14 22:13:20 2023 GMT' "$scratch/verify.log" ||
    fail "the signing time is not SOURCE_DATE_EPOCH: $(grep 'Signing time' "$scratch/verify.log")"

# make inspect sees the signature, and checks it against CA when given, else
# against the system's trust store (where a throwaway certificate is not).
inspect() { # <exe> [CA=<pem>]: the signature line of make inspect
    (cd "$scratch" && make -s -C "$source_dir" inspect EXE="$@") 2>&1 | sed -n 's/^signature: //p'
}
expect_signature() { # <what> <expected> <actual>
    [ "$2" = "$3" ] || fail "inspect of $1: signature [$3], expected [$2]"
}
expect_signature "the signed build with CA" "signed by /CN=test, verifies against sign keys/c.pem" \
    "$(inspect out/signed.exe CA="sign keys/c.pem")"
expect_signature "the signed build" \
    "signed by /CN=test, does NOT verify against the system's trust store (/etc/ssl/certs/ca-certificates.crt): self-signed certificate" \
    "$(inspect out/signed.exe)"
expect_signature "the signed build with another CA" \
    "signed by /CN=test, does NOT verify against sign keys/other-c.pem: self-signed certificate" \
    "$(inspect out/signed.exe CA="sign keys/other-c.pem")"
expect_signature "the unsigned build" none "$(inspect out/unsigned.exe CA="sign keys/c.pem")"

build out/again.exe "${signing[@]}" || fail "second signed make installer failed"
cmp -s "$signed" "$scratch/out/again.exe" || fail "two signed builds at the same SOURCE_DATE_EPOCH differ"

"${check[@]}" resources "$signed" "$sample" >/dev/null || fail "resources of the signed build"
for what in manifest messages icon layout; do
    "${check[@]}" "$what" "$signed" >/dev/null || fail "$what of the signed build: $("${check[@]}" "$what" "$signed")"
done
# The signature is only added: taken off again, the unsigned build is back.
osslsigncode remove-signature -in "$signed" -out "$scratch/stripped.exe" >/dev/null 2>&1 &&
    cmp -s "$scratch/stripped.exe" "$scratch/out/unsigned.exe" ||
    fail "the signed build without its signature is not the unsigned build"

build out/issued.exe SIGN_CERT="sign keys/issued.pem" SIGN_KEY="sign keys/issued-k.pem" SIGN_CA="sign keys/ca.pem" ||
    fail "make installer with a CA-issued certificate and SIGN_CA failed: $(cat "$scratch/stderr")"
osslsigncode verify -CAfile "$scratch/sign keys/ca.pem" -in "$scratch/out/issued.exe" >/dev/null 2>&1 ||
    fail "the build signed with the CA-issued certificate does not verify against the CA"

# refused <description> <message on stderr> kept|removed <make variables...>:
# the build fails with that message (make reports every failure as its own
# exit 2). What stood at OUT is kept when the inputs are refused before the
# build, and removed once signing has failed, so that nothing at OUT looks
# like a signed installer of this build.
refused() {
    local description=$1 message=$2 stale=$3
    shift 3
    printf 'stale' >"$scratch/out/refused.exe"
    build out/refused.exe "$@" && fail "$description: the build succeeded"
    grep -q "build-installer: $message" "$scratch/stderr" ||
        fail "$description: no message '$message': $(cat "$scratch/stderr")"
    if [ "$stale" = kept ]; then
        [ "$(cat "$scratch/out/refused.exe")" = stale ] || fail "$description: OUT was touched"
    elif [ -e "$scratch/out/refused.exe" ]; then
        fail "$description: a file was left at OUT"
    fi
}
refused "SIGN_CERT alone" "SIGN_CERT and SIGN_KEY go together" kept SIGN_CERT="sign keys/c.pem"
refused "SIGN_KEY alone" "SIGN_CERT and SIGN_KEY go together" kept SIGN_KEY="sign keys/k.pem"
refused "SIGN_CA without signing" "SIGN_CA is only for a signed build" kept SIGN_CA="sign keys/ca.pem"
refused "a missing key" "cannot read sign keys/none.pem" kept SIGN_CERT="sign keys/c.pem" SIGN_KEY="sign keys/none.pem"
refused "a key that does not belong to the certificate" "signing with .* failed" removed \
    SIGN_CERT="sign keys/c.pem" SIGN_KEY="sign keys/other-k.pem"
refused "a signature that does not verify (CA-issued, no SIGN_CA)" "the signature does not verify against" removed \
    SIGN_CERT="sign keys/issued.pem" SIGN_KEY="sign keys/issued-k.pem"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$scratch"
echo "passed"
