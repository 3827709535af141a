"""Running a child process and reading its own peak memory (ru_maxrss from wait4).

Linux carries the memory high-water mark of the image a process replaces across exec, so a child
started by a big parent reports at least the parent's size. The children are therefore started
by a launcher forked while the parent is still small, before any workload is built.
"""

from __future__ import annotations

import json
import os
import subprocess
import tempfile
import time
from dataclasses import asdict, dataclass


@dataclass(frozen=True)
class Measured:
    returncode: int
    stdout: str
    stderr: str
    maxrss_kib: int  # the child's peak resident set, in KiB (Linux units)


def run_measured(cmd: list[str], timeout_s: float | None = None) -> Measured:
    # wait4 reports the rusage of this one child; RUSAGE_CHILDREN would be the maximum over all
    # children so far. Output goes to files so that no pipe can fill up while we wait.
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        proc = subprocess.Popen(cmd, stdout=out, stderr=err, text=True)
        try:
            if timeout_s is not None:
                _wait_or_kill(proc, timeout_s)
            _, status, usage = os.wait4(proc.pid, 0)
        except BaseException:
            proc.kill()
            proc.wait()
            raise
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return Measured(proc.returncode, out.read(), err.read(), usage.ru_maxrss)


def _wait_or_kill(proc: subprocess.Popen[str], timeout_s: float) -> None:
    # Polls without reaping (waitid with WNOWAIT), so that wait4 can still read the rusage.
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        if os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None:
            return
        time.sleep(0.05)
    proc.kill()


class Launcher:
    """A small forked process that runs commands with run_measured on request."""

    def __init__(self) -> None:
        to_child_r, to_child_w = os.pipe()
        to_parent_r, to_parent_w = os.pipe()
        pid = os.fork()
        if pid == 0:  # the launcher: serve requests until the parent closes its pipe
            os.close(to_child_w)
            os.close(to_parent_r)
            code = 0
            try:
                _serve(os.fdopen(to_child_r, "r"), os.fdopen(to_parent_w, "w"))
            except BaseException:
                code = 1
            os._exit(code)
        os.close(to_child_r)
        os.close(to_parent_w)
        self._pid = pid
        self._requests = os.fdopen(to_child_w, "w")
        self._answers = os.fdopen(to_parent_r, "r")

    def run(self, cmd: list[str], timeout_s: float | None = None) -> Measured:
        self._requests.write(json.dumps({"cmd": cmd, "timeout_s": timeout_s}) + "\n")
        self._requests.flush()
        answer = self._answers.readline()
        if not answer:
            raise RuntimeError("the launcher process died")
        return Measured(**json.loads(answer))

    def close(self) -> None:
        self._requests.close()
        self._answers.close()
        os.waitpid(self._pid, 0)

    def __enter__(self) -> Launcher:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _serve(requests, answers) -> None:  # type: ignore[no-untyped-def]
    for line in requests:
        request = json.loads(line)
        try:
            result = run_measured(request["cmd"], request["timeout_s"])
        except OSError as exc:
            result = Measured(127, "", str(exc), 0)
        answers.write(json.dumps(asdict(result)) + "\n")
        answers.flush()
