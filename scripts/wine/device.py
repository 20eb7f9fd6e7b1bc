#!/usr/bin/env python3
"""Stands in for the device on a pseudo-terminal for the Wine checks (scripts/windows-check.sh).

    device.py CAPTURE CONTROL

Prints the path of the terminal side, then appends every byte that arrives on the master side
to the file CAPTURE, and takes commands, one a line, from the named pipe CONTROL:
    send HEX           sends those bytes at once
    pace MS HEX        sends them one at a time, MS milliseconds apart (a slow line)
    answer HEX         sends those bytes after each carriage return that arrives from now on
    close              hangs up (closes the master side) and ends, as a device unplugged
    fill               stops reading and fills the line from the terminal side with "x" until it
                       takes nothing more, as a device that stopped reading leaves it; then
                       creates the file CAPTURE.filled
    resume             reads again
The terminal side is put in raw mode and held open, so that the line discipline changes no byte
and the pair stays up between the program's opening and closing of the port."""
import os
import pty
import select
import sys
import time
import tty

master, terminal = pty.openpty()
tty.setraw(terminal)
print(os.ttyname(terminal), flush=True)
# Read and write ends both held, so that the pipe never reports an end between two writers.
control = os.open(sys.argv[2], os.O_RDWR)
answer = b""
pending = b""
reading = True


def fill():
    os.set_blocking(terminal, False)
    while True:
        try:
            while os.write(terminal, b"x" * 256) > 0:
                pass
        except BlockingIOError:
            pass
        # The terminal moves what it holds on to the master side a moment later, making room.
        if not select.select([], [terminal], [], 0.2)[1]:
            break
    open(sys.argv[1] + ".filled", "w").close()


with open(sys.argv[1], "ab", buffering=0) as capture:
    while True:
        ready, _, _ = select.select([master, control] if reading else [control], [], [])
        if master in ready:
            received = os.read(master, 4096)
            capture.write(received)
            if answer:
                os.write(master, answer * received.count(b"\r"))
        if control in ready:
            pending += os.read(control, 65536)
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                words = line.decode().split()
                if not words:
                    continue
                if words[0] == "send":
                    os.write(master, bytes.fromhex(words[1]))
                elif words[0] == "pace":
                    for byte in bytes.fromhex(words[2]):
                        os.write(master, bytes([byte]))
                        time.sleep(int(words[1]) / 1000)
                elif words[0] == "answer":
                    answer = bytes.fromhex(words[1]) if len(words) > 1 else b""
                elif words[0] == "fill":
                    reading = False
                    fill()
                elif words[0] == "resume":
                    reading = True
                elif words[0] == "close":
                    os.close(master)
                    sys.exit(0)
