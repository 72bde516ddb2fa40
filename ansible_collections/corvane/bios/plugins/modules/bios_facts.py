#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""Reads the BIOS setup settings with Corvane as facts."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
module: bios_facts
short_description: Read the BIOS setup settings as facts
description:
  - Runs C(corvane /GetConfig) and sets C(ansible_facts.corvane_bios.settings), a dictionary of
    setting name to the setting's C(value), C(kind) and, for a list of choices, C(choices).
  - The kind is C(choice) for a list of choices (C(value) is the current choice), C(list) for a
    block of several lines such as a boot order (C(value) is the list of lines), and C(text) for
    a single value (a text or a number).
  - The fact has a name of the collection's own, so that it leaves inventory variables alone
    where facts are also set as variables.
options:
  passwords:
    description:
      - Candidate current BIOS setup passwords, tried in order by Corvane only on older machines
        served by the management library, which may show some settings only when unlocked.
      - They reach Corvane on its standard input, never on a command line.
    type: list
    elements: str
    default: []
attributes:
  check_mode:
    description: Reads only; runs the same in check mode.
    support: full
  diff_mode:
    description: Changes nothing, so has no difference to show.
    support: N/A
extends_documentation_fragment:
  - corvane.bios.common
author: Corvane developers (!UNKNOWN)
'''

EXAMPLES = r'''
- name: Read the BIOS settings
  corvane.bios.bios_facts:
  become: true

- name: Show whether Secure Boot is on, and what it could be
  ansible.builtin.debug:
    msg: "{{ ansible_facts.corvane_bios.settings['Secure Boot'].value }} of
      {{ ansible_facts.corvane_bios.settings['Secure Boot'].choices }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts set.
  returned: always
  type: dict
  contains:
    corvane_bios:
      description: The BIOS setup settings.
      returned: always
      type: dict
      contains:
        settings:
          description: Setting name to a dictionary of C(value), C(kind) and, for a choice, C(choices).
          returned: always
          type: dict
'''

from ansible_collections.corvane.bios.plugins.module_utils.corvane import (
    PASSWORDS, current_passwords, fail, module_with, run)
from ansible_collections.corvane.bios.plugins.module_utils.result_log import repset_settings


def main():
    module = module_with(passwords=PASSWORDS)
    log = run(module, ['/GetConfig'], current_passwords(module, module.params['passwords']))
    if log['code'] != 0 or log['getconfig'] is None:
        fail(module, 'Reading the settings', log, code=log['code'])
    module.exit_json(changed=False,
                     ansible_facts={'corvane_bios': {'settings': repset_settings(log['getconfig'])}})


if __name__ == '__main__':
    main()
