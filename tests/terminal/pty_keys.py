#!/usr/bin/env python3
"""orvane-run on a terminal of its own: the arrow keys as a host terminal
sends them (one write, as a key press arrives) reach the program as the
installed terminal's keys.

    pty_keys.py ORVANE_RUN keys.com TERMINAL KEYS... -> prints what the program printed

Each key is sent once the program has printed its answer to the one
before (no timing: it waits for output, 60 s at most for each)."""
import os
import pty
import select
import sys
import termios
import time

run, program, terminal, *keys = sys.argv[1:]
pid, master = pty.fork()
if pid == 0:
    os.execv(run, [run, "--terminal", terminal, program])

out = b""


def read_until(predicate, limit=60.0):
    global out
    end = time.monotonic() + limit
    while not predicate() and time.monotonic() < end:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                return
            if not chunk:
                return
            out += chunk


def raw():
    # The runner has put the terminal in raw mode: no echo, no line editing.
    lflag = termios.tcgetattr(master)[3]
    return not lflag & (termios.ECHO | termios.ICANON)


end = time.monotonic() + 60
while not raw() and time.monotonic() < end:
    time.sleep(0.05)
for key in keys:
    before = len(out)
    os.write(master, key.encode("latin-1").decode("unicode_escape").encode("latin-1"))
    read_until(lambda: len(out) > before and out.endswith(b" "))
os.write(master, b".")
read_until(lambda: False, 60.0)  # to the end of the program's output
_, status = os.waitpid(pid, 0)
sys.stdout.write(out.decode("latin-1"))
sys.exit(os.waitstatus_to_exitcode(status))
