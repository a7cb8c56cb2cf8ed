#!/bin/bash
# Builds the installer around the payload in a folder.
# usage: build-installer.sh <invoking folder> <payload dir> [<out file>]
# Relative paths are taken from the invoking folder. Files of the payload are
# found by exact name; a missing one is left out with a warning.
# VERSION (<major>.<minor>.<micro>_<update>; when unset, the default version)
# is the kit's version; every name is derived from it by cmake/Profile.cmake.
# A VERSION that breaks a rule stops the build with one line saying which,
# before anything is built.
# The payload is checked first (tools/check-payload.sh): each finding is a
# warning on stderr, and with STRICT=1 any finding fails the build.
# With SIGN_CERT and SIGN_KEY (PEM files) the installer is signed with SHA-256
# and the signature verified before OUT is written; SOURCE_DATE_EPOCH, when
# set, is the signing time, so that two signed builds are byte-identical.
# The signature is verified against SIGN_CA, by default SIGN_CERT itself (a
# self-signed certificate; a certificate issued by a CA needs its root here).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
invoking=${1:?invoking folder}
payload=${2:-}
out=${3:-}
sign_cert=${SIGN_CERT:-}
sign_key=${SIGN_KEY:-}
sign_ca=${SIGN_CA:-}
usage="usage: make installer PAYLOAD_DIR=<dir> [VERSION=<major>.<minor>.<micro>_<update>] [OUT=<file.exe>] [STRICT=1] [SIGN_CERT=<cert.pem> SIGN_KEY=<key.pem> [SIGN_CA=<ca.pem>]]"
. "$root/tools/profile.sh"
version=()
[ -z "${VERSION+set}" ] || version=("$VERSION")
profile_load "${version[@]}" || { echo "build-installer: $PROFILE_ERROR" >&2; exit 2; }
if [ -z "$payload" ]; then
    echo "$usage" >&2
    exit 2
fi
if { [ -n "$sign_cert" ] && [ -z "$sign_key" ]; } || { [ -z "$sign_cert" ] && [ -n "$sign_key" ]; }; then
    echo "build-installer: SIGN_CERT and SIGN_KEY go together" >&2
    echo "$usage" >&2
    exit 2
fi
if [ -n "$sign_ca" ] && [ -z "$sign_cert" ]; then
    echo "build-installer: SIGN_CA is only for a signed build (SIGN_CERT and SIGN_KEY)" >&2
    echo "$usage" >&2
    exit 2
fi
signing_time=()
if [ -n "$sign_cert" ] && [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    case $SOURCE_DATE_EPOCH in
        *[!0-9]*) echo "build-installer: SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH" >&2; exit 2 ;;
    esac
    signing_time=(-time "$SOURCE_DATE_EPOCH")
fi
cd "$invoking"
[ -d "$payload" ] || { echo "build-installer: no folder $payload" >&2; exit 2; }
if [ -n "$sign_cert" ]; then
    [ -n "$sign_ca" ] || sign_ca=$sign_cert
    for file in "$sign_cert" "$sign_key" "$sign_ca"; do
        [ -f "$file" ] && [ -r "$file" ] || { echo "build-installer: cannot read $file" >&2; exit 2; }
    done
    absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
    sign_cert=$(absolute "$sign_cert")
    sign_key=$(absolute "$sign_key")
    sign_ca=$(absolute "$sign_ca")
fi
payload=$(cd "$payload" && pwd)
[ -n "$out" ] || out="$root/build/$PROFILE_INSTALLER_NAME.exe"
case $out in /*) ;; *) out="$invoking/$out" ;; esac

build=${INSTALLER_BUILD_DIR:-"$root/build/installer"}
msistore=$("$root/tools/msistore.sh" "$build/host")
if ! "$root/tools/check-payload.sh" "$payload" "$msistore" "$PROFILE_VERSION" && [ "${STRICT:-0}" = 1 ]; then
    echo "build-installer: the payload check found problems; STRICT=1 makes them fatal" >&2
    exit 1
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWINDOWS_TESTS=OFF -DVERSION="$PROFILE_VERSION" -DPAYLOAD_DIR="$payload" >/dev/null
# As many compiles at once as there are processors: the library's sources
# are independent of each other.
cmake --build "$build" --target installer -j "$(nproc)" >/dev/null
mkdir -p "$(dirname "$out")"
built="$build/$PROFILE_INSTALLER_NAME.exe"
if [ -z "$sign_cert" ]; then
    cp "$built" "$out"
    echo "installer: $out ($(stat -c %s "$out") bytes, version $PROFILE_VERSION)"
    exit 0
fi

# Signed next to the build, never in place (the resource alignment step of
# the next build refuses a signed file), and copied to OUT only once the
# signature verifies: a failed run leaves nothing at OUT that looks signed.
signed="$build/signed.exe"
rm -f "$signed" "$out"
failed() {
    rm -f "$signed" "$out"
    echo "build-installer: $1; no installer written" >&2
    [ -s "$build/sign.log" ] && sed 's/^/  /' "$build/sign.log" >&2
    exit 1
}
osslsigncode sign -certs "$sign_cert" -key "$sign_key" -h sha256 "${signing_time[@]}" \
    -in "$built" -out "$signed" >"$build/sign.log" 2>&1 || failed "signing with $sign_cert failed"
osslsigncode verify -CAfile "$sign_ca" -in "$signed" >"$build/sign.log" 2>&1 ||
    failed "the signature does not verify against $sign_ca"
cp "$signed" "$out" || failed "cannot write $out"
rm -f "$signed" "$build/sign.log"
echo "installer: $out ($(stat -c %s "$out") bytes, version $PROFILE_VERSION, signed with $sign_cert)"
