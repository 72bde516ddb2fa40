#!/usr/bin/env python3
"""Runs /GetConfig:file and the machine-file writer against targets that are not plain new
files and that a scenario cannot lay out: standard output redirected to a file, a FIFO, links
whose target keeps its owner and mode, hard links, a write that fails halfway. Every case works
in a temporary folder of its own and checks that nothing but the target's content changed there.
The real /dev is never used. (A pipe, folders and a folder the user cannot write are scenarios.)
"""
import argparse
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402

OPENED = corvane_run.OPENED + '\n'
CLOSING_OK = '<Warning msg="Tiv return value" real="0" translated="0" />\n</BIOSCONFIG>\n'
CLOSING_16 = '<Warning msg="Tiv return value" real="16" translated="16" />\n</BIOSCONFIG>\n'


def failure(path):
    return f"<ERROR type=\"failure\">REPSET file, '{path}' could not be written.</ERROR>\n"


class Case:
    def __init__(self, binary, machine, folder):
        # The case's folder, whose entries it compares, lies beside the runtime folder where each
        # run writes the library; the machine comes first anyway, and the tree is empty.
        self.binary, self.work = binary, os.path.join(folder, 'case')
        os.mkdir(self.work)
        self.machine = os.path.join(self.work, 'machine.json')
        shutil.copy(machine, self.machine)
        self.env = corvane_run.environment(folder, CORVANE_MACHINE=self.machine)
        self.errors = []

    def path(self, name):
        return os.path.join(self.work, name)

    def run(self, *args, stdout=subprocess.PIPE, file_size_limit=None):
        def prepare():
            if file_size_limit is not None:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
        code, out, _ = corvane_run.run([self.binary, *args], self.env, cwd=self.work,
                                       stdout=stdout, timeout=60, preexec_fn=prepare)
        return code, corvane_run.normalise(out)

    def expect(self, condition, message):
        if not condition:
            self.errors.append(message)

    def snapshot(self):
        """Every entry of the work folder: its kind and, for all but regular files, its inode."""
        entries = {}
        for root, folders, files in os.walk(self.work):
            for name in folders + files:
                full = os.path.join(root, name)
                status = os.lstat(full)
                regular = stat.S_ISREG(status.st_mode)
                entries[os.path.relpath(full, self.work)] = (
                    stat.S_IFMT(status.st_mode), None if regular else status.st_ino)
        return entries

    def expect_unchanged(self, before, what):
        after = self.snapshot()
        self.expect(after == before, f'{what}: the folder changed: {before} -> {after}')


def write(path, text, mode=None):
    with open(path, 'w', encoding='utf-8') as handle:
        handle.write(text)
    if mode is not None:
        os.chmod(path, mode)


def standard_output_file(case, repset):
    # Standard output redirected to a file: the text joins the log in that same file.
    before = case.snapshot()
    with open(case.path('log.txt'), 'wb') as log:
        code, _ = case.run('/GetConfig:/proc/self/fd/1', stdout=log)
    case.expect(code == 0, f'exit {code}')
    before['log.txt'] = (stat.S_IFREG, None)
    case.expect_unchanged(before, 'redirected output')
    log = corvane_run.normalise(corvane_run.read(case.path('log.txt')))
    case.expect(log == OPENED + repset + CLOSING_OK, f'the log file:\n{log}')


def fifo_with_reader(case, repset):
    fifo = case.path('fifo')
    os.mkfifo(fifo, 0o600)
    received = []
    # A daemon: a program that replaced the FIFO leaves the reader waiting for ever.
    reader = threading.Thread(target=lambda: received.append(corvane_run.read(fifo)), daemon=True)
    reader.start()
    before = case.snapshot()
    code, out = case.run('/GetConfig:fifo')
    reader.join(timeout=10)
    case.expect(code == 0, f'exit {code}')
    case.expect(out == OPENED + CLOSING_OK, f'standard output:\n{out}')
    case.expect(received == [repset], f'the reader got {received!r}')
    case.expect_unchanged(before, 'fifo')


def link_to_private_file(case, repset):
    os.mkdir(case.path('store'))
    target = case.path('store/settings.txt')
    write(target, 'earlier\n', 0o600)
    if os.geteuid() == 0:
        os.chown(target, 65534, 65534)  # the owner is kept when root writes the file
    owner = os.stat(target)
    os.symlink('store/settings.txt', case.path('latest.txt'))
    os.symlink('store/missing.txt', case.path('dangling.txt'))
    code, _ = case.run('/GetConfig:latest.txt', '/GetConfig:dangling.txt')
    case.expect(code == 0, f'exit {code}')
    for name in ('latest.txt', 'dangling.txt'):
        case.expect(os.path.islink(case.path(name)), f'{name} is no longer a link')
    after = os.stat(target)
    case.expect(corvane_run.read(target) == repset, 'the linked file was not rewritten')
    case.expect(stat.S_IMODE(after.st_mode) == 0o600, f'mode {oct(after.st_mode)}')
    case.expect((after.st_uid, after.st_gid) == (owner.st_uid, owner.st_gid),
                f'owner {after.st_uid}:{after.st_gid}, was {owner.st_uid}:{owner.st_gid}')
    case.expect(corvane_run.read(case.path('store/missing.txt')) == repset,
                'the file a dangling link names was not created')


def hard_link(case, repset):
    # Longer than the new text: the file is rewritten in place and ends where the new text ends.
    write(case.path('a.txt'), 'earlier\n' * 4096, 0o640)
    os.link(case.path('a.txt'), case.path('b.txt'))
    inode = os.stat(case.path('a.txt')).st_ino
    code, _ = case.run('/GetConfig:a.txt')
    case.expect(code == 0, f'exit {code}')
    case.expect(os.stat(case.path('a.txt')).st_ino == inode, 'a.txt was replaced')
    case.expect(os.stat(case.path('b.txt')).st_ino == inode, 'b.txt is no longer the same file')
    case.expect(corvane_run.read(case.path('b.txt')) == repset, 'b.txt does not have the new text')
    case.expect(stat.S_IMODE(os.stat(case.path('a.txt')).st_mode) == 0o640, 'mode changed')


def failed_write_keeps_earlier_file(case, repset):
    # A file size limit below the text's size makes every write of it fail.
    write(case.path('plain.txt'), 'earlier\n')
    write(case.path('linked.txt'), 'earlier\n')
    os.link(case.path('linked.txt'), case.path('other-name.txt'))
    before = case.snapshot()
    for name in ('plain.txt', 'linked.txt', 'new.txt'):
        code, out = case.run(f'/GetConfig:{name}', file_size_limit=len(repset) // 2)
        case.expect(code == 16, f'{name}: exit {code}')
        case.expect(out == OPENED + failure(name) + CLOSING_16, f'output:\n{out}')
        case.expect_unchanged(before, name)
    for name in ('plain.txt', 'linked.txt', 'other-name.txt'):
        case.expect(corvane_run.read(case.path(name)) == 'earlier\n', f'{name} changed')


def machine_file_through_link(case, repset):
    os.mkdir(case.path('machines'))
    private = case.path('machines/office.json')
    os.rename(case.machine, private)
    os.chmod(private, 0o600)
    os.symlink('machines/office.json', case.machine)
    write(case.path('change.txt'), 'English\nFast Boot\n\tDisable\n\t*Enable\n')
    code, out = case.run('/SetConfig:change.txt')
    case.expect(code == 0 and 'changeStatus="pass"' in out, f'exit {code}:\n{out}')
    case.expect(os.path.islink(case.machine), 'the machine link was replaced')
    case.expect(stat.S_IMODE(os.stat(private).st_mode) == 0o600, 'the machine file mode changed')
    with open(private, encoding='utf-8') as handle:
        settings = json.load(handle)['provider']['settings']
    values = [s['CurrentValue'] for s in settings if s['Name'] == 'Fast Boot']
    case.expect(values == ['Enable'], f'Fast Boot is {values} in the machine file')

CASES = [standard_output_file, fifo_with_reader, link_to_private_file, hard_link,
         failed_write_keeps_earlier_file, machine_file_through_link]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--binary', required=True)
    parser.add_argument('--machine', required=True)
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    with tempfile.TemporaryDirectory(prefix='corvane-files-') as work:
        reference = Case(binary, args.machine, work)
        reference.run('/GetConfig:reference.txt')
        repset = corvane_run.read(reference.path('reference.txt'))
    failures = []
    for test in CASES:
        with tempfile.TemporaryDirectory(prefix='corvane-files-') as work:
            case = Case(binary, args.machine, work)
            try:
                test(case, repset)
            except Exception as error:  # a broken case is a failure, not a crash
                case.errors.append(f'could not run: {error!r}')
            leftovers = [n for n in case.snapshot() if os.path.basename(n).startswith('.')]
            case.expect(not leftovers, f'temporary files left behind: {leftovers}')
        if case.errors:
            failures.append('\n'.join([test.__name__] + case.errors))
    return corvane_run.report('file-targets', failures, len(CASES))


if __name__ == '__main__':
    sys.exit(main())
