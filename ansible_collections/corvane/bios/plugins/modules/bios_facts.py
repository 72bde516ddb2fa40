#!/usr/bin/python
"""Reads the BIOS setup settings with Corvane as facts."""

DOCUMENTATION = r'''
module: bios_facts
short_description: Read the BIOS setup settings as facts
description:
  - Runs C(corvane /GetConfig) and sets C(ansible_facts.bios_settings), a dictionary of setting
    name to current value, as the REPSET text gives it - the marked choice of a list of choices,
    the text of a single value line, or the list of lines of a longer block (an ordered list).
options:
  executable:
    description: The Corvane program.
    type: str
    default: corvane
author: Corvane developers
'''

EXAMPLES = r'''
- name: Read the BIOS settings
  corvane.bios.bios_facts:
  become: true
- ansible.builtin.debug:
    var: ansible_facts.bios_settings['Secure Boot']
'''

RETURN = r'''
ansible_facts:
  description: C(bios_settings), setting name to current value.
  returned: always
  type: dict
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.bios.plugins.module_utils.result_log import parse, repset_values


def main():
    module = AnsibleModule(argument_spec=dict(executable=dict(type='str', default='corvane')),
                           supports_check_mode=True)
    executable = module.params['executable']
    if os.sep not in executable:
        executable = module.get_bin_path(executable, required=True)
    rc, out, err = module.run_command([executable, '/GetConfig'])
    log = parse(out)
    if log['code'] != 0 or log['getconfig'] is None:
        errors = [m['text'] for m in log['messages'] if m['kind'] == 'ERROR']
        module.fail_json(msg='Reading the settings failed with code %s: %s'
                         % (log['code'] if log['code'] is not None else rc,
                            '; '.join(errors) or err.strip() or 'no record'),
                         records=log['messages'])
    module.exit_json(changed=False,
                     ansible_facts={'bios_settings': repset_values(log['getconfig'])})


if __name__ == '__main__':
    main()
