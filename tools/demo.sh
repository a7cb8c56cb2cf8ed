#!/bin/bash
# The demo: builds the sample kit (package and eight cabinets) and the
# installer around it, then runs the installer with /s under Wine in a
# throwaway prefix, with Wine's own msiexec doing the installs behind a
# recorder that logs every engine command line (the main run and the
# follow-ups). KEEP=1 keeps the prefix and prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/profile.sh"
profile_load # the sample kit is built for the default version
demo="$root/build/demo"
exe="$demo/$PROFILE_INSTALLER_NAME.exe"

echo "== building"
"$root/sample/build-payload.sh" "$demo/payload"
"$root/tools/build-installer.sh" "$root" "$demo/payload" "$exe"
cmake -S "$root" -B "$demo/tools" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWINDOWS_TESTS=ON >/dev/null
cmake --build "$demo/tools" --target runner fake_msiexec >/dev/null

. "$root/tests/wine/prefix.sh"
PREFIX_KEEP=${KEEP:-0}
prefix_throwaway orva-demo

echo "== preparing a Wine prefix in $WINEPREFIX"
prefix_start
drive_c="$WINEPREFIX/drive_c"
prefix_engine recorder "$demo/tools/msiexec.exe" >/dev/null 2>&1

echo "== running: $PROFILE_INSTALLER_NAME.exe /s"
report=$(RUNNER_TAIL="/s" FAKE_MSIEXEC_PASSTHROUGH=1 \
    wine "$demo/tools/runner.exe" "$(winepath -w "$exe")" 2>/dev/null </dev/null | tr -d '\r')
code=$(sed -n 's/^exit: \([0-9]*\) \(0x[0-9A-F]*\)/\1 (\2)/p' <<<"$report")
sed -n 's/^box: /message box: /p' <<<"$report"

user=$(prefix_user)
kit="$drive_c/users/$user/AppData/LocalLow/Qel/Orva/$PROFILE_KIT_FOLDER"
echo
echo "staged files (C:\\users\\$user\\AppData\\LocalLow\\Qel\\Orva\\$PROFILE_KIT_FOLDER):"
find "$kit" -maxdepth 1 -type f -printf '  %f  %s bytes\n' 2>/dev/null | sort
echo
echo "engine command lines (main run, then the follow-ups):"
sed 's/^/  /' "$drive_c/recorder/calls.txt" 2>/dev/null || echo "  (the engine was not run)"
echo
echo "exit code: $code"
echo
echo "cabinets and the files they hold:"
for cabinet in $PROFILE_CABINETS; do
    members=$(gcab -t "$demo/payload/$cabinet" 2>/dev/null | tr '\n' ' ' || true)
    echo "  $cabinet: ${members:-(header only, no files)}"
done
echo
echo "installed by the package and the runtime:"
(cd "$drive_c/Program Files" 2>/dev/null && find "$PROFILE_VENDOR" -type f -printf '  C:/Program Files/%p  %s bytes\n') |
    sort | sed 's|/|\\|g'
value() { # <key under the vendor key> <value>: its REG_SZ data, or nothing
    wine reg query "HKLM\\SOFTWARE\\$PROFILE_VENDOR\\$1" /v "$2" 2>/dev/null |
        tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *\\(.*\\)/\\1/p" || true
}
registry() { # <key under the vendor key> <value>
    local data
    data=$(value "$1" "$2")
    echo "  registry: $2 = ${data:-(not set)}"
}
registry "$PROFILE_PRODUCT\\$PROFILE_VERSION" OrvaHome
registry "$PROFILE_PRODUCT\\$PROFILE_VERSION" KitLanguage
# The runtime registers under its own name, for the same version.
registry "Orva Runtime\\$PROFILE_VERSION" RuntimeHome
registry "Orva Runtime\\$PROFILE_VERSION" RuntimeLanguage
echo
home_win=$(value "$PROFILE_PRODUCT\\$PROFILE_VERSION" OrvaHome)
if [ -z "$home_win" ]; then
    echo "kit home: not registered"
    exit 0
fi
home=$(winepath -u "$home_win" 2>/dev/null)
left=$(for file in hux.msi hux1041.MST hux2052.MST orvadb.msi; do [ ! -e "$home/$file" ] || echo -n " $file"; done)
if [ -n "$left" ]; then
    echo "kit home: still holds$left"
else
    echo "kit home: clean (hux.msi, hux1041.MST, hux2052.MST and orvadb.msi are gone)"
fi
