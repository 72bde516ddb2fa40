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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402


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
            code, out, _ = corvane_run.run([program, '/?'], corvane_run.environment(prefix))
            if code != 17 or 'Usage:' not in out:
                failures.append(f'the installed corvane does not run: {code}')
        if not os.path.isfile(page):
            failures.append('share/man/man1/corvane.1 is not installed')
        elif shutil.which('groff'):
            lint = subprocess.run(['groff', '-man', '-Tutf8', '-ww', '-z', page],
                                  capture_output=True, text=True)
            if lint.returncode != 0 or lint.stderr:
                failures.append(f'groff warns about the man page:\n{lint.stderr}')
    return corvane_run.report('install', failures)


if __name__ == '__main__':
    sys.exit(main())
