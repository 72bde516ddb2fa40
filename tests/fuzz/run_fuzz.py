#!/usr/bin/env python3
"""Runs the fuzz harnesses of a fuzz build over their committed seeds.

  run_fuzz.py --build build/fuzz [--seconds 30 | --runs 1000000] [NAME ...]

Each harness (build/fuzz/tests/fuzz/NAME_fuzz) starts from its committed seeds,
tests/fuzz/corpus/NAME, and the inputs of faults it once found, tests/fuzz/regressions/NAME,
and uses the dictionary tests/fuzz/NAME.dict when there is one. What it adds to the corpus goes to
BUILD/fuzz-work/NAME/corpus and what it finds (crashes, leaks, time-outs, failed checks) to
BUILD/fuzz-work/NAME/findings, so the committed seeds never change. The run stops after the
given time or number of executions; a finding stops it at once and fails the run.

A table of executions, time and findings per harness is printed at the end.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def harnesses(build):
    found = sorted(glob.glob(os.path.join(build, 'tests', 'fuzz', '*_fuzz')))
    return {os.path.basename(path)[:-len('_fuzz')]: path for path in found if os.access(path, os.X_OK)}


def run(name, binary, args):
    work = os.path.join(args.build, 'fuzz-work', name)
    corpus = os.path.join(work, 'corpus')
    findings = os.path.join(work, 'findings')
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(findings, exist_ok=True)
    command = [binary, f'-artifact_prefix={findings}/', '-print_final_stats=1', '-timeout=10',
               '-rss_limit_mb=2048', '-max_len=65536', '-len_control=1000']
    command.append(f'-runs={args.runs}' if args.runs else f'-max_total_time={args.seconds}')
    dictionary = os.path.join(HERE, f'{name}.dict')
    if os.path.exists(dictionary):
        command.append(f'-dict={dictionary}')
    command += [corpus, os.path.join(HERE, 'corpus', name)]
    regressions = os.path.join(HERE, 'regressions', name)
    if os.path.isdir(regressions):
        command.append(regressions)
    before = set(os.listdir(findings))
    started = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors='backslashreplace')
    seconds = time.monotonic() - started
    log = result.stdout
    runs = re.findall(r'stat::number_of_executed_units:\s*(\d+)', log)
    new = sorted(set(os.listdir(findings)) - before)
    ok = result.returncode == 0 and not new
    if not ok:
        print(log[-20000:])
    return {'name': name, 'runs': int(runs[-1]) if runs else 0, 'seconds': seconds,
            'corpus': len(os.listdir(corpus)), 'findings': new, 'ok': ok}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', required=True)
    parser.add_argument('--seconds', type=int, default=30)
    parser.add_argument('--runs', type=int, default=0, help='executions instead of a time')
    parser.add_argument('names', nargs='*')
    args = parser.parse_args()
    available = harnesses(args.build)
    names = args.names or sorted(available)
    unknown = [n for n in names if n not in available]
    if unknown or not names:
        print(f'no harness {unknown} in {args.build}; there are {sorted(available)}')
        return 1
    results = [run(name, available[name], args) for name in names]
    print(f'{"harness":<20} {"executions":>12} {"seconds":>9} {"exec/s":>8} {"corpus":>7}  findings')
    for r in results:
        rate = r['runs'] / r['seconds'] if r['seconds'] else 0
        found = ', '.join(r['findings']) or ('none' if r['ok'] else 'the harness failed')
        print(f'{r["name"]:<20} {r["runs"]:>12} {r["seconds"]:>9.1f} {rate:>8.0f} '
              f'{r["corpus"]:>7}  {found}')
    return 0 if all(r['ok'] for r in results) else 1


if __name__ == '__main__':
    sys.exit(main())
