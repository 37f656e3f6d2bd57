"""getmail, with each delivery child waited for by a plain waitpid.

    python3 getmail_waitpid.py GETMAIL_ARGUMENTS...

getmail forks a child for every delivery and learns of its end from a SIGCHLD handler that
notifies a condition variable; the handler is installed only after the fork and may notify
before anyone waits, so on a busy machine a quick child goes unnoticed and getmail waits out
its time-out and gives up (a known race). This wrapper replaces only that wait; everything
else is getmail's own code. bench/run.py runs it as the mail user, with Debian's python3.
"""

import os
import runpy
import sys
from argparse import Namespace

try:
    from getmailcore import baseclasses
except ImportError:
    baseclasses = None


def forkchild(self, childfun, with_out=True):
    self.child = child = Namespace()
    child.stdout = baseclasses.TemporaryFile23()
    child.stderr = baseclasses.TemporaryFile23()
    child.childpid = os.fork()
    if child.childpid == 0:
        childfun(child.stdout, child.stderr)
        os._exit(127)
    _, status = os.waitpid(child.childpid, 0)
    if not os.WIFEXITED(status):
        raise baseclasses.getmailOperationError(f"child pid {child.childpid} did not exit (status {status})")
    child.exitcode = os.WEXITSTATUS(status)
    child.stderr.seek(0)
    child.err = child.stderr.read().strip().decode()
    child.stdout.seek(0)
    if with_out:
        child.out = child.stdout.read().strip()
    return child


if baseclasses and all(hasattr(baseclasses, name) for name in ("ForkingBase", "TemporaryFile23", "getmailOperationError")):
    baseclasses.ForkingBase.forkchild = forkchild
else:
    print("getmail_waitpid.py: getmail runs without the waitpid wrapper", file=sys.stderr)
sys.argv[0] = "/usr/bin/getmail"
runpy.run_path(sys.argv[0], run_name="__main__")
