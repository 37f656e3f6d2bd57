"""The benchmarks of bench/run.py on a private dovecot: retrieval (sections 4, 5 and 7) and
our POP3 server beside dovecot (section 6)."""

import collections
import shutil
import sys

from benchkit import (BENCH_DIR, MB, BenchFailure, at_most, below, heading, interleave, load_average,
                      median, message_file, stored_as_sent, text_digest)
from peers import OurServer, mpop_rc

POP3_FETCH = BENCH_DIR / "pop3_fetch.py"
# The 500 MB retrieval needs the message, dovecot's copy and ours.
LARGEST_NEEDS_BYTES = 2 * 1024 * MB


# --- Shared: rounds of 200 messages ---------------------------------------------------------


# mpop waiting for each reply before its next command, as Wrenpost's dialog does: what is left of
# the difference once mpop's pipelining is set aside.
SERIAL_MPOP = "mpop, no pipelining"


def retrieval_rounds(bench, retrieval, peers, tls=False):
    """Rounds of our retrieval of the 200 messages and of each peer's (a name and a function of the
    files), interleaved; returns the times in ms (ours in the call and of the process, each
    peer's) and our outputs."""
    times, outs = collections.defaultdict(list), []

    def ours(_):
        timed, out = retrieval.ours(retrieval.messages, tls=tls)
        outs.append(out)
        times["call"].append(float(out["retrieve_ms"]))
        times["process"].append(timed.ms)

    runners = [ours, *(lambda _, name=name, run=run: times[name].append(run(retrieval.messages).ms)
                       for name, run in peers.items())]
    interleave(bench.retrieve_repeats, runners, lambda round_: print(
        f"round {round_}: wrenpost {times['call'][-1]:.1f} ms (in call) {times['process'][-1]:.1f} ms (process), "
        + ", ".join(f"{name} {times[name][-1]:.1f} ms" for name in peers), flush=True))

    out = outs[-1]
    stored, expected = int(out["file_bytes"]), retrieval.messages_bytes + 3 * len(retrieval.messages)
    print(f"Wrenpost's last run: {out['files']} files, {stored} bytes (the messages plus the 3-byte terminating"
          f" line each), {out['beeps']} beeps, {out['cpu_s']} s user+system in the call,"
          f" console.txt {out['console_txt_bytes']} bytes")
    if stored != expected:
        raise BenchFailure(f"Wrenpost stored {stored} bytes, expected {expected}")
    print_process_time(outs, times["process"])
    print(f"load average after: {load_average()}")
    return times


def print_process_time(outs, process_ms):
    """Where our process's time goes beside the call: medians of each part."""
    parts = collections.defaultdict(list)
    for out, process in zip(outs, process_ms):
        at_call, at_end = float(out["since_main_at_call_ms"]), float(out["since_main_at_end_ms"])
        call = float(out["retrieve_ms"])
        parts["before"].append(process - at_end)
        parts["setup"].append(at_call)
        parts["call"].append(call)
        parts["after"].append(at_end - at_call - call)
    before, setup, call, after = (median(parts[key]) for key in ("before", "setup", "call", "after"))
    print(f"our process, {median(process_ms):.1f} ms (medians of each part): {before:.1f} ms loading before main()"
          f" and exit after the report, {setup:.1f} ms main() to the call (QApplication, folders, widgets),"
          f" {call:.1f} ms the call, {after:.1f} ms from the call's return to the end of the report")


# --- 4. 200 messages of 10 KB from dovecot ------------------------------------------------


def section_retrieve(bench, retrieval):
    heading(f"4. 200 messages of 10 KB retrieved and deleted from dovecot, {bench.retrieve_repeats} rounds")
    print(f"load average before: {load_average()}")
    peers = {tool: getattr(retrieval, tool) for tool in ("mpop", "fetchmail", "getmail")}
    peers[SERIAL_MPOP] = lambda files: retrieval.mpop(files, pipelining=False)
    times = retrieval_rounds(bench, retrieval, peers)
    call, process, mpop = median(times["call"]), median(times["process"]), median(times["mpop"])
    bench.row("retrieve 200 x 10 KB, ms: in call / mpop", call, mpop, at_most(1.2))
    bench.row(f"retrieve 200 x 10 KB, ms: in call / {SERIAL_MPOP}", call, median(times[SERIAL_MPOP]))
    bench.row("retrieve 200 x 10 KB, ms: process / mpop", process, mpop)
    for tool in ("fetchmail", "getmail"):
        bench.row(f"retrieve 200 x 10 KB, ms: in call / {tool}", call, median(times[tool]))


# --- 7. The same over TLS -------------------------------------------------------------------


def section_retrieve_tls(bench, retrieval):
    heading(f"7. 200 messages of 10 KB retrieved and deleted over TLS from the first byte (pop3s),"
            f" {bench.retrieve_repeats} rounds")
    print(f"load average before: {load_average()}")
    times = retrieval_rounds(bench, retrieval, {
        "mpop": lambda files: retrieval.mpop(files, tls=True),
        SERIAL_MPOP: lambda files: retrieval.mpop(files, tls=True, pipelining=False)}, tls=True)
    mpop = median(times["mpop"])
    bench.row("retrieve 200 x 10 KB over TLS, ms: in call / mpop", median(times["call"]), mpop, at_most(1.3))
    bench.row(f"retrieve 200 x 10 KB over TLS, ms: in call / {SERIAL_MPOP}", median(times["call"]),
              median(times[SERIAL_MPOP]))
    bench.row("retrieve 200 x 10 KB over TLS, ms: process / mpop", median(times["process"]), mpop)


# --- 5. One message of 5 MB, 50 MB and 500 MB ---------------------------------------------


def section_large(bench, retrieval):
    rounds = bench.retrieve_repeats
    heading(f"5. One 5 MB and one 50 MB message, and an empty mailbox, {rounds} runs each; one 500 MB message")
    print(f"load average before: {load_average()}")
    large = {size: message_file(bench, size) for size in (5, 50)}

    def ours(files):
        """Our driver on the files (none: an empty mailbox): the time in the call and the peak RSS
        the driver reports."""
        _, out = retrieval.ours(files, peak_memory=True)
        if files:
            stored = list((bench.work / "ours.box").iterdir())
            if len(stored) != 1 or not stored_as_sent(stored[0], files[0]):
                raise BenchFailure(f"the stored message differs from {files[0]} (plus its terminating line)")
        return float(out["retrieve_ms"]), int(out["peak_rss_kb"])

    runs = collections.defaultdict(list)
    for run in range(1, rounds + 1):
        runs["empty"].append(ours([]))
        runs[5].append(ours([large[5]]))
        runs[50].append(ours([large[50]]))
        mpop = retrieval.mpop([large[50]], peak_memory=True)
        runs["mpop"].append((mpop.ms, mpop.peak_kb))
        (empty_ms, empty_kb), (ms5, kb5), (ms50, kb50), (mpop_ms, mpop_kb) = (
            runs[key][-1] for key in ("empty", 5, 50, "mpop"))
        print(f"run {run}: empty {empty_ms:.1f} ms {empty_kb} KB peak; 5 MB {ms5:.1f} ms {kb5} KB;"
              f" 50 MB {ms50:.1f} ms {kb50} KB; mpop 50 MB {mpop_ms:.1f} ms {mpop_kb} KB", flush=True)

    def medians(key):
        return median(ms for ms, _ in runs[key]), median(kb for _, kb in runs[key])

    (small_ms, small_kb), (large_ms, large_kb) = medians(5), medians(50)
    _, empty_kb = medians("empty")
    mpop_ms, mpop_kb = medians("mpop")
    print(f"peak RSS: empty mailbox {empty_kb} KB, 5 MB {small_kb} KB, 50 MB {large_kb} KB")
    bench.row("retrieve one message, ms: 50 MB / 5 MB", large_ms, small_ms, at_most(12.5, "~10 (<= 12.5)"))
    bench.row("retrieve 50 MB, ms: in call / mpop", large_ms, mpop_ms, at_most(1.2))
    bench.row("retrieve 50 MB, MiB: peak RSS - empty", (large_kb - empty_kb) / 1024, target=below(16))
    bench.row("retrieve 50 MB, peak RSS MiB: process / mpop", large_kb / 1024, mpop_kb / 1024)
    retrieve_largest(bench, ours, empty_kb)
    print(f"load average after: {load_average()}")


def retrieve_largest(bench, ours, empty_kb):
    """One run on a 500 MB message (the 50 MB body ten times), when wanted and the disk has room."""
    name, target = "retrieve 500 MB, MiB: peak RSS - empty", below(16)
    free = shutil.disk_usage(bench.work).free
    if not bench.largest:
        return bench.skipped(name, target, "BENCH_500MB=0")
    if free < LARGEST_NEEDS_BYTES:
        return bench.skipped(name, target, f"{free / MB / 1024:.1f} GiB free in {bench.work}, it needs 2 GiB")
    message = message_file(bench, 50, times=10)
    ms, peak_kb = ours([message])
    print(f"500 MB: {ms:.1f} ms in the call, peak RSS {peak_kb} KB", flush=True)
    message.unlink()
    shutil.rmtree(bench.work / "ours.box")
    bench.row(name, (peak_kb - empty_kb) / 1024, target=target)


# --- 6. Our POP3 server beside dovecot ----------------------------------------------------


def section_serve(bench, retrieval):
    serve_many(bench, retrieval)
    serve_large(bench, retrieval)


def serve_many(bench, retrieval):
    rounds = bench.retrieve_repeats
    heading(f"6. 200 messages of 10 KB served to one poplib client (RETR and DELE each, QUIT), {rounds} rounds")
    print(f"load average before: {load_average()}")
    dovecot, messages = retrieval.dovecot, retrieval.messages
    # The server's clock as built; the second server's clock ticks once an hour, so that only the
    # steps the server queues at once (on socket events and after steps that leave work) can
    # carry its sessions.
    tick_ms, hour_ms = 50, 3600000
    servers = {name: OurServer(bench, name, clock_ms, dovecot.user, dovecot.password)
               for name, clock_ms in (("tick", tick_ms), ("hour", hour_ms))}
    print(f"our server on 127.0.0.1:{servers['tick'].port} ({tick_ms} ms clock) and 127.0.0.1:{servers['hour'].port}"
          f" ({hour_ms} ms clock), dovecot on 127.0.0.1:{dovecot.port}", flush=True)
    session, process = collections.defaultdict(list), collections.defaultdict(list)
    last = {}

    def fetch_all(label, port):
        """One session of the client: the session's time (connect to QUIT's reply) and the client
        process's, in ms. The client itself checks that it got the very messages."""
        # This interpreter, not a version manager's wrapper script, so that the process times hold
        # Python's start and nothing else besides the session.
        timed, out = bench.run_captured(f"fetch.{label}", [
            sys.executable, POP3_FETCH, "127.0.0.1", port, dovecot.user, dovecot.password, retrieval.messages_folder])
        if out["messages"] != str(len(messages)):
            raise BenchFailure(f"the poplib client got {out['messages'] or 'no'} messages from {label}:\n{out}")
        session[label].append(float(out["session_ms"]))
        process[label].append(timed.ms)
        last[label] = out

    def serve_ours(name):
        """The mailbox refilled (untimed), one session, every message moved to the deleted ones."""
        def run(_):
            servers[name].refill(messages)
            fetch_all(name, servers[name].port)
            servers[name].check_served(len(messages))
        return run

    def serve_dovecot(_):
        dovecot.fill(messages)
        fetch_all("dovecot", dovecot.port)
        if (left := dovecot.count()) != 0:
            raise BenchFailure(f"dovecot kept {left} messages after the session")

    interleave(rounds, [serve_ours("tick"), serve_ours("hour"), serve_dovecot], lambda round_: print(
        f"round {round_}: ours, {tick_ms} ms clock {session['tick'][-1]:.1f} ms (session)"
        f" {process['tick'][-1]:.1f} ms (client process); ours, {hour_ms} ms clock {session['hour'][-1]:.1f} ms"
        f" ({process['hour'][-1]:.1f} ms); dovecot {session['dovecot'][-1]:.1f} ms ({process['dovecot'][-1]:.1f} ms)",
        flush=True))
    commands = int(last["dovecot"]["commands"])
    for name, server in servers.items():
        out = server.stop()
        print(f"our server ({name}): each session from the accepted connection to the step that prepares for the next:")
        for line in out.all("session_ms"):
            print("  " + line)
        print(f"  console.txt {out['console_txt_bytes']} bytes in all, {out['cpu_s']} s user+system in all")
    print(f"load average after: {load_average()}")

    tick, hour, theirs = (median(session[label]) for label in ("tick", "hour", "dovecot"))
    # Paced by its clock alone, the server would take one step per tick: one per command line,
    # and the greeting, the update, the close and the preparation for the next client.
    paced_ms = (commands + 4) * tick_ms
    bench.row("serve 200 x 10 KB, ms: session / dovecot", tick, theirs, at_most(2))
    bench.row("serve 200 x 10 KB, ms: client process / dovecot", median(process["tick"]), median(process["dovecot"]))
    bench.row("serve 200 x 10 KB, ms: 1 h clock / dovecot", hour, theirs, at_most(2))
    bench.row(f"serve, ms: 1 h clock / clock alone, ({commands} commands + 4) x {tick_ms} ms", hour, paced_ms)


def serve_large(bench, retrieval):
    rounds = bench.retrieve_repeats
    heading(f"6b. One 50 MB message served to mpop (RETR, DELE, QUIT) by our server and by dovecot, {rounds} rounds")
    dovecot, work = retrieval.dovecot, bench.work
    message = message_file(bench, 50)
    expected = text_digest(message)
    server = OurServer(bench, "large", 0, dovecot.user, dovecot.password)
    print(f"our server (clock as built) on 127.0.0.1:{server.port}, dovecot on 127.0.0.1:{dovecot.port}", flush=True)
    # mpop hands the message to a command that writes it out, without the fsync of its own
    # deliveries: the time is the server's and mpop's reading, not the disk's.
    delivered = work / "served.eml"
    rc = {label: mpop_rc(work / f"mpoprc.serve.{label}", ("127.0.0.1", port), dovecot.user, dovecot.password,
                         f"mda \"cat > {delivered}\"")
          for label, port in (("ours", server.port), ("dovecot", dovecot.port))}
    times = collections.defaultdict(list)

    def fetch(label):
        delivered.unlink(missing_ok=True)
        times[label].append(bench.run_tool("mpop", ["mpop", "-q", "-C", rc[label], "-a"]).ms)
        if not delivered.exists() or text_digest(delivered) != expected:
            raise BenchFailure(f"mpop did not receive the 50 MB message intact from {label}")

    def serve_ours(_):
        server.refill([message])
        fetch("ours")
        server.check_served(1)

    def serve_dovecot(_):
        dovecot.fill([message])
        fetch("dovecot")
        if (left := dovecot.count()) != 0:
            raise BenchFailure(f"dovecot kept {left} messages after the session")

    interleave(rounds, [serve_ours, serve_dovecot], lambda round_: print(
        f"round {round_}: ours {times['ours'][-1]:.1f} ms, dovecot {times['dovecot'][-1]:.1f} ms (mpop's runs)",
        flush=True))
    out = server.stop()
    idle_kb, peak_kb = int(out["idle_rss_kb"]), int(out["peak_rss_kb"])
    print(f"our server: peak RSS {idle_kb} KB once listening, {peak_kb} KB at its end;"
          f" {out['cpu_s']} s user+system in all")
    print(f"load average after: {load_average()}")
    bench.row("serve 50 MB, ms: mpop from ours / from dovecot", median(times["ours"]), median(times["dovecot"]),
              at_most(1.5))
    bench.row("serve 50 MB, MiB: our server's peak RSS - idle", (peak_kb - idle_kb) / 1024, target=below(16))
