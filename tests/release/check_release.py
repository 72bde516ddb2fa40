#!/usr/bin/env python3
"""Checks a release as administrators receive it. tools/release runs twice on the commit, in two
folders one after the other, signing with a throwaway certificate made here; then:
- both runs give the same bytes: every artefact, the Linux program and the Windows programs
  (Corvane.exe, Corvane64.exe), each also the very file the Windows tests ran (--tested-exe) when
  the tree has nothing uncommitted;
- the Authenticode signatures of the Windows programs and of the PowerShell module's files and the
  checksums' detached signature verify
  against the throwaway authority, and SHA256SUMS matches the files;
- lintian passes the Debian package, which installs into a private root, where `corvane /?`
  runs, `man corvane` shows the page and the end-to-end scenarios pass against the program;
- the zip's TivErr.cfg maps no code as shipped and does what it says once its lines are used;
- ansible-galaxy installs the collection's archive;
- a key that others may read is refused before anything is built.
Nothing is installed into the system itself."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import corvane_run  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RELEASE = os.path.join(ROOT, 'tools', 'release')

# Each Windows program as the release builds it.
RELEASED_EXES = {'Corvane.exe': 'build/release-mingw/Corvane.exe',
                 'Corvane64.exe': 'build/release-mingw64/Corvane64.exe'}


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def make_certificates(folder):
    """A throwaway authority and a code-signing certificate it issued, the key under a
    passphrase. Private files are the owner's alone."""
    os.umask(0o077)
    ca_key, ca = os.path.join(folder, 'ca.key'), os.path.join(folder, 'ca.pem')
    key, cert = os.path.join(folder, 'signer.key'), os.path.join(folder, 'signer.pem')
    passphrase = os.path.join(folder, 'passphrase')
    extensions = os.path.join(folder, 'signer.ext')
    with open(passphrase, 'w', encoding='utf-8') as handle:
        handle.write('throwaway passphrase\n')
    with open(extensions, 'w', encoding='utf-8') as handle:
        handle.write('basicConstraints=critical,CA:FALSE\n'
                     'keyUsage=critical,digitalSignature\n'
                     'extendedKeyUsage=codeSigning\n')
    steps = [
        ['openssl', 'req', '-x509', '-newkey', 'rsa:3072', '-nodes', '-keyout', ca_key,
         '-out', ca, '-days', '2', '-subj', '/CN=Corvane throwaway authority',
         '-addext', 'basicConstraints=critical,CA:TRUE',
         '-addext', 'keyUsage=critical,keyCertSign,cRLSign'],
        ['openssl', 'req', '-newkey', 'rsa:3072', '-passout', 'file:' + passphrase,
         '-keyout', key, '-out', cert + '.csr', '-subj', '/CN=Corvane throwaway signer'],
        ['openssl', 'x509', '-req', '-in', cert + '.csr', '-CA', ca, '-CAkey', ca_key,
         '-set_serial', '2', '-days', '2', '-extfile', extensions, '-out', cert],
    ]
    for step in steps:
        result = run(step)
        if result.returncode != 0:
            raise RuntimeError(f'{" ".join(step)}:\n{result.stderr}')
    os.umask(0o022)
    # The signer's certificate first, then the authority: the chain as an organisation has it.
    with open(cert, 'a', encoding='utf-8') as handle, open(ca, encoding='utf-8') as authority:
        handle.write(authority.read())
    return ca, cert, key, passphrase


def content(path):
    if not os.path.isfile(path):
        return None
    with open(path, 'rb') as handle:
        return handle.read()


def differing(first, second):
    names = sorted(set(os.listdir(first)) | set(os.listdir(second)))
    return [name for name in names
            if content(os.path.join(first, name)) is None or
            content(os.path.join(first, name)) != content(os.path.join(second, name))]


def install_privately(deb, root):
    """dpkg into a root of its own: an empty package database, the package's files only."""
    for folder in ('var/lib/dpkg/info', 'var/lib/dpkg/updates', 'var/log'):
        os.makedirs(os.path.join(root, folder))
    for name in ('status', 'available'):
        open(os.path.join(root, 'var/lib/dpkg', name), 'w', encoding='utf-8').close()
    # The root has no libc: the libraries are the system's, whose versions apt checks below.
    return run(['dpkg', '--root=' + root, '--force-not-root', '--force-depends',
                '--force-script-chrootless', '-i', deb])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--tested-exe', action='append', default=[],
                        help='a Windows program the tests ran (build/mingw/Corvane.exe, '
                             'build/mingw64/Corvane64.exe)')
    args = parser.parse_args()
    uncommitted = run(['git', '-C', ROOT, 'status', '--porcelain', '--untracked-files=no']).stdout
    failures = []
    checks = 0

    def check(ok, message):
        nonlocal checks
        checks += 1
        if not ok:
            failures.append(message)
        return ok

    with tempfile.TemporaryDirectory(prefix='corvane-release-check-') as work:
        os.chmod(work, 0o755)  # scenarios run the installed program as another user too
        keys = os.path.join(work, 'keys')
        os.mkdir(keys, 0o700)
        ca, cert, key, passphrase = make_certificates(keys)

        readable = os.path.join(keys, 'readable.key')
        shutil.copy(key, readable)
        os.chmod(readable, 0o644)
        refused = run([RELEASE, '--cert', cert, '--key', readable, '--out',
                       os.path.join(work, 'refused')])
        check(refused.returncode != 0 and 'read by others' in refused.stderr and
              not os.path.exists(os.path.join(work, 'refused')),
              f'a key that others may read is not refused: {refused.returncode} {refused.stderr}')

        # Two folders whose paths differ in length as well, built one after the other.
        runs = []
        for folder in ('first', 'second-folder-elsewhere'):
            out, build = os.path.join(work, folder, 'dist'), os.path.join(work, folder, 'work')
            result = run([RELEASE, '--work', build, '--out', out, '--cert', cert, '--key', key,
                          '--pass-file', passphrase])
            if not check(result.returncode == 0, f'tools/release in {folder} failed:\n'
                         f'{result.stdout[-3000:]}{result.stderr[-3000:]}'):
                break
            runs.append((out, build))
        if len(runs) == 2:
            (dist, build), (other_dist, other_build) = runs
            print(content(os.path.join(dist, 'SHA256SUMS')).decode(), end='')
            check(not differing(dist, other_dist),
                  f'the two releases differ in {differing(dist, other_dist)}')
            for program in ('build/release/corvane', *RELEASED_EXES.values()):
                first = content(os.path.join(build, 'corvane', program))
                check(first is not None and
                      first == content(os.path.join(other_build, 'corvane', program)),
                      f'{program} differs between the two folders')
            for tested in args.tested_exe if not uncommitted else []:
                released = RELEASED_EXES[os.path.basename(tested)]
                check(content(tested) == content(os.path.join(build, 'corvane', released)),
                      f'the released {released} is not {tested}, which was tested')
            check_release(dist, os.path.join(build, 'corvane'), work, ca, check)

    return corvane_run.report('release', failures, checks)


def check_release(dist, tree, work, ca, check):
    names = sorted(os.listdir(dist))
    debs = [name for name in names if name.endswith('.deb')]
    zips = [name for name in names if name.endswith('.zip')]
    collections = [name for name in names if name.endswith('.tar.gz')]
    if not check(len(debs) == len(zips) == len(collections) == 1 and
                 {'SHA256SUMS', 'SHA256SUMS.p7s'} <= set(names), f'dist/ holds {names}'):
        return
    deb, archive, collection = (os.path.join(dist, name[0]) for name in (debs, zips, collections))
    version = re.match(r'corvane_([^_]+)_', debs[0])[1]

    sums = run(['sha256sum', '--check', '--strict', 'SHA256SUMS'], cwd=dist)
    check(sums.returncode == 0 and sums.stdout.count(': OK') == 3,
          f'SHA256SUMS does not match the files:\n{sums.stdout}{sums.stderr}')
    signature = run(['openssl', 'cms', '-verify', '-binary', '-inform', 'DER',
                     '-in', os.path.join(dist, 'SHA256SUMS.p7s'),
                     '-content', os.path.join(dist, 'SHA256SUMS'), '-CAfile', ca,
                     '-purpose', 'any', '-out', os.devnull])
    check(signature.returncode == 0, f'the signature of SHA256SUMS does not verify:\n'
          f'{signature.stderr}')

    unpacked = os.path.join(work, 'zip')
    with zipfile.ZipFile(archive) as handle:
        check(handle.namelist() == ['Corvane.exe', 'Corvane/Corvane.psd1', 'Corvane/Corvane.psm1',
                                    'Corvane64.exe', 'LICENSE.txt', 'THIRD-PARTY-NOTICES.txt',
                                    'TivErr.cfg'],
              f'the zip holds {handle.namelist()}')
        handle.extractall(unpacked)
    for name in [*RELEASED_EXES, 'Corvane/Corvane.psd1', 'Corvane/Corvane.psm1']:
        authenticode = run(['osslsigncode', 'verify', '-CAfile', ca,
                            '-in', os.path.join(unpacked, name)])
        check(authenticode.returncode == 0 and 'Signature verification: ok' in authenticode.stdout,
              f'the Authenticode signature of {name} does not verify:\n'
              f'{authenticode.stdout[-2000:]}{authenticode.stderr}')

    lintian = run(['lintian', '--fail-on', 'error,warning,info,pedantic', '--info',
                   '--pedantic', deb])
    reported = [line for line in lintian.stdout.splitlines() if re.match(r'[EWIPX]: ', line)]
    check(lintian.returncode == 0 and not reported,
          f'lintian reports:\n{lintian.stdout}{lintian.stderr}')
    dependencies = run(['apt-get', 'install', '--simulate', '--no-install-recommends', deb])
    check(dependencies.returncode == 0,
          f'the package\'s dependencies cannot be met:\n{dependencies.stdout}{dependencies.stderr}')

    root = os.path.join(work, 'root')
    installed = install_privately(deb, root)
    program = os.path.join(root, 'usr', 'bin', 'corvane')
    if check(installed.returncode == 0 and os.access(program, os.X_OK),
             f'the package does not install:\n{installed.stdout}{installed.stderr}'):
        environment = corvane_run.environment(work)
        usage = run([program, '/?'], env=environment)
        check(usage.returncode == 17 and 'Usage:' in usage.stdout,
              f'the installed corvane /? ends with {usage.returncode}:\n{usage.stdout}')
        page = run(['man', '-M', os.path.join(root, 'usr', 'share', 'man'), 'corvane'],
                   env=dict(environment, MANPAGER='cat', MANWIDTH='80'))
        check(page.returncode == 0 and re.search(r'corvane - \S', page.stdout) and
              f'Corvane {version}' in page.stdout,
              f'man corvane does not show the page of Corvane {version}:\n'
              f'{page.stdout[:500]}{page.stderr}')
        check_error_map(program, os.path.join(unpacked, 'TivErr.cfg'), work, environment, check)
        tests = os.path.join(tree, 'tests', 'e2e')
        scenarios = run([sys.executable, os.path.join(tests, 'run_scenarios.py'), '--binary',
                         program, '--scenarios', os.path.join(tests, 'scenarios'),
                         '--machines', os.path.join(tree, 'machines')])
        check(scenarios.returncode == 0, f'the end-to-end scenarios fail against the packaged '
              f'program:\n{scenarios.stdout[-3000:]}{scenarios.stderr[-2000:]}')

    galaxy = run(['ansible-galaxy', 'collection', 'install', collection, '-p',
                  os.path.join(work, 'collections')],
                 env=dict(os.environ, ANSIBLE_LOCAL_TEMP=os.path.join(work, 'ansible-tmp')))
    check(galaxy.returncode == 0 and f"corvane.bios:{version} was installed successfully"
          in galaxy.stdout, f'ansible-galaxy does not install the collection:\n'
          f'{galaxy.stdout}{galaxy.stderr}')


def check_error_map(program, sample, work, environment, check):
    """The sample beside the program: as shipped the code stays 17; with its example lines in
    use, the usage text's 17 becomes 0."""
    folder = os.path.join(work, 'error-map')
    os.mkdir(folder)
    shutil.copy(program, folder)
    with open(sample, 'rb') as handle:
        text = handle.read()
    used = re.sub(rb'^;(\d+=)', rb'\1', text, flags=re.MULTILINE)
    for content, real, translated in ((text, 17, 17), (used, 17, 0)):
        with open(os.path.join(folder, 'TivErr.cfg'), 'wb') as handle:
            handle.write(content)
        result = run([os.path.join(folder, 'corvane'), '/?'], env=environment)
        record = f'<Warning msg="Tiv return value" real="{real}" translated="{translated}" />'
        check(result.returncode == translated and record in result.stdout,
              f'with {"the used" if content is used else "the shipped"} TivErr.cfg, /? ends '
              f'with {result.returncode} and not {record}')


if __name__ == '__main__':
    sys.exit(main())
