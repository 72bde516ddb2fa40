#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""Sets, changes or removes the BIOS setup password with Corvane."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
module: bios_password
short_description: Set, change or remove the BIOS setup password
description:
  - Sets the BIOS setup (administrator) password to C(new_password) with Corvane, from
    C(password) when one is set; an empty C(new_password) removes it.
  - Idempotent where the machine can tell. The new password is tried first as the current one,
    so a machine that already has it is left alone without a wrong attempt; otherwise
    C(password) unlocks the change. To remove a password, C(password) is tried first.
  - Every password tried is a real attempt on the firmware, which may lock out after a few wrong
    ones.
  - Some firmware (Lenovo's) takes the new password only at its next restart, and until then
    still takes the old one; the task then returns C(reboot_required). Until the restart, give
    both passwords to later tasks (in C(corvane.bios.bios_settings), the list of C(passwords)).
  - Neither password is ever logged, put on a command line or written to a file; a failure
    gives Corvane's reason without them.
options:
  password:
    description: The current setup password; leave it out when none is set.
    type: str
  new_password:
    description: The wanted setup password; the empty text removes the password.
    type: str
    required: true
attributes:
  check_mode:
    description:
      - Tries nothing, since only a real attempt tells which password is current; reports a
        change whenever C(new_password) differs from C(password).
    support: partial
  diff_mode:
    description: Shows nothing of a password.
    support: none
extends_documentation_fragment:
  - corvane.bios.common
author: Corvane developers (!UNKNOWN)
'''

EXAMPLES = r'''
- name: Rotate the BIOS password
  corvane.bios.bios_password:
    password: "{{ vault_bios_password_2024 }}"
    new_password: "{{ vault_bios_password_2025 }}"
  become: true
  register: rotation

- name: Restart where the new password waits for it
  ansible.builtin.reboot:
  when: rotation.reboot_required
'''

RETURN = r'''
reboot_required:
  description: Whether the new password takes effect only at the next restart.
  returned: always
  type: bool
code:
  description: Corvane's result code, before any TivErr.cfg translation; not set in check mode.
  returned: when Corvane ran
  type: int
'''

from ansible_collections.corvane.bios.plugins.module_utils.corvane import fail, module_with, run

CHANGED = 'Successfully modified the Setup Password.'


def main():
    module = module_with(password=dict(type='str', no_log=True),
                         new_password=dict(type='str', no_log=True, required=True))
    current = module.params['password'] or ''
    wanted = module.params['new_password']
    if module.check_mode:
        module.exit_json(changed=wanted != current, reboot_required=False)

    # The options are tried as current passwords in this order: the one most likely to be
    # current first, so that a run that has nothing to do makes no wrong attempt.
    options = [('/nspwd:', wanted)]
    if current:
        options = [('/cspwd:', current)] + options if not wanted else options + [('/cspwd:', current)]
    log = run(module, [], options, changes=True)
    changed = any(m['kind'] == 'SUCCESS' and m['text'] == CHANGED for m in log['messages'])
    result = dict(changed=changed, reboot_required=log['reboot_required'], code=log['code'])
    if log['code'] != 0:
        fail(module, 'Changing the BIOS password', log, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
