"""Running Corvane for the Python tests (which put this folder on their path), and reporting
what they found."""
import os
import re
import subprocess
import sys
import tempfile

# The result log's opening element; its computer name, date, time and hour offset vary by run.
OPENING = re.compile(
    r'<BIOSCONFIG Version="(\d+\.\d+\.\d+\.\d+)" Computername="([^"]{0,15})" '
    r'Date="(\d{4}/\d{2}/\d{2})" Time="(\d{2}:\d{2}:\d{2})" UTC="(-?\d{1,2})" >')
OPENED = '<BIOSCONFIG Version="*" Computername="*" Date="*" Time="*" UTC="*" >'

# Text and bytes: undecodable bytes travel as lone surrogates, which encode back to themselves.
BYTES = 'surrogateescape'

SKIPPED = 77  # CTest's SKIP_RETURN_CODE for the tests that may skip everything


def normalise(text):
    """The text with every opening element of the right shape written as OPENED."""
    return OPENING.sub(lambda m: OPENED if -23 <= int(m[5]) <= 23 else m[0], text)


def read(path, missing=None):
    """A text file's content, undecodable bytes kept; missing when there is no such file."""
    if not os.path.exists(path):
        return missing
    with open(path, encoding='utf-8', errors=BYTES) as handle:
        return handle.read()


def environment(folder, **variables):
    """The caller's environment without its CORVANE_ variables, with a private runtime folder (the
    management library's) and an empty firmware-attributes tree made in folder unless variables
    name others, so that no run reaches the user's or the computer's own. None unsets a variable."""
    env = {k: v for k, v in os.environ.items() if not k.startswith('CORVANE_')}
    for name, path in (('XDG_RUNTIME_DIR', 'runtime'),
                       ('CORVANE_FIRMWARE_ATTRIBUTES', 'no-firmware-attributes')):
        if name not in variables:
            env[name] = os.path.join(folder, path)
            os.makedirs(env[name], mode=0o700, exist_ok=True)
    env.update(variables)
    return {k: v for k, v in env.items() if v is not None}


def run(command, env, cwd=None, stdin=b'', stdout=subprocess.PIPE, crlf=False, timeout=120,
        **options):
    """(exit code, standard output, standard error) of command (a runner such as wine, the program,
    its arguments), CR LF made LF with crlf. Standard error goes to a file: a pipe would stay open
    in a Wine server that the run starts, and the read would wait for that server to exit."""
    with tempfile.TemporaryFile() as errors:
        result = subprocess.run(command, cwd=cwd, env=env, input=stdin, stdout=stdout,
                                stderr=errors, timeout=timeout, **options)
        errors.seek(0)
        err = errors.read()
    texts = [(data or b'').decode('utf-8', BYTES) for data in (result.stdout, err)]
    return (result.returncode, *(text.replace('\r\n', '\n') if crlf else text for text in texts))


def report(name, failures, checks=1, skipped=None):
    """Prints each failure once, then the line CI reads, 'NAME: N passed, N failed[, N skipped]';
    returns 1 when a check failed (with one check, every failure is of it) or none passed, SKIPPED
    when all were skipped."""
    sys.stdout.reconfigure(errors='backslashreplace')
    failures = list(dict.fromkeys(failures))
    for failure in failures:
        print('FAIL ' + failure.replace('\n', '\n  '))
    failed = min(len(failures), checks)
    line = f'{name}: {checks - failed} passed, {failed} failed'
    print(line if skipped is None else f'{line}, {skipped} skipped')
    if not checks and skipped:
        return SKIPPED
    return 1 if failed or not checks else 0
