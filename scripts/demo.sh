#!/usr/bin/env bash
# The whole job in one command, on a fresh Debian 12 machine: installs what
# is missing, builds update.exe and the update-list tool, lays out a sample
# installed game in a private Wine prefix, makes a patch for it with the
# tool and runs update.exe on it.
#
# With a display, update.exe opens there for you to click. Without one (or
# with --headless) it runs on a private Xvfb, OK is pressed for you, every
# dialog is saved as a screenshot and the result message is closed. Either
# way the demo ends by printing the game's Uninstallinf.dat before and
# after, and where the screenshots are.
#
# Usage: bash scripts/demo.sh [--headless] [OUTPUT_FOLDER]  (default build/demo)
set -eo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

headless=0
out=build/demo
for arg in "$@"; do
  case $arg in
    --headless) headless=1 ;;
    -h|--help) sed -n '2,14s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "demo: unknown option $arg" >&2; exit 2 ;;
    *) out=$arg ;;
  esac
done

step() { printf '\n=== %s\n' "$*"; }

step "Installing what is missing"
sh scripts/install-deps.sh
# xdpyinfo came with the packages above.
if [ $headless -eq 0 ] && { [ -z "$DISPLAY" ] || ! xdpyinfo >/dev/null 2>&1; }; then
  headless=1
fi

step "Building update.exe (windows preset) and updatelist (native preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows --target update uidriver
cmake --preset native >/dev/null
cmake --build --preset native --target updatelist
update_exe=$repo/build/windows/app/update.exe
driver_exe=$repo/build/windows/tests/app/uidriver.exe
updatelist=$repo/build/native/tools/updatelist

mkdir -p "$out"
out=$(cd "$out" && pwd)
root=$out/wine
mkdir -p "$root"
# The test prefix's environment and wrapper, pointed at a prefix of our own.
for f in env.sh run.sh settings.reg; do cp "$repo/cmake/wine/$f" "$root/$f"; done
rm -f "$root/display"
prefix=$root/prefix
mkdir -p "$prefix" "$root/home" "$root/tmp" "$root/locale"
log=$out/wine.log
: >"$log"
# Every Wine command with the prefix's environment (env.sh), which also
# points it at the private display once $root/display names one.
wine_cmd() { (. "$root/env.sh" && LC_ALL=ja_JP.UTF-8 "$@") </dev/null >>"$log" 2>&1; }

xvfb_pid=""
cleanup() {
  wine_cmd wineserver -k || true
  wine_cmd wineserver -w || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

step "Preparing the Wine prefix $prefix"
if [ ! -d "$root/locale/ja_JP.UTF-8" ]; then
  # Wine needs a real Japanese locale to turn code-page-932 names into
  # UTF-8. localedef warns about the charmap and exits 1 while still
  # writing it.
  localedef -i ja_JP -f UTF-8 "$root/locale/ja_JP.UTF-8" >>"$log" 2>&1 || true
fi
# A server left by an interrupted run would make "wineserver -p" fail.
wine_cmd wineserver -k || true
wine_cmd wineserver -w || true
if [ $headless -eq 1 ]; then
  # Xvfb picks a free display and writes its number once it accepts
  # connections; env.sh then points every Wine command at it.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$root/display" </dev/null >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do [ -s "$root/display" ] && break; sleep 0.05; done
  [ -s "$root/display" ] || { echo "demo: Xvfb did not start (see $out/xvfb.log)" >&2; exit 1; }
  DISPLAY=":$(cat "$root/display")"
  export DISPLAY
fi
wine_cmd wineserver -p
if [ ! -f "$prefix/.ready" ]; then
  wine_cmd wineboot -i
  { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$root/settings.reg"; } >"$root/settings-utf16.reg"
  wine_cmd wine regedit /S "$root/settings-utf16.reg"
  # Without a restart after the first boot every window start stalls.
  wine_cmd wineserver -k || true
  wine_cmd wineserver -w || true
  wine_cmd wineserver -p
  touch "$prefix/.ready"
fi
# Debian's Wine cannot find its own Marlett (package fonts-wine), which
# draws the caption buttons: without it they show the letter "r". A prefix
# made before the font was there gets it now.
fonts=$prefix/drive_c/windows/Fonts
[ -f "$fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
# Without a window manager Wine draws the frames itself; on your display
# the window manager does.
managed=Y
[ $headless -eq 1 ] && managed=N
wine_cmd wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d $managed /f

step "Laying out the installed game: C:\\Games\\Velmora\\"
game=$prefix/drive_c/Games/Velmora
rm -rf "$game"
mkdir -p "$game/save" "$game/movie"
printf 'MZ sample game\n' >"$game/Velmora.exe"
printf 'Velmora 1.00\r\n' >"$game/readme.txt"
head -c 3000000 /dev/urandom >"$game/movie/opening.mpg"
# The uninstall list the game's installer wrote: the game's files and folders.
python3 - "$game/Uninstallinf.dat" <<'EOF'
import struct, sys
entries = [("Velmora.exe", 15), ("readme.txt", 14), ("save\\", 0), ("movie\\", 0), ("movie\\opening.mpg", 3000000)]
records = b"".join(p.encode("cp932").ljust(260, b"\0") + struct.pack("<II", n, 0) for p, n in entries)
files = [n for p, n in entries if not p.endswith("\\")]
with open(sys.argv[1], "wb") as fp:
    fp.write(bytes(128) + struct.pack("<III", len(entries), len(files), sum(files)) + bytes(4928) + records)
EOF
cp "$game/Uninstallinf.dat" "$out/Uninstallinf-before.dat"
wine_cmd wine reg add 'HKCU\Software\DemoSoft\Velmora' /v InstallDir /d 'C:\Games\Velmora\' /f

step "Making the patch with updatelist"
patch=$out/patch
rm -rf "$patch"
mkdir -p "$patch/data/movie" "$patch/data/追加データ/表紙"
# Large enough for the progress bar to move; it replaces an installed file.
head -c 150000000 /dev/zero >"$patch/data/movie/opening.mpg"
printf 'Velmora 1.01\r\nThe opening movie is new.\r\n' >"$patch/data/readme.txt"
printf 'stage=7\r\n' >"$patch/data/追加データ/stage7.dat"
head -c 40000 /dev/urandom >"$patch/data/追加データ/表紙/cover.bmp"
cp "$update_exe" "$patch/update.exe"
"$updatelist" make "$patch/data" "ヴェルモラ" 'Software\DemoSoft\Velmora' InstallDir
echo
"$updatelist" show "$patch/Updateinf.dat"

step "What update.exe will do (updatelist check)"
"$updatelist" check "$patch" "$game"

shots=$out/screenshots
rm -rf "$shots"
mkdir -p "$shots"

# The end-to-end tests' driver, in the same prefix: it starts update.exe,
# finds its windows, presses buttons and holds the progress dialog still
# for a screenshot. One command per line, answers "ok<TAB>fields".
coproc DRIVER { "$root/run.sh" "$driver_exe" 2>>"$log"; }
reply=()
drive() {
  local IFS=$'\t' line
  printf '%s\n' "$*" >&"${DRIVER[1]}"
  IFS= read -r line <&"${DRIVER[0]}" || { echo "demo: the driver ended" >&2; return 1; }
  line=${line%$'\r'}
  IFS=$'\t' read -r -a reply <<<"$line"
  [ "${reply[0]}" = ok ] || { [ -n "$quiet" ] || echo "demo: driver: $* -> $line" >&2; return 1; }
}
quiet=""
# A window's own rectangle (WxH+X+Y, from "find") out of the whole screen.
shot() {
  import -display "$DISPLAY" -window root -crop "$2" +repage "$shots/$1.png"
  echo "  screenshot: $shots/$1.png"
}
win_game='C:\Games\Velmora'
win_patch="Z:$(printf '%s' "$patch" | tr / '\\')"

if [ $headless -eq 1 ]; then
  step "Running update.exe on a private X display (headless)"
  drive start "$win_patch\\update.exe" "$win_patch"
  drive find confirm 30000
  shot 1-confirm "${reply[4]}"
  # Wine draws this frame itself: its close button must show the cross.
  python3 scripts/check-close-button.py "$shots/1-confirm.png"
  echo "  \"${reply[2]}\": pressing OK"
  drive click "${reply[1]}" 1
  drive find progress 30000
  progress=${reply[1]} rect=${reply[4]}
  # Held still at 30 % of the movie, so the picture shows the bar moving.
  drive catch "$progress" 1002 'movie\opening.mpgをコピー中...' 30 60000
  shot 2-progress "$rect"
  drive resume
  drive find msgbox 120000
  shot 3-result "${reply[4]}"
  echo "  \"${reply[3]}\": pressing OK"
  drive click "${reply[1]}" 1
  drive gone "${reply[1]}" 30000
  drive exit 60000
else
  step "update.exe is open on your display ($DISPLAY): press OK, then close the message"
  drive start "$win_patch\\update.exe" "$win_patch"
  # Watch while you click; every dialog that appears is photographed.
  quiet=1
  seen=" "
  until drive exit 200; do
    for kind in confirm progress msgbox; do
      case $seen in *" $kind "*) continue ;; esac
      if drive find $kind 100; then
        name=$kind
        [ $kind = msgbox ] && name=result
        shot "$(( $(wc -w <<<"$seen") + 1 ))-$name" "${reply[4]}"
        seen="$seen$kind "
      fi
    done
  done
  quiet=""
fi
echo "update.exe ended with exit code ${reply[1]} (always 0)"
printf 'quit\n' >&"${DRIVER[1]}"
wait "$DRIVER_PID" || true

step "Uninstallinf.dat before the update"
"$updatelist" show "$out/Uninstallinf-before.dat"
step "Uninstallinf.dat after the update"
"$updatelist" show "$game/Uninstallinf.dat"
echo
echo "The game:        $game"
echo "The patch:       $patch"
echo "Screenshots:     $shots"
ls "$shots"
