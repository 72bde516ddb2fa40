# -*- coding: utf-8 -*-
# Copyright: Contributors to the Corvane project
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
"""Reads Corvane's result log: the records of a run, its result code before translation, and
the REPSET text of a /GetConfig. Everything about BIOS settings is Corvane's own; this only
parses what it printed."""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import re

TRANSLATION = re.compile(r'<Warning msg="Tiv return value" real="(-?\d+)" translated="(-?\d+)" />')
SETTING = re.compile(
    r'<SETTING changeStatus="([^"]*)" name="(.*?)"'
    r'(?: />\n|>\n\t<OLDVALUE>(.*?)</OLDVALUE>\n\t<NEWVALUE>(.*?)</NEWVALUE>\n</SETTING>\n)',
    re.S)
MESSAGE = re.compile(r'<(ERROR|WARNING|SUCCESS) msg="(.*?)" />\n|<ERROR type="failure">(.*?)</ERROR>\n',
                     re.S)
GETCONFIG = re.compile(r'<GETCONFIG><!\[CDATA\[\n(.*)\]\]></GETCONFIG>\n', re.S)
# The one record that quotes a command-line argument, which may be a password.
UNTYPABLE = 'Problem encountered with command line parameter'


def _value(raw):
    """A record's value without its CDATA wrapping; a list's elements joined with commas."""
    if raw is None:
        return None
    if raw.endswith(']]>\n\t'):
        raw = raw[:-2]
    if raw.startswith('<![CDATA[') and raw.endswith(']]>'):
        raw = raw[len('<![CDATA['):-len(']]>')]
    if raw.startswith('\n\t\t'):
        raw = raw[3:].replace(',\n\t\t', ',')
    return raw


def parse(text):
    """The records of one run: settings (status, name, old, new), messages (kind, text), the
    result code before translation (None when the run ended without one) and the GETCONFIG text."""
    text = text.replace('\r\n', '\n')
    settings = [{'status': m.group(1), 'name': m.group(2), 'old': _value(m.group(3)),
                 'new': _value(m.group(4))} for m in SETTING.finditer(text)]
    messages = []
    for m in MESSAGE.finditer(text):
        kind, message = (m.group(1), m.group(2)) if m.group(1) else ('ERROR', m.group(3))
        if message.startswith(UNTYPABLE):
            message = 'A password has a character that has no key on an English keyboard.'
        messages.append({'kind': kind, 'text': message})
    code = TRANSLATION.search(text)
    config = GETCONFIG.search(text)
    return {'settings': settings, 'messages': messages,
            'code': int(code.group(1)) if code else None,
            'getconfig': config.group(1) if config else None}


def repset_settings(text):
    """Each setting of REPSET text by name: its value, and its kind and choices where the text
    tells them. A list of choices with a marked one is a 'choice' (value: the marked choice,
    choices: all of them); a block of several lines is a 'list' (value: the lines, as an ordered
    list has them); a block of one line is a 'text'. A name without value lines tells nothing
    and is left out."""
    settings = {}
    name, lines = None, []

    def close():
        if not name or not lines:
            return
        marked = [line[1:] for line in lines if line.startswith('*')]
        if marked:
            settings[name] = {'kind': 'choice', 'value': marked[0],
                              'choices': [line[1:] if line.startswith('*') else line for line in lines]}
        elif len(lines) == 1:
            settings[name] = {'kind': 'text', 'value': lines[0]}
        else:
            settings[name] = {'kind': 'list', 'value': lines}
    for line in text.replace('\r\n', '\n').split('\n')[1:]:
        if line[:1] in ('\t', ' '):
            lines.append(line[1:])
        elif line:
            close()
            name, lines = line, []
    close()
    return settings
