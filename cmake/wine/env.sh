# Environment shared by every Wine command of one test prefix. Sourced with
# $root set to the folder this file was copied into (<build>/wine).
export WINEPREFIX="$root/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko prompts, no menu entries, and a crash ends the program
# at once instead of waiting in a debugger dialog.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# The server's socket lives under TMPDIR: every command of this prefix
# must see the same one.
export HOME="$root/home"
export TMPDIR="$root/tmp"
# Wine needs a real Japanese locale to turn code-page-932 names into UTF-8;
# it is generated into the build tree.
export LOCPATH="$root/locale"
# The display of the private Xvfb that setup.sh started, if any.
if [ -s "$root/display" ]; then
  DISPLAY=":$(cat "$root/display")"
  export DISPLAY
fi
