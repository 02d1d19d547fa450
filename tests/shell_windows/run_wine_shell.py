#!/usr/bin/env python3
"""Scenarios of the Windows shell under Wine and Xvfb against loopback
start-page and report servers:

  run_wine_shell.py SCENARIO --shell EXE --nows2 EXE --probe EXE
                    --start-page-host H:P --report-host H:P [--wine-arch win32|win64]

Each scenario makes a fresh prefix of the build's width (no crash dialog), its own X
server and servers, and ends all of them; every wait is bounded. Exit status
0 means every check held."""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

START_BOUND = 120   # a first run makes the prefix; the machine may be loaded
EXIT_BOUND = 30
QUIET = 2.0

WS_POPUP = 0x80000000
WS_CLIPSIBLINGS = 0x04000000
WS_CLIPCHILDREN = 0x02000000
FORBIDDEN_STYLES = {"WS_CAPTION": 0x00C00000, "WS_THICKFRAME": 0x00040000, "WS_SYSMENU": 0x00080000,
                    "WS_MINIMIZEBOX": 0x00020000, "WS_MAXIMIZEBOX": 0x00010000}
WS_EX_CONTROLPARENT = 0x00010000
WS_EX_APPWINDOW = 0x00040000
FORBIDDEN_EX_STYLES = {"WS_EX_TOOLWINDOW": 0x80, "WS_EX_WINDOWEDGE": 0x100, "WS_EX_DLGMODALFRAME": 0x1,
                       "WS_EX_LAYERED": 0x80000}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class RecordingServer:
    """Accepts connections on a loopback port, records the raw request head of
    each and answers 200 with a small page."""

    def __init__(self, host_port):
        host, port = host_port.split(":")
        self.heads = []
        self.lock = threading.Lock()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, int(port)))
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        conn.settimeout(10)
        data = b""
        try:
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
            with self.lock:
                self.heads.append(data)
            body = b"<html><body>Quorvel</body></html>"
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                         b"Connection: close\r\n\r\n%s" % (len(body), body))
        except OSError:
            pass
        finally:
            conn.close()

    def requests(self):
        with self.lock:
            return list(self.heads)

    def stop(self):
        self.stopping = True
        self.sock.close()
        self.thread.join(5)


def wait_for(predicate, bound, what):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


class Wine:
    """A fresh prefix and an X server for one scenario."""

    def __init__(self, work, arch):
        self.work = work
        self.env = dict(os.environ)
        self.env.update(WINEARCH=arch, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all")
        # As in cmake/wine-run.sh: Debian keeps the 64-bit loader off PATH.
        self.wine = "wine"
        if arch == "win64":
            self.wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
            self.env["WINELOADER"] = self.wine
        self.xvfb = None
        self.start_display()
        try:
            self.run([self.wine, "wineboot", "-i"], 180, overrides="mscoree,mshtml=")
            self.run([self.wine, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                      "/t", "REG_DWORD", "/d", "0", "/f"], 60)
            self.run(["wineserver", "-w"], 60)
            self.install_tahoma()
        except BaseException:
            # The scenario never owns a half-made prefix: its X server and
            # Wine end here.
            self.close()
            raise

    # Windows ships Tahoma; Debian's Wine substitutes another face for it
    # unless its own Tahoma is in the prefix, and the window's scaling rule
    # measures that font.
    def install_tahoma(self):
        fonts = os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "Fonts")
        for name in ("tahoma.ttf", "tahomabd.ttf"):
            source = os.path.join("/usr/share/wine/fonts", name)
            check(os.path.exists(source), "Wine's %s is missing (Debian package fonts-wine)" % name)
            shutil.copy(source, fonts)

    def start_display(self):
        for number in range(90, 140):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            self.xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
            if self.xvfb.poll() is None:
                self.env["DISPLAY"] = ":%d" % number
                return
        raise Failure("no X display could be started")

    def run(self, argv, bound, overrides=None):
        env = dict(self.env)
        if overrides is not None:
            env["WINEDLLOVERRIDES"] = overrides
        return subprocess.run(argv, env=env, timeout=bound, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True, check=False)

    def start(self, exe):
        return subprocess.Popen([self.wine, exe], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, probe, command, bound=90):
        result = self.run([self.wine, probe, command], bound)
        facts = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition("=")
            facts.setdefault(key.strip(), []).append(value.strip())
        check(result.returncode == 0, "probe %s failed: %r" % (command, result.stdout))
        return {k: v if len(v) > 1 else v[0] for k, v in facts.items()}

    def unix_path(self, windows_path):
        return self.run([self.wine, "winepath", "-u", windows_path], 60).stdout.strip()

    def close(self):
        try:
            self.run(["wineserver", "-k"], 30)
        except subprocess.TimeoutExpired:
            pass
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()


def exit_status(process, bound=EXIT_BOUND):
    try:
        return process.wait(bound)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("the shell did not end within %d s" % bound)


def still_running(process, seconds):
    try:
        process.wait(seconds)
        return False
    except subprocess.TimeoutExpired:
        return True


def copy_as(work, exe, name):
    target = os.path.join(work, name)
    shutil.copy(exe, target)
    return target


def start_requests(server):
    return [h.split(b"\r\n")[0].decode("latin-1") for h in server.requests()]


def scenario_window(a, wine, start, report):
    shell = wine.start(copy_as(wine.work, a.shell, "Quorvel_w1.exe"))
    facts = wine.probe(a.probe, "window")
    style, exstyle = int(facts["style"]), int(facts["exstyle"])
    check(style & WS_POPUP and style & WS_CLIPSIBLINGS and style & WS_CLIPCHILDREN, "style %#x" % style)
    for name, bit in FORBIDDEN_STYLES.items():
        check(not style & bit, "%s in style %#x" % (name, style))
    check(exstyle & WS_EX_CONTROLPARENT and exstyle & WS_EX_APPWINDOW, "exstyle %#x" % exstyle)
    for name, bit in FORBIDDEN_EX_STYLES.items():
        check(not exstyle & bit, "%s in exstyle %#x" % (name, exstyle))
    left, top, right, bottom = map(int, facts["rect"].split(","))
    check((right - left, bottom - top) == (978, 727), "outer size %dx%d" % (right - left, bottom - top))
    check(facts["client"] == "978,727", "client size " + facts["client"])
    l, t, r, b = map(int, facts["workarea"].split(","))
    centre = (l + int((r - l - 978) / 2), t + int((b - t - 727) / 2))
    check((left, top) == centre, "position %s, centre of the work area %s" % ((left, top), centre))
    check(facts["owner"] == "0" and facts["caption"] == "", "owner %s caption %r" % (facts["owner"], facts["caption"]))

    wait_for(lambda: any("source=w1 " in line for line in start_requests(start)), START_BOUND, "the start page")
    check(start_requests(start)[0] == "GET /quorvl/index1.html?source=w1 HTTP/1.1", repr(start_requests(start)))

    appdata = wine.unix_path(wine.probe(a.probe, "appdata")["appdata"])
    marker = os.path.join(appdata, "w1")
    wait_for(lambda: len(report.requests()) >= 1, START_BOUND, "the install report")
    check(os.path.isdir(marker), "no marker folder at " + marker)
    pattern = (rb"GET /api/report/install\?soft_id=quorvel_win&source=w1_test&device_code=\d{15,19} HTTP/1\.1\r\n"
               rb"Host: " + a.report_host.encode() + rb"\r\nAccept: application/json\r\n"
               rb"Accept-Encoding: identity\r\n\r\n")
    check(re.fullmatch(pattern, report.requests()[0]) is not None, "report request %r" % report.requests()[0])

    wine.probe(a.probe, "close")
    check(exit_status(shell) == 0, "WM_CLOSE did not end the shell with status 0")
    time.sleep(QUIET)
    check(len(report.requests()) == 1, "more than one report: %r" % report.requests())


def scenario_navigate(a, wine, start, report):
    shell = wine.start(copy_as(wine.work, a.shell, "Quorvel_w1.exe"))
    wine.probe(a.probe, "window")
    wait_for(lambda: start_requests(start), START_BOUND, "the start page")
    wine.probe(a.probe, "navigate")
    check(exit_status(shell) == 0, "the close-marker navigation did not end the shell with status 0")
    time.sleep(QUIET)
    check(not any("c100100" in line for line in start_requests(start)),
          "the close-marker navigation reached the server: %r" % start_requests(start))


def scenario_endsession(a, wine, start, report):
    shell = wine.start(copy_as(wine.work, a.shell, "Quorvel_w1.exe"))
    wine.probe(a.probe, "window")
    facts = wine.probe(a.probe, "endsession")
    check(facts.get("queryendsession") == "1", "WM_QUERYENDSESSION answered %r" % facts.get("queryendsession"))
    # When WM_ENDSESSION returns the exit sequence has run: the main window is
    # gone and the browser's window with it, then the hidden window.
    check(facts.get("control") == "1" and facts.get("hidden") == "1", "windows before the log-off: %r" % facts)
    for left in ("window_left", "control_left", "hidden_left"):
        check(facts.get(left) == "0", "%s after WM_ENDSESSION returned: %r" % (left, facts))
    check(int(facts.get("returned_ms", "99999")) < 10000, "WM_ENDSESSION was not answered: %r" % facts)
    check(exit_status(shell) == 0, "WM_ENDSESSION did not end the shell with status 0")


def scenario_tagguard(a, wine, start, report):
    # The tag holds the marker: the start page's own navigation is cancelled
    # by the guard while the creation handler runs, and the window stays.
    shell = wine.start(copy_as(wine.work, a.shell, "Quorvel_c100100.exe"))
    wine.probe(a.probe, "window")
    check(still_running(shell, 3.0), "the shell ended on its own start page")
    check(start_requests(start) == [], "the cancelled start page reached the server: %r" % start_requests(start))
    wine.probe(a.probe, "close")
    check(exit_status(shell) == 0, "WM_CLOSE did not end the shell with status 0")


def scenario_nows2(a, wine, start, report):
    shell = wine.start(copy_as(wine.work, a.nows2, "Quorvel_w2.exe"))
    facts = wine.probe(a.probe, "errorbox")
    texts = facts.get("text", [])
    texts = texts if isinstance(texts, list) else [texts]
    check(facts.get("title") == "Quorvel_w2", "error box title %r" % facts.get("title"))
    check(any(t.startswith("Error on loading Winsock2 library (WS2_32.DLL): ") and t.endswith(".") for t in texts),
          "error box text %r" % texts)
    # The program goes on: the window is there and closes normally.
    wine.probe(a.probe, "window")
    appdata = wine.unix_path(wine.probe(a.probe, "appdata")["appdata"])
    check(os.path.isdir(os.path.join(appdata, "w2")), "the marker was not made before the report")
    check(report.requests() == [], "a report went out without a socket library")
    wine.probe(a.probe, "close")
    check(exit_status(shell) == 0, "WM_CLOSE did not end the shell with status 0")


SCENARIOS = {"window": scenario_window, "navigate": scenario_navigate, "endsession": scenario_endsession,
             "tagguard": scenario_tagguard, "nows2": scenario_nows2}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    for option in ("--shell", "--nows2", "--probe", "--start-page-host", "--report-host"):
        parser.add_argument(option, required=True)
    parser.add_argument("--wine-arch", choices=("win32", "win64"), default="win32")
    a = parser.parse_args()
    work = tempfile.mkdtemp(prefix="quorvel-wine-")
    owned = []
    try:
        start = RecordingServer(a.start_page_host)
        owned.append(start)
        report = RecordingServer(a.report_host)
        owned.append(report)
        wine = Wine(work, a.wine_arch)
        owned.append(wine)
        SCENARIOS[a.scenario](a, wine, start, report)
        print("wine %s: every check held" % a.scenario)
        return 0
    except (Failure, subprocess.TimeoutExpired) as error:
        print("wine %s: FAILED: %s" % (a.scenario, error))
        return 1
    finally:
        for thing in reversed(owned):
            thing.close() if isinstance(thing, Wine) else thing.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
