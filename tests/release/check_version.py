#!/usr/bin/env python3
"""Checks that everything naming Corvane's version names the one in CMakeLists.txt: the files
that repeat it (the Debian changelog's latest entry, the collection's galaxy.yml, the PowerShell
module's manifest) and the result log of the built program, on a copy of a simulated machine."""
import argparse
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--version', required=True, help='the project version')
    parser.add_argument('--binary', required=True)
    parser.add_argument('--source', required=True, help='the project folder')
    args = parser.parse_args()
    failures = []

    def named(path, pattern):
        with open(os.path.join(args.source, path), encoding='utf-8') as handle:
            match = re.search(pattern, handle.read(), re.MULTILINE)
        if not match or match[1] != args.version:
            failures.append(f'{path} names version {match and match[1]}, not {args.version}')

    named('packaging/debian/changelog', r'\A\S+ \(([^)]+)\)')
    named('ansible_collections/corvane/bios/galaxy.yml', r'^version:\s*["\']?([^"\'\s]+)')
    named('powershell/Corvane/Corvane.psd1', r"^\s*ModuleVersion\s*=\s*'([^']+)'")

    with tempfile.TemporaryDirectory(prefix='corvane-version-') as work:
        machine = os.path.join(work, 'notebook.json')
        shutil.copy(os.path.join(args.source, 'machines', 'notebook.json'), machine)
        _, log, _ = corvane_run.run([args.binary, '/ADVANCED'],
                                    corvane_run.environment(work, CORVANE_MACHINE=machine))
    wanted = f'<BIOSCONFIG Version="{args.version}.0" '
    if not log.startswith(wanted):
        failures.append(f'the result log opens with {log.splitlines()[:1]}, not {wanted}')

    return corvane_run.report('version', failures)


if __name__ == '__main__':
    sys.exit(main())
