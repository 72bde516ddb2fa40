#!/usr/bin/env python3
"""Measures /GetConfig and /SetConfig on generated simulated machines.

For each size it generates a machine of that many settings, runs /GetConfig:file, then
/SetConfig with a file that changes every setting, and prints wall time and peak resident
memory of each run. Provider machines hold enumerations, integers, strings and ordered lists;
legacy machines (served by the management library) hold a string table and that many system
objects: enums, ints, alphas, ordered lists and sub-named ext_ints, behind a setup password.

  bench/run_bench.py --binary build/default/corvane [--sizes 100,1000,10000,100000]
                     [--legacy-sizes 100,1000,10000] [--backend provider|legacy|both]
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


LEGACY_PASSWORD = 'bench42'


def make_legacy_machine(count):
    strings = ['English', 'Disable', 'Enable', 'Hard Drive', 'Hard Drive Disabled', 'USB Drive',
               'USB Drive Disabled', 'Network', 'Network Disabled', 'Slot A']
    names = [f'Setting {i:06d}' for i in range(count)]
    objects = [{'kind': 'stringtable', 'strings': strings + names}]
    blocks = ['English']
    for i, name in enumerate(names):
        kind = i % 5
        if kind == 0:
            objects.append({'kind': 'enum', 'name': name, 'choices': ['Disable', 'Enable'],
                            'current': 'Disable'})
            blocks += [name, '\tDisable', '\t*Enable']
        elif kind == 1:
            objects.append({'kind': 'int', 'name': name, 'minimum': 0, 'maximum': 60, 'value': 5})
            blocks += [name, '\t0', '\t60', '\t17']
        elif kind == 2:
            objects.append({'kind': 'alpha', 'name': name, 'text': 'old text', 'size': 43})
            blocks += [name, '\tnew text']
        elif kind == 3:
            objects.append({'kind': 'orderedlist', 'name': name,
                            'elements': ['Hard Drive', 'USB Drive', 'Network Disabled']})
            blocks += [name, '\tNetwork', '\tUSB Drive Disabled', '\tHard Drive']
        else:
            objects.append({'kind': 'ext_int', 'name': name, 'subNames': ['Slot A'],
                            'minimum': 0, 'maximum': 60, 'value': 1})
            blocks += [name + '\\Slot A', '\t0', '\t60', '\t2']
    machine = {'legacy': {'machineId': 2210, 'password': LEGACY_PASSWORD, 'objects': objects}}
    return machine, '\n'.join(blocks) + '\n'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', default='build/default/corvane')
    parser.add_argument('--sizes', default='100,1000,10000,100000')
    parser.add_argument('--legacy-sizes', default='100,1000,10000')
    parser.add_argument('--backend', choices=('provider', 'legacy', 'both'), default='both')
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    runs = []
    if args.backend in ('provider', 'both'):
        runs += [('provider', int(s), make_machine, []) for s in args.sizes.split(',')]
    if args.backend in ('legacy', 'both'):
        runs += [('legacy', int(s), make_legacy_machine, [f'/cspwd:{LEGACY_PASSWORD}'])
                 for s in args.legacy_sizes.split(',')]
    print(launcher_note())
    print(f'{"backend":<9} {"settings":>9} {"job":<10} {"seconds":>8} {"peak MiB":>9} {"exit":>5}')
    for backend, size, make, password in runs:
        with tempfile.TemporaryDirectory(prefix='corvane-bench-') as work:
            machine, change = make(size)
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
                seconds, _, peak, code = measure([binary, option, *password], env, work)
                print(f'{backend:<9} {size:>9} {job:<10} {seconds:>8.3f} {peak:>9.1f} {code:>5}')


if __name__ == '__main__':
    main()
