#!/usr/bin/env bash
# Runs one Windows program under Wine, bounded in time, in a prefix of its own
# that shows no crash dialog. Used as the cross build's emulator:
#   wine-run.sh win32|win64 PROGRAM [ARGS...]
#   QUORVEL_WINE_PREFIX   the prefix (default: wine-prefix beside this build's tests)
#   QUORVEL_WINE_TIMEOUT  seconds before the program is killed (default 300)
set -uo pipefail

export WINEARCH=$1
shift
# Debian keeps the 64-bit loader off PATH; the plain wrapper prefers the
# 32-bit one whenever it is installed, even where it cannot start.
wine=wine
if [[ $WINEARCH == win64 ]]; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINELOADER=$wine
fi
if ! command -v "$wine" >/dev/null 2>&1; then
  echo "wine-run.sh: Wine ($WINEARCH) is not installed; cannot run $1" >&2
  exit 127
fi

export WINEPREFIX="${QUORVEL_WINE_PREFIX:-${WINEPREFIX:-$PWD/wine-prefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
limit="${QUORVEL_WINE_TIMEOUT:-300}"

mkdir -p "$(dirname "$WINEPREFIX")"
(
  # Two test programs may start at once: one of them makes the prefix.
  flock 9
  if [[ ! -f "$WINEPREFIX/.quorvel-ready" ]]; then
    # No Mono or Gecko installer prompts while the prefix is made.
    WINEDLLOVERRIDES="mscoree,mshtml=" timeout 120 "$wine" wineboot -i >/dev/null 2>&1
    timeout 60 "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    timeout 60 wineserver -w
    # Windows ships Tahoma; Debian's Wine substitutes another face unless its
    # own Tahoma is in the prefix.
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    touch "$WINEPREFIX/.quorvel-ready"
  fi
) 9>"$WINEPREFIX.lock"

exec timeout -k 10 "$limit" "$wine" "$@"
