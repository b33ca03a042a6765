#!/usr/bin/env bash
# demo.sh: shows the setup program's package from start to end.
#
#   1. builds the package tool (native) and the package probe (Windows, cross-built),
#   2. packs payload/sample and appends it to package-probe.exe (corvane-pack create --stub),
#   3. checks the result with corvane-pack verify and shows it with corvane-pack list,
#   4. runs the result under Wine in a throw-away prefix: the program finds and loads the
#      package appended to its own file,
#   5. damages one byte of the package in a copy: verify names the fault, the program refuses,
#   6. installs the workstation edition silently in the same throw-away prefix and shows its
#      exit code, the installed files, the uninstall registration and the setup log.
#
# Output goes to build/demo/. Builds with scripts/build.sh (trees build/native and build/win32);
# with CORVANE_NATIVE_BUILD or CORVANE_WIN_BUILD set, builds just the two programs in those
# trees instead. CORVANE_DEMO_OUT: where the results go (default build/demo).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repository=$(dirname "$here")
native_build=${CORVANE_NATIVE_BUILD:-$repository/build/native}
win_build=${CORVANE_WIN_BUILD:-$repository/build/win32}
out=${CORVANE_DEMO_OUT:-$repository/build/demo}
payload=$repository/payload/sample

pack=$native_build/tools/corvane-pack/corvane-pack
probe=$win_build/tests/windows/package-probe.exe
setup=$out/sample-setup.exe

if [ -t 1 ]; then
    step() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }
else
    step() { printf '\n==> %s\n' "$*"; }
fi
fail() { printf '\ndemo: %s\n' "$*" >&2; exit 1; }

step "Building the package tool (native) and the package probe (Windows)"
if [ -x "$here/build.sh" ] && [ -z "${CORVANE_NATIVE_BUILD:-}${CORVANE_WIN_BUILD:-}" ]; then
    # build.sh builds whole trees and goes on past a broken target; what the demo needs is
    # checked below, so a failure elsewhere in the trees does not stop it.
    "$here/build.sh" native win64 win32 ||
        echo "demo: build.sh reported a failure elsewhere; going on with what was built"
else
    cmake -S "$repository" -B "$native_build" -G Ninja >/dev/null
    ninja -C "$native_build" corvane-pack
    cmake -S "$repository" -B "$win_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$repository/cmake/mingw-i686.cmake" >/dev/null
    ninja -C "$win_build" package-probe corvane-rdp-workstation-setup corvane-rdp-server-setup
fi
[ -x "$pack" ] || fail "the build did not produce $pack"
[ -f "$probe" ] || fail "the build did not produce $probe"
echo "package tool:  $pack"
echo "package probe: $probe ($(stat -c %s "$probe") bytes)"

step "Sample payload in payload/sample"
ls -l "$payload" | tail -n +2

step "Packing it and appending the package to the probe"
mkdir -p "$out"
echo "\$ corvane-pack create --stub package-probe.exe -o sample-setup.exe --dir payload/sample"
"$pack" create --stub "$probe" -o "$setup" --dir "$payload"

step "Verifying the result with the setup program's own reader"
echo "\$ corvane-pack verify sample-setup.exe"
"$pack" verify "$setup"

step "Listing the package"
echo "\$ corvane-pack list sample-setup.exe"
"$pack" list "$setup"

step "Running sample-setup.exe under Wine in a throw-away prefix"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/corvane-demo-XXXXXX")/prefix
cleanup() {
    if [ -x "$here/wine-prefix" ] && [ -d "$prefix" ]; then
        "$here/wine-prefix" destroy "$prefix" >/dev/null 2>&1 || true
    else
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    fi
    rm -rf "$(dirname "$prefix")"
}
trap cleanup EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEPREFIX=$prefix
unset WINEARCH
if [ -x "$here/wine-prefix" ]; then
    # A copy of the pristine prefix takes a moment; making one takes ~20 s the first time.
    "$here/wine-prefix" copy --arch win64 "$prefix" >/dev/null
else
    echo "(making a fresh prefix, about 20 s)"
    wineboot -i >/dev/null 2>&1
fi
echo "prefix: $prefix"
echo "\$ wine sample-setup.exe"
status=0
if [ -x "$here/wine-exec" ]; then
    # Through the harness's runner when it is built: it reports the full 32-bit exit code.
    if [ -f "$win_build/tests/harness/winrun.exe" ]; then
        export CORVANE_WINRUN=$win_build/tests/harness/winrun.exe
    fi
    "$here/wine-exec" "$setup" || status=$?
else
    wine "$setup" || status=$?
fi
echo "exit code: $status"

if [ "$status" -ne 0 ]; then
    fail "sample-setup.exe did not load its package (exit code $status)"
fi

step "A copy with one byte of the package changed"
damaged=$out/damaged-setup.exe
cp "$setup" "$damaged"
offset=$(( $(stat -c %s "$probe") + 200 ))
printf '\xff' | dd of="$damaged" bs=1 seek="$offset" conv=notrunc status=none
echo "(byte $offset overwritten)"
echo "\$ corvane-pack verify damaged-setup.exe"
"$pack" verify "$damaged" && fail "verify accepted the damaged copy"
echo "\$ wine damaged-setup.exe"
damaged_status=0
if [ -x "$here/wine-exec" ]; then
    "$here/wine-exec" "$damaged" || damaged_status=$?
else
    wine "$damaged" || damaged_status=$?
fi
echo "exit code: $damaged_status"
[ "$damaged_status" -ne 0 ] || fail "the damaged copy loaded"

workstation=$win_build/setup/corvane-rdp-workstation-setup.exe
[ -f "$workstation" ] || fail "the build did not produce $workstation"
step "Installing the workstation edition silently"
echo "\$ corvane-rdp-workstation-setup.exe -silent -licenseaccept"
install_status=0
if [ -x "$here/wine-exec" ]; then
    "$here/wine-exec" "$workstation" -silent -licenseaccept || install_status=$?
else
    wine "$workstation" -silent -licenseaccept || install_status=$?
fi
# The runner reports the exit code's low 8 bits to the shell: 0 is success, 246 is -10.
echo "exit code: $install_status"
program_files="$prefix/drive_c/Program Files"
install_dir="$program_files/Corvane RDP Edition - Workstation"
echo
echo "Installed files (C:\\Program Files\\Corvane RDP Edition - Workstation):"
(cd "$install_dir" 2>/dev/null && find . -type f | sed 's|^\./|  |' | sort) ||
    echo "  (no install folder)"
echo
echo "Uninstall registration (32-bit registry view):"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}' \
    /reg:32 2>/dev/null | tr -d '\r' | sed -n 's/^ *\([A-Za-z]*\) *REG_SZ *\(.*\)/  \1 = \2/p'
echo
echo "Setup log (copied into the install folder after a successful installation):"
log="$install_dir/corvane-rdp-workstation-setup.log"
if [ -f "$log" ]; then
    tr -d '\r' <"$log" | sed 's/^/  | /'
else
    echo "  (not in the install folder: the installation failed and kept its log in the work folder)"
fi
[ "$install_status" -eq 0 ] || fail "the silent installation failed (exit code $install_status)"

step "Result"
echo "sample-setup.exe found the package appended to its own file, checked both digests and"
echo "unpacked every entry; the damaged copy was refused by verify and by the program alike."
echo "The workstation setup installed its sample payload silently, registered itself for"
echo "uninstall and left its log in the install folder."
echo "The prefix has been removed; the programs stay in $out."
