#!/usr/bin/env python3
"""Copies one machine's settings to another: a /GetConfig file of the sample notebook, applied
with /SetConfig to a differently set notebook, turns it into the same settings, and a second
apply finds nothing left to change.

--runner and --machine-variable run Corvane.exe under Wine with the machine handed to the WMI
double of the prefix instead of CORVANE_MACHINE."""
import argparse
import os
import shlex
import shutil
import subprocess
import sys
import tempfile


OPTIONS = argparse.Namespace(runner=[], machine_variable='CORVANE_MACHINE')


def run(binary, machine, *args, cwd):
    env = {k: v for k, v in os.environ.items()
           if k not in ('CORVANE_MACHINE', 'CORVANE_COM_DOUBLE_MACHINE')}
    env[OPTIONS.machine_variable] = machine
    # No pipe for standard error: a Wine server started by the run would keep it open.
    result = subprocess.run([*OPTIONS.runner, binary, *args], cwd=cwd, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return result.returncode, result.stdout.decode('utf-8', errors='replace').replace('\r\n', '\n')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--binary', required=True)
    parser.add_argument('--machines', required=True)
    parser.add_argument('--runner', default='', help='a command to run the binary with (wine)')
    parser.add_argument('--machine-variable', default='CORVANE_MACHINE',
                        help='the variable that names the machine file')
    args = parser.parse_args()
    OPTIONS.runner = shlex.split(args.runner)
    OPTIONS.machine_variable = args.machine_variable
    binary = os.path.abspath(args.binary)
    failures = []
    with tempfile.TemporaryDirectory(prefix='corvane-replicate-') as work:
        source = os.path.join(work, 'source.json')
        target = os.path.join(work, 'target.json')
        shutil.copy(os.path.join(args.machines, 'notebook.json'), source)
        shutil.copy(os.path.join(args.machines, 'notebook-password.json'), target)
        code, _ = run(binary, source, '/GetConfig:source.txt', cwd=work)
        failures += [] if code == 0 else [f'GetConfig of the source ended with {code}']
        code, _ = run(binary, target, '/GetConfig:before.txt', cwd=work)
        with open(os.path.join(work, 'source.txt')) as a, open(os.path.join(work, 'before.txt')) as b:
            if a.read() == b.read():
                failures.append('the two notebooks start out alike; the test proves nothing')
        code, log = run(binary, target, '/cspwd:Lumo-1234', '/SetConfig:source.txt', cwd=work)
        if code != 0 or 'changeStatus="fail"' in log or 'changeStatus="pass"' not in log:
            failures.append(f'SetConfig ended with {code}:\n{log}')
        code, log = run(binary, target, '/SetConfig:source.txt', '/cspwd:Lumo-1234', cwd=work)
        if code != 0 or '<SETTING' in log:
            failures.append(f'a second SetConfig still changed something ({code}):\n{log}')
        run(binary, target, '/GetConfig:after.txt', cwd=work)
        with open(os.path.join(work, 'source.txt')) as a, open(os.path.join(work, 'after.txt')) as b:
            if a.read() != b.read():
                failures.append('the target does not have the source\'s settings')
    for failure in failures:
        print('FAIL ' + failure)
    print(f'replicate: {0 if failures else 1} passed, {1 if failures else 0} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
