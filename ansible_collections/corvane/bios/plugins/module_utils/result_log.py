"""Reads Corvane's result log: the records of a run, its result code before translation, and
the REPSET text of a /GetConfig. Everything about BIOS settings is Corvane's own; this only
parses what it printed."""
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


def repset_values(text):
    """Setting name to current value from REPSET text: the marked choice of a list of choices,
    the text of a single value line, or the lines of a block of several (an ordered list)."""
    values = {}
    name, lines = None, []

    def close():
        if not name:
            return
        marked = [line[1:] for line in lines if line.startswith('*')]
        if marked:
            values[name] = marked[0]
        elif len(lines) == 1:
            values[name] = lines[0]
        elif lines:
            values[name] = lines
    for line in text.replace('\r\n', '\n').split('\n')[1:]:
        if line[:1] in ('\t', ' '):
            lines.append(line[1:])
        elif line:
            close()
            name, lines = line, []
    close()
    return values
