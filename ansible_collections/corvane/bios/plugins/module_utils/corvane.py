# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""Runs Corvane on the managed machine for the modules: passwords only ever on its standard
input, never on its command line; its result log read; what it says on standard error (a
restart awaited, no BIOS interface, a broken machine) turned into results and reasons."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.bios.plugins.module_utils.result_log import parse

# The result code a run that changes something asks for when its changes wait for a restart,
# read from the result log before any translation by TivErr.cfg.
RESTART_CODE = 3010

# The notes Corvane writes on standard error about restarts: no reason for a failure.
SETTINGS_RESTART = 'the changed BIOS settings take effect after a restart'
PASSWORD_RESTART = 'the new BIOS password takes effect after a restart'
AWAITING_RESTART = 'the BIOS holds changes that wait for a restart'
RESTART_NOTES = (SETTINGS_RESTART, PASSWORD_RESTART, AWAITING_RESTART)

# Candidate current passwords, an option of the modules that may need one.
PASSWORDS = dict(type='list', elements='str', no_log=True, default=[])


def module_with(mutually_exclusive=None, required_one_of=None, **options):
    """The module with its own options and the one every module takes, executable (the doc
    fragment corvane.bios.common documents it); every module runs in check mode."""
    return AnsibleModule(argument_spec=dict(options, executable=dict(type='str', default='corvane')),
                         mutually_exclusive=mutually_exclusive, required_one_of=required_one_of,
                         supports_check_mode=True)


def executable(module):
    """The program: a path as given, or a name looked up on PATH."""
    name = module.params['executable']
    return name if os.sep in name else module.get_bin_path(name, required=True)


def current_passwords(module, passwords):
    """Password options for candidate current passwords, in order, the empty ones left out."""
    return [('/cspwd:', password) for password in passwords if password]


def run(module, args, password_options=(), changes=False):
    """Runs Corvane with args and, when there are any, the password options on its standard
    input. Returns the parsed result log with 'notes' (its lines on standard error), 'rc' and
    'reboot_required': for a run that changes something, whether it ended with the restart code,
    which then counts as success (code 0). A run that printed no result log fails the task with
    Corvane's reason."""
    if changes:
        args = list(args) + ['/RestartCode:%d' % RESTART_CODE]
    data = None
    if password_options:
        if any('\n' in option[1] or '\r' in option[1] for option in password_options):
            module.fail_json(msg='A password holds a line break, which no BIOS password can hold.')
        args = ['/pwdstdin'] + list(args)
        data = '\n'.join(option + value for option, value in password_options)
    rc, out, err = module.run_command([executable(module)] + list(args), data=data)
    log = parse(out)
    log['rc'] = rc
    log['notes'] = [line.strip() for line in err.splitlines() if line.strip()]
    log['reboot_required'] = changes and log['code'] == RESTART_CODE
    if log['code'] is None:
        module.fail_json(msg='Corvane ended with exit code %d without a result log: %s'
                         % (rc, '; '.join(log['notes']) or 'it gave no reason'),
                         code=rc, records=log['messages'], notes=log['notes'])
    if log['reboot_required']:
        log['code'] = 0
    return log


def reasons(log):
    """What the run said went wrong: its error and warning records, then its notes on standard
    error other than those about restarts."""
    said = [m['text'] for m in log['messages'] if m['kind'] in ('ERROR', 'WARNING')]
    return said + [note for note in log['notes'] if not any(text in note for text in RESTART_NOTES)]


def fail(module, what, log, extra=(), **result):
    """Fails the task with the run's own reasons; result keeps what the task did anyway."""
    module.fail_json(msg='%s failed with code %d: %s' % (what, log['code'], '; '.join(reasons(log) + list(extra)) or 'no reason given'),
                     records=log['messages'], notes=log['notes'], **result)
