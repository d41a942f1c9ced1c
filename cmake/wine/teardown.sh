#!/bin/sh
# Stops the test prefix's wineserver and waits until it has gone.
root=$(dirname "$(readlink -f "$0")")
. "$root/env.sh"
LC_ALL=ja_JP.UTF-8 wineserver -k </dev/null >/dev/null 2>&1
LC_ALL=ja_JP.UTF-8 wineserver -w </dev/null >/dev/null 2>&1
exit 0
