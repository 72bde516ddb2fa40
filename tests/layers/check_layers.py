#!/usr/bin/env python3
"""Checks that includes between source folders point only the allowed ways.

Each folder of src/ (and tarnix/, sim/) may include its own headers and those of the folders
listed for it below; anything else, and any folder not listed, fails. The table is the one
ARCHITECTURE.md shows. The simulator is no folder of the product: only the program's entry
point (src/driver/main.cpp, outside the product library) may include it.
"""
import pathlib
import re
import sys

ALLOWED = {
    'platform': set(),
    'log': {'platform'},
    'wmi': {'log', 'platform'},
    'firmware': {'platform'},
    'legacy': {'firmware', 'wmi', 'log', 'platform'},
    'config': {'legacy', 'wmi', 'log', 'platform'},
    'sim': {'platform'},
    'fwattr': {'platform'},
    'driver': {'config', 'legacy', 'firmware', 'wmi', 'log', 'platform', 'fwattr'},
    'tarnix': {'legacy', 'sim', 'platform'},
}

ENTRY_POINT = pathlib.PurePosixPath('src/driver/main.cpp')

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path, root):
    relative = path.relative_to(root)
    parts = relative.parts
    if parts[0] == 'src':
        return parts[1] if len(parts) > 2 else None
    return parts[0]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.').resolve()
    sources = [p for base in ('src', 'tarnix', 'sim') if (root / base).is_dir()
               for p in (root / base).rglob('*') if p.suffix in ('.h', '.cpp', '.c')]
    errors = []
    for path in sorted(sources):
        folder = folder_of(path, root)
        if folder is None:
            continue
        if folder not in ALLOWED:
            errors.append(f'{path.relative_to(root)}: folder {folder!r} has no place in the layers')
            continue
        for included in INCLUDE.findall(path.read_text(encoding='utf-8', errors='replace')):
            target = included.split('/', 1)[0] if '/' in included else folder
            allowed = ALLOWED[folder] | ({'sim'} if path.relative_to(root).as_posix() ==
                                         str(ENTRY_POINT) else set())
            if target != folder and target not in allowed:
                errors.append(f'{path.relative_to(root)}: {folder} may not include {included}')
    for error in errors:
        print(error)
    print(f'{len(sources)} files checked, {len(errors)} include(s) against the layers')
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main())
