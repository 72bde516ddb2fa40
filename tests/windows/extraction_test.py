#!/usr/bin/env python3
"""Checks that Corvane.exe under Wine writes the management library it carries, byte for byte,
into the temporary folder at every start, replacing a stale file, help runs included; and that
a file there that cannot be replaced is loaded only when it is that very library. Needs the
prefix made by wine_prefix.sh (WINEPREFIX)."""
import argparse
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402


def wine_output(runner, args):
    result = subprocess.run(runner + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            timeout=120, check=True)
    return result.stdout.decode('utf-8', 'replace').strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', required=True)
    parser.add_argument('--runner', default='wine')
    parser.add_argument('--library', required=True, help='the built Tarnix.dll')
    parser.add_argument('--other-library', required=True,
                        help='another usable Tarnix.dll, standing for one planted there')
    parser.add_argument('--machine', required=True, help='a legacy machine with a password')
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

    def run(arguments, work, machine=None):
        env = corvane_run.environment(work, CORVANE_MACHINE=machine)
        code, _, errors = corvane_run.run(runner + [os.path.abspath(args.binary)] + arguments,
                                          env, cwd=work)
        return code, errors

    with tempfile.TemporaryDirectory(prefix='corvane-extract-') as work:
        with open(target, 'wb') as handle:
            handle.write(b'a stale library of an older version')
        for arguments in (['/?'], ['/GetConfig']):
            run(arguments, work)
            written = open(target, 'rb').read() if os.path.exists(target) else None
            if written != built:
                failures.append(f'after {" ".join(arguments)} {target} holds '
                                f'{"nothing" if written is None else len(written)} bytes, not '
                                f'the {len(built)} bytes of {args.library}')
            if os.path.exists(target):
                os.remove(target)

        # A read-only file cannot be deleted: it stands for one held by a running instance, or
        # planted by anything of the same user. Only the very library carried is loaded.
        machine = os.path.join(work, 'machine.json')
        for planted, wanted in ((args.other_library, (10, 'cannot be replaced')),
                                (args.library, (0, ''))):
            shutil.copy(planted, target)
            os.chmod(target, 0o444)
            shutil.copy(args.machine, machine)
            code, errors = run(['/cspwd:Pro4100', '/nspwd:Pro4101'], work, machine)
            if code != wanted[0] or wanted[1] not in errors or (not wanted[1] and errors):
                failures.append(f'with {planted} read-only in its place: exit {code}, standard '
                                f'error {errors!r}; expected exit {wanted[0]} and '
                                f'{wanted[1] or "nothing"!r}')
            os.chmod(target, 0o644)
            os.remove(target)
    return corvane_run.report('extraction', failures)


if __name__ == '__main__':
    sys.exit(main())
