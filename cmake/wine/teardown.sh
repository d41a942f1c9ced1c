#!/bin/sh
# Stops the test prefix's wineserver and waits until it has gone.
root=$(dirname "$(readlink -f "$0")")
. "$root/env.sh"
LC_ALL=ja_JP.UTF-8 wineserver -k </dev/null >/dev/null 2>&1
LC_ALL=ja_JP.UTF-8 wineserver -w </dev/null >/dev/null 2>&1
# Then the private X server, by the pid setup.sh recorded.
if [ -f "$root/xvfb.pid" ]; then
  kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true
  rm -f "$root/xvfb.pid" "$root/display"
fi
exit 0
