#!/usr/bin/env bash
# Checks the Windows package that windows-package.sh made, under Wine on a virtual X display,
# in a fresh Wine prefix: the device layer's tests, a silent install, the installed program's
# window, the About boxes, and the exact frames that the four command buttons put on COM1,
# which is mapped to a pseudo-terminal standing in for the device. Prints each check; exits
# non-zero at the first failure. Called by windows.sh with the Qt prefix as argument.
set -euo pipefail
# Characters, not bytes, for bash and xdotool: the user code typed is Chinese.
export LC_ALL=C.UTF-8

qt=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-windows"
out="$root/dist/windows"
version=$(sed -n 's/^project(qelnor-setup VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="qelnor-setup-$version-win64"
title="QELNOR彩屏设置软件 QELNOR Colour Screen Setup"

work=$(mktemp -d "${TMPDIR:-/tmp}/qelnor-wine.XXXXXX")
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko download prompts, and no menu entries written into the Linux desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "  FAIL at line $LINENO of $0: $BASH_COMMAND" >&2' ERR

passed=0
ok() {
  passed=$((passed + 1))
  echo "  ok   $*"
}
fail() {
  echo "  FAIL $*" >&2
  exit 1
}
# Waits up to $1 seconds for the command in the rest of the arguments to succeed.
wait_for() {
  local seconds=$1
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

echo "Checking the Windows package under Wine ($(wine --version)):"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started+=($!)
wait_for 30 test -s "$work/display" || fail "the virtual display did not start"
DISPLAY=":$(cat "$work/display")"
export DISPLAY
wine wineboot --init >"$work/wineboot.log" 2>&1
wineserver -w

# The device layer's tests, run against the Qt that was built (Qt6Test is not shipped).
test_path="$(winepath -w "$qt/bin");$(winepath -w "$(dirname "$(x86_64-w64-mingw32-g++-posix \
  -print-file-name=libstdc++-6.dll)")");$(winepath -w "$(dirname "$(x86_64-w64-mingw32-g++-posix \
  -print-file-name=libwinpthread-1.dll)")")"
for t in tst_frames tst_address tst_replytext; do
  # Qt Test's own output file: its console output does not reach a pipe under Wine.
  if WINEPATH="$test_path" wine "$build/$t.exe" -o "$(winepath -w "$work/$t.log"),txt" \
    >/dev/null 2>&1; then
    ok "$t under Wine: $(grep -a '^Totals:' "$work/$t.log" | tr -d '\r')"
  else
    cat "$work/$t.log" >&2
    fail "$t under Wine"
  fi
done

# Silent install into Program Files, with its Start-menu entry and uninstaller.
wine "$out/$name-setup.exe" /S >"$work/install.log" 2>&1 || fail "the silent install (/S)"
wineserver -w
installed="$WINEPREFIX/drive_c/Program Files/QELNOR/qelnor-setup"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/QELNOR"
[ -f "$installed/qelnor-setup.exe" ] || fail "installed program in C:\\Program Files\\QELNOR"
[ -f "$menu/$title.lnk" ] || fail "Start-menu entry \"$title\""
[ -f "$installed/uninstall.exe" ] || fail "uninstaller"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qelnor-setup' \
  /v UninstallString >/dev/null 2>&1 || fail "uninstaller registered with Windows"
diff <(unzip -Z1 "$out/$name.zip" | grep -v '/$' | sed "s|^$name/||" | sort) \
  <(cd "$installed" && find . -type f ! -name uninstall.exe | sed 's|^\./||' | sort) >&2 ||
  fail "the installed files are those of the zip"
for f in LGPL-3.0-only.txt GPL-3.0-only.txt README-Qt.txt; do
  [ -f "$installed/licenses/$f" ] || fail "licenses/$f installed"
done
[ -f "$installed/LICENSE.txt" ] || fail "the program's licence, LICENSE.txt, installed"
ok "silent install: program in C:\\Program Files\\QELNOR\\qelnor-setup, Start-menu entry" \
  "\"$title\", uninstaller registered, same files as the zip, licence texts"

# The command-line program starts from the installed folder with the DLLs deployed there.
cli_version=$(cd "$installed" && wine ./qelnor-cli.exe --version 2>/dev/null | tr -d '\r')
[ "$cli_version" = "qelnor-cli $version" ] || fail "qelnor-cli --version said \"$cli_version\""
ok "installed qelnor-cli.exe runs: \"$cli_version\""

# COM1 is a pseudo-terminal whose other side stands in for the device.
python3 "$root/scripts/pty-capture.py" "$work/wire" >"$work/pty" &
started+=($!)
touch "$work/wire"
wait_for 10 test -s "$work/pty" || fail "the pseudo-terminal for COM1"
pty=$(head -n1 "$work/pty")
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
wineserver -w

(cd "$installed" && exec wine ./qelnor-setup.exe >"$work/program.log" 2>&1) &
program=$!
started+=("$program")
disown "$program" # ended by wineserver -k below, which is no failure to report
windows() { xdotool search --onlyvisible --name 'QELNOR' 2>/dev/null; }
count_is() { [ "$(windows | wc -l)" -eq "$1" ]; }
gone() { ! windows | grep -qx "$1"; }
wait_for 60 windows || fail "the installed program shows its window"
window=$(windows | head -n1)
sleep 2
xwd -silent -id "$window" | xwdtopnm 2>/dev/null | pnmtopng >"$out/window-wine.png"
ok "the installed program shows its window ($(xdotool getwindowgeometry "$window" |
  sed -n 's/.*Geometry: //p') pixels; screenshot dist/windows/window-wine.png)"

# Clicks the middle of a control, at its place in the form (window/form1.ui).
click() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 0.5
}

# About: two message boxes, one after the other, each closed with Enter.
click $((16 + 56)) $((120 + 20))
for box in 1 2; do
  wait_for 10 count_is 2 || fail "About's box $box"
  boxid=$(windows | grep -vx "$window")
  xwd -silent -id "$boxid" | xwdtopnm 2>/dev/null | pnmtopng >"$out/about-$box-wine.png"
  xdotool windowfocus "$boxid" key Return
  wait_for 10 gone "$boxid" || fail "closing About's box $box"
done
ok "About shows two message boxes in turn (dist/windows/about-1-wine.png, about-2-wine.png)"

# The bytes that reached the device after the first $seen, in hex.
seen=0
wire() {
  local size
  size=$(stat -c %s "$work/wire")
  od -An -v -tx1 -j "$seen" -N $((size - seen)) "$work/wire" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//'
}
wire_is() { [ "$(wire)" = "$1" ]; }
# Presses the button at $1 $2 and expects exactly the frame $3 (hex) to reach the device.
expect_frame() {
  click "$1" "$2"
  wait_for 5 wire_is "$3" || true
  local got
  got=$(wire)
  seen=$(stat -c %s "$work/wire")
  [ "$got" = "$3" ] || fail "$4: expected $3, the device got '$got'"
  ok "$4: $3"
}
# Replaces the text of an entry box by pasting: Wine reads the characters that xdotool types
# outside the keyboard map as the first of them again and again.
enter() {
  printf '%s' "$3" | xclip -selection clipboard 2>/dev/null
  click "$1" "$2"
  xdotool key ctrl+a ctrl+v
  sleep 0.5
}

click $((368 + 32)) $((32 + 16)) # 打开串口: COM1, 2400, None as the window starts
sleep 1
count_is 1 || fail "opening COM1 (a message box came up)"
ok "COM1 opened at the window's start-up settings"
enter $((104 + 28)) $((8 + 20)) 42
expect_frame $((168 + 32)) $((8 + 20)) "49 44 34 32 0d" "address 42"
user_code=中文
enter $((88 + 132)) $((80 + 11)) "$user_code"
expect_frame $((368 + 32)) $((72 + 20)) "2a 40 2d d6 d0 ce c4 0d" "GBK user code $user_code"
expect_frame $((160 + 60)) $((120 + 20)) \
  "40 50 6f 77 65 72 20 6f 6e 20 6c 6f 63 6b 20 65 6e 61 62 6c 65 0d" "power-on lock"
expect_frame $((312 + 60)) $((120 + 20)) "2a 32 2d 49 6e 69 50 0d" "password reset"

# The uninstaller, silent too, takes away what the installer put there.
wineserver -k
wine "$installed/uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the silent uninstall"
wineserver -w
if [ -e "$installed" ] || [ -e "$menu" ]; then
  fail "the uninstaller leaves the program or its Start-menu entries"
fi
ok "silent uninstall removes the program folder and the Start-menu entries"

echo "Not checked under Wine: replies from the device. Wine 8 does not deliver bytes received on"
echo "a pseudo-terminal to the program (its serial events poll modem lines a pseudo-terminal"
echo "lacks); the receive path is covered by the Linux suite (./test.sh)."
echo "Wine checks passed: $passed."
