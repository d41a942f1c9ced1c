#!/bin/sh
# Prepares the private Wine prefix of a test run and leaves one persistent
# wineserver running for it; teardown.sh stops it. A prefix prepared by an
# earlier run is reused.
set -e
root=$(dirname "$(readlink -f "$0")")
. "$root/env.sh"
log="$root/setup.log"
mkdir -p "$WINEPREFIX" "$HOME" "$TMPDIR" "$LOCPATH"

# The Japanese system, and the Western and Simplified Chinese ones that
# the tests also run as (code pages 932, 1252 and 936).
for locale in ja_JP en_US zh_CN; do
  if [ ! -d "$LOCPATH/$locale.UTF-8" ]; then
    # localedef warns about the charmap and exits 1 while still writing it.
    localedef -i $locale -f UTF-8 "$LOCPATH/$locale.UTF-8" >>"$log" 2>&1 || true
    [ -d "$LOCPATH/$locale.UTF-8" ] || { echo "cannot generate $locale.UTF-8 locale" >&2; exit 1; }
  fi
done

# A private X server for the tests that show windows, started before any
# Wine process so that Wine's desktop process connects to it. Xvfb picks a
# free display itself and writes its number once it accepts connections.
if command -v Xvfb >/dev/null 2>&1; then
  if [ -f "$root/xvfb.pid" ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null && [ -s "$root/display" ]; then
    : # still running from an earlier setup
  else
    rm -f "$root/display" "$root/xvfb.pid"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$root/display" </dev/null >"$root/xvfb.log" 2>&1 &
    echo $! >"$root/xvfb.pid"
    tries=0
    until [ -s "$root/display" ]; do
      tries=$((tries + 1))
      if [ $tries -gt 200 ] || ! kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null; then
        echo "Xvfb did not start (see $root/xvfb.log)" >&2
        exit 1
      fi
      sleep 0.05
    done
  fi
  DISPLAY=":$(cat "$root/display")"
  export DISPLAY
fi

wine_cmd() {
  LC_ALL=ja_JP.UTF-8 "$@" </dev/null >>"$log" 2>&1 && return 0
  rc=$?
  echo "setup: '$*' failed with $rc (see $log)" >&2
  return $rc
}

# A daemon left holding our stdout would keep ctest waiting for ever. A
# server still running from an interrupted run makes -p exit 2; it is
# then the one this run uses.
LC_ALL=ja_JP.UTF-8 wineserver -p </dev/null >>"$log" 2>&1 || [ $? -eq 2 ] || { echo "setup: cannot start wineserver (see $log)" >&2; exit 1; }

# Debian's Wine cannot find its own Marlett (package fonts-wine), which
# draws the caption buttons: without it they show the letter "r". A prefix
# made before the font was there gets it now.
install_marlett() {
  fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ -f "$fonts/marlett.ttf" ] && return 0
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/" || {
    echo "setup: cannot copy Wine's Marlett font (install fonts-wine: sh scripts/install-deps.sh)" >&2
    exit 1
  }
}

if [ ! -f "$WINEPREFIX/.ready" ]; then
  wine_cmd wineboot -i
  { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$root/settings.reg"; } >"$root/settings-utf16.reg"
  wine_cmd wine regedit /S "$root/settings-utf16.reg"
  install_marlett
  # Without a restart after the first boot every later window start
  # stalls for seconds.
  wine_cmd wineserver -k || true
  wine_cmd wineserver -w || true
  wine_cmd wineserver -p
  # Start Wine's services now, so they are not started (and left holding a
  # test's output) by the first test.
  wine_cmd wine cmd /c exit 0
  touch "$WINEPREFIX/.ready"
else
  install_marlett
  wine_cmd wine cmd /c exit 0
fi
