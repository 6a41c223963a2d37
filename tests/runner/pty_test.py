#!/usr/bin/env python3
"""orvane-run on a terminal of its own (a pseudo-terminal): every key reaches
the program, the escape key Ctrl+] stops or suspends the run, and the
terminal has the host's settings whenever orvane-run is not running it.

    pty_test.py ORVANE_ASM ORVANE_RUN

Each row is a list of steps run in a job-control shell inside the terminal.
A step waits for a text on the terminal, then acts; nothing is timed (the
wait only fails after a long bound, for a build that never prints it).
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

ASM, RUN = (os.path.realpath(p) for p in sys.argv[1:3])
DATA = os.path.dirname(os.path.realpath(__file__))
BOUND = float(os.environ.get('PTY_BOUND', 60))  # seconds: only a failing build waits this long

# The shell in the terminal: the settings before, the run (in the foreground,
# as a job of its own; its standard error to the file err unless
# ERR_ON_TERMINAL is set), its status, the settings while it is stopped,
# then 'fg' when it was stopped, and the settings after.
SHELL = r'''
set -m
stty -g >before
if [ -n "$ERR_ON_TERMINAL" ]; then "$RUN" $OPTS prog.com; else "$RUN" $OPTS prog.com 2>err; fi
s=$?
[ $s = 148 ] && stty -g >stopped
echo "status=$s."
if [ $s = 148 ]; then
  read -r go
  fg >/dev/null
  echo "status=$?."
fi
stty -g >after
echo done.
'''


class Term:
    def __init__(self, folder, err_on_terminal, opts=''):
        env = dict(os.environ, RUN=RUN, TERM='dumb', ERR_ON_TERMINAL='1' if err_on_terminal else '', OPTS=opts)
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(folder)
            os.execvpe('bash', ['bash', '-c', SHELL], env)
        self.seen = b''

    def wait_for(self, text):
        """Reads the terminal until text has appeared since the last wait."""
        want = text.encode()
        end = os.times().elapsed + BOUND
        while want not in self.seen:
            left = end - os.times().elapsed
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                raise AssertionError('no %r on the terminal; it shows %r' % (text, self.seen[-300:]))
            try:
                data = os.read(self.fd, 4096)
            except OSError:
                data = b''
            if not data:
                raise AssertionError('the terminal closed before %r; it showed %r' % (text, self.seen[-300:]))
            self.seen += data
        self.seen = self.seen[self.seen.index(want) + len(want):]

    def send(self, data):
        os.write(self.fd, data.encode('latin-1'))

    def wait_raw(self):
        """Waits until the terminal is in raw mode again (no echo, no lines, no signal keys)."""
        end = os.times().elapsed + BOUND
        off = termios.ECHO | termios.ICANON | termios.ISIG
        while termios.tcgetattr(self.fd)[3] & off:
            if os.times().elapsed > end:
                raise AssertionError('the terminal is not in raw mode again: lflag %#x' % termios.tcgetattr(self.fd)[3])
            time.sleep(0.01)

    def runner_pid(self):
        with open('/proc/%d/task/%d/children' % (self.pid, self.pid)) as f:
            children = f.read().split()
        if len(children) != 1:
            raise AssertionError('the shell has children %s' % children)
        return int(children[0])

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        os.close(self.fd)


# NAME, then steps (the first may be ('source', TEXT): the program instead
# of keys.z80; then ('opts', TEXT): orvane-run's options): ('wait', TEXT), ('send', KEYS), ('raw', None) wait until
# the terminal is raw again, ('signal', SIG) to orvane-run, ('err', TEXT) standard error holds TEXT, ('same', FILE) the
# settings in FILE are the ones before the run.
# Reverse video on and the cursor hidden (ADM-3A with the Kaypro's ESC B0 and
# ESC C4), then 'R', then keys read by BIOS CONIN until CR.
ATTRIBUTES = ('source', '        LD DE,TEXT\n        LD C,9\n        CALL 5\n'
                        'KEY:    LD HL,(1)\n        LD DE,6\n        ADD HL,DE\n        CALL GO\n'
                        '        CP 13\n        JR NZ,KEY\n        RET\nGO:     JP (HL)\n'
                        'TEXT:   DB 27\n' + ''.join('        DB %d\n' % ord(c) for c in 'B0\x1bC4R$'))
OFF, ON = '\x1b[0m\x1b[?25h', '\x1b[7m\x1b[?25l'

ROWS = [
    ('adm3a: SIGTERM turns reverse video off and shows the cursor before the host has the terminal back',
     [ATTRIBUTES, ('opts', '--terminal adm3a'), ('wait', ON + 'R'), ('signal', signal.SIGTERM), ('wait', OFF),
      ('wait', 'status=143.'), ('wait', 'done.'), ('same', 'after')]),
    ('adm3a: so does SIGHUP',
     [ATTRIBUTES, ('opts', '--terminal adm3a'), ('wait', ON + 'R'), ('signal', signal.SIGHUP), ('wait', OFF),
      ('wait', 'status=129.'), ('wait', 'done.'), ('same', 'after')]),
    ('adm3a: Ctrl+] z turns them off while suspended, on again after fg',
     [ATTRIBUTES, ('opts', '--terminal adm3a'), ('wait', ON + 'R'), ('send', '\x1dz'), ('wait', OFF),
      ('wait', 'status=148.'), ('same', 'stopped'), ('send', 'go\n'), ('wait', ON), ('raw', None), ('send', '\r'),
      ('wait', OFF), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
    ('every key reaches the program: ^C ^Z ^\\ ^S ^Q, and Ctrl+] twice',
     [('wait', '?'), ('send', '\x03'), ('wait', 'C'), ('send', '\x1a'), ('wait', 'Z'), ('send', '\x1c'),
      ('wait', '\\'), ('send', '\x13'), ('wait', 'S'), ('send', '\x11'), ('wait', 'Q'), ('send', '\x1d\x1d'),
      ('wait', ']'), ('send', '\r'), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
    ('Ctrl+] q stops a program that waits for a key',
     [('wait', '?'), ('send', '\x1dq'), ('wait', 'status=8.'), ('wait', 'done.'),
      ('err', 'orvane-run: stopped from the keyboard (Ctrl+] q) at 011EH'), ('same', 'after')]),
    ('Ctrl+] q stops a program that computes',
     [('source', '        LD E,33\n        LD C,2\n        CALL 5\nL:      JR L\n'), ('wait', '!'), ('send', '\x1dq'), ('wait', 'status=8.'), ('wait', 'done.'),
      ('err', 'orvane-run: stopped from the keyboard (Ctrl+] q) at 0107H'), ('same', 'after')]),
    ('Ctrl+] and another key: a hint, and the key is dropped',
     [('wait', '?'), ('send', '\x1dk'), ('wait', '[Ctrl+] then q stops the run, z suspends it, Ctrl+] types Ctrl+]]'),
      ('send', '\x01'), ('wait', 'A'), ('send', '\r'), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
    ('SIGTSTP from outside: the host settings while stopped, raw mode again after fg',
     [('wait', '?'), ('signal', signal.SIGTSTP), ('wait', 'status=148.'), ('same', 'stopped'), ('send', 'go\n'),
      ('raw', None), ('send', '\x03'), ('wait', 'C'), ('send', '\r'), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
    ('Ctrl+] z suspends: the host settings while stopped, raw mode again after fg',
     [('wait', '?'), ('send', '\x1dz'), ('wait', 'status=148.'), ('same', 'stopped'), ('send', 'go\n'),
      ('raw', None), ('send', '\x1a'), ('wait', 'Z'), ('send', '\r'), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
    # The BDOS prints its error and reads one key without echo before the warm boot.
    ('a select error waits for a key, then ends the run with status 6',
     [('source', '        LD E,1\n        LD C,14\n        CALL 5\n        RET\n'), ('wait', '\r\nBdos Err On B: Select'),
      ('raw', None), ('send', 'k'), ('wait', '\r\nstatus=6.'), ('wait', 'done.'),
      ('err', 'BDOS function 14 called from 0104H: select error: there is no drive B:'), ('same', 'after')]),
    ('a note in raw mode starts a new line and ends with CR LF',
     [('source', '        LD E,65\n        LD C,2\n        CALL 5\n        LD C,45\n        CALL 5\n'
                 '        LD E,66\n        LD C,2\n        JP 5\n'), ('opts', '--verbose'),
      ('wait', 'A\r\norvane-run: BDOS function 45 called from 0109H is not in CP/M 2.2; answered A=0, HL=0 '
               '(--strict stops here)\r\nB'), ('wait', 'status=0.'), ('wait', 'done.'), ('same', 'after')]),
]


def main():
    top = tempfile.mkdtemp()
    passed = failed = 0
    try:
        for name, steps in ROWS:
            folder = os.path.join(top, str(passed + failed))
            os.mkdir(folder)
            source = os.path.join(DATA, 'keys.z80')
            if steps[0][0] == 'source':
                source = os.path.join(folder, 'prog.z80')
                with open(source, 'w') as f:
                    f.write(steps[0][1])
                steps = steps[1:]
            opts = ''
            if steps[0][0] == 'opts':
                opts = steps[0][1]
                steps = steps[1:]
            subprocess.run([ASM, '--cpm', '-o', os.path.join(folder, 'prog.com'), '-l',
                            os.path.join(folder, 'prog.LST'), source], check=True, stdout=subprocess.DEVNULL)
            term = Term(folder, 'note' in name, opts)
            try:
                for what, arg in steps:
                    if what == 'wait':
                        term.wait_for(arg)
                    elif what == 'send':
                        term.send(arg)
                    elif what == 'raw':
                        term.wait_raw()
                    elif what == 'signal':
                        os.kill(term.runner_pid(), arg)
                    elif what == 'err':
                        with open(os.path.join(folder, 'err')) as f:
                            err = f.read()
                        if arg not in err:
                            raise AssertionError('standard error lacks %r: %r' % (arg, err))
                    elif what == 'same':
                        with open(os.path.join(folder, 'before')) as f:
                            before = f.read()
                        with open(os.path.join(folder, arg)) as f:
                            now = f.read()
                        if now != before:
                            raise AssertionError('terminal settings in %s differ: %s -> %s' % (arg, before, now))
                passed += 1
            except AssertionError as e:
                print('FAIL [%s]: %s' % (name, e))
                failed += 1
            finally:
                term.close()
    finally:
        shutil.rmtree(top)
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
