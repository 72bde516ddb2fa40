#!/usr/bin/env python3
"""Makes the simulator tests' keys at test time, never committed: for each name given, in the
folder given, the scenarios' RSA 2048 key NAME.pem and self-signed certificate NAME.crt, and
NAME.cer64, the certificate's one-line base64 DER."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))
import run_scenarios  # noqa: E402


def main():
    folder, names = sys.argv[1], sys.argv[2:]
    os.makedirs(folder, exist_ok=True)
    for name, certificate in run_scenarios.make_keys(names, folder).items():
        with open(os.path.join(folder, name + '.cer64'), 'w', encoding='ascii') as handle:
            handle.write(certificate)
    return 0


if __name__ == '__main__':
    sys.exit(main())
