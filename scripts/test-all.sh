#!/usr/bin/env bash
# Builds everything and runs every test: native (gcc), native under ASan/UBSan, the fuzzers for
# a bounded time, the Windows tests under Wine (ctest), and the end-to-end tests (pytest).
#
# Every step runs even when an earlier one failed, so one run reports everything. The last line
# is the total over all steps, "N passed, N failed", counting tests (ctest and pytest cases,
# one per fuzzer; a step that fails before it can count, like the build, counts as one failure).
# The status is non-zero when anything failed. Logs: build/test-logs/.
#
# Environment: FUZZ_SECONDS (default 30 per fuzzer, after it has replayed its seed corpus);
# E2E_WORKERS (parallel pytest workers, default one more than the cores);
# CORVANE_REUSE_PRISTINE=1 keeps the pristine Wine prefixes of an earlier run instead of
# making them afresh.
set -uo pipefail

repository=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repository"
# The pytest module on PATH may belong to another Python; Debian's is the one installed.
python=/usr/bin/python3
fuzz_seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc 2>/dev/null || echo 2)
logs=build/test-logs
mkdir -p "$logs"
# Tests pick their own prefixes; an inherited one would be shared by all of them.
unset WINEPREFIX WINEARCH
export CORVANE_WIN_BUILD=$repository/build/win32
export CORVANE_WINE_ROOT=${CORVANE_WINE_ROOT:-$repository/build/wine}
# Native or emulated 32-bit x86 execution: tests that need the processor's own exception codes
# skip themselves under emulation, and the summary names the mode.
CORVANE_X86_32_MODE=$(scripts/x86-32-mode) || CORVANE_X86_32_MODE=unknown
export CORVANE_X86_32_MODE

total_passed=0
total_failed=0
total_skipped=0
summary=()
run_started=$SECONDS

# record NAME PASSED FAILED SECONDS [SKIPPED]
record() {
    local skipped=${5:-0}
    total_passed=$((total_passed + $2))
    total_failed=$((total_failed + $3))
    total_skipped=$((total_skipped + skipped))
    local state=ok
    [ "$3" -eq 0 ] || state=FAILED
    summary+=("$(printf '%-22s %-6s %4d passed %4d failed %4d skipped %5d s' "$1" "$state" "$2" \
        "$3" "$skipped" "$4")")
    echo "=== $1: $state ($2 passed, $3 failed, $skipped skipped) in $4 s"
}

# ctest_step NAME BUILD_DIR [extra ctest arguments]
ctest_step() {
    local name=$1 directory=$2
    shift 2
    local started=$SECONDS log=$logs/$name.log
    echo "=== $name: ctest in $directory"
    if [ ! -f "$directory/CTestTestfile.cmake" ]; then
        echo "no test tree in $directory (did the build fail?)"
        record "$name" 0 1 $((SECONDS - started))
        return
    fi
    ctest --test-dir "$directory" --output-on-failure --parallel "$jobs" --timeout 900 "$@" \
        2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    # "100% tests passed, 0 tests failed out of 6"
    local line failed=0 total=0
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fi
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1 # ctest failed without running tests (e.g. a test program would not list)
    fi
    # ctest counts a skipped test as passed; it lists them as "(Skipped)".
    local skipped
    skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
    local passed=$((total - failed - skipped))
    [ "$passed" -ge 0 ] || passed=0
    record "$name" "$passed" "$failed" $((SECONDS - started)) "$skipped"
}

fuzz_step() {
    local started=$SECONDS passed=0 failed=0 fuzzer name corpus work running=0 pid
    local artifacts=$repository/build/fuzz-artifacts
    local -A fuzzer_of work_of
    mkdir -p "$artifacts"
    echo "=== fuzz: $fuzz_seconds s per fuzzer, $jobs at a time"
    finish_one() {
        local finished status
        # Only the fuzzers: the pristine prefixes are made by another background job.
        wait -n -p finished "${!fuzzer_of[@]}"
        status=$?
        name=${fuzzer_of[$finished]}
        unset "fuzzer_of[$finished]"
        if [ "$status" -eq 0 ]; then
            passed=$((passed + 1))
            echo "--- $name: ok, $(grep -E '^stat::number_of_executed_units' \
                "$logs/fuzz-$name.log" | grep -oE '[0-9]+$' || echo '?') inputs tried"
        else
            failed=$((failed + 1))
            tail -60 "$logs/fuzz-$name.log"
            echo "--- $name: FAILED (status $status); the input that broke it is in $artifacts/"
        fi
        rm -rf "${work_of[$finished]}"
        running=$((running - 1))
    }
    while IFS= read -r fuzzer; do
        name=$(basename "$fuzzer")
        work=$(mktemp -d)
        corpus=tests/fuzz/corpus/$name
        # The seed corpus is copied: libFuzzer adds the inputs it finds to the folder it runs on.
        [ ! -d "$corpus" ] || cp -r "$corpus/." "$work/"
        echo "--- $name: starting with $(find "$work" -type f | wc -l) seed inputs"
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$work" \
            >"$logs/fuzz-$name.log" 2>&1 &
        pid=$!
        fuzzer_of[$pid]=$name
        work_of[$pid]=$work
        running=$((running + 1))
        [ "$running" -lt "$jobs" ] || finish_one
    done < <(find build/native-asan/tests/fuzz -maxdepth 2 -type f -executable \
        \( -name 'fuzz_*' -o -name '*_fuzz' \) 2>/dev/null | sort)
    while [ "$running" -gt 0 ]; do
        finish_one
    done
    if [ $((passed + failed)) -eq 0 ]; then
        echo "no fuzzers built in build/native-asan/tests/fuzz"
        if grep -q add_executable tests/fuzz/CMakeLists.txt 2>/dev/null; then
            failed=1 # they exist in the sources, so the build lost them
        fi
    fi
    record fuzz "$passed" "$failed" $((SECONDS - started))
}

# A private X server for the Windows tests that open windows; it goes away with this script.
xvfb_pid=
start_xvfb() {
    command -v Xvfb >/dev/null || return 0
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    local waited=0
    while [ ! -s "$display_file" ] && [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if [ -s "$display_file" ]; then
        export DISPLAY=":$(tr -d '\n' <"$display_file")"
    fi
    rm -f "$display_file"
}
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
    scripts/wine-prefix destroy build/win32/wine-prefix >/dev/null 2>&1 || true
}
trap cleanup EXIT

# --- build
started=$SECONDS
if scripts/build.sh 2>&1 | tee "$logs/build.log"; then
    record build 1 0 $((SECONDS - started))
else
    record build 0 1 $((SECONDS - started))
fi

# --- pristine Wine prefixes, made while the native tests run (wineboot is mostly waiting)
pristine_log=$logs/wine-pristine.log
fresh=--fresh
[ "${CORVANE_REUSE_PRISTINE:-0}" != 1 ] || fresh=
(
    started=$SECONDS
    scripts/wine-prefix pristine --arch win64 $fresh &&
        scripts/wine-prefix pristine --arch win32 $fresh
    status=$?
    echo "pristine prefixes: status $status after $((SECONDS - started)) s"
    exit $status
) >"$pristine_log" 2>&1 &
pristine_pid=$!

# --- native tests
ctest_step native build/native
ctest_step native-asan build/native-asan
fuzz_step

# --- Windows tests under Wine
started=$SECONDS
if wait "$pristine_pid"; then
    cat "$pristine_log"
else
    cat "$pristine_log"
    record wine-prefixes 0 1 $((SECONDS - started))
fi
start_xvfb
# Every prefix copy in the build tree (wine-exec's and those of ctest fixtures) starts afresh
# from the fresh pristine prefix, so no run sees what an earlier one left behind.
while IFS= read -r marker; do
    scripts/wine-prefix destroy "$(dirname "$marker")"
done < <(find build/win32 -maxdepth 5 -name .corvane-copy-of 2>/dev/null)
ctest_step windows build/win32

# --- end-to-end tests
started=$SECONDS
# Most of an end-to-end test is waiting (for Wine to start, for the setup's own pauses), so
# more workers than cores still pay off.
e2e_workers=${E2E_WORKERS:-$((jobs + 1))}
echo "=== e2e: pytest tests/e2e, $e2e_workers workers"
"$python" -m pytest tests/e2e -q -p no:cacheprovider -o console_output_style=classic --durations=15 \
    -n "$e2e_workers" \
    2>&1 | tee "$logs/e2e.log"
status=${PIPESTATUS[0]}
# "3 failed, 40 passed, 1 skipped, 2 errors in 201.53s"
line=$(grep -E '^(=+ )?[0-9]+ (passed|failed|errors?|skipped|xfailed|xpassed|deselected)' \
    "$logs/e2e.log" | tail -1)
count() { grep -oE "[0-9]+ $1" <<<"$line" | grep -oE '[0-9]+' || echo 0; }
passed=$(count passed)
skipped=$(count skipped)
failed=$(($(count failed) + $(count 'errors?')))
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    failed=1 # pytest failed before counting (exit 5 is "no tests ran": also a failure here)
fi
record e2e "$passed" "$failed" $((SECONDS - started)) "$skipped"

scripts/wine-prefix check --arch win64 || record pristine-check 0 1 0
scripts/wine-prefix check --arch win32 || record pristine-check 0 1 0

echo
echo "=== summary (total $((SECONDS - run_started)) s, $CORVANE_X86_32_MODE 32-bit x86 execution)"
printf '%s\n' "${summary[@]}"
skipped_note=
[ "$total_skipped" -eq 0 ] || skipped_note=", $total_skipped skipped"
echo "$total_passed passed, $total_failed failed$skipped_note ($CORVANE_X86_32_MODE 32-bit x86" \
    "execution)"
[ "$total_failed" -eq 0 ]
