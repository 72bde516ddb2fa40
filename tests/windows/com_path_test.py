#!/usr/bin/env python3
"""Proves that Corvane.exe under Wine reaches the provider through its COM code, and checks the
calls it makes there; and that it reaches Dell's and Lenovo's interfaces the same way.

One run changes the setup password and applies and reads back settings with the machine handed
to the WMI double of the prefix (CORVANE_MACHINE unset); the double's trace must show every COM
operation with the arguments the program is meant to pass. The same run with the program's own
simulated machine must print the same result log and leave the same machine behind; its opening
element names the file version the executable carries. A copy of
the program that Wine presents as Windows 2000 must connect without the bounded-wait flag.
Needs the prefix made by wine_prefix.sh (WINEPREFIX).
"""
import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402

NAMESPACE = r'\\.\root\Lumo\InstrumentedBIOS'
CONNECT = (f'ConnectServer "{NAMESPACE}" flags={{flags}} user=null password=null locale=null '
           'authority=null context=null')
BLANKET = ('SetBlanket authentication=-1 authorization=0 principal=null level=3 impersonation=3 '
           'identity=null capabilities=0')
QUERIES = ['select * from Lumo_BIOSSettingInterface', 'select * from Lumo_BIOSPassword',
           'select * from Lumo_BIOSSetting']

CHANGES = '''English
Fast Boot
\tDisable
\t*Enable
POST Delay (in seconds)
\t7
UEFI Boot Order
\tNVMe M.2 SSD 1
\tUSB Drive
\tNetwork IPV4
\tNetwork IPV6 DISABLED
\tSD Card Boot DISABLED
Asset Tracking Number
\tLUMO-COM-0001
'''
ARGS = ['/cspwd:Lumo-1234', '/nspwd:Lumo-5678', '/SetConfig:changes.txt', '/GetConfig:after.txt']


def run(runner, binary, work, env_changes, args):
    env = corvane_run.environment(work, **env_changes)
    return corvane_run.run(runner + [binary] + args, env, cwd=work, crlf=True)[:2]


def check_trace(lines, failures):
    def need(condition, message):
        if not condition:
            failures.append(message)

    need(lines and lines[0] == 'CreateInstance WbemLocator',
         'the first call is not the creation of the locator')
    connects = [i for i, line in enumerate(lines) if line.startswith('ConnectServer ')]
    need(connects, 'no ConnectServer call')
    for i in connects:
        need(lines[i] == CONNECT.format(flags='0x80'), f'connection: {lines[i]}')
        need(i + 1 < len(lines) and lines[i + 1] == BLANKET,
             f'the connection is not followed by the proxy blanket: {lines[i + 1:i + 2]}')
    need(lines.count('CreateInstance WbemLocator') == len(connects),
         'not one locator per connection')
    queries = [line for line in lines if line.startswith('ExecQuery ')]
    for query in QUERIES:
        need(f'ExecQuery WQL "{query}" flags=0x20 context=null' in queries, f'no query {query!r}')
    need(all(q.endswith(' flags=0x20 context=null') and q.startswith('ExecQuery WQL "')
             for q in queries), f'a query without WQL and forward-only: {queries}')
    nexts = {line for line in lines if line.startswith('Next ')}
    need(nexts == {'Next timeout=-1 count=1'}, f'walks not one object at a time, waiting: {nexts}')
    need('GetObject "lumo_BIOSSettingInterface" flags=0x0 context=null callResult=null' in lines,
         'no GetObject of the interface class')
    need('CreateInstanceEnum "lumo_BIOSSettingInterface" flags=0x20 context=null' in lines,
         'no forward-only instance enumeration of the interface class')
    need('GetMethod SetBIOSSetting flags=0x0' in lines, 'no GetMethod SetBIOSSetting')
    need('SpawnInstance flags=0x0' in lines, 'no SpawnInstance of the signature')
    for name in ('Name', 'Value', 'Password'):
        need(f'Put {name} VT_BSTR flags=0x0 type=0' in lines, f'{name} not put as a BSTR')
    methods = [line for line in lines if line.startswith('ExecMethod ')]
    need(methods and all(
        m == (r'ExecMethod "Lumo_BIOSSettingInterface.InstanceName="ACPI\\PNP0C14\\0_0"" '
              'SetBIOSSetting flags=0x0 context=null in=given callResult=null') for m in methods),
         f'SetBIOSSetting not called on the instance path: {methods[:1]}')
    need(any(line.startswith('InheritsFrom Lumo_BIOS') for line in lines), 'no class tests')
    need(not any('does not use' in line for line in lines),
         'the program called an interface method the adapter is not meant to use')


# Dell's and Lenovo's interfaces, reached after the provider's namespace answered that it is not
# there: the calls each run must make, and how often.
MAKER_RUNS = [
    ('dell-xps13-9310.json', ['/nspwd:Dell-4dmin', '/SetConfig:changes.txt'],
     'English\nWakeOnLan\n\t*LanOnly\nUEFI Boot Order\n\tUSB NIC (IPV6)\n',
     {r'ConnectServer "\\.\root\dcim\sysman\biosattributes" flags=0x80 ': None,
      r'ConnectServer "\\.\root\dcim\sysman\wmisecurity" flags=0x80 ': None,
      'Put SecType VT_I4 flags=0x0 type=0': None,
      'Put SecHandle VT_ARRAY|VT_UI1 flags=0x0 type=0': None,
      'Put BootOrder VT_ARRAY|VT_BSTR flags=0x0 type=0': None,
      r'ExecMethod "SecurityInterface.InstanceName="ACPI\\PNP0C14\\0_0"" SetNewPassword ': 1,
      r'ExecMethod "BIOSAttributeInterface.InstanceName="ACPI\\PNP0C14\\0_0"" SetAttribute ': 1,
      r'ExecMethod "SetBootOrder.InstanceName="ACPI\\PNP0C14\\0_0"" Set ': 1}),
    ('lenovo-notebook.json', ['/cspwd:Think-2024', '/SetConfig:changes.txt'],
     'English\nWakeOnLAN\n\t*Enable\nSecureBoot\n\t*Disable\n',
     {r'ConnectServer "\\.\root\WMI" flags=0x80 ': None,
      'Put parameter VT_BSTR flags=0x0 type=0': None,
      r'ExecMethod "Lenovo_GetBiosSelections.InstanceName="ACPI\\PNP0C14\\0_0"" ': None,
      r'ExecMethod "Lenovo_WmiOpcodeInterface.InstanceName="ACPI\\PNP0C14\\0_0"" ': 1,
      r'ExecMethod "Lenovo_SetBiosSetting.InstanceName="ACPI\\PNP0C14\\0_0"" ': 2,
      r'ExecMethod "Lenovo_SaveBiosSettings.InstanceName="ACPI\\PNP0C14\\0_0"" ': 1}),
]


def check_makers(runner, binary, machines, root, failures):
    for machine, args, changes, calls in MAKER_RUNS:
        work = os.path.join(root, machine)
        os.mkdir(work)
        shutil.copy(os.path.join(machines, machine), os.path.join(work, 'machine.json'))
        with open(os.path.join(work, 'changes.txt'), 'w', encoding='utf-8') as handle:
            handle.write(changes)
        trace = os.path.join(work, 'trace.txt')
        code, log = run(runner, binary, work, {'CORVANE_COM_DOUBLE_MACHINE':
                                               os.path.join(work, 'machine.json'),
                                               'CORVANE_COM_DOUBLE_TRACE': trace}, args)
        lines = corvane_run.read(trace, '').splitlines()
        if code != 0 or 'changeStatus="fail"' in log:
            failures.append(f'{machine} through COM ended with {code}:\n{log}')
        if not lines or not lines[1].startswith(CONNECT.split(' flags')[0]):
            failures.append(f'{machine}: the provider\'s namespace was not asked first')
        for start, count in calls.items():
            made = sum(line.startswith(start) for line in lines)
            if made == 0 or (count is not None and made != count):
                failures.append(f'{machine}: {made} calls {start!r}, expected {count or "some"}')
        if any('does not use' in line for line in lines):
            failures.append(f'{machine}: an interface method the adapter is not meant to use')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', required=True)
    parser.add_argument('--runner', default='wine')
    parser.add_argument('--machines', required=True)
    parser.add_argument('--version', required=True, help='the project version')
    args = parser.parse_args()
    runner = shlex.split(args.runner)
    binary = os.path.abspath(args.binary)
    failures = []
    with tempfile.TemporaryDirectory(prefix='corvane-com-') as root:
        results = {}
        for way in ('com', 'own'):
            work = os.path.join(root, way)
            os.mkdir(work)
            machine = os.path.join(work, 'machine.json')
            shutil.copy(os.path.join(args.machines, 'notebook-password.json'), machine)
            with open(os.path.join(work, 'changes.txt'), 'w', encoding='utf-8') as handle:
                handle.write(CHANGES)
            trace = os.path.join(root, f'{way}-trace.txt')
            env = ({'CORVANE_COM_DOUBLE_MACHINE': machine, 'CORVANE_COM_DOUBLE_TRACE': trace}
                   if way == 'com' else {'CORVANE_MACHINE': machine})
            code, log = run(runner, binary, work, env, ARGS)
            if way == 'com':
                raw_com_log = log
            results[way] = (code, corvane_run.normalise(log),
                            corvane_run.read(os.path.join(work, 'after.txt')),
                            json.loads(corvane_run.read(machine)))
            if way == 'com':
                lines = corvane_run.read(trace, '').splitlines()
                check_trace(lines, failures)
            elif os.path.exists(trace):
                failures.append('the program\'s own simulated machine went through the double')
        code, log, after, machine = results['com']
        version = '.'.join((args.version.split('.') + ['0', '0', '0'])[:4])
        if f'<BIOSCONFIG Version="{version}" ' not in raw_com_log:
            failures.append(f'the opening element does not name version {version}')
        if code != 0 or 'changeStatus="pass"' not in log or 'changeStatus="fail"' in log or \
                'Successfully modified the Setup Password' not in log:
            failures.append(f'the run through COM ended with {code}:\n{log}')
        for index, what in enumerate(('exit code', 'result log', 'GetConfig file', 'machine')):
            if results['com'][index] != results['own'][index]:
                failures.append(f'the {what} through COM differs from the program\'s own '
                                f'simulated machine')

        check_makers(runner, binary, args.machines, root, failures)

        # Wine presents this copy of the program as Windows 2000 (version 5.0).
        old = os.path.join(root, 'old')
        os.mkdir(old)
        shutil.copy(binary, os.path.join(old, 'CorvaneW2K.exe'))
        shutil.copy(os.path.join(args.machines, 'notebook.json'), os.path.join(old, 'm.json'))
        subprocess.run(runner + ['reg', 'add', r'HKCU\Software\Wine\AppDefaults\CorvaneW2K.exe',
                                 '/v', 'Version', '/d', 'win2k', '/f'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        trace = os.path.join(root, 'old-trace.txt')
        code, log = run(runner, os.path.join(old, 'CorvaneW2K.exe'), old,
                        {'CORVANE_COM_DOUBLE_MACHINE': os.path.join(old, 'm.json'),
                         'CORVANE_COM_DOUBLE_TRACE': trace}, ['/GetConfig:out.txt'])
        connects = [line for line in corvane_run.read(trace, '').splitlines()
                    if line.startswith('ConnectServer ')]
        if code != 0 or not connects or \
                any(line != CONNECT.format(flags='0x0') for line in connects):
            failures.append(f'on Windows 2000 ({code}) the connections were {connects[:1]}')
    return corvane_run.report('com-path', failures)


if __name__ == '__main__':
    sys.exit(main())
