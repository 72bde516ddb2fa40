#!/usr/bin/env python3
"""Rebuilds the committed seed corpora of the fuzz harnesses from the end-to-end scenarios and
the sample machines, plus the few seeds written out below.

  tests/fuzz/make_corpus.py

corpus/repset_reader   every REPSET file of a scenario
corpus/error_map       every TivErr.cfg of a scenario
corpus/password_options the arguments of every scenario, NUL-separated
corpus/machine_file    the sample machines, the machines beside the scenarios and inline ones
corpus/command_line    the arguments of every scenario, NUL-separated, without the program
corpus/firmware_attributes  the sample firmware-attributes trees, a few attributes per seed

Scenario texts that use a define ({{NAME}}) are left out: the seeds stay small.
"""
import glob
import hashlib
import os
import shlex
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCENARIOS = os.path.join(ROOT, 'tests', 'e2e', 'scenarios')

# The REPSET text the settings of repset_reader_fuzz.cpp's machine give, and a few shapes the
# scenarios do not show.
EXTRA = {
    'repset_reader': [
        'English\nPOST Delay\n\t5\nBoot Order\n\tUSB Hard Drive\n\tHard Drive\n'
        '\tNetwork Controller DISABLED\nAsset Tag\n\tA12345\nSerial Number\n\t5CG123\n'
        'Serial Port A\n\tDisable\n\t*Enable\n\tAuto DISABLED\nFast Boot\n\t*Disable\n\tEnable\n'
        'Temperature Offset\n\t-3\nWake Mode\n\t*On\n\t*ON\n\tOff\n\tPadded\n\tMarked disabled\n'
        'Owner Name\n\tLumo\nDevice Order\n\tDisk\n\tNet DISABLED\n\tusb\nHidden Toggle\n\t*A\n'
        '\tB\nFirmware Blob\n\t00FF\nBig Number\n\t2147483647\nEmpty Text\n\t\n'
        'Ünïcode Näme\n\tGrüße\nLanguage\n\tEn\n\tDe\nNo Bounds\n\t0\n'
        'Read Only Null\n\tx\n',
        'English\r\nTemperature Offset\r\n\t-20\r\nDevice Order\r\n\tusb\r\n\r\n\tDisk\r\n'
        'Wake Mode\r\n\t*Marked\r\nBig Number\r\n\t-2147483648\r\n',
        'English\nAsset Tag\n\tpart one \n\t part two\nPOST Delay\n\t+7\nNo Bounds\n\t000\n',
    ],
    'error_map': [
        '[Errors]\n0=1\n15=0\n16="3"\n17=\'-4\'\n',
        '\xef\xbb\xbf[errors]\r\n  16 = 7abc \r\n[Other]\r\n16=9\r\n',
    ],
    'password_options': [
        'corvane\0/cspwd:abc\0/CurSetupPassword:<LT>x<keypad 5>\0/nspwd:\0/NEWADMINPASSWORD:Q q',
        'corvane\0/cspwd\0/CURSETUPPASSWORD:\0/nspwdX<SPACE BAR>\0/cspwd:a<b\0/nspwd:?',
    ],
    'machine_file': [],
    'command_line': [
        '/cspwd:pw\0/nspwd:new\0/SetConfig:/opt/corvane/settings.txt\0/GetConfig',
        '/cspwd:pw\0/GetConfig:/opt/corvane/out.txt\0/SetConfig:/opt/corvane/out.txt',
    ],
}


def scenario_sections(path):
    """(kind, argument, body) of every section, and the header lines."""
    with open(path, encoding='utf-8', newline='') as handle:
        lines = handle.read().split('\n')
    if lines and lines[-1] == '':
        lines.pop()
    headers, sections, index = [], [], 0
    while index < len(lines) and not lines[index].startswith('--- '):
        headers.append(lines[index])
        index += 1
    while index < len(lines):
        header = lines[index][4:].split(None, 1)
        index += 1
        body = []
        while index < len(lines) and not lines[index].startswith('--- '):
            body.append(lines[index])
            index += 1
        sections.append((header[0], header[1] if len(header) > 1 else '', '\n'.join(body)))
    return headers, sections


def collect():
    seeds = {name: [] for name in EXTRA}
    for path in sorted(glob.glob(os.path.join(SCENARIOS, '**', '*.scn'), recursive=True)):
        headers, sections = scenario_sections(path)
        for line in headers:
            if line.startswith('args:') and '{{' not in line:
                arguments = ['corvane'] + shlex.split(line[len('args:'):].strip())
                seeds['password_options'].append('\0'.join(arguments))
                seeds['command_line'].append('\0'.join(arguments[1:]))
        for kind, argument, body in sections:
            if '{{' in body:
                continue
            if kind == 'file' and body.startswith('English'):
                seeds['repset_reader'].append(body + '\n')
            elif kind == 'file' and argument == 'TivErr.cfg':
                seeds['error_map'].append(body + '\n')
            elif kind == 'machine':
                seeds['machine_file'].append(body)
    machines = glob.glob(os.path.join(ROOT, 'machines', '*.json'))
    machines += glob.glob(os.path.join(SCENARIOS, '**', '*.json'), recursive=True)
    for path in sorted(machines):
        with open(path, encoding='utf-8') as handle:
            seeds['machine_file'].append(handle.read())
    for name, extra in EXTRA.items():
        seeds[name] += extra
    seeds['firmware_attributes'] = tree_seeds()
    return seeds


FIELDS = ('type', 'current_value', 'possible_values', 'min_value', 'max_value',
          'scalar_increment', 'min_length', 'max_length', 'elements', 'dell_modifier')


def tree_seeds():
    """Each sample driver folder, a few attributes per seed, in the harness's record form."""
    seeds = []
    for attributes in sorted(glob.glob(os.path.join(ROOT, 'machines', 'firmware-attributes',
                                                    '*', '*', 'attributes'))):
        records = []
        for name in sorted(os.listdir(attributes)):
            folder = os.path.join(attributes, name)
            if not os.path.isdir(folder):
                continue
            files = []
            for field in FIELDS:
                path = os.path.join(folder, field)
                if not os.path.exists(path):
                    break
                with open(path, encoding='utf-8', errors='surrogateescape') as handle:
                    files.append(handle.read())
            records.append('\0'.join([name] + files))
        for start in range(0, len(records), 6):
            seeds.append('\0\0'.join(records[start:start + 6]))
    return seeds


def main():
    for name, texts in collect().items():
        folder = os.path.join(HERE, 'corpus', name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for text in texts:
            data = text.encode('utf-8', 'surrogateescape')
            digest = hashlib.sha1(data).hexdigest()
            with open(os.path.join(folder, digest), 'wb') as handle:
                handle.write(data)
        print(f'{name}: {len(os.listdir(folder))} seeds')


if __name__ == '__main__':
    main()
