#!/usr/bin/env python3
"""Copies one machine's settings to another: a /GetConfig file of one machine, applied with
/SetConfig to a differently set one, turns it into the same settings, and a second apply finds
nothing left to change. A /CheckConfig of the file reports differences before the apply, without
changing any, and none after it. Once between two simulated notebooks, once between the legacy sample
desktop (served by the management library) and a copy whose writable system objects are set
otherwise, once between two copies of the Dell firmware-attributes tree (on Linux only). No run
ever reaches the kernel's own firmware attributes.

--runner and --machine-variable run Corvane.exe under Wine with the machine handed to the WMI
double of the prefix instead of CORVANE_MACHINE; the trees are then left out. The management
library always reads its machine from CORVANE_MACHINE."""
import argparse
import json
import os
import shlex
import shutil
import stat
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402

DELL = os.path.join('firmware-attributes', 'dell-xps13-9310')
ATTRIBUTES = os.path.join('dell-wmi-sysman', 'attributes')
# The target tree differs from the source in settings of every kind the tree has. The tree's
# own asset tag is empty, below its min_length of 1, so no driver would take it: the source
# gets one it can give.
SOURCE_VALUES = {'Asset': 'LAB-0001'}
TARGET_VALUES = {'WlanAutoSense': 'Enabled', 'CustomChargeStop': '80', 'Asset': 'OLD-TAG',
                 'AutoOn': 'Everyday', 'KbdBacklightTimeoutAc': '1m', 'AutoOnHr': '23',
                 'AutoOnFri': 'Enabled', 'PeakShiftCfg': 'Enabled'}


def replicate(runner, binary, work, source_env, target_env, passwords, label):
    def run(env, *args):
        return corvane_run.run([*runner, binary, *args], env, cwd=work, crlf=True)[:2]

    def text(name):
        return corvane_run.read(os.path.join(work, name))

    failures = []
    code, _ = run(source_env, '/GetConfig:source.txt')
    failures += [] if code == 0 else [f'{label}: GetConfig of the source ended with {code}']
    run(target_env, '/GetConfig:before.txt')
    if text('source.txt') == text('before.txt'):
        failures.append(f'{label}: the two machines start out alike; the test proves nothing')
    code, log = run(target_env, *passwords, '/CheckConfig:source.txt')
    run(target_env, '/GetConfig:checked.txt')
    if code != 20 or 'changeStatus="differs"' not in log or (
            text('checked.txt') != text('before.txt')):
        failures.append(f'{label}: the check before the apply ended with {code}:\n{log}')
    code, log = run(target_env, *passwords, '/SetConfig:source.txt')
    # "fail", and the "failed" of a legacy ordered list.
    if code != 0 or 'changeStatus="fail' in log or 'changeStatus="pass"' not in log:
        failures.append(f'{label}: SetConfig ended with {code}:\n{log}')
    code, log = run(target_env, '/SetConfig:source.txt', *passwords)
    if code != 0 or '<SETTING' in log:
        failures.append(f'{label}: a second SetConfig still changed something ({code}):\n{log}')
    code, log = run(target_env, '/CheckConfig:source.txt', *passwords)
    if code != 0 or '<SETTING' in log:
        failures.append(f'{label}: the check after the apply ended with {code}:\n{log}')
    run(target_env, '/GetConfig:after.txt')
    if text('source.txt') != text('after.txt'):
        failures.append(f'{label}: the target does not have the source\'s settings')
    return failures


def set_legacy_otherwise(machine):
    """Gives every writable system object of the legacy sample another value."""
    for item in machine['legacy']['objects']:
        if item.get('readOnly') or item['kind'] in ('stringtable', 'password', 'binary', 'date'):
            continue
        kind = item['kind']
        if kind in ('enum', 'enum_ext'):
            choices = [c for c in item['choices'] if c != '--']
            item['current'] = next(c for c in choices if c != item.get('current', choices[0]))
        elif kind in ('int', 'ext_int'):
            item['value'] = item['minimum'] if item['value'] != item['minimum'] else item['maximum']
        elif kind in ('alpha', 'time'):
            # The same length: a time field is as long as its text.
            text = item['text']
            item['text'] = ('X' if text[:1] != 'X' else 'Y') + text[1:]
        elif kind == 'orderedlist':
            elements = list(reversed(item['elements']))
            # Every element in its other state, where the string table has one.
            twins = []
            for element in elements:
                base = element[:-len(' Disabled')] if element.endswith(' Disabled') else None
                twins.append(base or element + ' Disabled')
            strings = machine['legacy']['objects'][0]['strings']
            item['elements'] = [t if t in strings else e for e, t in zip(elements, twins)]
    return machine


def copy_tree(source, target, values):
    shutil.copytree(source, target)
    for folder, folders, files in os.walk(target):
        for name in folders + files:
            path = os.path.join(folder, name)
            os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR)
    for name, value in values.items():
        with open(os.path.join(target, ATTRIBUTES, name, 'current_value'), 'w') as handle:
            handle.write(value + '\n')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--binary', required=True)
    parser.add_argument('--machines', required=True)
    parser.add_argument('--runner', default='', help='a command to run the binary with (wine)')
    parser.add_argument('--machine-variable', default='CORVANE_MACHINE',
                        help='the variable that names the machine file')
    args = parser.parse_args()
    runner = shlex.split(args.runner)
    binary = os.path.abspath(args.binary)
    failures = []
    with tempfile.TemporaryDirectory(prefix='corvane-replicate-') as work:
        # The library each run writes out lands in this test's own folder.
        base = corvane_run.environment(work)

        notebooks = os.path.join(work, 'notebooks')
        os.mkdir(notebooks)
        source = os.path.join(notebooks, 'source.json')
        target = os.path.join(notebooks, 'target.json')
        shutil.copy(os.path.join(args.machines, 'notebook.json'), source)
        shutil.copy(os.path.join(args.machines, 'notebook-password.json'), target)
        failures.append(replicate(runner, binary, notebooks,
                                  dict(base, **{args.machine_variable: source}),
                                  dict(base, **{args.machine_variable: target}),
                                  ['/cspwd:Lumo-1234'], 'notebooks'))

        desktops = os.path.join(work, 'desktops')
        os.mkdir(desktops)
        source = os.path.join(desktops, 'source.json')
        target = os.path.join(desktops, 'target.json')
        shutil.copy(os.path.join(args.machines, 'legacy-desktop.json'), source)
        with open(source) as handle:
            machine = json.load(handle)
        with open(target, 'w') as handle:
            json.dump(set_legacy_otherwise(machine), handle, indent=2)
        failures.append(replicate(runner, binary, desktops, dict(base, CORVANE_MACHINE=source),
                                  dict(base, CORVANE_MACHINE=target), ['/cspwd:Pro4100'],
                                  'legacy desktops'))

        if not runner:
            trees = os.path.join(work, 'trees')
            os.mkdir(trees)
            source = os.path.join(work, 'source-tree')
            target = os.path.join(work, 'target-tree')
            copy_tree(os.path.join(args.machines, DELL), source, SOURCE_VALUES)
            copy_tree(os.path.join(args.machines, DELL), target, TARGET_VALUES)
            failures.append(replicate(runner, binary, trees,
                                      dict(base, CORVANE_FIRMWARE_ATTRIBUTES=source),
                                      dict(base, CORVANE_FIRMWARE_ATTRIBUTES=target), [],
                                      'Dell trees'))
    # One check a pair: its failures together.
    return corvane_run.report('replicate', ['\n'.join(f) for f in failures if f], len(failures))


if __name__ == '__main__':
    sys.exit(main())
