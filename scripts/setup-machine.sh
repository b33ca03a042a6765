#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: when every package is already there it returns in about a second.
#
# Where the kernel cannot run 32-bit x86 programs (booted with 32-bit emulation off), it also
# installs a user-mode emulator and registers it for them; it ends with one line naming the
# mode. CORVANE_X86_32=emulated registers the emulator even where the kernel could run them
# (to try that mode on any machine); CORVANE_X86_32=native takes the registration away again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb xauth imagemagick xdotool
  osslsigncode openssl libssl-dev
  python3 python3-pytest python3-pytest-xdist zlib1g-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables; the F flag opens the interpreter once, at registration, so it is found
# also inside other roots (a CI job in a fresh Debian root).
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup-machine: $1; run this script as root" >&2
    exit 1
  fi
}

# The emulator's version decides everything: Debian 12's own qemu-user 7.2 needs about 50 s of
# CPU to start one 32-bit Wine process, version 10 about 0.4 s.
emulator_version() { # major version of $1, or 0
  "$1" --version 2>/dev/null | sed -nE '1s/.*version ([0-9]+)\..*/\1/p' | grep . || echo 0
}

registered_interpreter() {
  sed -n 's/^interpreter //p' "$binfmt/qemu-i386" 2>/dev/null
}

install_emulator() {
  local qemu=/usr/bin/qemu-i386
  [ "$(emulator_version "$qemu")" -ge 10 ] && return 0
  need_root "32-bit x86 programs need an emulator here"
  # Version 10 comes from Debian 12's backports suite, from the mirror this machine already
  # uses. Backports packages are pinned below the release, so nothing else changes.
  local codename uri
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # The configured sources are listed only once their indexes have been fetched.
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  if ! apt-get indextargets --format '$(RELEASE)' | grep -qx "$codename-backports"; then
    uri=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' |
      awk -v release="$codename" '$2 == release { print $1; exit }')
    [ -n "$uri" ] || { echo "setup-machine: no apt source for $codename to take backports from" >&2; exit 1; }
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
      "$uri" "$codename" /usr/share/keyrings/debian-archive-keyring.gpg \
      >/etc/apt/sources.list.d/corvane-backports.sources
  fi
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -t "$codename-backports" qemu-user >/dev/null
  [ "$(emulator_version "$qemu")" -ge 10 ] ||
    { echo "setup-machine: $qemu is not version 10 or later after installing it" >&2; exit 1; }
}

register_emulator() {
  local qemu=/usr/bin/qemu-i386
  [ "$(registered_interpreter)" = "$qemu" ] && grep -qx enabled "$binfmt/qemu-i386" && return 0
  need_root "32-bit x86 programs need an emulator registered with binfmt_misc"
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  # Another emulator (Debian's qemu-user-binfmt with version 7) would be the slow one.
  [ ! -e "$binfmt/qemu-i386" ] || echo -1 >"$binfmt/qemu-i386"
  printf '%s' ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:F" >"$binfmt/register"
}

unregister_emulator() {
  [ -e "$binfmt/qemu-i386" ] || return 0
  need_root "taking the emulator's registration away"
  echo -1 >"$binfmt/qemu-i386"
}

ensure_x86_32_execution() {
  local kernel wanted=${CORVANE_X86_32:-}
  kernel=$("$here/x86-32-mode" --kernel) || exit 1
  case $wanted in
  '' | auto) [ "$kernel" = native ] || wanted=emulated ;;
  native)
    [ "$kernel" = native ] ||
      { echo "setup-machine: this kernel cannot run 32-bit x86 programs itself" >&2; exit 1; }
    unregister_emulator
    ;;
  emulated) ;;
  *) echo "setup-machine: CORVANE_X86_32 is native, emulated or auto, not $wanted" >&2; exit 1 ;;
  esac
  if [ "$wanted" = emulated ]; then
    install_emulator
    register_emulator
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
      { echo "setup-machine: the emulator is registered, but Wine's 32-bit loader does not start" >&2; exit 1; }
  fi
  local mode
  mode=$("$here/x86-32-mode")
  case $mode in
  native) echo "setup-machine: 32-bit x86 programs run natively" ;;
  emulated)
    echo "setup-machine: 32-bit x86 programs run emulated ($(/usr/bin/qemu-i386 --version | head -1 |
      sed -E 's/ \(.*//'); the kernel $([ "$kernel" = native ] && echo "could run them itself" ||
      echo "cannot run them"))"
    ;;
  *) echo "setup-machine: 32-bit x86 programs cannot run here" >&2; exit 1 ;;
  esac
}

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup-machine: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "setup-machine: installed ${missing[*]}"
fi

# Wine's 32-bit half, and so every setup program, needs 32-bit x86 execution.
ensure_x86_32_execution
