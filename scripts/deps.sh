#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those missing, so that a
# second run does nothing. Usage: deps.sh build|test|demo|bench
set -euo pipefail

build=(cmake ninja-build g++ pkg-config)
test=(libgtest-dev libgmock-dev nginx-light curl python3 procps clang libclang-rt-14-dev)
# WebKit's web process sandbox runs in bubblewrap, its D-Bus through xdg-dbus-proxy.
shell=(libgtk-3-dev libwebkit2gtk-4.1-dev bubblewrap xdg-dbus-proxy)
display=(xvfb xauth xdotool x11-utils imagemagick dbus dbus-x11)
# The .deb and Debian's checks of it: dpkg-shlibdeps, lintian, appstreamcli, man.
package=(dpkg-dev lintian appstream man-db)
# The Wayland end-to-end test's compositor.
wayland=(weston)
# The end-to-end tests of second windows and dialogs run under a window manager.
window_manager=(openbox)
# The desktop's services as the shell meets them: a dictionary for spell
# checking; the stand-in notification server and settings portal (the system
# Python's dbus and gi); the accessibility bus and a screen reader's library.
desktop=(hunspell-en-us python3-dbus python3-gi at-spi2-core gir1.2-atspi-2.0)

case "${1:-build}" in
  build) wanted=("${build[@]}") ;;
  test)  wanted=("${build[@]}" "${test[@]}" "${shell[@]}" "${display[@]}" "${package[@]}" "${wayland[@]}"
                 "${window_manager[@]}" "${desktop[@]}") ;;
  demo)  wanted=("${build[@]}" "${shell[@]}" "${display[@]}" python3) ;;
  bench) wanted=("${build[@]}" "${test[@]}" "${shell[@]}" "${display[@]}" surf) ;;
  *) echo "deps.sh: unknown set '$1' (build, test, demo or bench)" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  # A mirror in the middle of a sync fails one index; the others still serve.
  "${sudo_cmd[@]}" apt-get update -qq || echo "deps.sh: apt-get update reported errors; installing from the lists it has" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
