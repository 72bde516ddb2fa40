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
corpus/legacy_reader   every REPSET file of a legacy scenario, and the text of the harness's machine
corpus/value_buffers   the system objects of the sample legacy machines as value buffers, six per
                       seed, and the built-in objects over a few firmware states

Scenario texts that use a define ({{NAME}}) are left out: the seeds stay small.
"""
import glob
import hashlib
import json
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
    'legacy_reader': [
        'English\nSerial Port\n\tDisable\n\t*Enable\n\tAuto\nAsset Tracking Number\n\tA12345\n'
        'POST Delay\n\t0\n\t10\n\t5\nBoot Order\n\tA\n\tB Disabled\n\tC\nOwner Name\n'
        '\tProperty of Lumo\nSystem Time\n\t12:30:00\nSystem Date\n\t2026-12-07\n'
        'Fan\\Front\n\t*Disable\n\tEnable\nLevel\\Front\n\t1\n\t5\n\t3\nLevel\\Rear\n\t0\n'
        '\t9\n\t9\nBlob\nSetup Password\nESCD\n\t*Disable\n\tEnable\nLocked Toggle\n'
        '\t*Disable\n\tEnable\nTemperature\n\t-20\n\t-1\n\t-3\nSerial Number\n\t5CG123\n',
        'English\r\nOwner Name\r\n\t' + 'x' * 64 + '\r\n\t y\r\nBoot Order\r\n\tC\r\n'
        '\tA Disabled\r\nSerial Port\r\n\t*auto\r\n\t*--\r\nPOST Delay\r\n\t7\r\n',
    ],
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
                if os.sep + 'legacy' + os.sep in path:
                    seeds['legacy_reader'].append(body + '\n')
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
    seeds['value_buffers'] = buffer_seeds()
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


KINDS = ['enum', 'alpha', 'binary', 'int', 'password', 'stringtable', 'date', 'time',
         'orderedlist', 'enum_ext', 'ext_int']


def value_buffer(item, strings):
    """The value buffer of one system object of a sample machine; string indices are taken
    modulo the harness's small table."""
    def index(text):
        return (strings.index(text) if text in strings else 0xFFFF) % 9

    def u16(v):
        return bytes([v & 0xFF, (v >> 8) & 0xFF])

    def i32(v):
        return (v & 0xFFFFFFFF).to_bytes(4, 'little')

    kind = item['kind']
    name = u16(index(item.get('name', '')))
    subs = b''.join(u16(index(t)) for t in item.get('subNames', [])[:4])
    subs += u16(0xFFFF) * (4 - len(item.get('subNames', [])[:4]))
    if kind in ('enum', 'enum_ext'):
        choices = item.get('choices', [])
        current = choices.index(item['current']) if item.get('current') in choices else 0
        body = u16(current) + (subs if kind == 'enum_ext' else b'')
        body += b''.join(u16(index(c)) for c in choices) + u16(0xFFFF)
    elif kind in ('alpha', 'date', 'time'):
        text = item.get('text', '').encode('utf-8')
        body = text + b'\0' * max(1, item.get('size', len(text) + 3) - len(text) - 2)
    elif kind in ('int', 'ext_int'):
        body = i32(item.get('minimum', 0)) + i32(item.get('maximum', 0)) + i32(item.get('value', 0))
        body += subs if kind == 'ext_int' else b''
    elif kind == 'orderedlist':
        body = b''.join(u16(index(e)) for e in item.get('elements', [])) + u16(0xFFFF)
    elif kind == 'binary':
        body = bytes.fromhex(item.get('bytes', ''))
    elif kind == 'stringtable':
        name = u16(0)
        body = b''.join(t.encode('utf-8') + b'\0' for t in item.get('strings', [])[:12]) + b'\0'
    else:
        body = b'\0' * (item.get('size', 4) - 2)
    value = name + body
    flags = 2 if item.get('readOnly') else 0
    return (bytes([KINDS.index(kind), flags]) + u16(len(value)) + u16(len(value)) + value)


def buffer_seeds():
    """value_buffers seeds: the first byte 0, then the harness's records of six objects; and the
    built-in objects of both sets (first byte 1 or 3) over a few firmware states."""
    seeds = []
    samples = glob.glob(os.path.join(ROOT, 'machines', 'legacy-*.json'))
    samples += glob.glob(os.path.join(SCENARIOS, 'legacy', '*.json'))
    for path in sorted(samples):
        with open(path, encoding='utf-8') as handle:
            objects = json.load(handle)['legacy'].get('objects', [])
        strings = next((o.get('strings', []) for o in objects if o['kind'] == 'stringtable'), [])
        records = [value_buffer(o, strings) for o in objects]
        for start in range(0, len(records), 6):
            seeds.append(b'\0' + b''.join(records[start:start + 6]))
    for mode in (1, 3):
        for toggle in (0, 1, 0x1F):
            state = bytes([toggle]) * 0x90 + bytes(8) + bytes(range(128)) + b'\x05TAG-1\x03own'
            state += b'\x04\x04' + bytes([2, 0, 3, 1]) + bytes(64) + bytes(range(40))
            seeds.append(bytes([mode]) + state)
    return seeds


def main():
    for name, texts in collect().items():
        folder = os.path.join(HERE, 'corpus', name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for text in texts:
            data = text if isinstance(text, bytes) else text.encode('utf-8', 'surrogateescape')
            digest = hashlib.sha1(data).hexdigest()
            with open(os.path.join(folder, digest), 'wb') as handle:
                handle.write(data)
        print(f'{name}: {len(os.listdir(folder))} seeds')


if __name__ == '__main__':
    main()
