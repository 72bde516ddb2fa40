#!/usr/bin/env python3
"""Compares /GetConfig on a firmware-attributes tree with fwupdtool on the same tree.

Both read a copy of the Dell XPS 13 tree (never the kernel's own): Corvane through
CORVANE_FIRMWARE_ATTRIBUTES, fwupdtool through FWUPD_SYSFSFWATTRIBDIR, as
'fwupdtool --plugins test get-bios-settings --json'. Each runs whole, once to warm the caches
and then --runs times, alternating; the table gives the medians of wall time, CPU time and
peak resident memory, and Corvane's share of fwupdtool's.

  bench/fwattr_bench.py --binary build/default/corvane [--runs 15]

fwupdtool comes from the Debian package fwupd; run as root, the script installs it when it is
missing, otherwise it says how.
"""
import argparse
import os
import shutil
import stat
import statistics
import subprocess
import sys
import tempfile

from process_measure import launcher_note, measure

HERE = os.path.dirname(os.path.abspath(__file__))
DELL = os.path.join(HERE, '..', 'machines', 'firmware-attributes', 'dell-xps13-9310')


def ensure_fwupdtool():
    if shutil.which('fwupdtool'):
        return True
    if os.geteuid() == 0 and shutil.which('apt-get'):
        print('Installing fwupd (for fwupdtool) ...', flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND='noninteractive')
        subprocess.run(['apt-get', 'update', '-qq'], env=env, check=False)
        subprocess.run(['apt-get', 'install', '-y', '-qq', '--no-install-recommends', 'fwupd'],
                       env=env, check=False, stdout=subprocess.DEVNULL)
        if shutil.which('fwupdtool'):
            return True
    print('fwupdtool is missing: install it with "sudo apt-get install fwupd" and run again.')
    return False


def copy_tree(source, target):
    shutil.copytree(source, target)
    for folder, folders, files in os.walk(target):
        for name in folders + files:
            path = os.path.join(folder, name)
            os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', default='build/default/corvane')
    parser.add_argument('--runs', type=int, default=15)
    parser.add_argument('--tree', default=DELL, help='a firmware-attributes tree to copy')
    args = parser.parse_args()
    if args.runs < 10:
        parser.error('at least 10 runs')
    if not ensure_fwupdtool():
        return 1
    binary = os.path.abspath(args.binary)
    fwupdtool = shutil.which('fwupdtool')
    with tempfile.TemporaryDirectory(prefix='corvane-fwattr-bench-') as work:
        tree = os.path.join(work, 'tree')
        copy_tree(args.tree, tree)
        base = {k: v for k, v in os.environ.items() if k != 'CORVANE_MACHINE'}
        tools = {
            'corvane': ([binary, '/GetConfig:settings.txt'],
                        dict(base, CORVANE_FIRMWARE_ATTRIBUTES=tree)),
            # The file is flushed to the disk before it replaces the old one; printed, the
            # settings cost what fwupdtool's printing does.
            'corvane-out': ([binary, '/GetConfig'], dict(base, CORVANE_FIRMWARE_ATTRIBUTES=tree)),
            'fwupdtool': ([fwupdtool, '--plugins', 'test', 'get-bios-settings', '--json'],
                          dict(base, FWUPD_SYSFSFWATTRIBDIR=tree)),
        }
        results = {name: [] for name in tools}
        for run in range(args.runs + 1):
            for name, (command, env) in tools.items():
                wall, cpu, peak, code = measure(command, env, work)
                if code != 0:
                    print(f'{name} ended with {code}: {" ".join(command)}')
                    return 1
                if run > 0:  # the first round only warms the caches
                    results[name].append((wall, cpu, peak))
        with open(os.path.join(work, 'settings.txt')) as handle:
            blocks = sum(1 for line in handle if line.strip() and not line[0].isspace()) - 1
        version = subprocess.run([fwupdtool, '--version'], capture_output=True, text=True,
                                 env=tools['fwupdtool'][1]).stdout
        version = next((line.split()[-1] for line in version.splitlines()
                        if 'runtime' in line and 'org.freedesktop.fwupd' in line), 'unknown')
    print(f'Tree: {os.path.normpath(args.tree)} ({blocks} settings written by Corvane); '
          f'fwupd {version}; medians of {args.runs} runs; {launcher_note()}.')
    print()
    print('| Measure | corvane /GetConfig:file | corvane /GetConfig | '
          'fwupdtool get-bios-settings --json | file / fwupdtool | printed / fwupdtool |')
    print('|---|---:|---:|---:|---:|---:|')
    for index, (label, scale, unit) in enumerate((('Wall time', 1000, 'ms'),
                                                   ('CPU time', 1000, 'ms'),
                                                   ('Peak memory', 1, 'MiB'))):
        ours = statistics.median(r[index] for r in results['corvane']) * scale
        printed = statistics.median(r[index] for r in results['corvane-out']) * scale
        theirs = statistics.median(r[index] for r in results['fwupdtool']) * scale
        print(f'| {label} | {ours:.1f} {unit} | {printed:.1f} {unit} | {theirs:.1f} {unit} | '
              f'{ours / theirs:.2f} | {printed / theirs:.2f} |')
    return 0


if __name__ == '__main__':
    sys.exit(main())
