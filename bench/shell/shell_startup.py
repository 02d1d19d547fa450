#!/usr/bin/env python3
"""The shell's start-up time and memory beside surf's, on the same page.

For each run: a fresh home and XDG folders, exec, and the time until the
start-page server sees the request for the start page; then, two seconds
after the page's load event has reached the server, the summed proportional
set size (Pss in /proc/<pid>/smaps_rollup) of every process of the run (the
program and its WebKit processes, found by a token in their environment).
Programs alternate run by run, the order turning each round, under one Xvfb
and one session bus. The page uses a script, a cookie, an iframe and a form,
and its load beacon says whether each worked. The shell starts with its
install marker in place, as on every run after the first; --first-run adds
runs without it, which send the install report.

shell_startup.py --shell BIN [--variant-shell BIN --variant LABEL=SETTINGS ...]
                 [--runs N] [--no-surf] [--first-run]

SETTINGS go to QUORVEL_BENCH_WEBKIT (bench/shell/webkit_variant.h); "-" is
the variant binary with nothing changed. Every wait has a bound; everything
started is stopped at the end."""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
# The end-to-end tests' X display, waits and process helpers.
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
from harness import Display, Failure, processes_with_token, stop_group as stop, wait_for  # noqa: E402

START_PATH = "/quorvl/index1.html"


# --- servers ------------------------------------------------------------------

class Events:
    """What the start-page server saw, with monotonic times."""

    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        with self.lock:
            self.start_page = None
            self.loaded = None
            self.flags = {}

    def note(self, path, query):
        now = time.monotonic()
        with self.lock:
            if path == START_PATH and self.start_page is None:
                self.start_page = now
            elif path == "/quorvl/loaded" and self.loaded is None:
                self.loaded = now
                self.flags = {k: v[0] for k, v in parse_qs(query).items()}

    def get(self, name):
        with self.lock:
            return getattr(self, name)


def read_page(name):
    with open(os.path.join(HERE, name), "rb") as f:
        return f.read()


def start_page_server(port, events):
    pages = {START_PATH: read_page("page.html"), "/quorvl/frame.html": read_page("frame.html")}

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            parts = urlsplit(self.path)
            events.note(parts.path, parts.query)
            body = pages.get(parts.path, b"ok")
            self.send_response(200 if parts.path in pages or parts.path.startswith("/quorvl/") else 404)
            self.send_header("Content-Type", "text/html; charset=utf-8" if parts.path in pages else "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

    return serve(port, Handler)


def report_server(port):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", "11")
            self.end_headers()
            self.wfile.write(b'{"ok":true}')

    return serve(port, Handler)


class QuietServer(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a browser that is stopped mid-request is no news


def serve(port, handler):
    try:
        server = QuietServer(("127.0.0.1", port), handler)
    except OSError as e:
        raise Failure("port %d is taken (%s): another benchmark or test is running" % (port, e))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- display and bus ----------------------------------------------------------

class SessionBus:
    def __init__(self, workdir):
        config = os.path.join(workdir, "bus.conf")
        with open(config, "w") as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" '
                    '"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd"><busconfig><type>session</type>'
                    '<listen>unix:tmpdir=%s</listen><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>'
                    '<allow own="*"/></policy></busconfig>' % workdir)
        self.process = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        line = wait_for(lambda: self.process.stdout.readline(), 10, "the session bus")
        self.address = line.decode().strip()

    def close(self):
        stop(self.process)


# --- processes of one run -------------------------------------------------------

def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def name_of(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return "?"


class Program:
    def __init__(self, label, argv_for, env=None, marker=None):
        self.label, self.argv_for, self.env, self.marker = label, argv_for, env or {}, marker
        self.runs = []


def one_run(program, display, bus, events, url, workdir):
    token = uuid.uuid4().hex
    home = tempfile.mkdtemp(prefix="run-", dir=workdir)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "WAYLAND"))}
    env.update(HOME=home, DISPLAY=display.name, DBUS_SESSION_BUS_ADDRESS=bus.address,
               XDG_DATA_HOME=os.path.join(home, "data"), XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_RUNTIME_DIR=home,
               NO_AT_BRIDGE="1", GTK_A11Y="none", QUORVEL_E2E_RUN=token)
    env.update(program.env)
    if program.marker:
        # The install marker of an earlier run: no install report this time.
        os.makedirs(os.path.join(env["XDG_DATA_HOME"], program.marker))
    argv = program.argv_for(home, url)
    events.reset()
    log = open(os.path.join(home, "output.log"), "wb")
    started = time.monotonic()
    process = subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        requested = wait_for(lambda: events.get("start_page"), 60, program.label + "'s start-page request")
        loaded = wait_for(lambda: events.get("loaded"), 60, program.label + "'s page load")
        time.sleep(2)
        if process.poll() is not None:
            raise Failure("%s ended early with status %s" % (program.label, process.returncode))
        pids = processes_with_token(token)
        parts = sorted(((name_of(p), pss_kib(p)) for p in pids), key=lambda x: -x[1])
        run = {"startup_ms": (requested - started) * 1e3, "loaded_ms": (loaded - started) * 1e3,
               "pss_kib": sum(k for _, k in parts), "parts": parts, "flags": dict(events.get("flags"))}
    finally:
        stop(process)
        for pid in processes_with_token(token):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        log.close()
    bad = [k for k in ("js", "cookie", "frame", "form") if run["flags"].get(k) != "1"]
    if bad:
        raise Failure("%s: the page did not fully work (%s failed): %s" % (program.label, ", ".join(bad), run["flags"]))
    shutil.rmtree(home, ignore_errors=True)
    return run


def median(values):
    return statistics.median(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--shell", required=True, help="the shell as shipped, built with the benchmark's hosts")
    parser.add_argument("--variant-shell", help="the variant build (QUORVEL_BENCH_WEBKIT)")
    parser.add_argument("--variant", action="append", default=[], help="LABEL=SETTINGS, may repeat")
    parser.add_argument("--runs", type=int, default=5, help="runs per program (default 5)")
    parser.add_argument("--start-page-host", default="127.0.0.1:18680")
    parser.add_argument("--report-host", default="127.0.0.1:18681")
    parser.add_argument("--no-surf", action="store_true")
    parser.add_argument("--first-run", action="store_true", help="also time a first run, with the install report")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="quorvel-bench-")
    # The tag comes from the file name: Quorvel_bench.bin carries "bench".
    shell_copy = os.path.join(workdir, "Quorvel_bench.bin")
    shutil.copy(args.shell, shell_copy)
    url = "http://%s%s?source=bench" % (args.start_page_host, START_PATH)
    # "quorvel" starts as it does on every run after the first (the marker
    # folder is there); "quorvel first run" also sends the install report,
    # which holds the user-interface thread for the exchange.
    programs = [Program("quorvel", lambda home, url: [shell_copy], marker="bench")]
    if args.first_run:
        programs.append(Program("quorvel first run", lambda home, url: [shell_copy]))
    if not args.no_surf:
        surf = shutil.which("surf")
        if surf is None:
            raise Failure("surf is not installed (apt-get install surf)")
        programs.append(Program("surf", lambda home, url: [surf, url]))
    if args.variant:
        if not args.variant_shell:
            raise Failure("--variant needs --variant-shell")
        variant_copy = os.path.join(workdir, "variant", "Quorvel_bench.bin")
        os.makedirs(os.path.dirname(variant_copy))
        shutil.copy(args.variant_shell, variant_copy)
        for item in args.variant:
            label, _, settings = item.partition("=")
            programs.append(Program(label, lambda home, url: [variant_copy],
                                    {"QUORVEL_BENCH_WEBKIT": "" if settings == "-" else settings}, marker="bench"))

    events = Events()
    servers, display, bus = [], None, None
    try:
        servers.append(start_page_server(int(args.start_page_host.rpartition(":")[2]), events))
        servers.append(report_server(int(args.report_host.rpartition(":")[2])))
        display = Display(1280, 1024)
        bus = SessionBus(workdir)
        # One untimed run each: the first start reads every library from disk.
        for p in programs:
            one_run(p, display, bus, events, url, workdir)
        for r in range(args.runs):
            order = programs[r % len(programs):] + programs[:r % len(programs)]
            for p in order:
                p.runs.append(one_run(p, display, bus, events, url, workdir))
    finally:
        for s in servers:
            s.shutdown()
            s.server_close()
        if bus:
            bus.close()
        if display:
            display.close()
        shutil.rmtree(workdir, ignore_errors=True)

    print("Shell start-up and memory under Xvfb, %d alternating runs each (medians)" % args.runs)
    print("  %-28s %12s %12s %10s  %s" % ("program", "exec->request", "exec->loaded", "PSS", "processes (PSS MiB)"))
    figures = {}
    for p in programs:
        start = median([r["startup_ms"] for r in p.runs])
        loaded = median([r["loaded_ms"] for r in p.runs])
        pss = median([r["pss_kib"] for r in p.runs]) / 1024
        last = p.runs[-1]["parts"]
        print("  %-28s %9.0f ms %9.0f ms %6.1f MiB  %s" % (
            p.label, start, loaded, pss, ", ".join("%s %.1f" % (n, k / 1024) for n, k in last)))
        figures[p.label] = (start, pss)
    for p in programs:
        label = p.label.replace(" ", "_")
        print("%s_startup_ms %.0f\n%s_pss_mib %.1f" % (label, figures[p.label][0], label, figures[p.label][1]))
    if "surf" in figures:
        print("startup_ratio_over_surf %.2f\npss_ratio_over_surf %.2f" % (
            figures["quorvel"][0] / figures["surf"][0], figures["quorvel"][1] / figures["surf"][1]))
        if "quorvel first run" in figures:
            print("first_run_startup_ratio_over_surf %.2f" % (figures["quorvel first run"][0] / figures["surf"][0]))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as e:
        print("shell_startup: " + str(e), file=sys.stderr)
        sys.exit(1)
