#!/usr/bin/python
"""Applies a REPSET baseline of BIOS setup settings with Corvane."""

DOCUMENTATION = r'''
module: bios_settings
short_description: Apply a REPSET baseline of BIOS setup settings
description:
  - Compares the machine's BIOS setup settings with a REPSET file through C(corvane /CheckConfig),
    which writes nothing, and applies the file with C(corvane /SetConfig) only when a setting
    differs. C(changed) means that a setting changed (or would change, in check mode).
  - Check mode and diff mode need no password on machines whose BIOS settings are read without
    one; nothing is written in check mode.
  - Values the file gives that Corvane would pass over, and names the machine has no setting
    for, are reported as warnings.
  - Fails with the run's records when a setting does not change or the password is refused.
options:
  src:
    description: Path of a REPSET file on the managed machine.
    type: path
  content:
    description: The REPSET text itself.
    type: str
  passwords:
    description:
      - Candidate current BIOS setup passwords, tried in order by Corvane, and only when a
        setting must change (or, on older machines, to read the settings).
    type: list
    elements: str
    default: []
  executable:
    description: The Corvane program.
    type: str
    default: corvane
notes:
  - Set C(CORVANE_MACHINE) through the task's C(environment) to work on a simulated machine.
author: Corvane developers
'''

EXAMPLES = r'''
- name: Apply the fleet baseline
  corvane.bios.bios_settings:
    src: /etc/corvane/baseline.txt
    passwords: "{{ bios_passwords }}"
  become: true
'''

RETURN = r'''
settings:
  description: One entry per setting that changed or would change (or did not take its value).
  returned: always
  type: list
  elements: dict
  contains:
    name: {description: The setting's name., type: str}
    old: {description: Its value before., type: str}
    new: {description: Its value after, or the wanted one., type: str}
    status:
      description: C(differs) in check mode; C(pass) or C(fail) when applied.
      type: str
code:
  description: Corvane's result code of its last run, before any TivErr.cfg translation.
  returned: always
  type: int
'''

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.corvane.bios.plugins.module_utils.result_log import parse

CHECK_CODES = (0, 20)


def run(module, executable, args):
    rc, out, err = module.run_command([executable] + args)
    log = parse(out)
    for line in err.splitlines():
        if line.strip():
            module.warn(line.strip())
    if log['code'] is None:
        module.fail_json(msg='Corvane printed no result log (exit code %d)' % rc, settings=[],
                         code=rc, records=log['messages'])
    return log


def fail(module, what, log, settings):
    errors = [m['text'] for m in log['messages'] if m['kind'] in ('ERROR', 'WARNING')]
    failed = ['%s: %s (wanted %s)' % (s['name'], s['old'], s['new']) for s in settings
              if s['status'] != 'pass']
    module.fail_json(msg='%s failed with code %d: %s' % (what, log['code'],
                                                         '; '.join(errors + failed) or 'no record'),
                     settings=settings, code=log['code'], records=log['messages'])


def main():
    module = AnsibleModule(
        argument_spec=dict(src=dict(type='path'), content=dict(type='str'),
                           passwords=dict(type='list', elements='str', no_log=True, default=[]),
                           executable=dict(type='str', default='corvane')),
        mutually_exclusive=[('src', 'content')], required_one_of=[('src', 'content')],
        supports_check_mode=True)
    executable = module.params['executable']
    if os.sep not in executable:
        executable = module.get_bin_path(executable, required=True)
    path = module.params['src']
    if module.params['content'] is not None:
        handle, path = tempfile.mkstemp(dir=module.tmpdir, suffix='.txt')
        with os.fdopen(handle, 'w', encoding='utf-8', newline='\n') as stream:
            stream.write(module.params['content'])
    passwords = ['/cspwd:' + password for password in module.params['passwords']]

    check = run(module, executable, passwords + ['/CheckConfig:' + path])
    for record in check['settings']:
        if record['status'] == 'unknown':
            module.warn('The machine has no setting %s.' % record['name'])
        elif record['status'] == 'invalid':
            module.warn('%s: %s is not a value Corvane can set (current: %s).'
                        % (record['name'], record['new'], record['old']))
    differs = [s for s in check['settings'] if s['status'] == 'differs']
    if check['code'] not in CHECK_CODES:
        fail(module, 'The check', check, differs)
    result = dict(changed=bool(differs), settings=differs, code=check['code'])
    if differs and module._diff:
        result['diff'] = dict(
            before=''.join('%s: %s\n' % (s['name'], s['old']) for s in differs),
            after=''.join('%s: %s\n' % (s['name'], s['new']) for s in differs))
    if not differs or module.check_mode:
        module.exit_json(**result)

    applied = run(module, executable, passwords + ['/SetConfig:' + path])
    settings = [s for s in applied['settings'] if s['status'] in ('pass', 'fail', 'failed')]
    if applied['code'] != 0 or any(s['status'] != 'pass' for s in settings):
        fail(module, 'Applying the settings', applied, settings)
    result.update(changed=bool(settings), settings=settings, code=applied['code'])
    module.exit_json(**result)


if __name__ == '__main__':
    main()
