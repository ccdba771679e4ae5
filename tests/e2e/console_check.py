#!/usr/bin/env python3
# The updater's standard error through a real console: under a pseudo-terminal Wine gives it a console whose code
# page (437) is not UTF-8, so the text goes out as UTF-16 through WriteConsoleW, 8192 units a call. It must arrive
# as the same text a file receives. console_check.py UPDATER LAUNCHER PREFIX WORK
import os, re, shlex, subprocess, sys

updater, launcher, prefix, work = sys.argv[1:]
wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../cmake/wine-run.sh')
os.makedirs(work, exist_ok=True)
# C.UTF-8: Wine reads the arguments and writes to the terminal in UTF-8, and the console's code page stays 437.
env = dict(os.environ, LC_ALL='C.UTF-8', TEVRA_LOCALAPPDATA='Z:' + work.replace('/', '\\'))
rows = [  # arguments, status, what the file receives first
    (['--help'], 0, b'TevraRemoteUpdater\n'),
    (['\u00e9' * 9000], 1, ('updater error: unknown arg: ' + '\u00e9' * 9000 + '\n').encode()),  # two calls
]
faults = []
for args, status, start in rows:
    command = [wine_run, prefix, launcher, 'Z:' + updater.replace('/', '\\'), *args]
    with open(os.path.join(work, 'stderr'), 'w+b') as file:
        to_file = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stderr=file).returncode
        file.seek(0)
        expected = file.read()
    # The line must not wrap, and the terminal must add no CR of its own.
    shell = 'stty cols 10000 -onlcr; exec ' + shlex.join(command)
    tty = subprocess.run(['script', '-qec', shell, '/dev/null'], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE)
    # Wine's console hides the cursor around each write it passes on and ends a line with CR LF.
    frame = rb'\x1b\[\?25l([^\x1b]*)\x1b\[\?25h'
    framed = re.fullmatch(rb'(?:' + frame + rb')*', tty.stdout) is not None
    text = b''.join(re.findall(frame, tty.stdout)).replace(b'\r\n', b'\n')
    if not expected.startswith(start) or not framed or text != expected or (to_file, tty.returncode) != (status,) * 2:
        faults.append(f'{args[0][:12]}: status {to_file}/{tty.returncode}, file {len(expected)} bytes, '
                      f'console {len(text)} bytes: {tty.stdout[:60]!r}...{tty.stdout[-60:]!r}')
if not os.path.exists(os.path.join(work, 'Tevra Remote', 'update_state.json')):
    faults.append('the failure was not recorded in the test\'s own LOCALAPPDATA')
print('\n'.join(faults) or 'console text matches the file text')
sys.exit(1 if faults else 0)
