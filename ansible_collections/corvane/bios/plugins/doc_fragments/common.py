# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""The documentation every module of the collection shares."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type


class ModuleDocFragment(object):
    """What every module of the collection shares: the program, where it runs and its action
    group."""

    DOCUMENTATION = r'''
options:
  executable:
    description: The Corvane program.
    type: str
    default: corvane
attributes:
  platform:
    description: Target systems the module serves.
    support: full
    platforms: posix
    details: Linux machines with the kernel's firmware attributes. Windows hosts are not served yet.
  action_group:
    description: Use C(group/corvane.bios.bios) in C(module_defaults) to set defaults for this module.
    support: full
    membership:
      - corvane.bios.bios
notes:
  - Corvane must be installed on the managed machine and run as root (C(become)).
'''
