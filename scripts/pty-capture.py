#!/usr/bin/env python3
"""Stands in for the device on a pseudo-terminal for the Wine check (scripts/windows-check.sh).

Prints the path of the terminal side, then appends every byte that arrives on the master side
to the file named by the first argument until it is killed. The terminal side is put in raw
mode and held open, so that the line discipline changes no byte and the pair stays up between
the program's opening and closing of the port."""
import os
import pty
import sys
import tty

master, terminal = pty.openpty()
tty.setraw(terminal)
print(os.ttyname(terminal), flush=True)
with open(sys.argv[1], "ab", buffering=0) as capture:
    while True:
        capture.write(os.read(master, 4096))
