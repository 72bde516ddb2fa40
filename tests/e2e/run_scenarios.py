#!/usr/bin/env python3
"""Runs the end-to-end scenarios: the real binary against simulated machines.

A scenario file (*.scn) holds header lines, then sections that start with '--- '.

  # comment
  args: /GetConfig:out.txt "/cspwd:two words"     (split like a shell)
  env: NAME=value                                  (repeatable; an empty value unsets NAME)
  machine: notebook.json                           (beside the scenario or in machines/)
  tree: dell-xps13-9310                            (a firmware-attributes tree, beside the
                                                    scenario or in machines/firmware-attributes/)
  copy-binary: yes                                 (run a copy placed in the work folder)
  windows: skip REASON                             (not run against Corvane.exe, and why)
  windows: own-machine REASON                      (with --com-double, the machine still goes
                                                    to the program through CORVANE_MACHINE)
  windows-64: skip REASON                          (not run against Corvane64.exe, and why)
  windows-64: only REASON                          (run against Corvane64.exe alone, and why)
  user: nobody                                     (as root, run the binary as 'nobody')
  requires-root: REASON                            (skipped unless the suite runs as root)
  mode: NAME 555                                   (octal permission bits given to a file or
                                                    folder of the work folder, '.' itself,
                                                    once everything is in place; repeatable)
  define: NAME = EXPRESSION                        (a text computed in Python; repeatable)
  keys: admin other                                (test-time RSA keys and certificates)
  exit: 16

  --- machine                  an inline machine file (JSON) instead of a sample
  --- file NAME                a file in the work folder before the run (folders made as needed)
  --- file-bytes NAME          the same, without the line feed that ends the last line
  --- stdin                    what standard input holds (nothing when not given)
  --- dir NAME [MODE]          a folder made before the run, with an octal mode (default 700)
  --- symlink NAME TARGET      a symbolic link made before the run
  --- stdout [noeol]           the exact standard output ('noeol': no final line feed)
  --- stderr-contains          a text standard error must contain
  --- stderr                   the exact standard error
  --- file-after NAME          the exact content of a file after the run
  --- absent NAME              a file that must not exist after the run
  --- exists NAME              a file that must exist after the run
  --- machine-after            {"Setting name": {"Property": value}}: the only changes allowed
                               (the value "<missing>" stands for a property removed)
  --- tree-file PATH [noeol] [mode=0444]
                               a file of the tree (added to the copy, or the whole tree when
                               there is no 'tree:'), ending in a line feed as the kernel shows
                               it unless 'noeol'; mode sets its permission bits
  --- tree-folder PATH         an empty folder of the tree
  --- tree-symlink PATH TARGET a symbolic link in the tree ({work} expands in TARGET)
  --- tree-after PATH          the exact content of a tree file after the run (with 'noeol' as
                               above); every other file of the tree must stay as it was

Every run gets CORVANE_FIRMWARE_ATTRIBUTES: the copy of its tree, or an empty folder, so that no
scenario ever reaches the kernel's own /sys/class/firmware-attributes. The copy's files and
folders are made writable by their owner, as the kernel's current_value files are. With
--platform windows the scenarios with a tree are skipped: real folders are read on Linux only. A
machine's simulated kernel tree lives inside the program and runs everywhere.
  --- maker-after              {"dell": {"Class": {"Instance": {"Property": value}}, "key": value}}:
                               the only changes allowed in the dell and lenovo sections; an
                               instance is named by its AttributeName, BootListType or NameId,
                               or by the item its CurrentSetting starts with
  --- legacy-after             {"key": value, "objects": {"Object": {"key": value}}}: the only
                               changes allowed in the legacy section; an object is named by its
                               name text and its sub-name texts joined with backslashes, as in a
                               REPSET file ("Device Power\\\\PCI Slot A" in JSON), or by "#position".
                               A JSON object given for a key whose value is an object lists only
                               the keys in it that change, at any depth:
                               {"cmos": {"0x50": "0x03"}, "interrupt15": {"toggles":
                               {"0x46": {"bh": "0x00"}}}}
  --- kernel-after             {"key": value}: the only changes allowed in the kernel section
                               (its "boot", "counts"), objects listing only what changes, as in
                               legacy-after

In 'env' values, 'args', standard error and the names of the sections above, {work} stands for
the work folder. In the '-after' sections '{{NAME}}' is replaced before the JSON is read, so a
define may give a whole JSON value there.
A run that writes the management library writes it into a folder of its own: XDG_RUNTIME_DIR is
{work}/runtime (made with mode 700) unless the scenario sets it.

'keys:' makes, before the run, for each NAME an RSA 2048 key NAME.pem and a self-signed
certificate NAME.crt (openssl) in the work folder. '@cert:NAME@' then stands for the certificate's
one-line base64 DER in the machine file (inline or a sample's copy), the files, standard input and
everything expected afterwards; in the files (and those expected) '@sig:NAME:TEXT@' stands for the base64 signature of
TEXT's bytes (RSA, SHA-256, PKCS#1 v1.5) made by 'openssl dgst -sha256 -sign NAME.pem', and
everywhere '@thumb:NAME:md5@' (sha1, sha256) for the digest of the certificate's DER in upper-case
hexadecimal digits. Keys are
made at test time and never committed.

A define's expression sees the earlier defines and raw(b'...'), which turns bytes into a text
that is written as those very bytes (invalid UTF-8 and all). '{{NAME}}' stands for the defined
text in args, env values, the files, standard output, standard error and machine-after (inside
its strings), so that a scenario can give a 10 MB line, a NUL byte or a 100,000-character
argument without holding them. Files are written and standard output is read byte for byte.

Standard output is compared byte for byte after the opening element's computer name, date,
time and hour offset are checked for their shape and replaced by '*'. The machine file is
compared with what it was before the run: every difference must be listed in machine-after or
legacy-after.

With --com-double (Corvane.exe under Wine, the WMI double registered in the prefix) the machine
file is handed to the double through CORVANE_COM_DOUBLE_MACHINE and CORVANE_MACHINE stays unset,
so the program reaches the simulated provider through its real COM code. The double traces its
calls, and every such run that gets as far as the opening element must have connected through it.
"""
import argparse
import base64
import hashlib
import json
import os
import pwd
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402
from corvane_run import BYTES  # noqa: E402

MACHINE_VARIABLE = 'CORVANE_MACHINE'
DOUBLE_MACHINE_VARIABLE = 'CORVANE_COM_DOUBLE_MACHINE'
DOUBLE_TRACE_VARIABLE = 'CORVANE_COM_DOUBLE_TRACE'
WINDOWS_MODES = ('skip', 'own-machine')
WINDOWS_64_MODES = ('skip', 'only')


def raw(data):
    return bytes(data).decode('utf-8', BYTES)


DEFINE_BUILTINS = {'raw': raw, 'bytes': bytes, 'range': range, 'chr': chr, 'ord': ord,
                   'len': len, 'str': str}


def substitute(value, defines):
    """{{NAME}} replaced in a text, or in every text of a list or JSON value."""
    if isinstance(value, str):
        for name, text in defines.items():
            value = value.replace('{{' + name + '}}', text)
        return value
    if isinstance(value, list):
        return [substitute(item, defines) for item in value]
    if isinstance(value, dict):
        return {substitute(k, defines): substitute(v, defines) for k, v in value.items()}
    return value


def parse(path):
    scenario = {'path': path, 'args': [], 'env': {}, 'machine': None, 'inline_machine': None,
                'copy_binary': False, 'windows': None, 'windows_64': None, 'exit': None, 'files': {}, 'stdout': None, 'stdin': '',
                'stderr_contains': [], 'stderr': None, 'files_after': {}, 'absent': [], 'exists': [],
                'machine_after': None, 'tree': None, 'tree_files': [], 'tree_folders': [],
                'tree_links': [], 'tree_after': {}, 'legacy_after': None, 'maker_after': None,
                'kernel_after': None,
                'dirs': [], 'symlinks': [], 'user': None, 'modes': [], 'requires_root': None,
                'keys': []}
    defines = {}
    with open(path, encoding='utf-8', newline='') as handle:
        lines = handle.read().split('\n')
    # Each line of a section ends with its line feed; the file's own last one ends nothing.
    if lines and lines[-1] == '':
        lines.pop()
    index = 0
    while index < len(lines) and not lines[index].startswith('--- '):
        line = lines[index]
        index += 1
        if not line.strip() or line.startswith('#'):
            continue
        key, _, value = line.partition(':')
        value = value.strip()
        if key == 'args':
            scenario['args'] = shlex.split(value)
        elif key == 'env':
            name, _, env_value = value.partition('=')
            if name == TREE_VARIABLE:
                raise ValueError(f'{path}: {TREE_VARIABLE} is the runner\'s; use tree:')
            scenario['env'][name] = env_value
        elif key == 'tree':
            scenario['tree'] = value
        elif key == 'machine':
            scenario['machine'] = value
        elif key == 'copy-binary':
            scenario['copy_binary'] = value == 'yes'
        elif key == 'exit':
            scenario['exit'] = int(value)
        elif key == 'windows':
            mode, _, reason = value.partition(' ')
            if mode not in WINDOWS_MODES or not reason.strip():
                raise ValueError(f'{path}: windows: takes {" or ".join(WINDOWS_MODES)} and a reason')
            scenario['windows'] = (mode, reason.strip())
        elif key == 'windows-64':
            mode, _, reason = value.partition(' ')
            if mode not in WINDOWS_64_MODES or not reason.strip():
                raise ValueError(f'{path}: windows-64: takes {" or ".join(WINDOWS_64_MODES)} and a '
                                 'reason')
            scenario['windows_64'] = (mode, reason.strip())
        elif key == 'user':
            scenario['user'] = value
        elif key == 'requires-root':
            scenario['requires_root'] = value
        elif key == 'mode':
            name, _, mode = value.rpartition(' ')
            scenario['modes'].append((name.strip(), int(mode, 8)))
        elif key == 'keys':
            scenario['keys'] = value.split()
            if not all(re.fullmatch(r'[A-Za-z0-9_-]+', name) for name in scenario['keys']):
                raise ValueError(f'{path}: keys: takes names of letters, digits, - and _')
        elif key == 'define':
            name, _, expression = value.partition('=')
            defines[name.strip()] = eval(expression, {'__builtins__': DEFINE_BUILTINS},  # noqa
                                         dict(defines))
        else:
            raise ValueError(f'{path}: unknown header {key!r}')
    sections = []
    while index < len(lines):
        header = lines[index][4:].split(None, 1)
        index += 1
        body = []
        while index < len(lines) and not lines[index].startswith('--- '):
            body.append(lines[index])
            index += 1
        sections.append((header, '\n'.join(body)))
    for header, body in sections:
        kind = header[0]
        arg = header[1] if len(header) > 1 else ''
        if kind == 'stdout':
            scenario['stdout'] = body if arg == 'noeol' or not body else body + '\n'
        elif kind == 'stdin':
            scenario['stdin'] = body + '\n' if body else ''
        elif kind == 'machine':
            scenario['inline_machine'] = body
        elif kind == 'file':
            scenario['files'][arg] = body + '\n' if body else ''
        elif kind == 'file-bytes':
            scenario['files'][arg] = body
        elif kind == 'file-after':
            scenario['files_after'][arg] = body + '\n' if body else ''
        elif kind == 'stderr':
            scenario['stderr'] = body + '\n' if body else ''
        elif kind == 'stderr-contains':
            scenario['stderr_contains'].append(body.strip())
        elif kind == 'absent':
            scenario['absent'].append(arg)
        elif kind == 'exists':
            scenario['exists'].append(arg)
        elif kind == 'machine-after':
            scenario['machine_after'] = json.loads(substitute(body, defines))
        elif kind in ('tree-file', 'tree-after'):
            words = arg.split(' ')
            options = []
            while len(words) > 1 and (words[-1] == 'noeol' or words[-1].startswith('mode=')):
                options.append(words.pop())
            tree_path = ' '.join(words)
            content = body if 'noeol' in options else body + '\n'
            if kind == 'tree-after':
                scenario['tree_after'][tree_path] = content
            else:
                mode = next((int(o[5:], 8) for o in options if o.startswith('mode=')), None)
                scenario['tree_files'].append((tree_path, content, mode))
        elif kind == 'tree-folder':
            scenario['tree_folders'].append(arg)
        elif kind == 'tree-symlink':
            scenario['tree_links'].append(arg.rsplit(' ', 1))
        elif kind == 'legacy-after':
            scenario['legacy_after'] = json.loads(substitute(body, defines))
        elif kind == 'maker-after':
            scenario['maker_after'] = json.loads(substitute(body, defines))
        elif kind == 'kernel-after':
            scenario['kernel_after'] = json.loads(substitute(body, defines))
        elif kind == 'dir':
            name, _, mode = arg.partition(' ')
            scenario['dirs'].append((name, int(mode.strip() or '700', 8)))
        elif kind == 'symlink':
            name, _, target = arg.partition(' ')
            scenario['symlinks'].append((name, target.strip()))
        else:
            raise ValueError(f'unknown section {kind!r}')
    if scenario['exit'] is None:
        raise ValueError(f'{path}: no exit line')
    for key in ('args', 'env', 'files', 'stdin', 'stdout', 'stderr', 'stderr_contains', 'files_after',
                'inline_machine'):
        scenario[key] = substitute(scenario[key], defines)
    return scenario


TREE_VARIABLE = 'CORVANE_FIRMWARE_ATTRIBUTES'
CERT_PATTERN = re.compile(r'@cert:([A-Za-z0-9_-]+)@')
SIG_PATTERN = re.compile(r'@sig:([A-Za-z0-9_-]+):([^@\n]*)@')
THUMB_PATTERN = re.compile(r'@thumb:([A-Za-z0-9_-]+):(md5|sha1|sha256)@')


def openssl(*arguments, data=None):
    return subprocess.run(('openssl',) + arguments, input=data, capture_output=True,
                          check=True).stdout


def make_keys(names, work):
    """Each name's key and self-signed certificate in the work folder: name -> base64 DER."""
    certificates = {}
    for name in names:
        key, certificate = os.path.join(work, name + '.pem'), os.path.join(work, name + '.crt')
        openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out',
                certificate, '-days', '7300', '-sha256', '-subj', '/CN=' + name)
        der = openssl('x509', '-in', certificate, '-outform', 'DER')
        certificates[name] = base64.b64encode(der).decode('ascii')
    return certificates


def with_keys(value, certificates, work, signatures=False):
    """@cert:NAME@ (and with signatures, @sig:NAME:TEXT@) replaced in a text, or in every text
    of a list or JSON value."""
    if isinstance(value, (list, tuple)):
        return type(value)(with_keys(item, certificates, work, signatures) for item in value)
    if isinstance(value, dict):
        return {with_keys(k, certificates, work, signatures):
                with_keys(v, certificates, work, signatures) for k, v in value.items()}
    if not isinstance(value, str):
        return value

    def certificate(match):
        if match.group(1) not in certificates:
            raise ValueError(f'@cert:{match.group(1)}@ names no key of the keys: line')
        return certificates[match.group(1)]

    def signature(match):
        if match.group(1) not in certificates:
            raise ValueError(f'@sig:{match.group(1)}:...@ names no key of the keys: line')
        signed = openssl('dgst', '-sha256', '-sign', os.path.join(work, match.group(1) + '.pem'),
                         data=match.group(2).encode('utf-8'))
        return base64.b64encode(signed).decode('ascii')
    def thumbprint(match):
        if match.group(1) not in certificates:
            raise ValueError(f'@thumb:{match.group(1)}:...@ names no key of the keys: line')
        der = base64.b64decode(certificates[match.group(1)])
        return hashlib.new(match.group(2), der).hexdigest().upper()
    value = THUMB_PATTERN.sub(thumbprint, value)
    # Certificates first, so that a signed text may hold one.
    value = CERT_PATTERN.sub(certificate, value)
    return SIG_PATTERN.sub(signature, value) if signatures else value


def apply_keys(scenario, work):
    """The scenario with its keys made and their texts put in."""
    if not scenario['keys']:
        return scenario
    certificates = make_keys(scenario['keys'], work)
    scenario = dict(scenario)
    for key in ('files', 'files_after'):
        scenario[key] = with_keys(scenario[key], certificates, work, signatures=True)
    for key in ('inline_machine', 'stdin', 'stdout', 'stderr', 'stderr_contains',
                'machine_after', 'maker_after', 'kernel_after', 'tree_files', 'tree_after'):
        scenario[key] = with_keys(scenario[key], certificates, work)
    scenario['certificates'] = certificates
    return scenario


def tree_path(root, relative):
    path = os.path.normpath(os.path.join(root, relative))
    if not path.startswith(root + os.sep):
        raise ValueError(f'tree path {relative!r} leaves the tree')
    return path


def lay_out_tree(scenario, args, root, work):
    """Copies the scenario's tree into root, writable by its owner, and adds its own files."""
    if scenario['tree']:
        source = os.path.join(os.path.dirname(scenario['path']), scenario['tree'])
        if not os.path.isdir(source):
            source = os.path.join(args.machines, 'firmware-attributes', scenario['tree'])
        shutil.copytree(source, root, dirs_exist_ok=True)
        for folder, folders, files in os.walk(root):
            for name in folders + files:
                path = os.path.join(folder, name)
                os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR)
    for relative, target in scenario['tree_links']:
        path = tree_path(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(expand(target, work), path)
    for relative in scenario['tree_folders']:
        path = tree_path(root, relative)
        if os.path.isfile(path):
            os.remove(path)
        os.makedirs(path, exist_ok=True)
    for relative, content, mode in scenario['tree_files']:
        path = tree_path(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as handle:
            handle.write(content.encode('utf-8'))
        if mode is not None:
            os.chmod(path, mode)


def snapshot_tree(root):
    """Every file and folder of the tree: relative path -> bytes (None for a folder)."""
    entries = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            if os.path.islink(path):  # what it points at is checked where it lies
                entries[os.path.relpath(path, root)] = os.readlink(path).encode()
            elif name in folders:
                entries[os.path.relpath(path, root)] = None
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                continue
            with open(path, 'rb') as handle:
                entries[os.path.relpath(path, root)] = handle.read()
    return entries


def compare_tree(before, after, expected, errors):
    for relative, content in expected.items():
        if relative not in before:
            errors.append(f'tree-after names {relative!r}, which the tree does not have')
    for relative in sorted(set(before) | set(after)):
        if relative not in after:
            errors.append(f'tree: {relative} was removed')
        elif relative not in before:
            errors.append(f'tree: {relative} was created')
        elif relative in expected:
            wanted = expected[relative].encode('utf-8')
            if after[relative] != wanted:
                errors.append(f'tree: {relative} is {after[relative]!r}, expected {wanted!r}')
        elif before[relative] != after[relative]:
            errors.append(f'tree: {relative} changed from {before[relative]!r} '
                          f'to {after[relative]!r}')


def settings_of(machine):
    return machine.get('provider', {}).get('settings', [])


def compare_machine(before, after, expected, errors):
    expected = dict(expected or {})
    old, new = settings_of(before), settings_of(after)
    if len(old) != len(new):
        errors.append(f'machine: {len(old)} settings before, {len(new)} after')
        return
    seen = set()
    for was, now in zip(old, new):
        name = was.get('Name')
        wanted = expected.get(name, {}) if name not in seen else {}
        seen.add(name)
        for key in sorted(set(was) | set(now)):
            if key in wanted:
                if now.get(key, '<missing>') != wanted[key]:
                    errors.append(f'machine: {name}.{key} is {now.get(key, "<missing>")!r}, '
                                  f'expected {wanted[key]!r}')
            elif was.get(key, '<missing>') != now.get(key, '<missing>'):
                errors.append(f'machine: {name}.{key} changed from {was.get(key, "<missing>")!r}'
                              f' to {now.get(key, "<missing>")!r}')
    for name in expected:
        if name not in seen:
            errors.append(f'machine-after names {name!r}, which the machine does not have')
    served = ('provider', 'legacy', 'kernel') + MAKERS
    rest_before = {k: v for k, v in before.items() if k not in served}
    rest_after = {k: v for k, v in after.items() if k not in served}
    if rest_before != rest_after:
        errors.append('machine: sections other than those served changed')


MAKERS = ('dell', 'lenovo')


def instance_name(item, position):
    """A maker's instance as maker-after names it: its attribute, list or password name, or the
    item of its CurrentSetting."""
    for key in ('AttributeName', 'BootListType', 'NameId'):
        if isinstance(item.get(key), str):
            return item[key]
    setting = item.get('CurrentSetting')
    return setting.split(',', 1)[0] if isinstance(setting, str) and setting else f'#{position}'


def compare_makers(before, after, expected, errors):
    for maker in MAKERS:
        old, new, wanted = before.get(maker), after.get(maker), dict((expected or {}).get(maker, {}))
        if old is None or new is None:
            if old != new or wanted:
                errors.append(f'{maker}: the section was added or removed, or is not there')
            continue
        for key in sorted(set(old) | set(new)):
            was, now = old.get(key), new.get(key)
            if not (isinstance(was, list) and isinstance(now, list)):
                compare_fields(f'{maker}: ', {key: was}, {key: now},
                               {key: wanted.pop(key)} if key in wanted else {}, errors)
                continue
            instances = wanted.pop(key, {})
            if len(was) != len(now):
                errors.append(f'{maker}: {key} has {len(was)} instances before, {len(now)} after')
                continue
            for position, (a, b) in enumerate(zip(was, now)):
                name = instance_name(a, position)
                compare_fields(f'{maker}: {key}[{name}].', a, b, instances.pop(name, {}), errors)
            errors.extend(f'{maker}-after names {key}[{name}], which is not there'
                          for name in instances)
        errors.extend(f'{maker}-after names {key}, which is not there' for key in wanted)


def object_key(item):
    """An object's name as a REPSET name line gives it, or None when its name is a number."""
    name = item.get('name') if isinstance(item, dict) else None
    if not isinstance(name, str):
        return None
    subs = [s for s in item.get('subNames', []) if isinstance(s, str)]
    return '\\'.join([name] + subs)


def compare_fields(where, was, now, wanted, errors):
    for key in sorted(set(was) | set(now)):
        old, new = was.get(key, '<missing>'), now.get(key, '<missing>')
        if key in wanted and all(isinstance(v, dict) for v in (wanted[key], old, new)):
            # An object (interrupt15, its toggles, cmos, bootDevices) lists only what changes.
            compare_fields(f'{where}{key}.', old, new, wanted[key], errors)
        elif key in wanted:
            if new != wanted[key]:
                errors.append(f'{where}{key} is {new!r}, expected {wanted[key]!r}')
        elif old != new:
            errors.append(f'{where}{key} changed from {old!r} to {new!r}')


def compare_legacy(before, after, expected, errors):
    expected = dict(expected or {})
    wanted_objects = dict(expected.pop('objects', {}))
    old, new = before.get('legacy'), after.get('legacy')
    if old is None or new is None:
        if old != new:
            errors.append('legacy: the section was added or removed')
        if expected or wanted_objects:
            errors.append('legacy-after names a section the machine does not have')
        return
    compare_fields('legacy: ', {k: v for k, v in old.items() if k != 'objects'},
                   {k: v for k, v in new.items() if k != 'objects'}, expected, errors)
    old_objects, new_objects = old.get('objects', []), new.get('objects', [])
    if len(old_objects) != len(new_objects):
        errors.append(f'legacy: {len(old_objects)} objects before, {len(new_objects)} after')
        return
    seen = set()
    for position, (was, now) in enumerate(zip(old_objects, new_objects)):
        key = object_key(was)
        wanted = {}
        if f'#{position}' in wanted_objects:
            wanted = wanted_objects[f'#{position}']
            seen.add(f'#{position}')
        elif key is not None and key not in seen and key in wanted_objects:
            wanted = wanted_objects[key]
        if key is not None:
            seen.add(key)
        compare_fields(f'legacy: {key or "#" + str(position)}.', was, now, wanted, errors)
    for name in wanted_objects:
        if name not in seen:
            errors.append(f'legacy-after names {name!r}, which the machine does not have')


def compare_kernel(before, after, expected, errors):
    old, new = before.get('kernel'), after.get('kernel')
    if old is None or new is None:
        if old != new:
            errors.append('kernel: the section was added or removed')
        if expected:
            errors.append('kernel-after names a section the machine does not have')
        return
    compare_fields('kernel: ', old, new, dict(expected or {}), errors)


def show_diff(expected, actual):
    import difflib
    return ''.join(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                        'expected', 'actual'))


def uses_tree(scenario):
    return bool(scenario['tree'] or scenario['tree_files'] or scenario['tree_folders'] or
                scenario['tree_links'])


def expand(text, work):
    return text.replace('{work}', work)


def run_as(scenario):
    """The user to run the binary as: only root can switch, and only root needs to, as
    permission bits do not stop root."""
    if scenario['user'] is None or os.geteuid() != 0:
        return None
    return pwd.getpwnam(scenario['user'])


def prepare_folders(scenario, work):
    for name, mode in scenario['dirs']:
        path = os.path.join(work, expand(name, work))
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
    for name, target in scenario['symlinks']:
        path = os.path.join(work, expand(name, work))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(expand(target, work), path)


def run(scenario, args):
    errors = []
    # The folders are removed even where a mode took their owner's rights away.
    with tempfile.TemporaryDirectory(prefix='corvane-e2e-') as work, \
            tempfile.TemporaryDirectory(prefix='corvane-e2e-trace-') as trace_folder, \
            tempfile.TemporaryDirectory(prefix='corvane-tree-') as tree:
        # A library the run writes lands in this run's own folder; never the kernel's own tree.
        env = corvane_run.environment(work, **{TREE_VARIABLE: tree})
        scenario = apply_keys(scenario, work)
        prepare_folders(scenario, work)
        binary = args.binary
        if scenario['copy_binary']:
            binary = os.path.join(work, os.path.basename(args.binary))
            shutil.copy2(args.binary, binary)
        through_double = args.com_double and (scenario['windows'] or ('',))[0] != 'own-machine'
        machine_variable = DOUBLE_MACHINE_VARIABLE if through_double else MACHINE_VARIABLE
        trace_path = os.path.join(trace_folder, 'trace.txt')
        machine_path = os.path.join(work, 'machine.json')
        before = None
        before_bytes = b''
        if scenario['machine'] or scenario['inline_machine'] is not None:
            if scenario['machine']:
                # A machine beside the scenario, else one of the samples.
                source = os.path.join(os.path.dirname(scenario['path']), scenario['machine'])
                if not os.path.exists(source):
                    source = os.path.join(args.machines, scenario['machine'])
                if scenario['keys']:
                    with open(source, encoding='utf-8') as handle:
                        text = with_keys(handle.read(), scenario['certificates'], work)
                    with open(machine_path, 'w', encoding='utf-8') as handle:
                        handle.write(text)
                else:
                    shutil.copy(source, machine_path)
            else:
                with open(machine_path, 'w', encoding='utf-8') as handle:
                    handle.write(scenario['inline_machine'])
            with open(machine_path, 'rb') as handle:
                before_bytes = handle.read()
            try:
                before = json.loads(before_bytes)
            except ValueError:
                before = None  # a malformed machine: it must stay byte for byte as it was
            env[machine_variable] = machine_path
            if through_double:
                env[DOUBLE_TRACE_VARIABLE] = trace_path
        for key, value in scenario['env'].items():
            if value:
                env[key] = expand(value, work)
            else:
                env.pop(key, None)
        lay_out_tree(scenario, args, tree, work)
        tree_before = snapshot_tree(tree)
        for file_name, content in scenario['files'].items():
            path = os.path.join(work, expand(file_name, work))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'w', encoding='utf-8', errors=BYTES, newline='') as handle:
                handle.write(content)
        user = run_as(scenario)
        if user is not None:
            os.chmod(work, 0o755)
            os.chmod(tree, 0o755)
            os.chown(os.path.join(work, 'runtime'), user.pw_uid, user.pw_gid)
        for path, mode in scenario['modes']:
            os.chmod(os.path.join(work, path), mode)

        def switch_user():
            os.setgroups([])
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)
        command = args.runner + [binary] + [expand(a, work) for a in scenario['args']]
        code, stdout, stderr = corvane_run.run(
            command, env, cwd=work, stdin=scenario['stdin'].encode('utf-8', errors=BYTES),
            crlf=args.crlf, preexec_fn=switch_user if user is not None else None)
        if code != scenario['exit']:
            errors.append(f'exit code {code}, expected {scenario["exit"]}')
        if scenario['stdout'] is not None:
            actual = corvane_run.normalise(stdout)
            if actual != scenario['stdout']:
                errors.append('standard output differs:\n' + show_diff(scenario['stdout'], actual))
        wanted_stderr = scenario['stderr'] and expand(scenario['stderr'], work)
        if wanted_stderr is not None and stderr != wanted_stderr:
            errors.append('standard error differs:\n' + show_diff(wanted_stderr, stderr))
        for text in scenario['stderr_contains']:
            if expand(text, work) not in stderr:
                errors.append(f'standard error lacks {text!r}: {stderr!r}')
        for file_name, content in scenario['files_after'].items():
            path = os.path.join(work, file_name)
            if not os.path.exists(path):
                errors.append(f'{file_name} was not written')
                continue
            with open(path, 'rb') as handle:
                actual = handle.read().decode('utf-8', errors=BYTES)
            if args.crlf:
                actual = actual.replace('\r\n', '\n')
            if actual != content:
                errors.append(f'{file_name} differs:\n' + show_diff(content, actual))
        for file_name in scenario['exists']:
            if not os.path.exists(os.path.join(work, expand(file_name, work))):
                errors.append(f'{file_name} does not exist')
        for file_name in scenario['absent']:
            if os.path.lexists(os.path.join(work, expand(file_name, work))):
                errors.append(f'{file_name} exists')
        if before is not None:
            with open(machine_path, encoding='utf-8') as handle:
                after = json.load(handle)
            compare_machine(before, after, scenario['machine_after'], errors)
            compare_legacy(before, after, scenario['legacy_after'], errors)
            compare_makers(before, after, scenario['maker_after'], errors)
            compare_kernel(before, after, scenario['kernel_after'], errors)
        elif machine_variable in env and os.path.exists(machine_path):
            with open(machine_path, 'rb') as handle:
                if handle.read() != before_bytes:
                    errors.append('the malformed machine file was changed')
        if DOUBLE_TRACE_VARIABLE in env and '<BIOSCONFIG ' in stdout:
            trace = ''
            if os.path.exists(trace_path):
                with open(trace_path, encoding='utf-8', errors='replace') as handle:
                    trace = handle.read()
            if not re.search(r'^ConnectServer ', trace, re.MULTILINE):
                errors.append('the program did not connect through the WMI double (is it '
                              'registered in the Wine prefix?)')
        compare_tree(tree_before, snapshot_tree(tree), scenario['tree_after'], errors)
        leftovers = [f for f in os.listdir(work) if f.startswith('.') or f.endswith('.tmp')]
        if leftovers:
            errors.append(f'temporary files left behind: {leftovers}')
    return errors


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--binary', required=True)
    parser.add_argument('--scenarios', required=True)
    parser.add_argument('--machines', required=True)
    parser.add_argument('--runner', default='', help='a command to run the binary with (wine)')
    parser.add_argument('--crlf', action='store_true',
                        help='line ends of standard output and error are CR LF (Windows)')
    parser.add_argument('--platform', default='posix', choices=('posix', 'windows'),
                        help='the platform of the binary; windows: headers apply to windows')
    parser.add_argument('--windows-64', action='store_true',
                        help='the binary is the 64-bit Windows program')
    parser.add_argument('--com-double', action='store_true',
                        help='hand machines to the WMI double of the Wine prefix')
    parser.add_argument('--filter', default='', help='run only scenarios whose path has this')
    args = parser.parse_args()
    args.binary = os.path.abspath(args.binary)
    args.runner = shlex.split(args.runner)
    files = sorted(os.path.join(root, f) for root, _, names in os.walk(args.scenarios)
                   for f in names if f.endswith('.scn'))
    failures, checks, skipped = [], 0, 0
    for path in files:
        # Named from the folder the scenarios' folder lies in: 'dell/boot-order.scn'.
        name = os.path.relpath(path, os.path.dirname(os.path.normpath(args.scenarios)))
        if args.filter not in name:
            continue
        try:
            scenario = parse(path)
            reason = skip_reason(scenario, args)
            if reason:
                skipped += 1
                print(f'SKIP {name}: {reason}')
                continue
            if args.com_double and (scenario['windows'] or ('',))[0] == 'own-machine':
                print(f'NOTE {name} runs with CORVANE_MACHINE: {scenario["windows"][1]}')
            errors = run(scenario, args)
        except Exception as error:  # a broken scenario file is a failure, not a crash
            errors = [f'scenario could not run: {error}']
        checks += 1
        if errors:
            failures.append('\n'.join([name] + errors))
    return corvane_run.report('e2e', failures, checks, skipped)


def skip_reason(scenario, args):
    """Why the scenario is not run here, or None."""
    mode, reason = scenario['windows'] or ('', '')
    if args.platform == 'windows' and mode == 'skip':
        return reason
    mode, reason = scenario['windows_64'] or ('', '')
    if mode == 'skip' and args.windows_64:
        return reason
    if mode == 'only' and not args.windows_64:
        return 'against Corvane64.exe alone: ' + reason
    if scenario['requires_root'] and os.geteuid() != 0:
        return scenario['requires_root']
    if args.platform == 'windows' and uses_tree(scenario):
        return 'firmware-attributes trees are read on Linux only'
    return None


if __name__ == '__main__':
    sys.exit(main())
