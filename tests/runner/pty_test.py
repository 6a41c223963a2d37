#!/usr/bin/env python3
# orvane-run on a terminal of its own (a pseudo-terminal): every key reaches
# the program, the escape key Ctrl+] stops or suspends the run, and the
# terminal has the host's settings whenever orvane-run is not running it.
#
#     pty_test.py ORVANE_ASM ORVANE_RUN
#
# Each row is a list of steps run in a job-control shell inside the terminal.
# A step waits for a text on the terminal, then acts; nothing is timed (the
# wait only fails after a long bound, for a build that never prints it).
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
        # Reads the terminal until text has appeared since the last wait.
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
        # Waits until the terminal is in raw mode again (no echo, no lines, no signal keys).
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


def cases(path):
    # The cases of pty_rows.txt (its header gives the format): (name, source
    # file or None, source text, options, standard error on the terminal, steps).
    found = []
    with open(path) as f:
        for n, line in enumerate(f.read().split('\n'), 1):
            if not line or line.startswith('#'):
                continue
            what, _, arg = line.partition(' ')
            if what == '==':
                found.append([arg, 'keys.z80', None, '', False, []])
            elif not found:
                raise AssertionError('%s:%d: a step before the first case' % (path, n))
            elif what == 'source':
                found[-1][1:3] = [arg, None] if arg.endswith('.z80') else [None, decode(arg)]
            elif what == 'opts':
                found[-1][3] = arg
            elif what == 'stderr-on-terminal':
                found[-1][4] = True
            elif what in ('wait', 'send', 'err', 'same', 'raw', 'signal'):
                found[-1][5].append((what, getattr(signal, 'SIG' + arg) if what == 'signal' else decode(arg)))
            else:
                raise AssertionError('%s:%d: no such step: %s' % (path, n, line))
    if not found:
        raise AssertionError(path + ' has no cases')
    return found


def decode(text):
    return text.encode('latin-1').decode('unicode_escape')


def main():
    top = tempfile.mkdtemp()
    passed = failed = 0
    try:
        for name, file, text, opts, err_on_terminal, steps in cases(os.path.join(DATA, 'pty_rows.txt')):
            folder = os.path.join(top, str(passed + failed))
            os.mkdir(folder)
            source = os.path.join(DATA, file) if file else os.path.join(folder, 'prog.z80')
            if text is not None:
                with open(source, 'w') as f:
                    f.write(text)
            subprocess.run([ASM, '--cpm', '-o', os.path.join(folder, 'prog.com'), '-l',
                            os.path.join(folder, 'prog.LST'), source], check=True, stdout=subprocess.DEVNULL)
            term = Term(folder, err_on_terminal, opts)
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
