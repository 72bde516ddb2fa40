#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""Applies a REPSET baseline of BIOS setup settings with Corvane."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
module: bios_settings
short_description: Apply a REPSET baseline of BIOS setup settings
description:
  - Compares the machine's BIOS setup settings with a REPSET file through C(corvane /CheckConfig),
    which writes nothing and judges each value as C(corvane /SetConfig) would, and applies the
    file with C(corvane /SetConfig) only when a setting differs.
  - C(changed) is true whenever a setting changed (or would change, in check mode), also when the
    task then fails because another one did not take its value.
  - Names the machine has no setting for, and values Corvane would pass over (a choice the
    setting lacks, a number out of bounds, a text too long), are returned in C(unknown) and
    C(invalid) and reported as warnings; C(strict) fails the task on them before anything is
    changed.
  - Fails with Corvane's own reason (no BIOS interface, a broken machine file, a refused password)
    and the run's records.
options:
  src:
    description:
      - Path of a REPSET file on the managed machine.
      - On a Lenovo machine whose BIOS administrator is a certificate, Corvane reads the changes'
        signatures from the signature file beside it, I(src) with C(.sig) appended, written by
        C(corvane /SignConfig) on the administrator's workstation; no password is tried there.
    type: path
  signatures:
    description:
      - Path of a signature file on the managed machine to use instead of the one beside I(src),
        or with I(content). It is copied, readable by its owner alone, beside the file Corvane
        reads.
      - A signature file is as sensitive as a password for the settings it names; ship it as you
        ship a password (C(mode=0600)).
    type: path
  content:
    description: The REPSET text itself.
    type: str
  passwords:
    description:
      - Candidate current BIOS setup passwords, tried in order by Corvane, and only when a
        setting must change (or, on older machines served by the management library, to read the
        settings).
      - They reach Corvane on its standard input, never on a command line.
    type: list
    elements: str
    default: []
  strict:
    description: Fail, changing nothing, when the file names a setting the machine lacks or gives
      a value Corvane would pass over.
    type: bool
    default: false
attributes:
  check_mode:
    description: Can run in check mode and return the changes it would make, without writing.
    support: full
  diff_mode:
    description: Returns each differing setting's current and wanted value.
    support: full
notes:
  - Set C(CORVANE_MACHINE) through the task's C(environment) to work on a simulated machine.
  - Windows hosts are not served yet; on Windows, run C(Corvane.exe /CheckConfig) and
    C(/SetConfig) from the system's own management tools.
extends_documentation_fragment:
  - corvane.bios.common
author: Corvane developers (!UNKNOWN)
'''

EXAMPLES = r'''
- name: Apply the fleet baseline
  corvane.bios.bios_settings:
    src: /etc/corvane/baseline.txt
    passwords: "{{ bios_passwords }}"
    strict: true
  become: true
  notify: Restart for the BIOS settings
'''

RETURN = r'''
settings:
  description: One entry per setting that changed, would change, or did not take its value.
  returned: always
  type: list
  elements: dict
  contains:
    name:
      description: The setting's name.
      type: str
    old:
      description: Its value before.
      type: str
    new:
      description: Its value after the change, or the wanted one when it differs or failed.
      type: str
    status:
      description: C(differs) in check mode; C(pass) or C(fail) when applied.
      type: str
invalid:
  description: Names of the settings whose value in the file Corvane would pass over.
  returned: always
  type: list
  elements: str
unknown:
  description: Names in the file that the machine has no setting for.
  returned: always
  type: list
  elements: str
reboot_required:
  description: Whether the changed settings take effect only after a restart.
  returned: always
  type: bool
code:
  description: Corvane's result code of its last run, before any TivErr.cfg translation.
  returned: always
  type: int
'''

import os
import shutil
import tempfile

from ansible_collections.corvane.bios.plugins.module_utils.corvane import (
    PASSWORDS, current_passwords, fail, module_with, run)

CHECK_CODES = (0, 20, 21)


def main():
    module = module_with(src=dict(type='path'), content=dict(type='str'), passwords=PASSWORDS,
                         strict=dict(type='bool', default=False), signatures=dict(type='path'),
                         mutually_exclusive=[('src', 'content')], required_one_of=[('src', 'content')])
    path = module.params['src']
    if module.params['content'] is not None or module.params['signatures'] is not None:
        # Corvane reads the signatures beside the file: both go to the task's private folder.
        handle, path = tempfile.mkstemp(dir=module.tmpdir, suffix='.txt')
        with os.fdopen(handle, 'wb') as stream:
            if module.params['content'] is not None:
                stream.write(module.params['content'].encode('utf-8'))
            else:
                with open(module.params['src'], 'rb') as source:
                    shutil.copyfileobj(source, stream)
    if module.params['signatures'] is not None:
        handle = os.open(path + '.sig', os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(handle, 'wb') as stream, open(module.params['signatures'], 'rb') as source:
            shutil.copyfileobj(source, stream)
    passwords = current_passwords(module, module.params['passwords'])

    check = run(module, ['/CheckConfig:' + path], passwords)
    by_status = dict((status, [s for s in check['settings'] if s['status'] == status])
                     for status in ('differs', 'invalid', 'unknown'))
    differs = by_status['differs']
    result = dict(changed=bool(differs), settings=differs, reboot_required=False, code=check['code'],
                  invalid=[s['name'] for s in by_status['invalid']],
                  unknown=[s['name'] for s in by_status['unknown']])
    if check['code'] not in CHECK_CODES:
        result['changed'] = False
        fail(module, 'The check', check, **result)
    passed_over = ['the machine has no setting %s' % s['name'] for s in by_status['unknown']] + \
        ['%s: %s is not a value Corvane can set (current: %s)' % (s['name'], s['new'], s['old'])
         for s in by_status['invalid']]
    if module.params['strict'] and passed_over:
        result['changed'] = False
        module.fail_json(msg='Nothing was changed: ' + '; '.join(passed_over), **result)
    for warning in passed_over:
        module.warn(warning[0].upper() + warning[1:] + '.')
    if differs and module._diff:
        result['diff'] = dict(
            before=''.join('%s: %s\n' % (s['name'], s['old']) for s in differs),
            after=''.join('%s: %s\n' % (s['name'], s['new']) for s in differs))
    if not differs or module.check_mode:
        module.exit_json(**result)

    applied = run(module, ['/SetConfig:' + path], passwords, changes=True)
    settings = [s for s in applied['settings'] if s['status'] in ('pass', 'fail')]
    result.update(changed=any(s['status'] == 'pass' for s in settings), settings=settings,
                  code=applied['code'], reboot_required=applied['reboot_required'])
    if applied['code'] != 0 or any(s['status'] != 'pass' for s in settings):
        fail(module, 'Applying the settings', applied,
             ['%s: %s (wanted %s)' % (s['name'], s['old'], s['new']) for s in settings if s['status'] != 'pass'],
             **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
