"""Whole-process measurements shared by the benchmarks: wall time, CPU time and peak memory.

Peak memory comes from GNU time (/usr/bin/time, Debian package 'time') when it is there: the
kernel's peak of a child also holds what the launching process had resident before the exec,
and a Python launcher alone is some 14 MiB, far more than Corvane needs. GNU time launches from
about 1 MiB. Without it the figures include the launcher, and say so.
"""
import os
import subprocess
import tempfile
import time

GNU_TIME = '/usr/bin/time'


def launcher_note():
    if os.access(GNU_TIME, os.X_OK):
        return 'peak memory as GNU time reports it (its launcher adds about 1 MiB)'
    return ('GNU time is missing (apt-get install time): peak memory includes the Python '
            'launcher')


def measure(command, env, cwd, stdout=subprocess.DEVNULL):
    """Runs command once; answers (wall seconds, CPU seconds, peak MiB, exit code)."""
    with tempfile.NamedTemporaryFile(prefix='corvane-measure-', suffix='.txt') as report:
        wrapped = command
        if os.access(GNU_TIME, os.X_OK):
            wrapped = [GNU_TIME, '-f', '%M', '-o', report.name, *command]
        start = time.perf_counter()
        process = subprocess.Popen(wrapped, env=env, cwd=cwd, stdout=stdout,
                                   stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter() - start
        cpu = usage.ru_utime + usage.ru_stime
        peak = usage.ru_maxrss / 1024.0
        code = os.waitstatus_to_exitcode(status)
        if wrapped is not command:
            lines = [line for line in open(report.name).read().splitlines() if line.strip()]
            if lines and lines[-1].strip().isdigit():
                peak = int(lines[-1]) / 1024.0
            # GNU time passes the command's exit code on, and adds a line when it is not 0.
    return elapsed, cpu, peak, code
