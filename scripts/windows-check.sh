#!/usr/bin/env bash
# Checks the Windows package that windows-package.sh made, under Wine 10 on a virtual X display,
# in a fresh Wine prefix: the device layer's tests, the captions at 100 % and 150 %, a silent
# install, the installed program's window and About boxes, the exact frames of the four command
# buttons and the device's replies to them as the operator reads them, a reply at line pace,
# stray bytes, a flood of replies, the device lost while idle and while a box is open, opening
# again, and qelnor-cli.exe's replies and exit statuses. COM1 and COM2 are pseudo-terminals
# whose other side plays the device (scripts/wine/device.py); scripts/wine/modem-lines.c stands
# in for the modem lines a pseudo-terminal lacks. Prints each check; exits non-zero at the first
# failure. Runs inside the Debian 13 tree (windows.sh starts it there through debian13.sh).
set -euo pipefail
# Characters, not bytes, for bash and xdotool: the user code typed is Chinese.
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-windows"
out="$root/dist/windows"
version=$(sed -n 's/^project(qelnor-setup VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="qelnor-setup-$version-win64"
title="QELNOR彩屏设置软件 QELNOR Colour Screen Setup"

work=$(mktemp -d "${TMPDIR:-/tmp}/qelnor-wine.XXXXXX")
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
gcc -shared -fPIC -O2 -Wall -Werror -o "$work/modem-lines.so" "$root/scripts/wine/modem-lines.c" -ldl
# Every Wine command has a time limit: one that hangs fails the check instead of the run.
wine() { LD_PRELOAD="$work/modem-lines.so" timeout 300 wine "$@"; }
# The X tools wait on the display and on a selection's owner: a program that stopped
# answering fails the check instead of hanging it.
xdotool() { timeout 20 xdotool "$@"; }
xclip() { timeout 10 xclip "$@"; }
wineserver_done() { timeout 300 wineserver -w || fail "Wine's processes did not end within 300 s"; }
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
wine wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot --init (see $work/wineboot.log)"
wineserver_done

# The device layer's tests, with the program's own DLLs (Qt6Test.dll, which is not shipped,
# lies beside the tests).
test_path="$(winepath -w "$out/$name")"
for t in tst_frames tst_address tst_replytext tst_terminationsignal; do
  # Qt Test's own output file: its console output does not reach a pipe under Wine.
  if WINEPATH="$test_path" wine "$build/$t.exe" -o "$(winepath -w "$work/$t.log"),txt" \
    >/dev/null 2>&1; then
    ok "$t under Wine: $(grep -a '^Totals:' "$work/$t.log" | tr -d '\r')"
  else
    cat "$work/$t.log" >&2
    fail "$t under Wine"
  fi
done

# Captions in the faces Wine has (it has no SimSun: AR PL UMing stands in), at 100 % and at
# 150 % (Windows' own scaling, LogPixels 144): every label, wrapping button and list entry of the
# window shows whole (tst_captions), naming each face checked and skipped; then the window at
# 150 %, for the eye. The prefix goes back to 100 % for the checks that click by position.
logpixels() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1 || fail "setting Wine's LogPixels to $1"
  wineserver -k
  wineserver_done
}
for percent in 100 150; do
  [ "$percent" = 100 ] || logpixels 144
  log="$work/tst_captions-$percent.log"
  if WINEPATH="$test_path" wine "$build/tst_captions.exe" -o "$(winepath -w "$log"),txt" \
    >/dev/null 2>&1; then
    faces=$(tr -d '\r' <"$log" | sed -n 's/^QINFO.*(\(.*\)) \(.*\)$/\1 → \2/p' | paste -sd ';')
    skipped=$(tr -d '\r' <"$log" | sed -n 's/^SKIP.*(\(.*\)) \(.*\)$/\1: \2/p' | paste -sd ';')
    ok "captions whole at $percent % in: $faces (skipped: $skipped)"
  else
    cat "$log" >&2
    fail "tst_captions under Wine at $percent %"
  fi
done
(cd "$out/$name" && exec wine ./qelnor-setup.exe >"$work/program-150.log" 2>&1) &
wait_for 60 xdotool search --onlyvisible --name 'QELNOR' || fail "the window at 150 %"
sleep 2
xwd -silent -id "$(xdotool search --onlyvisible --name 'QELNOR' | head -n1)" | xwdtopnm 2>/dev/null |
  pnmtopng >"$out/window-wine-150.png"
logpixels 96
ok "the window at 150 % (screenshot dist/windows/window-wine-150.png)"

# Silent install into Program Files, with its Start-menu entry and uninstaller.
wine "$out/$name-setup.exe" /S >"$work/install.log" 2>&1 || fail "the silent install (/S)"
wineserver_done
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

# qelnor-setup.exe is a program for the window: started with no console and no file or pipe to
# write to (its icon, a file dropped on it; here the null device), its --version and a refused argument come up in a box,
# closed here with Enter, and it ends with the status it would have printed. With its output
# redirected, the text goes there.
setup_box() {
  local expected=$1 status=$2 pid id text
  shift 2
  (cd "$installed" && exec wine ./qelnor-setup.exe "$@" </dev/null >/dev/null 2>&1) &
  pid=$!
  wait_for 60 xdotool search --onlyvisible --name 'QELNOR' || fail "qelnor-setup.exe $*: no box"
  id=$(xdotool search --onlyvisible --name 'QELNOR' | head -n1)
  printf '' | xclip -selection clipboard
  xdotool windowfocus "$id" key ctrl+c
  wait_for 5 test -n "$(xclip -o -selection clipboard 2>/dev/null)" || true
  text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
  xdotool windowfocus "$id" key Return
  local got=0
  wait "$pid" || got=$?
  [ "$got" -eq "$status" ] || fail "qelnor-setup.exe $*: status $got, not $status"
  # Wine's message box may not copy its text; what it copies must be the text expected.
  case $text in
  "") ;;
  *"$expected"*) boxes_read=$((boxes_read + 1)) ;;
  *) fail "qelnor-setup.exe $*: the box said \"$text\"" ;;
  esac
}
boxes_read=0
setup_box "qelnor-setup $version" 0 --version
setup_box "Unknown option: --bogus" 2 --bogus
setup_box "--com takes COMn=DEVICE" 2 --com COM99=x
redirected=$(cd "$installed" && wine ./qelnor-setup.exe --version 2>/dev/null | tr -d '\r')
[ "$redirected" = "qelnor-setup $version" ] || fail "qelnor-setup.exe --version said \"$redirected\""
ok "qelnor-setup.exe without a console: --version, an unknown option and a malformed --com" \
  "in a box (statuses 0, 2, 2; $boxes_read of 3 texts copied and matched); --version to a" \
  "pipe: \"$redirected\""

# A device on a new pseudo-terminal behind COM$1 (Wine's dosdevices link), taking commands
# through $work/device-$1.control and capturing what it receives in $work/wire-$1.
start_device() {
  local control="$work/device-$1.control"
  rm -f "$control" "$work/pty-$1"
  mkfifo "$control"
  : >"$work/wire-$1"
  python3 "$root/scripts/wine/device.py" "$work/wire-$1" "$control" >"$work/pty-$1" &
  started+=($!)
  wait_for 10 test -s "$work/pty-$1" || fail "the pseudo-terminal for COM$1"
  ln -sfn "$(head -n1 "$work/pty-$1")" "$WINEPREFIX/dosdevices/com$1"
}
# Opening the pipe waits for the helper's end of it: a helper that died fails the check.
device() {
  local com=$1
  shift
  timeout 10 bash -c 'echo "$1" >"$2"' _ "$*" "$work/device-$com.control" ||
    fail "the device behind COM$com did not take \"$*\" within 10 s: its helper has ended"
}
# The bytes of a text, in hex, for device commands.
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
start_device 1

(cd "$installed" && LD_PRELOAD="$work/modem-lines.so" exec wine ./qelnor-setup.exe >"$work/program.log" 2>&1) &
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
  size=$(stat -c %s "$work/wire-1")
  od -An -v -tx1 -j "$seen" -N $((size - seen)) "$work/wire-1" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//'
}
wire_is() { [ "$(wire)" = "$1" ]; }
# Presses the button at $1 $2 and expects exactly the frame $3 (hex) to reach the device.
expect_frame() {
  click "$1" "$2"
  wait_for 5 wire_is "$3" || true
  local got
  got=$(wire)
  seen=$(stat -c %s "$work/wire-1")
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

# Waits for the next message box, copies its text with Ctrl+C as an operator would, closes it
# with Enter, and leaves the text in $box.
box=
read_box() {
  wait_for "${1:-10}" count_is 2 || return 1
  local id
  id=$(windows | grep -vx "$window" | head -n1)
  printf '' | xclip -selection clipboard
  xdotool windowfocus "$id" key ctrl+c
  wait_for 5 test -n "$(xclip -o -selection clipboard 2>/dev/null)" || true
  box=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
  xdotool windowfocus "$id" key Return
  wait_for 10 gone "$id" || return 1
}
# The device sends $2 (hex) and the box that follows must hold exactly $3.
expect_reply() {
  device 1 send "$2"
  read_box || fail "$1: no box for the reply"
  [ "$box" = "$3" ] || fail "$1: the box says '$box', not '$3'"
  ok "$1: the box shows \"$3\""
}
open_port() { click $((368 + 32)) $((32 + 16)); } # 打开串口
# This check's own processes: those running in its Wine prefix.
own_processes() {
  local pid
  for pid in $(pgrep -f "$1"); do
    grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
  done
}
# The port is open once a process of this check's Wine holds the device's terminal open.
port_held() {
  local terminal pid
  terminal=$(head -n1 "$work/pty-1")
  for pid in $(own_processes 'qelnor-setup\.exe|wineserver'); do
    find "/proc/$pid/fd" -lname "$terminal" 2>/dev/null | grep -q . && return 0
  done
  return 1
}
# Opens the port and expects no box: the first box after the opening is the device's probe.
expect_open() {
  open_port
  if ! wait_for 10 port_held; then
    read_box 1 || true
    fail "$1: the port was not open within 10 s${box:+; a box says '$box'}"
  fi
  device 1 send "$(hex '@PORT OPENED')"
  read_box || fail "$1: no box for the device's probe after the opening"
  [ "$box" = "PORT OPENED" ] || fail "$1: a box says '$box'"
}

expect_open "opening COM1 at the window's start-up settings"
ok "COM1 opened at the window's start-up settings"
enter $((104 + 28)) $((8 + 20)) 42
expect_frame $((168 + 32)) $((8 + 20)) "49 44 34 32 0d" "address 42"
expect_reply "reply to the address" "$(hex '@ADDR:42 OK.')" "ADDR:42 OK."
user_code=中文
enter $((88 + 132)) $((80 + 11)) "$user_code"
expect_frame $((368 + 32)) $((72 + 20)) "2a 40 2d d6 d0 ce c4 0d" "GBK user code $user_code"
# GBK 中文, then a NUL and a bell: Chinese and control pictures, as on Linux.
expect_reply "GBK reply with control bytes" "40d6d0cec44f4b0007212121" "中文OK␀␇!!!"
expect_frame $((160 + 60)) $((120 + 20)) \
  "40 50 6f 77 65 72 20 6f 6e 20 6c 6f 63 6b 20 65 6e 61 62 6c 65 0d" "power-on password"
expect_reply "reply to the power-on password" "$(hex '@LOCK ON....')" "LOCK ON...."
expect_frame $((312 + 60)) $((120 + 20)) "2a 32 2d 49 6e 69 50 0d" "password reset"
expect_reply "reply to the password reset" "$(hex '@PASS RESET')7f" "PASS RESET␡"

# A reply that trickles in at line pace is one reply; noise before a pause is named.
device 1 pace 5 "$(hex '@PACED REPLY')"
read_box || fail "a reply at line pace: no box"
[ "$box" = "PACED REPLY" ] || fail "a reply at line pace: the box says '$box'"
ok "a reply sent a byte every 5 ms is shown whole: \"$box\""
device 1 send 0203040506
sleep 0.5
device 1 send "$(hex '@AFTER NOISE')"
read_box || fail "stray bytes then a reply: no box"
grep -qF "5 stray bytes ignored before this reply: 02 03 04 05 06" <<<"$box" &&
  grep -qxF "AFTER NOISE" <<<"$box" || fail "stray bytes then a reply: the box says '$box'"
ok "5 stray bytes, a pause, a reply: the box names the bytes, then shows the reply"

# 100 replies at once: every one shown in order or counted where dropped, a box at a time.
flood=
for n in $(seq -w 0 99); do flood+=$(hex "@R0$n FLOOD."); done
device 1 send "$flood"
boxes=0 shown=0 counted=0 last=-1
while read_box 5; do
  boxes=$((boxes + 1))
  lines=0
  while IFS= read -r line; do
    if [[ $line =~ ^R0([0-9][0-9])\ FLOOD\.$ ]]; then
      n=$((10#${BASH_REMATCH[1]}))
      ((n > last)) || fail "flood: reply $n shown after reply $last"
      last=$n shown=$((shown + 1)) lines=$((lines + 1))
    elif [[ $line =~ ([0-9]+)\ repl(y|ies)\ dropped\ here ]]; then
      counted=$((counted + BASH_REMATCH[1]))
    fi
  done <<<"$box"
  ((lines <= 16)) || fail "flood: a box of $lines replies"
done
((shown + counted == 100)) || fail "flood: $shown shown and $counted counted of 100"
ok "100 replies at once: $boxes boxes, $shown replies shown in order, $counted counted as dropped"

# The device unplugged while the port is open and idle: one box, and the program rests. Its
# name goes with it, as a pulled adapter's COM port does.
device 1 close
ln -sfn "$work/unplugged" "$WINEPREFIX/dosdevices/com1"
read_box || fail "losing the device: no box"
grep -q 57 <<<"$box" && grep -qi disconnected <<<"$box" ||
  fail "losing the device: the box says '$box'"
sleep 1
count_is 1 || fail "losing the device: more than one box"
ok "the device lost while idle: one box (error 57, disconnected)"
# This check's own program: the one that runs in this check's Wine prefix.
pid=$(own_processes 'qelnor-setup\.exe' | tail -n1)
[ -n "$pid" ] || fail "after the loss: the program's process was not found"
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(cpu)
sleep 5
ticks=$(($(cpu) - before))
# Wine's own idle loop costs a little; a program spinning on the lost port takes a whole core.
((ticks < 150)) || fail "after the loss the program used $ticks of 500 CPU ticks in 5 s"
ok "after the loss the program rests: $((ticks * 10)) ms of CPU in 5 s"
open_port
read_box || fail "opening the lost device again: no box"
grep -q 8002 <<<"$box" || fail "opening the lost device again: the box says '$box'"
ok "opening the lost device again: error 8002; 打开串口 is usable again"

# A new device behind COM1 opens, and a loss while a box is open comes after that box.
start_device 1
expect_open "opening a new device on COM1"
expect_reply "a new device on COM1" "$(hex '@NEW DEVICE.')" "NEW DEVICE."
device 1 send "$(hex '@FIRST REPLY')"
wait_for 10 count_is 2 || fail "a box open when the device goes: no first box"
device 1 send "$(hex '@LAST  REPLY')"
sleep 0.5
device 1 close
read_box || fail "the box open during the loss"
[ "$box" = "FIRST REPLY" ] || fail "the box open during the loss says '$box'"
read_box || fail "the reply sent before the loss: no box"
[ "$box" = "LAST  REPLY" ] || fail "the reply sent before the loss: the box says '$box'"
read_box || fail "the loss after a box: no box"
grep -q 57 <<<"$box" || fail "the loss after a box: the box says '$box'"
ok "the device lost while a box is open: that box, the reply sent before the loss, then 57"

# qelnor-cli.exe on COM2: a reply and exit 0, --json, no reply (5), the device lost (6).
start_device 2
# Runs qelnor-cli.exe (both outputs on standard output) and returns the status Windows gives for
# it, cmd's errorlevel. A Wine process's Unix status is not that: on a busy machine it read 0 in
# 13 of 30 runs of the device-lost check below, the program having called exit(6) and then been
# torn down while its DLLs unloaded. The arguments hold no blanks.
cli() {
  local out status
  out=$(cd "$installed" && wine cmd /v:on /c "qelnor-cli.exe $* & echo status=!errorlevel!" 2>&1 |
    tr -d '\r') || true
  status=$(sed -n 's/^status=\([0-9]*\)$/\1/p' <<<"$out" | tail -n1)
  sed '/^status=[0-9]*$/d' <<<"$out"
  [ -n "$status" ] || fail "qelnor-cli.exe $*: cmd gave no status; it said '$out'"
  return "$status"
}
device 2 answer "$(hex '@CLI REPLY..')"
said=$(cli --port COM2 --wait 5 address 42) || fail "qelnor-cli address 42: exit status $?"
grep -qF "CLI REPLY.." <<<"$said" || fail "qelnor-cli address 42 said '$said'"
ok "qelnor-cli.exe address 42: the reply printed, exit 0"
said=$(cli --port COM2 --wait 5 --json reset-password) || fail "qelnor-cli --json: exit $?"
grep -qF '"reply"' <<<"$said" && grep -qF 'CLI REPLY..' <<<"$said" ||
  fail "qelnor-cli --json said '$said'"
ok "qelnor-cli.exe --json: the reply as a JSON event, exit 0"
device 2 answer
status=0
cli --port COM2 --wait 1 power-on-lock >/dev/null || status=$?
((status == 5)) || fail "qelnor-cli with no reply: exit $status, not 5"
ok "qelnor-cli.exe with no reply: exit 5"
# A device that has stopped reading, its line full: the frame cannot leave whole, so
# qelnor-cli.exe ends with 7 and, when the device reads again, nothing of the frame reaches it.
device 2 fill
wait_for 20 test -e "$work/wire-2.filled" || fail "the device's line did not fill"
read_before=$(stat -c %s "$work/wire-2")
status=0
said=$(cli --port COM2 --wait 0 --json power-on-lock) || status=$?
((status == 7)) && grep -qF '"notSent"' <<<"$said" ||
  fail "qelnor-cli to a device that stopped reading: exit $status, said '$said'"
device 2 resume
# A frame sent after the fill marks the end of what the device reads.
cli --port COM2 --wait 0 reset-password >/dev/null || fail "qelnor-cli could not send after the fill"
probe_arrived() { tail -c 8 "$work/wire-2" | grep -qF '*2-IniP'; }
wait_for 20 probe_arrived || fail "the device did not read the frame sent after the fill"
after_fill=$(tail -c +$((read_before + 1)) "$work/wire-2" | head -c -8 | tr -d x | wc -c)
((after_fill == 0)) || fail "the device received $after_fill bytes of a frame reported not sent"
ok "qelnor-cli.exe to a device that stopped reading: exit 7, notSent, nothing of the frame later"
# The device goes once the command's frame has reached it, however long starting took.
sent_before=$(stat -c %s "$work/wire-2")
frame_arrived() { [ "$(stat -c %s "$work/wire-2")" -gt "$sent_before" ]; }
(wait_for 60 frame_arrived && device 2 close) &
status=0
said=$(cli --port COM2 --wait 15 power-on-lock) || status=$?
((status == 6)) || fail "qelnor-cli with the device lost: exit $status, not 6; it said '$said'"
ok "qelnor-cli.exe with the device lost while it waits: exit 6"

# qelnor-cli.exe commission on a new device behind COM2: a plan of two devices, an Enter for each
# from a pipe, every frame and reply in the record; gone on with --resume, nothing is sent again.
# The plan is UTF-8 with a byte-order mark, as a spreadsheet's "CSV UTF-8" saves it.
start_device 2
device 2 answer "$(hex '@CLI REPLY..')"
printf '\xef\xbb\xbfaddress,user_code\n1,彩屏\n2,\n' >"$work/plan.csv"
plan=$(winepath -w "$work/plan.csv")
# Directly: through cmd, a run answered from a pipe did not end within 300 s. Its Unix status can
# only read 0 where the program's was not, and the wire and the record are checked too.
commission() { (cd "$installed" && printf '\n\n' | wine ./qelnor-cli.exe "$@" 2>&1 | tr -d '\r'); }
said=$(commission --port COM2 --wait 5 commission "$plan") ||
  fail "qelnor-cli commission: exit status $?: $said"
wire=$(od -An -v -tx1 "$work/wire-2" | tr -d ' \n')
[ "$wire" = "$(hex 'ID01')0d2a402db2cac6c10d$(hex 'ID02')0d" ] ||
  fail "qelnor-cli commission sent '$(od -An -c "$work/wire-2")'"
# The header, the run's first line, and a sent and an answered line for each of the 3 frames.
[ "$(wc -l <"$work/plan.record.csv")" -eq 8 ] &&
  [ "$(grep -c ',answered,' "$work/plan.record.csv")" -eq 3 ] ||
  fail "qelnor-cli commission's record: $(cat "$work/plan.record.csv")"
said=$(commission --port COM2 --wait 5 commission "$plan" --resume) ||
  fail "qelnor-cli commission --resume: exit status $?: $said"
[ "$(wc -c <"$work/wire-2")" -eq 18 ] && [ "$(wc -l <"$work/plan.record.csv")" -eq 9 ] ||
  fail "qelnor-cli commission --resume sent again: $said"
ok "qelnor-cli.exe commission: two devices' frames in order, a record of 8 lines, exit 0;" \
  "--resume sends nothing again, adding only its run's first line"

# --- Installing and uninstalling while a program of this installation runs ---
# Windows keeps a running program's files: the installer and the uninstaller change nothing
# then. Silently they end with status 2 and leave every file, the uninstaller, its registry
# entry and the Start-menu entries; once the program is closed, both do their work.
registered() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qelnor-setup' \
    /v UninstallString >/dev/null 2>&1
}
# The installed files and their contents, and whether the uninstaller is still known.
installation() {
  (cd "$installed" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
  registered && echo registered
  [ -f "$menu/$title.lnk" ] && echo "menu entry"
}
# The status Windows gives for a command run through cmd (see cli above).
status_of() {
  local said
  said=$(wine cmd /v:on /c "$1& echo status=!errorlevel!" 2>&1 | tr -d '\r') || true
  sed -n 's/^status=\([0-9-]*\)$/\1/p' <<<"$said" | tail -n1
}
setup_exe=$(winepath -w "$out/$name-setup.exe")
# uninstall.exe hands its work to a copy of itself outside the folder and returns at once; a
# caller that wants the status runs such a copy itself, told the folder with _?= (as NSIS's
# documentation says). Silent unless told "by hand".
uninstall_status() {
  local silent=/S
  [ "${1:-}" = "by hand" ] && silent=
  rm -rf "$work/uninstaller"
  mkdir "$work/uninstaller"
  cp "$installed/uninstall.exe" "$work/uninstaller/"
  status_of "$(winepath -w "$work/uninstaller/uninstall.exe") $silent _?=$(winepath -w "$installed")"
}
# This check's own uninstaller copies (NSIS names them Un.exe and the like) have ended.
no_uninstaller_runs() { [ -z "$(own_processes 'Un(_[A-Z])?\.exe|Au_\.exe')" ]; }
untouched() { [ "$(installation)" = "$kept" ]; }

[ -n "$(own_processes 'qelnor-setup\.exe')" ] || fail "the window program should still run here"
kept=$(installation)
wine "$installed/uninstall.exe" /S >"$work/uninstall.log" 2>&1 || true
wait_for 60 no_uninstaller_runs || fail "uninstall.exe /S with the window open did not end"
untouched || fail "uninstall.exe /S with the window open changed the installation"
status=$(uninstall_status)
[ "$status" = 2 ] || fail "the silent uninstall with the window open: status '$status', not 2"
untouched || fail "the silent uninstall (status 2) with the window open changed the installation"
status=$(status_of "$setup_exe /S")
[ "$status" = 2 ] || fail "the silent reinstall with the window open: status '$status', not 2"
untouched || fail "the silent reinstall (status 2) with the window open changed the installation"
ok "with the window open, uninstall.exe /S, the silent uninstall (status 2) and the silent" \
  "reinstall (status 2) leave every file, the uninstaller and its entries"

# Interactively the uninstaller asks for the program to be closed: Retry while it still runs
# asks again; Retry once the operator has closed it goes on and uninstalls.
uninstaller_windows() { xdotool search --onlyvisible --name 'Screen Setup Uninstall' 2>/dev/null; }
new_box() { uninstaller_windows | grep -vx "$1" | grep -vqx "$2"; }
(uninstall_status "by hand" >"$work/uninstall-asked.status") &
wait_for 60 uninstaller_windows || fail "the uninstaller run by hand shows no window"
dialog=$(uninstaller_windows | head -n1)
xdotool windowfocus "$dialog" key Return # Uninstall
wait_for 30 new_box "$dialog" none || fail "the uninstaller with the window open asks nothing"
asked=$(uninstaller_windows | grep -vx "$dialog" | head -n1)
printf '' | xclip -selection clipboard
xdotool windowfocus "$asked" key ctrl+c
wait_for 5 test -n "$(xclip -o -selection clipboard 2>/dev/null)" || true
text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
case $text in
"") ;;
*"qelnor-setup.exe is running. Close it"*) ;;
*) fail "the uninstaller's question says \"$text\"" ;;
esac
xdotool windowfocus "$asked" key Return # Retry, the program still running
wait_for 30 new_box "$dialog" "$asked" || fail "Retry with the window still open asks nothing again"
untouched || fail "the uninstaller changed the installation while asking"
asked=$(uninstaller_windows | grep -vx "$dialog" | head -n1)
# Closed as its close button closes it: taskkill without /F sends the window WM_CLOSE. (Alt+F4
# does not reach it here while another program's box is in front, with no window manager.)
wine taskkill /im qelnor-setup.exe >/dev/null 2>&1 || fail "taskkill could not ask the window to close"
no_window_program() { [ -z "$(own_processes 'qelnor-setup\.exe')" ]; }
wait_for 30 no_window_program || fail "the window did not close when asked"
xdotool windowfocus "$asked" key Return # Retry
wait_for 60 test ! -e "$installed/qelnor-setup.exe" || fail "Retry once the window closed"
completed() { xdotool search --onlyvisible --name 'Screen Setup Uninstall: Completed'; }
wait_for 60 completed || fail "the uninstaller run by hand did not complete"
xdotool windowfocus "$dialog" key Return # Close
wait_for 60 test -s "$work/uninstall-asked.status" || fail "the uninstaller run by hand did not end"
[ "$(cat "$work/uninstall-asked.status")" = 0 ] && [ ! -e "$installed" ] && ! registered ||
  fail "the uninstaller run by hand: status $(cat "$work/uninstall-asked.status")"
ok "the uninstaller run by hand with the window open asks for it to be closed" \
  "(${text:+the question read; }Retry asks again while it runs), then uninstalls: status 0"

# Installed again; then qelnor-cli.exe, waiting for a reply, holds its files.
status=$(status_of "$setup_exe /S")
[ "$status" = 0 ] || fail "installing again after the uninstall: status '$status'"
untouched || fail "installing again did not give the same installation"
device 2 answer
sent_before=$(stat -c %s "$work/wire-2")
(cli --port COM2 --wait 60 address 7 >"$work/cli-waiting.log" 2>&1
  echo $? >"$work/cli-waiting.status") &
cli_waits() { frame_arrived && [ -n "$(own_processes 'qelnor-cli\.exe')" ]; }
wait_for 60 cli_waits || fail "qelnor-cli.exe did not start waiting for its reply"
status=$(status_of "$setup_exe /S")
[ "$status" = 2 ] || fail "the silent reinstall with qelnor-cli.exe running: status '$status'"
status=$(uninstall_status)
[ "$status" = 2 ] || fail "the silent uninstall with qelnor-cli.exe running: status '$status'"
untouched || fail "with qelnor-cli.exe running, the installation changed"
device 2 send "$(hex '@LATE REPLY.')"
wait_for 60 test -s "$work/cli-waiting.status" || fail "qelnor-cli.exe did not end on its reply"
[ "$(cat "$work/cli-waiting.status")" = 0 ] || fail "qelnor-cli.exe: $(cat "$work/cli-waiting.log")"
ok "with qelnor-cli.exe waiting for a reply, the silent reinstall and uninstall end with" \
  "status 2 and change nothing"

# Nothing of this installation runs now: both do their work.
status=$(status_of "$setup_exe /S")
[ "$status" = 0 ] || fail "the silent reinstall once the programs ended: status '$status'"
[ "$(installation)" = "$kept" ] || fail "the reinstall did not give the same installation"
status=$(uninstall_status)
[ "$status" = 0 ] || fail "the silent uninstall once the programs ended: status '$status'"
if [ -e "$installed" ] || [ -e "$menu" ] || registered; then
  fail "the silent uninstall (status 0) leaves the program, its menu entries or its registry entry"
fi
status=$(status_of "$setup_exe /S")
[ "$status" = 0 ] || fail "installing again: status '$status'"
ok "once the programs ended: the silent reinstall (status 0), the silent uninstall (status 0)" \
  "that removes everything, and a new install"

# A file that another program holds open cannot go: the uninstaller removes what it can and keeps
# itself and its entries (status 2); once the file is free, it uninstalls. cmd appending more's
# output to LICENSE.txt holds it until it is ended.
mkfifo "$work/hold"
(cd "$installed" && wine cmd /c "more >> LICENSE.txt" <"$work/hold" >/dev/null 2>&1) &
exec 9>"$work/hold"
license_held() {
  local pid
  for pid in $(own_processes 'cmd\.exe /c more|wineserver'); do
    find "/proc/$pid/fd" -lname "$installed/LICENSE.txt" 2>/dev/null | grep -q . && return 0
  done
  return 1
}
wait_for 30 license_held || fail "LICENSE.txt was not held open"
status=$(uninstall_status)
[ "$status" = 2 ] && [ -f "$installed/uninstall.exe" ] && registered && [ -f "$menu/$title.lnk" ] ||
  fail "uninstalling with LICENSE.txt held: status '$status', or the uninstaller or its entries gone"
[ "$(cd "$installed" && find . -type f | sort | tr '\n' ' ')" = "./LICENSE.txt ./uninstall.exe " ] ||
  fail "uninstalling with LICENSE.txt held left $(cd "$installed" && find . -type f)"
kill $(own_processes 'cmd\.exe /c more')
exec 9>&-
license_free() { ! license_held; }
wait_for 30 license_free || fail "LICENSE.txt is still held"
status=$(uninstall_status)
[ "$status" = 0 ] && [ ! -e "$installed" ] && ! registered ||
  fail "uninstalling once LICENSE.txt was free: status '$status'"
status=$(status_of "$setup_exe /S")
[ "$status" = 0 ] || fail "installing again: status '$status'"
ok "with LICENSE.txt held open by another program, the silent uninstall (status 2) leaves only" \
  "it and the uninstaller with its entries; once it is free, the uninstall removes everything"

# The uninstaller as the Start menu and Windows run it, silent too, takes away what the
# installer put there.
wineserver -k
wine "$installed/uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the silent uninstall"
wineserver_done
if [ -e "$installed" ] || [ -e "$menu" ] || registered; then
  fail "the uninstaller leaves the program, its Start-menu entries or its registry entry"
fi
ok "silent uninstall removes the program folder, the Start-menu entries and the registry entry"
echo "Wine checks passed: $passed."
