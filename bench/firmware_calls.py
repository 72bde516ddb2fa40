#!/usr/bin/env python3
"""Counts the firmware calls a run costs, per job, on each of the makers' interfaces.

On a real machine a run's cost is its firmware calls, not its CPU time: every read of a
current_value (and of is_enabled) under /sys/class/firmware-attributes is one call into the
firmware, every instance a query of Dell's classes returns is one firmware read, every Lenovo
method is one call. Simulated machines of n settings count what they answer: Dell's settings
through the kernel's dell-wmi-sysman and through Dell's WMI interface, Lenovo's through its WMI
interface. Jobs: GetConfig; SetConfig of a file the machine matches; SetConfig of k changes
with the administrator password. Beside them, fwupdtool reading the same Dell settings from a
tree on disk (its opens of current_value, counted with strace), and every count's time at 4 ms a
call.

  bench/firmware_calls.py --binary build/default/corvane [--sizes 100,1000,10000]
                          [--changes 1,10,100]

Nothing here reaches real firmware: every run has CORVANE_MACHINE, and fwupdtool reads a tree
this script writes.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

PASSWORD = 'Bench-4dmin'
SECONDS_PER_CALL = 0.004


def dell_machine(n, kernel):
    attributes = [{'AttributeName': f'Option{i:05d}', 'DisplayName': f'Option {i}',
                   'DefaultValue': 'Disabled', 'CurrentValue': 'Disabled', 'Modifiers': '',
                   'ValueModifierCount': 0, 'ValueModifiers': [], 'PossibleValueCount': 2,
                   'PossibleValue': ['Disabled', 'Enabled']} for i in range(n)]
    dell = {'EnumerationAttribute': attributes,
            'PasswordObject': [{'NameId': 'Admin', 'IsPasswordSet': 1,
                                'MinimumPasswordLength': 4, 'MaximumPasswordLength': 32,
                                'password': PASSWORD}]}
    if kernel:
        return {'kernel': {'driver': 'dell-wmi-sysman', 'count': True}, 'dell': dell}
    dell['count'] = True
    return {'dell': dell}


def lenovo_machine(n):
    items = [{'CurrentSetting': f'Option{i:05d},Disable', 'selections': 'Disable,Enable'}
             for i in range(n)]
    return {'lenovo': {'count': True, 'opcodeInterface': True, 'Lenovo_BiosSetting': items,
                       'Lenovo_BiosPasswordSettings': [
                           {'PasswordMode': 1, 'PasswordState': 2, 'MinLength': 4,
                            'MaxLength': 32, 'SupportedEncodings': 1, 'SupportedKeyboard': 1,
                            'password': PASSWORD}]}}


def calls_of(machine):
    """The firmware calls a machine file counted since it was written."""
    if 'kernel' in machine:
        counts = machine['kernel'].get('counts', {})
        reads = sum(v for k, v in counts.get('reads', {}).items()
                    if k.endswith(('/current_value', '/is_enabled')))
        writes = sum(v for k, v in counts.get('writes', {}).items()
                     if k.endswith('/current_value'))
        return reads + writes
    section = machine.get('dell') or machine.get('lenovo')
    calls = section.get('calls', {})
    return (calls.get('instances', 0) + sum(calls.get('reads', {}).values()) +
            sum(calls.get('methods', {}).values()))


def run_job(binary, machine, args, files, work):
    folder = tempfile.mkdtemp(dir=work)
    path = os.path.join(folder, 'machine.json')
    with open(path, 'w', encoding='utf-8') as handle:
        json.dump(machine, handle)
    for name, text in files.items():
        with open(os.path.join(folder, name), 'w', encoding='utf-8') as handle:
            handle.write(text)
    env = {k: v for k, v in os.environ.items() if k != 'CORVANE_MACHINE'}
    env.update(CORVANE_MACHINE=path, CORVANE_FIRMWARE_ATTRIBUTES=os.path.join(folder, 'none'))
    result = subprocess.run([binary, *args], cwd=folder, env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f'{" ".join(args)} ended with {result.returncode}:\n{result.stdout}')
    with open(path, encoding='utf-8') as handle:
        after = json.load(handle)
    shutil.rmtree(folder)
    return calls_of(after)


def file_of(names, value):
    return 'English\n' + ''.join(f'{name}\n\t*{value}\n' for name in names)


def jobs(binary, machine, names, on, off, changes, work):
    """Calls for GetConfig, a matching file, and each number of changes."""
    results = {'GetConfig': run_job(binary, machine, ['/GetConfig:out.txt'], {}, work),
               'SetConfig, file = machine': run_job(
                   binary, machine, [f'/cspwd:{PASSWORD}', '/SetConfig:same.txt'],
                   {'same.txt': file_of(names, off)}, work)}
    for k in changes:
        results[f'SetConfig, k = {k} + password'] = run_job(
            binary, machine, [f'/cspwd:{PASSWORD}', '/SetConfig:changes.txt'],
            {'changes.txt': file_of(names[:k], on)}, work)
    return results


def write_dell_tree(n, root):
    """The same Dell settings as the kernel shows them, for fwupdtool."""
    attributes = os.path.join(root, 'dell-wmi-sysman', 'attributes')
    for i in range(n):
        folder = os.path.join(attributes, f'Option{i:05d}')
        os.makedirs(folder)
        for name, text in (('type', 'enumeration'), ('current_value', 'Disabled'),
                           ('default_value', 'Disabled'), ('display_name', f'Option {i}'),
                           ('display_name_language_code', 'en_US.UTF-8'),
                           ('possible_values', 'Disabled;Enabled;'), ('dell_modifier', ''),
                           ('dell_value_modifier', '')):
            with open(os.path.join(folder, name), 'w', encoding='utf-8') as handle:
                handle.write(text + '\n')
    with open(os.path.join(attributes, 'pending_reboot'), 'w', encoding='utf-8') as handle:
        handle.write('0\n')


def fwupdtool_reads(n, work):
    """fwupdtool's opens of current_value files when it reads the settings; None without it."""
    fwupdtool, strace = shutil.which('fwupdtool'), shutil.which('strace')
    if not fwupdtool or not strace:
        return None
    root = tempfile.mkdtemp(dir=work)
    write_dell_tree(n, root)
    trace = os.path.join(root, 'trace.txt')
    env = dict(os.environ, FWUPD_SYSFSFWATTRIBDIR=root)
    subprocess.run([strace, '-f', '-e', 'trace=open,openat', '-o', trace, fwupdtool, '--plugins',
                    'test', 'get-bios-settings', '--json'], env=env, capture_output=True)
    with open(trace, encoding='utf-8', errors='replace') as handle:
        reads = sum(1 for line in handle if '/current_value"' in line and '= -1' not in line)
    shutil.rmtree(root)
    return reads


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', default='build/default/corvane')
    parser.add_argument('--sizes', default='100,1000,10000')
    parser.add_argument('--changes', default='1,10,100')
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    sizes = [int(n) for n in args.sizes.split(',')]
    changes = [int(k) for k in args.changes.split(',')]
    with tempfile.TemporaryDirectory(prefix='corvane-calls-') as work:
        for n in sizes:
            ks = [k for k in changes if k <= n]
            names = [f'Option{i:05d}' for i in range(n)]
            sources = {
                'Dell, kernel tree': jobs(binary, dell_machine(n, True), names, 'Enabled',
                                          'Disabled', ks, work),
                "Dell's WMI": jobs(binary, dell_machine(n, False), names, 'Enabled', 'Disabled',
                                   ks, work),
                "Lenovo's WMI": jobs(binary, lenovo_machine(n), names, 'Enable', 'Disable', ks,
                                     work),
            }
            fwupd = fwupdtool_reads(n, work)
            print(f'n = {n} settings: firmware calls per job, and their time at 4 ms a call')
            print()
            print('| Job | ' + ' | '.join(sources) + ' |')
            print('|---|' + '---:|' * len(sources))
            for job in sources['Dell, kernel tree']:
                cells = [f'{s[job]} ({s[job] * SECONDS_PER_CALL:.2f} s)' for s in sources.values()]
                print(f'| {job} | ' + ' | '.join(cells) + ' |')
            note = ('fwupdtool is missing (Debian package fwupd) or strace is'
                    if fwupd is None else
                    f'{fwupd} ({fwupd * SECONDS_PER_CALL:.2f} s)')
            print(f'| fwupdtool get-bios-settings, same Dell tree | {note} | | |')
            print()
    return 0


if __name__ == '__main__':
    sys.exit(main())
