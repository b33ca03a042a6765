#!/usr/bin/env bash
# check-test-hooks.sh --absent|--present HOOKS_SOURCE FILE...
#
# The names of the test hooks (the CORVANE_TEST_... environment variables that
# HOOKS_SOURCE reads) must never be in a setup program we ship: a shipped
# program that obeyed one would fail or stop an installation on request.
# --absent fails (exit 1) when any FILE holds any of the names; the release
# build runs it on each setup program before it is packed. --present fails when
# a FILE holds none of them; the tests run it on a test build to show that the
# check would notice. Exit 2 on a usage error or an unreadable file.
set -uo pipefail

usage() {
    echo "usage: check-test-hooks.sh --absent|--present HOOKS_SOURCE FILE..." >&2
    exit 2
}

[ $# -ge 3 ] || usage
mode=$1
source=$2
shift 2
case $mode in --absent | --present) ;; *) usage ;; esac
[ -r "$source" ] || { echo "check-test-hooks.sh: cannot read $source" >&2; exit 2; }

mapfile -t names < <(grep -oh 'CORVANE_TEST_[A-Z0-9_]*' "$source" | sort -u)
if [ ${#names[@]} -eq 0 ]; then
    echo "check-test-hooks.sh: no hook names found in $source" >&2
    exit 2
fi

status=0
for file in "$@"; do
    [ -r "$file" ] || { echo "check-test-hooks.sh: cannot read $file" >&2; exit 2; }
    found=()
    for name in "${names[@]}"; do
        if grep -aqF -- "$name" "$file"; then
            found+=("$name")
        fi
    done
    if [ "$mode" = --absent ] && [ ${#found[@]} -gt 0 ]; then
        echo "check-test-hooks.sh: $file holds test hooks: ${found[*]}" >&2
        status=1
    elif [ "$mode" = --present ] && [ ${#found[@]} -eq 0 ]; then
        echo "check-test-hooks.sh: $file holds none of the test hooks ${names[*]}" >&2
        status=1
    fi
done
exit $status
