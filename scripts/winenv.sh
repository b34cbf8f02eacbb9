# Sourced, not run: sets up the Wine environment of one build tree.
#   source scripts/winenv.sh [BUILD_DIR]
# One prefix per build tree (BUILD_DIR/wine), no Wine debug output, a fixed locale
# (code page 1252, decimal point), and an X display: Xvfb is started when none is set.
_vk_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VK_BUILD=$(cd "${1:-${VK_BUILD:-$_vk_root/build/win64}}" && pwd)
export VK_BUILD
export WINEPREFIX="$VK_BUILD/wine"
export WINEDEBUG=-all
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export WINEARCH=win64
VK_WINE=/usr/lib/wine/wine64
[ -x "$VK_WINE" ] || VK_WINE=$(command -v wine64 || command -v wine)
export VK_WINE

if [ -z "${DISPLAY:-}" ]; then
  _vk_disp=$(( $(printf '%s' "$VK_BUILD" | cksum | cut -d' ' -f1) % 400 + 100 ))
  if ! { [ -e "/tmp/.X${_vk_disp}-lock" ] && kill -0 "$(tr -d ' ' < "/tmp/.X${_vk_disp}-lock")" 2>/dev/null; }; then
    rm -f "/tmp/.X${_vk_disp}-lock" "/tmp/.X11-unix/X${_vk_disp}"
    setsid Xvfb ":${_vk_disp}" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${_vk_disp}" ] && break; sleep 0.1; done
  fi
  export DISPLAY=":${_vk_disp}"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$VK_WINE" wineboot --init </dev/null >/dev/null 2>&1
  wineserver -w
  # Let Wine draw window captions itself, so screenshots show them without a window manager.
  "$VK_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  wineserver -w
fi

# Wine's own fonts (Marlett draws the caption buttons; Debian's package fonts-wine)
# are not looked for where Debian puts them: the prefix gets a copy of them.
if [ -d /usr/share/wine/fonts ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi
