#!/usr/bin/env python3
"""Runs ansible-test sanity on the corvane.bios collection without a network.

ansible-test installs each test's tools with pip into a virtual environment of its own. Here
every such environment is one made with Python's venv module over the system's packages, so the
tools come from Debian's packages (pylint, pycodestyle, yamllint, voluptuous), which
tools/install-deps installs. Tests whose tools Debian does not package are skipped by name, with
the reason printed. Arguments: the collection's folder; the rest goes to ansible-test."""
import importlib
import os
import subprocess
import sys

from ansible_test._internal import main
from ansible_test._internal.commands import sanity
from ansible_test._internal.host_configs import VirtualPythonConfig

# Tests that cannot run from Debian's packages, and why.
SKIPPED = {
    'changelog': 'antsibull-changelog, which it runs, is not packaged by Debian',
}


def offline_virtualenv(args, python, name, coverage=False, minimize=False):
    """The one environment every test runs in: the system's Python with its packages."""
    del args, name, coverage, minimize
    path = os.path.expanduser(os.path.join('~/.ansible/test/venv/offline', python.version))
    if not os.path.exists(os.path.join(path, 'meta.yaml.json')):
        subprocess.run([python.path, '-m', 'venv', '--without-pip', '--system-site-packages',
                        path], check=True)
        # Whether PyYAML has libyaml, as ansible-test notes it for the environments it makes.
        libyaml = subprocess.run([os.path.join(path, 'bin', 'python'), '-c',
                                  'import yaml; print(hasattr(yaml, "CLoader"))'],
                                 check=True, capture_output=True, text=True).stdout.strip()
        with open(os.path.join(path, 'meta.yaml.json'), 'w', encoding='utf-8') as meta:
            meta.write('true' if libyaml == 'True' else 'false')
    return VirtualPythonConfig(version=python.version, path=os.path.join(path, 'bin', 'python'),
                               system_site_packages=True)


def run():
    collection = sys.argv[1]
    sanity.create_sanity_virtualenv = offline_virtualenv
    importlib.import_module('ansible_test._internal.commands.sanity.import').create_sanity_virtualenv = \
        offline_virtualenv
    for test, reason in SKIPPED.items():
        print(f'Skipping sanity test "{test}": {reason}.')
    os.chdir(collection)
    arguments = ['ansible-test', 'sanity', '--python', '%d.%d' % sys.version_info[:2], '--color', 'no']
    for test in SKIPPED:
        arguments += ['--skip-test', test]
    main(arguments + sys.argv[2:])


if __name__ == '__main__':
    run()
