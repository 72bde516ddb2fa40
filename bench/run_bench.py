#!/usr/bin/env python3
"""Measures /GetConfig and /SetConfig on generated simulated machines.

For each size it generates a machine of that many settings (enumerations, integers, strings
and ordered lists), runs /GetConfig:file, then /SetConfig with a file that changes every
setting, and prints wall time and peak resident memory of each run.

  bench/run_bench.py --binary build/default/corvane [--sizes 100,1000,10000,100000]
"""
import argparse
import json
import os
import tempfile

from process_measure import launcher_note, measure


def make_machine(count):
    settings = []
    blocks = ['English']
    for i in range(count):
        kind = i % 4
        name = f'Setting {i:06d}'
        sequence = (i * 7919) % (count * 2)
        if kind == 0:
            settings.append({'class': 'Lumo_BIOSEnumeration', 'Name': name, 'CurrentValue': 'Disable',
                             'PossibleValues': ['Disable', 'Enable', '--'], 'DisplayInUI': 1,
                             'IsReadOnly': 0, 'Sequence': sequence})
            blocks += [name, '\tDisable', '\t*Enable']
        elif kind == 1:
            settings.append({'class': 'Lumo_BIOSInteger', 'Name': name, 'Value': '5',
                             'LowerBound': 0, 'UpperBound': 60, 'DisplayInUI': 1,
                             'IsReadOnly': 0, 'Sequence': sequence})
            blocks += [name, '\t17']
        elif kind == 2:
            settings.append({'class': 'Lumo_BIOSString', 'Name': name, 'Value': 'old text',
                             'DisplayInUI': 1, 'IsReadOnly': 0, 'Sequence': sequence})
            blocks += [name, '\tnew text']
        else:
            elements = ['USB Drive', 'Hard Drive', 'Network Boot DISABLED']
            settings.append({'class': 'Lumo_BIOSOrderedList', 'Name': name,
                             'Value': ','.join(elements), 'Elements': elements,
                             'DisplayInUI': 1, 'IsReadOnly': 0, 'Sequence': sequence})
            blocks += [name, '\tNetwork Boot DISABLED', '\tHard Drive', '\tUSB Drive']
    settings.append({'class': 'Lumo_BIOSPassword', 'Name': 'Setup Password', 'IsSet': 0,
                     'PwdSetFrom': 1, 'SupportedEncoding': ['kbd', 'utf-16'],
                     'DisplayInUI': 1, 'IsReadOnly': 0, 'Sequence': count * 2})
    return {'provider': {'settings': settings}}, '\n'.join(blocks) + '\n'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', default='build/default/corvane')
    parser.add_argument('--sizes', default='100,1000,10000,100000')
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    print(launcher_note())
    print(f'{"settings":>9} {"job":<10} {"seconds":>8} {"peak MiB":>9} {"exit":>5}')
    for size in (int(s) for s in args.sizes.split(',')):
        with tempfile.TemporaryDirectory(prefix='corvane-bench-') as work:
            machine, change = make_machine(size)
            machine_path = os.path.join(work, 'machine.json')
            with open(machine_path, 'w') as handle:
                json.dump(machine, handle, indent=2)
            with open(os.path.join(work, 'change.txt'), 'w') as handle:
                handle.write(change)
            # The simulated machine comes first; an empty tree keeps /sys out of reach anyway.
            empty = os.path.join(work, 'no-firmware-attributes')
            os.mkdir(empty)
            # The library each run writes out lands in this run's own folder.
            runtime = os.path.join(work, 'runtime')
            os.mkdir(runtime, 0o700)
            env = dict(os.environ, CORVANE_MACHINE=machine_path, CORVANE_FIRMWARE_ATTRIBUTES=empty,
                       XDG_RUNTIME_DIR=runtime)
            for job, option in (('GetConfig', '/GetConfig:out.txt'),
                                ('SetConfig', '/SetConfig:change.txt')):
                seconds, _, peak, code = measure([binary, option], env, work)
                print(f'{size:>9} {job:<10} {seconds:>8.3f} {peak:>9.1f} {code:>5}')


if __name__ == '__main__':
    main()
