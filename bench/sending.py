"""The sending benchmarks of bench/run.py: sections 1 to 3 and 8."""

import collections
import contextlib
import os
import socket
import threading

from benchkit import (MB, RECIPIENT, SENDER, BenchFailure, at_most, body_file, heading, interleave, median,
                      message_file, write_private)
from peers import SmtpSink


# --- Shared: our send and curl's -----------------------------------------------------------


def send_ours(bench, name, server, body, peak_memory=False):
    """One send by our driver, which must succeed."""
    timed, out = bench.run_driver(name, "send", server, body, peak_memory=peak_memory)
    if out["result"] != "sent":
        raise BenchFailure(f"the Wrenpost send failed:\n{out}")
    return timed, out


def send_curl(bench, url, message):
    """curl's send of the whole message; its wall time in ms."""
    return bench.run_tool("curl", ["curl", "-sS", url, "--mail-from", SENDER, "--mail-rcpt", RECIPIENT, "-T", message]).ms


def send_rounds(bench, server, url, extra_peers=None, tls=False):
    """Rounds of our send of the 10 MB body and curl's of the message (and of any other peer, a
    name and a function of the message), interleaved; returns the times in ms (ours in the call
    and of the process) and our last output."""
    body, message = body_file(bench, 10), message_file(bench, 10)
    times, last = collections.defaultdict(list), {}
    label = "tls" if tls else "plain"

    def ours(round_):
        timed, last["out"] = send_ours(bench, f"send.{label}.{round_}", server, body)
        times["call"].append(float(last["out"]["send_ms"]))
        times["process"].append(timed.ms)

    peers = {"curl": lambda: send_curl(bench, url, message), **(extra_peers or {})}
    runners = [ours, *(lambda _, name=name, run=run: times[name].append(run()) for name, run in peers.items())]
    interleave(bench.repeats, runners, lambda round_: print(
        f"round {round_}: wrenpost {times['call'][-1]:.1f} ms (in call) {times['process'][-1]:.1f} ms (process), "
        + ", ".join(f"{name} {times[name][-1]:.1f} ms" for name in peers), flush=True))
    return times, last["out"]


def print_console(out):
    print("each console write with its time from the start of the call:")
    for line in out.all("console"):
        print("  " + line)


# --- 1. A 10 MB body to smtp-sink, and the memory of a 100 MB one ----------------------------


def section_send(bench):
    heading(f"1. One message with a 10 MB body to smtp-sink, {bench.repeats} rounds; one with a 100 MB body")
    sink = SmtpSink(bench)
    msmtprc = write_private(bench.work / "msmtprc",
                            f"account default\nhost 127.0.0.1\nport {sink.port}\nauth off\ntls off\nfrom {SENDER}\n")
    message = message_file(bench, 10)
    msmtp = ["msmtp", "-C", msmtprc, "-f", SENDER, RECIPIENT]
    times, out = send_rounds(bench, f"127.0.0.1:{sink.port}", f"smtp://127.0.0.1:{sink.port}",
                             {"msmtp": lambda: bench.run_tool("msmtp", msmtp, message).ms})
    print(f"stored copies per send: {out['stored_copies']}; console.txt spill per send: {out['console_txt_bytes']}")
    print("Wrenpost's last send of 10 MB: ", end="")
    print_console(out)

    # The memory of a large send: the driver's peak above its own, ready to send and not yet
    # holding the body (which the program holds in its compose window).
    body = body_file(bench, 100)
    timed, out = send_ours(bench, "send.100MB", f"127.0.0.1:{sink.port}", body, peak_memory=True)
    idle_kb, peak_kb = int(out["idle_rss_kb"]), int(out["peak_rss_kb"])
    print(f"100 MB body: {out['send_ms']} ms in the call; peak RSS idle {idle_kb} KB, after the send {peak_kb} KB"
          f" (/usr/bin/time: {timed.peak_kb} KB)")
    body_mb = body.stat().st_size / MB
    body.unlink()
    sink.check(3 * bench.repeats + 1)
    sink.stop()

    call, process = median(times["call"]), median(times["process"])
    msmtp_ms, curl_ms = median(times["msmtp"]), median(times["curl"])
    bench.row("send 10 MB, ms: in call / curl", call, curl_ms, at_most(1.5))
    bench.row("send 10 MB, ms: in call / msmtp", call, msmtp_ms)
    bench.row("send 10 MB, ms: process / curl", process, curl_ms)
    bench.row("send 10 MB, ms: process / msmtp", process, msmtp_ms)
    bench.row("send 100 MB, MiB: peak RSS - idle / body", (peak_kb - idle_kb) / 1024, body_mb, at_most(3))


# --- 2. Message text helpers: 10 MB and 100 MB --------------------------------------------


def section_text(bench):
    heading(f"2. CheckBodyLines and DotStuff on 10 MB and 100 MB, median of {bench.repeats}")
    # glibc serves a 10 MB buffer from memory it already holds once one has been freed, but maps
    # fresh pages for every buffer over 32 MB, whose first touch costs a page fault per 4 KB. The
    # like-for-like measure fixes the mapping threshold at 1 MB, so that every buffer of both
    # sizes starts on fresh pages; the default allocator's figures are shown beside it.
    variants = {"default": ("default malloc", ""), "fresh": ("fresh pages", "glibc.malloc.mmap_threshold=1048576")}
    results = {}
    for variant, (label, tunables) in variants.items():
        env = dict(os.environ, GLIBC_TUNABLES=tunables)
        for size in (10, 100):
            _, out = bench.run_driver(f"text.{variant}.{size}", "text", size * MB, bench.repeats, env=env)
            results[variant, size] = out
            print(f"{label:<14} {size:3d} MB: CheckBodyLines {out['check_ms']:>9} ms, DotStuff {out['stuff_ms']:>9} ms "
                  f"({out['body_bytes']} bytes in, {out['stuffed_bytes']} after stuffing)", flush=True)
    for variant in ("fresh", "default"):
        for key, step in (("check_ms", "CheckBodyLines"), ("stuff_ms", "DotStuff")):
            large, small = float(results[variant, 100][key]), float(results[variant, 10][key])
            if variant == "fresh":
                bench.row(f"{step}, ms: 100 MB / 10 MB", large, small, at_most(12.5, "~10 (<= 12.5)"))
            else:
                bench.row(f"{step}, ms: 100 / 10 MB, default malloc", large, small)


# --- 3. Processor time while waiting out the reply time-out ------------------------------


@contextlib.contextmanager
def silent_server():
    """A loopback port whose server accepts one connection and reads until the client closes
    it, without a word; it gives up after 60 s in any case. Yields the port."""
    with socket.create_server(("127.0.0.1", 0)) as server:
        server.settimeout(60)

        def serve():
            with contextlib.suppress(OSError):
                connection, _ = server.accept()
                with connection:
                    connection.settimeout(60)
                    while connection.recv(4096):
                        pass

        threading.Thread(target=serve, daemon=True).start()
        yield server.getsockname()[1]


def section_reply_wait(bench):
    heading("3. A send to a server that never answers (20 s reply time-out)")
    small = bench.work / "small.txt"
    bench.run_driver("small", "body", 1000, small)
    with silent_server() as port:
        timed, out = bench.run_driver("silent", "send", f"127.0.0.1:{port}", small)
    print(f"result: {out['result']}; the console:")
    for line in out.all("console"):
        print("  " + line)
    print(f"in the call: {out['send_ms']} ms wall, {out['cpu_s']} s user+system (reply_wait_ms={out['reply_wait_ms']})")
    print(f"whole process: {timed.ms / 1000:.2f} s wall, {timed.user_s:.2f} s user + {timed.system_s:.2f} s system")
    if out["result"] != "failed" or "Timeout" not in out.text:
        raise BenchFailure(f"the send to the silent server did not end with the reply time-out:\n{out}")
    bench.row("20 s reply wait, CPU s: in call", float(out["cpu_s"]), target=at_most(0.5), digits=4)
    bench.row("20 s reply wait, CPU s: process", timed.cpu_s, digits=2)


# --- 8. A 10 MB body over TLS -----------------------------------------------------------------


def section_send_tls(bench):
    heading(f"8. One message with a 10 MB body over TLS from the first byte (smtps), {bench.repeats} rounds")
    sink = SmtpSink(bench, tls=True)
    print(f"smtp-sink on 127.0.0.1:{sink.port}, behind socat with TLS on localhost:{sink.tls_port}")
    times, out = send_rounds(bench, f"smtps://localhost:{sink.tls_port}", f"smtps://localhost:{sink.tls_port}",
                             tls=True)
    print("Wrenpost's last send over TLS: ", end="")
    print_console(out)
    sink.check(2 * bench.repeats)
    sink.stop()

    curl_ms = median(times["curl"])
    bench.row("send 10 MB over TLS, ms: in call / curl", median(times["call"]), curl_ms, at_most(1.5))
    bench.row("send 10 MB over TLS, ms: process / curl", median(times["process"]), curl_ms)
