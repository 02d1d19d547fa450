#!/usr/bin/env bash
# Builds the 32-bit Windows program (preset "windows", build/windows), checks
# the executable, and runs the Windows tests under Wine and Xvfb: in that
# build when 32-bit Wine can start, else in the 64-bit build (preset
# "windows64") under 64-bit Wine. Every install, build step and Wine run is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# The ones of the named packages that are not installed, one a line.
missing_of() { local p; for p in "$@"; do installed "$p" || echo "$p"; done; }
apt_update() { timeout 600 "${sudo_cmd[@]}" apt-get update -qq || true; }  # a stale suite must not stop us

# The posix-thread cross compiler (the win32 variant has no std::thread and,
# installed beside it, would take over the plain names), GoogleTest's
# sources, and the tools of the checks.
tools=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest file python3 cmake ninja-build)
mapfile -t missing < <(missing_of "${tools[@]}")
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt_update
  timeout 900 "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# What either Wine needs beside its loader.
wine_common=(wine fonts-wine xvfb xauth)
wine_packages=(wine32:i386 "${wine_common[@]}")
wine_ready() {
  command -v wine >/dev/null 2>&1 && command -v Xvfb >/dev/null 2>&1 && command -v xvfb-run >/dev/null 2>&1 &&
    installed wine32:i386 && installed fonts-wine
}
install_wine() {
  timeout 60 "${sudo_cmd[@]}" dpkg --add-architecture i386 || return 1
  apt_update
  timeout 1200 "${sudo_cmd[@]}" apt-get install -y -qq "${wine_packages[@]}" && return 0
  # The security suite's i386 index has been out of sync with its packages;
  # then the i386 libraries cannot match the amd64 ones. Retry once with that
  # suite pinned out for this one command (matching versions come from the
  # main suites, downgrading where they must).
  echo "Retrying the Wine install with the security suite pinned out"
  local pref
  pref=$(mktemp)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: -1\n\nPackage: *\nPin: release l=Debian\nPin-Priority: 1001\n' >"$pref"
  local status=0
  timeout 1200 "${sudo_cmd[@]}" apt-get install -y -qq --allow-downgrades -o Dir::Etc::Preferences="$pref" \
    "${wine_packages[@]}" || status=$?
  rm -f "$pref"
  return $status
}

have_wine=yes
if ! wine_ready; then
  echo "Installing 32-bit Wine for the Windows tests"
  install_wine >/tmp/quorvel-wine-install.log 2>&1 || true
  wine_ready || have_wine=no
fi

timeout 600 cmake --preset windows
timeout 3000 cmake --build --preset windows --parallel 2

# Installed is not enough: a kernel without 32-bit program support (or a
# sandbox that refuses them) cannot start Wine's 32-bit loader.
wine_why="32-bit Wine could not be installed (the i386 packages are unavailable; see /tmp/quorvel-wine-install.log)"
if [[ $have_wine == yes ]] && ! timeout 60 wine --version >/dev/null 2>&1; then
  have_wine=no
  wine_why="this machine cannot run 32-bit programs (Wine's 32-bit loader does not start)"
fi

preset=windows
if [[ $have_wine == no ]]; then
  # The shipped executable is checked here, not through ctest: ctest asks
  # every test program of the 32-bit build for its tests first.
  timeout 300 bash tests/shell_windows/check_executable.sh build/windows/shell/windows/quorvel.exe \
    i686-w64-mingw32-objdump
  # The same sources built 64-bit run under 64-bit Wine, which needs no
  # 32-bit program support: every Windows test but the shipped executable's.
  mapfile -t missing < <(missing_of g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 "${wine_common[@]}")
  if ((${#missing[@]})); then
    apt_update
    timeout 1200 "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
      >>/tmp/quorvel-wine-install.log 2>&1 || true
  fi
  if ! timeout 60 "$(command -v wine64 || echo /usr/lib/wine/wine64)" --version >/dev/null 2>&1; then
    echo "Windows tests: $wine_why, nor can 64-bit Wine start, so only the executable is built and checked."
    exit 0
  fi
  echo "Windows tests: $wine_why; they run in the 64-bit build under 64-bit Wine."
  preset=windows64
  timeout 600 cmake --preset windows64
  timeout 3000 cmake --build --preset windows64 --parallel 2
fi

# A fresh prefix for this run, and no Wine process left behind.
work=$(mktemp -d /tmp/quorvel-windows-tests.XXXXXX)
export QUORVEL_WINE_PREFIX=$work/prefix
cleanup() {
  WINEPREFIX=$QUORVEL_WINE_PREFIX timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# Test programs that are not built for Windows (see tests/windows.cmake) are
# left out of the run.
timeout 3600 xvfb-run -a -s '-screen 0 1600x1000x24' ctest --preset "$preset" -j2 --timeout 400 -E '_NOT_BUILT$'
