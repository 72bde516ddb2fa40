#!/usr/bin/env python3
"""Checks the built Corvane.exe or Corvane64.exe from the file itself, with the MinGW binary tools:
a console program of the bitness asked for, without debug sections, that imports only DLLs of
Windows itself, whose version resource carries the project version as its fixed file version and
every text that inventory tools and signing policies read, whose manifest asks for administrator
rights, and which carries the built management library byte for byte as resource "BINARY" 129,
language 1033."""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402

# DLLs that Windows maps from its system folder for every process that imports them (its known
# DLLs, and ntdll); any other import would be searched for beside the executable first. The
# runtime of the compiler is linked in statically.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'msvcrt.dll', 'ole32.dll',
               'oleaut32.dll', 'shell32.dll', 'shlwapi.dll', 'ntdll.dll'}
RT_VERSION = 16
RT_MANIFEST = 24
LIBRARY_RESOURCE = ('BINARY', 129)
LIBRARY_LANGUAGE = 1033  # English (United States)
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
VERSION_TEXTS = ('CompanyName', 'FileDescription', 'FileVersion', 'InternalName',
                 'LegalCopyright', 'OriginalFilename', 'ProductName', 'ProductVersion')
MANIFEST_V3 = '{urn:schemas-microsoft-com:asm.v3}'


def read_id(data, pos):
    """A type or name of a .res header: a number (0xFFFF, id) or a zero-terminated UTF-16 text."""
    if struct.unpack_from('<H', data, pos)[0] == 0xFFFF:
        return struct.unpack_from('<H', data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[pos:end].decode('utf-16-le'), end + 2


def resources(res):
    """{(type, name, language): bytes} of a .res file."""
    found = {}
    pos = 0
    while pos + 8 <= len(res):
        data_size, header_size = struct.unpack_from('<II', res, pos)
        kind, after = read_id(res, pos + 8)
        name, after = read_id(res, after)
        after = (after + 3) & ~3
        language = struct.unpack_from('<H', res, after + 6)[0]
        start = pos + header_size
        if data_size or kind != 0:
            found[(kind, name, language)] = res[start:start + data_size]
        pos = (start + data_size + 3) & ~3
    return found


def fixed_file_version(block):
    index = block.find(struct.pack('<I', FIXED_FILE_INFO_SIGNATURE))
    if index < 0:
        return None
    most, least = struct.unpack_from('<II', block, index + 8)
    return f'{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', required=True)
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('--windres', default='i686-w64-mingw32-windres')
    parser.add_argument('--version', required=True, help='the project version')
    parser.add_argument('--library', required=True, help='the built Tarnix.dll')
    parser.add_argument('--format', default='i386', choices=('i386', 'x86-64'),
                        help="the program's machine: 32-bit (PE32) or x86-64 (PE32+)")
    args = parser.parse_args()
    failures = []

    headers = subprocess.run([args.objdump, '-f', '-p', '-h', args.binary], capture_output=True,
                             text=True, check=True).stdout
    debug = sorted(set(re.findall(r'^\s*\d+\s+(\.debug\S*)', headers, re.MULTILINE)))
    if debug:
        failures.append(f'debug sections: {debug}')
    magic = {'i386': r'010b\s+\(PE32\)', 'x86-64': r'020b\s+\(PE32\+\)'}[args.format]
    if not re.search(r'file format pei-' + args.format, headers) or \
            not re.search(r'^Magic\s+' + magic, headers, re.MULTILINE):
        failures.append(f'not a {args.format} executable')
    if not re.search(r'^Subsystem\s+00000003\s+\(Windows CUI\)', headers, re.MULTILINE):
        failures.append('not a console program')
    imports = re.findall(r'DLL Name: (\S+)', headers)
    if not imports:
        failures.append('no imports found: objdump output not understood')
    foreign = sorted(name for name in imports if name.lower() not in SYSTEM_DLLS)
    if foreign:
        failures.append(f'imports DLLs that Windows does not map from its system folder: '
                        f'{foreign}')

    with tempfile.TemporaryDirectory(prefix='corvane-res-') as work:
        res_path = os.path.join(work, 'corvane.res')
        extracted = subprocess.run([args.windres, '-i', args.binary, '-O', 'res', '-o', res_path],
                                   capture_output=True, text=True)
        found = {}
        if extracted.returncode != 0:
            failures.append(f'no resources could be read: {extracted.stderr.strip()}')
        else:
            with open(res_path, 'rb') as handle:
                found = resources(handle.read())

    versions = [data for (kind, _, _), data in found.items() if kind == RT_VERSION]
    wanted = '.'.join((args.version.split('.') + ['0', '0', '0'])[:4])
    if len(versions) != 1:
        failures.append(f'{len(versions)} version resources, expected one')
    elif fixed_file_version(versions[0]) != wanted:
        failures.append(f'fixed file version {fixed_file_version(versions[0])}, expected {wanted}')

    manifests = [data for (kind, name, _), data in found.items()
                 if kind == RT_MANIFEST and name == 1]
    if len(manifests) != 1:
        failures.append(f'{len(manifests)} program manifests (type 24, id 1), expected one')
    else:
        root = ElementTree.fromstring(manifests[0])
        levels = root.findall(f'.//{MANIFEST_V3}requestedExecutionLevel')
        if [(e.get('level'), e.get('uiAccess')) for e in levels] != \
                [('requireAdministrator', 'false')]:
            failures.append('the manifest does not ask for administrator rights')

    with open(args.library, 'rb') as handle:
        library = handle.read()
    embedded = [data for (kind, name, _), data in found.items()
                if (kind, name) == LIBRARY_RESOURCE]
    # The .res form windres writes loses languages; its .rc form names them.
    script = subprocess.run([args.windres, '-i', args.binary, '-O', 'rc'], capture_output=True,
                            text=True, errors='replace').stdout
    language = re.search(r'LANGUAGE (\d+), (\d+)\s*\n\s*129 "BINARY"', script)
    texts = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', script))
    missing = [key for key in VERSION_TEXTS if not texts.get(key)]
    if missing:
        failures.append(f'version texts missing or empty: {missing}')
    elif texts['OriginalFilename'] != os.path.basename(args.binary):
        failures.append(f'OriginalFilename {texts["OriginalFilename"]!r}, not the file\'s name')
    if len(embedded) != 1:
        failures.append(f'{len(embedded)} resources "BINARY" 129, expected one')
    elif not language or int(language[1]) | int(language[2]) << 10 != LIBRARY_LANGUAGE:
        failures.append(f'resource "BINARY" 129 is not in language {LIBRARY_LANGUAGE}')
    elif embedded[0] != library:
        failures.append(f'resource "BINARY" 129 holds {len(embedded[0])} bytes that are not the '
                        f'{len(library)} bytes of {args.library}')

    return corvane_run.report('executable', failures)


if __name__ == '__main__':
    sys.exit(main())
