"""Child processes for the tests, each with a time limit, none outliving its test.

A child runs in a session of its own, so that it and every process it forks
make one process group: when the child runs past its limit the whole group is
killed, and when it ends, any process of the group still running (a forked
child it left behind) is killed and reported.
"""

import os
import signal
import subprocess


def _left_in(group):
    """The processes of a group that still run; zombies have ended and are left out."""
    if not os.path.isdir("/proc"):
        try:
            os.killpg(group, 0)
            return ["some"]
        except ProcessLookupError:
            return []
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                # The command's name, in parentheses, may hold spaces: the fields follow its end.
                state, _, process_group = stat.read().rsplit(")", 1)[1].split()[:3]
        except OSError:  # ended meanwhile
            continue
        if int(process_group) == group and state != "Z":
            found.append(pid)
    return found


def _kill(group):
    try:
        os.killpg(group, signal.SIGKILL)
    except ProcessLookupError:  # all ended meanwhile
        pass


def run(command, timeout, **options):
    """Runs command to its end, its output captured as text, as subprocess.run does. Fails the
    test (AssertionError) if it runs longer than timeout seconds or leaves a process running,
    and kills every process it made either way."""
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             start_new_session=True, **options)
    try:
        # A process left behind with the child's output open keeps this
        # waiting too, for the end of the output.
        out, err = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill(child.pid)
        out, err = child.communicate()
        what = ("ran past its limit of {} s" if child.returncode == -signal.SIGKILL
                else "ended, but a process it made still ran after {} s").format(timeout)
        raise AssertionError(f"the child process {what}: all were killed. The end of its output:\n"
                             f"{out[-2000:]}\n{err[-2000:]}")
    left = _left_in(child.pid)
    if left:
        _kill(child.pid)
        raise AssertionError(f"the child process ended but left processes {left} running; they were killed")
    return subprocess.CompletedProcess(command, child.returncode, out, err)
