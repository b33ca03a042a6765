#!/usr/bin/env bash
# Configures and builds the three build trees (incrementally; run it as often as you like):
#   build/native       gcc, native code and its tests
#   build/native-asan  clang with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer
#   build/win64        the 64-bit stand-in programs of the sample payload (payload/programs only)
#   build/win32        the 32-bit Windows programs, MinGW-w64 i686 (tests run under Wine)
#
#   scripts/build.sh [native|native-asan|win64|win32]...     (default: all four)
#
# The order matters: win32 packs its setup programs with build/native's corvane-pack and
# the 64-bit programs of build/win64.
#
# Every tree is built as far as it goes: one broken target does not stop the others (ninja -k 0),
# so the test programs that do build can still run. The status is non-zero if any tree failed.
set -uo pipefail

repository=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repository"
mkdir -p build

jobs=$(nproc 2>/dev/null || echo 2)
if command -v ninja >/dev/null; then
    generator=Ninja
    keep_going=(-- -k 0)
else
    generator="Unix Makefiles"
    keep_going=(-- -k)
fi

trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(native native-asan win64 win32)

configure_arguments() {
    case $1 in
    native) echo "-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++" ;;
    native-asan) echo "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++" \
        "-DCORVANE_SANITIZE=ON -DCORVANE_FUZZ=ON" ;;
    win64) echo "-DCMAKE_TOOLCHAIN_FILE=$repository/cmake/mingw-x86_64.cmake" ;;
    win32) echo "-DCMAKE_TOOLCHAIN_FILE=$repository/cmake/mingw-i686.cmake" ;;
    *) return 1 ;;
    esac
}

source_folder() {
    case $1 in
    win64) echo payload/programs ;;
    *) echo . ;;
    esac
}

failed=()
for tree in "${trees[@]}"; do
    if ! arguments=$(configure_arguments "$tree"); then
        echo "build.sh: unknown tree $tree (native, native-asan, win64 or win32)" >&2
        exit 2
    fi
    directory=build/$tree
    started=$SECONDS
    echo "=== build $tree ($directory)"
    # A tree configured with another generator (or half-configured) cannot be reused.
    cache=$directory/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -qx "CMAKE_GENERATOR:INTERNAL=$generator" "$cache"; then
        echo "build.sh: $directory was configured with another generator; starting it afresh"
        rm -rf "$directory"
    fi
    # shellcheck disable=SC2086 # the arguments are words
    if ! cmake -S "$(source_folder "$tree")" -B "$directory" -G "$generator" $arguments \
        >"$directory.configure.log" 2>&1; then
        cat "$directory.configure.log" >&2
        echo "build.sh: configuring $tree failed" >&2
        failed+=("$tree")
        continue
    fi
    if ! cmake --build "$directory" --parallel "$jobs" "${keep_going[@]}"; then
        echo "build.sh: building $tree failed (everything else in it was built)" >&2
        failed+=("$tree")
    fi
    echo "=== build $tree: $((SECONDS - started)) s"
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "build.sh: failed: ${failed[*]}" >&2
    exit 1
fi
