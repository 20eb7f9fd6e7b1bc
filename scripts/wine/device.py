#!/usr/bin/env python3
"""Stands in for the device on a pseudo-terminal for the Wine checks (scripts/windows-check.sh).

    device.py CAPTURE CONTROL

Prints the path of the terminal side, then appends every byte that arrives on the master side
to the file CAPTURE, and takes commands, one a line, from the named pipe CONTROL:
    send HEX           sends those bytes at once
    pace MS HEX        sends them one at a time, MS milliseconds apart (a slow line)
    answer HEX         sends those bytes after each carriage return that arrives from now on
    close              hangs up (closes the master side) and ends, as a device unplugged
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
with open(sys.argv[1], "ab", buffering=0) as capture:
    while True:
        ready, _, _ = select.select([master, control], [], [])
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
                elif words[0] == "close":
                    os.close(master)
                    sys.exit(0)
