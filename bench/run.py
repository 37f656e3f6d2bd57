#!/usr/bin/python3
"""Runs every benchmark in one go, Wrenpost and the peer tools side by side on this machine,
and ends with one table of medians and ratios.

    bash bench/run.sh             installs the tools, builds the Release driver, then runs this
    /usr/bin/python3 bench/run.py [--driver PATH] [--sections 4,6]
                                  the driver from --driver, else $WRENPOST_BENCH_DRIVER, else
                                  build-bench/wrenpost-bench; the sections from --sections,
                                  else $BENCH_SECTIONS, else all

BENCH_REPEATS=N sets the rounds of sections 1, 2 and 8 (default 5), BENCH_RETRIEVE_REPEATS=N
those of sections 4 to 7 (default 3); BENCH_SECTIONS=4,6 runs only the sections listed;
BENCH_500MB=0 leaves out the 500 MB retrieval of section 5.

1. One message with a 10 MB body to a local smtp-sink: our driver (one SendEmailMessage,
   console and stored copy on), msmtp and curl, interleaved round by round; then one with a
   100 MB body, for the driver's peak memory above its own before it reads the body.
2. CheckBodyLines and DotStuff on a 10 MB and a 100 MB body: does the time grow linearly?
3. The processor time a send uses while it waits out the 20 s reply time-out of a server
   that accepts and never answers.
4. 200 messages of 10 KB retrieved and deleted from a private dovecot: our driver (one
   RetrieveMail), mpop, fetchmail and getmail, interleaved round by round; where our process's
   time goes besides the call.
5. One 5 MB and one 50 MB message retrieved by our driver: growth of the time, and the peak
   memory above that of a retrieval from an empty mailbox; mpop beside it for the 50 MB. Then
   one 500 MB message, for the peak memory (skipped with less than 2 GiB free on the disk).
6. The same 200 messages served to one poplib client (bench/pop3_fetch.py: RETR and DELE each,
   then QUIT) by our POP3 server in the driver, with its 50 ms clock and with a clock of one
   hour, and by dovecot, interleaved round by round. Then one 50 MB message served to mpop by
   our server and by dovecot, and our server's peak memory above its own once listening.
7. Section 4's 200 messages over TLS from the first byte (dovecot's pop3s port): our driver and
   mpop, interleaved round by round.
8. Section 1's 10 MB message over TLS from the first byte (socat with the test certificate in
   front of smtp-sink): our driver and curl, interleaved round by round.

Standard library only: Debian's python3 runs it, whatever python3 comes first on PATH (and
make_certificates.py needs Debian's python3-cryptography).
"""

import argparse
import os
import signal
import sys
from pathlib import Path

from benchkit import ROOT, Bench, BenchFailure, heading, load_average
from peers import Retrieval
from retrieving import section_large, section_retrieve, section_retrieve_tls, section_serve
from sending import section_reply_wait, section_send, section_send_tls, section_text

# Each section's function, and whether it works on the private dovecot.
SECTIONS = {
    1: (section_send, False),
    2: (section_text, False),
    3: (section_reply_wait, False),
    4: (section_retrieve, True),
    5: (section_large, True),
    6: (section_serve, True),
    7: (section_retrieve_tls, True),
    8: (section_send_tls, False),
}


# --- Summary ----------------------------------------------------------------------------


def print_summary(bench):
    heading("Summary")
    n, r = bench.repeats, bench.retrieve_repeats
    print(f"""\
Medians of {n} runs (the reply wait and the 100 MB send: one run). The send targets use the time
measured inside the driver, from just before SendEmailMessage to its return; 'process' is the
driver's whole run; the 100 MB row holds the peak RSS above the driver's before it read the body,
beside the body's size.
For the text rows the wrenpost column holds the 100 MB time, the peer column the 10 MB time.
Retrieval rows: medians of {r} runs; 'in call' is from just before RetrieveMail to its return,
the peers' times are their whole runs. The 50 MB / 5 MB row holds both of our times; the memory rows
a run's peak RSS minus the empty mailbox run's (the 500 MB: one run; MiB = 2^20 bytes).
Serve rows: medians of {r} runs of the same client; 'session' is from before poplib's connect to
QUIT's reply, 'client process' its whole run. '1 h clock' is our server with its clock ticking once an
hour; 'clock alone' is what a session would take at one step per tick of the 50 ms clock. The 50 MB
rows: mpop's whole runs, and our server's peak RSS above its own once it listened.""")
    table = [("benchmark", "wrenpost", "peer", "ratio", "target", "met"), *bench.rows]
    widths = [max(len(row[i]) for row in table) for i in range(6)]
    for row in table:
        print(" | ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


# --- Main -------------------------------------------------------------------------------


def positive(name, default):
    value = os.environ.get(name) or str(default)
    if not value.isdigit() or int(value) < 1:
        sys.exit(f"run.py: {name} must be a positive whole number, not {value!r}")
    return int(value)


def wanted_sections(listed):
    listed = listed or ",".join(map(str, SECTIONS))
    sections = {int(part) for part in listed.split(",") if part.strip().isdigit()}
    if not sections or not sections <= set(SECTIONS) or len(sections) != len(listed.split(",")):
        sys.exit(f"run.py: the sections are numbers from 1 to {len(SECTIONS)}, separated by commas, not {listed!r}")
    return sorted(sections)


def interrupted(signum, _):
    raise KeyboardInterrupt(signal.Signals(signum).name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n\n".join(__doc__.split("\n\n")[1:]))
    parser.add_argument("--driver", type=Path,
                        default=os.environ.get("WRENPOST_BENCH_DRIVER") or ROOT / "build-bench/wrenpost-bench",
                        help="the wrenpost-bench executable")
    parser.add_argument("--sections", default=os.environ.get("BENCH_SECTIONS"),
                        help="the sections to run, e.g. 4,6 (default: all)")
    arguments = parser.parse_args()
    driver = arguments.driver.resolve()
    if not os.access(driver, os.X_OK):
        sys.exit(f"run.py: no driver at {driver}: build it with bash bench/run.sh")
    sections = wanted_sections(arguments.sections)
    largest = os.environ.get("BENCH_500MB", "1") != "0"
    repeats = positive("BENCH_REPEATS", 5)
    retrieve_repeats = positive("BENCH_RETRIEVE_REPEATS", 3)

    # A termination or hang-up ends the run as Ctrl+C does, through the clean-up below.
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)
    bench = Bench(driver, repeats, retrieve_repeats, largest)
    retrieval = None
    try:
        for number in sections:
            run, on_dovecot = SECTIONS[number]
            if on_dovecot and retrieval is None:
                heading("A private dovecot and 200 messages of 10 KB")
                print(f"load average before: {load_average()}")
                retrieval = Retrieval(bench)
            run(bench, retrieval) if on_dovecot else run(bench)
        if retrieval is not None:
            retrieval.dovecot.stop()
        print_summary(bench)
        return 0
    except BenchFailure as failure:
        print(f"run.py: {failure}", file=sys.stderr)
        return 1
    except KeyboardInterrupt as interruption:
        print(f"\nrun.py: interrupted{f' ({interruption})' if str(interruption) else ''}", file=sys.stderr)
        return 130
    finally:
        # No second interruption may leave processes or the folder behind.
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        bench.close()


if __name__ == "__main__":
    sys.exit(main())
