#!/bin/sh
# Runs one Windows program under the test prefix (the ctest emulator).
root=$(dirname "$(readlink -f "$0")")
. "$root/env.sh"
export LC_ALL=ja_JP.UTF-8
exec wine "$@"
