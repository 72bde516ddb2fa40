#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks what lands where Linux users look:
bin/corvane, which runs, and share/man/man1/corvane.1, which groff formats without a warning
(when groff is there)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory(prefix='corvane-install-') as prefix:
        result = subprocess.run(['cmake', '--install', args.build, '--prefix', prefix],
                                capture_output=True, text=True)
        if result.returncode != 0:
            failures.append(f'cmake --install failed:\n{result.stdout}{result.stderr}')
        program = os.path.join(prefix, 'bin', 'corvane')
        page = os.path.join(prefix, 'share', 'man', 'man1', 'corvane.1')
        if not os.access(program, os.X_OK):
            failures.append('bin/corvane is not installed')
        else:
            empty = os.path.join(prefix, 'no-firmware-attributes')
            os.mkdir(empty)
            env = {k: v for k, v in os.environ.items() if k != 'CORVANE_MACHINE'}
            env['CORVANE_FIRMWARE_ATTRIBUTES'] = empty
            help_run = subprocess.run([program, '/?'], capture_output=True, text=True, env=env)
            if help_run.returncode != 17 or 'Usage:' not in help_run.stdout:
                failures.append(f'the installed corvane does not run: {help_run.returncode}')
        if not os.path.isfile(page):
            failures.append('share/man/man1/corvane.1 is not installed')
        elif shutil.which('groff'):
            lint = subprocess.run(['groff', '-man', '-Tutf8', '-ww', '-z', page],
                                  capture_output=True, text=True)
            if lint.returncode != 0 or lint.stderr:
                failures.append(f'groff warns about the man page:\n{lint.stderr}')
    for failure in failures:
        print('FAIL ' + failure)
    print(f'install: {0 if failures else 1} passed, {1 if failures else 0} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
