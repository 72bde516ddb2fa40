#!/usr/bin/env python3
"""Checks that Corvane.exe under Wine writes the management library it carries, byte for byte,
into the temporary folder at every start, replacing a stale file, help runs included.
Needs the prefix made by wine_prefix.sh (WINEPREFIX)."""
import argparse
import os
import shlex
import subprocess
import sys
import tempfile


def wine_output(runner, args):
    result = subprocess.run(runner + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            timeout=120, check=True)
    return result.stdout.decode('utf-8', 'replace').strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', required=True)
    parser.add_argument('--runner', default='wine')
    parser.add_argument('--library', required=True, help='the built Tarnix.dll')
    args = parser.parse_args()
    runner = shlex.split(args.runner)
    with open(args.library, 'rb') as handle:
        built = handle.read()

    # Wine takes the temporary folder from its registry, not from the environment.
    temp = wine_output(runner, ['cmd', '/c', 'echo', '%TEMP%'])
    folder = wine_output(runner, ['winepath', '-u', temp])
    target = os.path.join(folder, 'Tarnix.dll')
    failures = []
    os.makedirs(folder, exist_ok=True)
    with open(target, 'wb') as handle:
        handle.write(b'a stale library of an older version')
    env = {k: v for k, v in os.environ.items() if not k.startswith('CORVANE_')}
    with tempfile.TemporaryDirectory(prefix='corvane-extract-') as work:
        for arguments in (['/?'], ['/GetConfig']):
            with tempfile.TemporaryFile() as errors:
                subprocess.run(runner + [os.path.abspath(args.binary)] + arguments, cwd=work,
                               env=env, stdout=subprocess.DEVNULL, stderr=errors, timeout=120)
            written = open(target, 'rb').read() if os.path.exists(target) else None
            if written != built:
                failures.append(f'after {" ".join(arguments)} {target} holds '
                                f'{"nothing" if written is None else len(written)} bytes, not '
                                f'the {len(built)} bytes of {args.library}')
            if os.path.exists(target):
                os.remove(target)
    for failure in failures:
        print('FAIL ' + failure)
    print(f'extraction: {0 if failures else 1} passed, {1 if failures else 0} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
