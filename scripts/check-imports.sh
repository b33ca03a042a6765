#!/usr/bin/env bash
# check-imports.sh [--known-dlls] EXE...: fails when a Windows program imports a DLL that is not
# part of Windows itself. Setup programs start on a bare system from a download
# folder, so a MinGW runtime DLL (libgcc_s_dw2-1.dll, libstdc++-6.dll,
# libwinpthread-1.dll) or zlib1.dll in the import table means the program does
# not start at all; and a DLL found beside the program could be planted there.
# Exit 0 when every program passes, 1 when
# one imports something else, 2 on a usage error or an unreadable file.
set -uo pipefail

# System DLLs a setup program may import, lower case.
allowed=(
    kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
    oleaut32.dll comctl32.dll comdlg32.dll setupapi.dll msimg32.dll msvcrt.dll version.dll
    ws2_32.dll wininet.dll winmm.dll crypt32.dll wintrust.dll newdev.dll cfgmgr32.dll
    netapi32.dll userenv.dll psapi.dll riched20.dll rpcrt4.dll secur32.dll imagehlp.dll
    ntdll.dll mpr.dll uxtheme.dll
)

# With --known-dlls only the DLLs Windows always maps from the system folder
# (its KnownDLLs list) may be imported: an import is resolved before the
# program's first instruction, so for any other DLL a copy planted beside an
# elevated setup program would be loaded instead. Such DLLs must be loaded at
# run time from the system folder.
if [ "${1:-}" = "--known-dlls" ]; then
    shift
    allowed=(
        kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
        oleaut32.dll comdlg32.dll setupapi.dll msvcrt.dll ws2_32.dll rpcrt4.dll imagehlp.dll
        psapi.dll ntdll.dll
    )
fi

if [ $# -eq 0 ]; then
    echo "usage: check-imports.sh [--known-dlls] EXE..." >&2
    exit 2
fi

objdump=
for candidate in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
    if command -v "$candidate" >/dev/null 2>&1; then
        objdump=$candidate
        break
    fi
done
if [ -z "$objdump" ]; then
    echo "check-imports: no objdump found (install binutils-mingw-w64-i686)" >&2
    exit 2
fi

status=0
for program in "$@"; do
    if ! dump=$("$objdump" -p "$program" 2>&1); then
        echo "check-imports: cannot read $program: $dump" >&2
        status=2
        continue
    fi
    # "DLL Name: KERNEL32.dll" for the import table and for delay-load entries.
    mapfile -t dlls < <(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr -d '\r' | sort -fu)
    if [ ${#dlls[@]} -eq 0 ]; then
        echo "check-imports: $program: no import table found" >&2
        status=2
        continue
    fi
    foreign=()
    for dll in "${dlls[@]}"; do
        lower=${dll,,}
        ok=no
        for name in "${allowed[@]}"; do
            if [ "$lower" = "$name" ]; then
                ok=yes
                break
            fi
        done
        # The API sets (api-ms-win-*) resolve inside Windows itself.
        case $lower in api-ms-win-*.dll) ok=yes ;; esac
        [ $ok = yes ] || foreign+=("$dll")
    done
    if [ ${#foreign[@]} -gt 0 ]; then
        echo "check-imports: $program imports non-system DLLs: ${foreign[*]}" >&2
        [ $status -eq 0 ] && status=1
    else
        echo "check-imports: $program imports system DLLs only: ${dlls[*]}"
    fi
done
exit $status
