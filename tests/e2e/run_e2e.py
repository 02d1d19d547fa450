#!/usr/bin/env python3
"""End-to-end scenarios of the Linux shell: run_e2e.py SCENARIO --shell PATH
--start-page-host H:P --report-host H:P. Each scenario starts what it needs
and stops it again; exit status 0 means every check held."""

import argparse
import os
import re
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time
import traceback

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pages  # noqa: E402
from harness import (Display, Failure, HandlerRecorder, ReportServer, Shell, StartPageServer,  # noqa: E402
                     WindowManager, children_of, port_is_free, wait_for)

# Generous: the machine may be loaded by a parallel build and other tests.
START_BOUND = 90
EXIT_BOUND = 30
QUIET = 2.0  # how long "nothing more arrives" is watched for


def check(condition, message):
    if not condition:
        raise Failure(message)


class Scenario:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="quorvel-e2e-")
        self.owned = []
        self.started = time.monotonic()
        for host in (args.start_page_host, args.report_host):
            wait_for(lambda: port_is_free(host), 60, "port of %s to be free" % host)

    def own(self, thing):
        self.owned.append(thing)
        return thing

    def display(self, width=1600, height=1000):
        return self.own(Display(width, height))

    def start_page(self, pages_by_source, routes=None):
        return self.own(StartPageServer(self.args.start_page_host, pages_by_source, routes))

    def report_server(self):
        return self.own(ReportServer(self.args.report_host))

    def data_home(self, name):
        path = os.path.join(self.work, name)
        os.makedirs(path, exist_ok=True)
        return path

    def shell(self, name, display, data_home, extra_env=None):
        print("%6.1f s  start %s" % (time.monotonic() - self.started, name), flush=True)
        return self.own(Shell(self.args.shell, name, display, data_home, self.work, extra_env))

    def end(self, shell, how=signal.SIGTERM):
        """Ends a run that must still be alive, and checks it ended cleanly."""
        check(shell.running(), "%s ended before it was asked to:\n%s" % (shell.name, shell.output()))
        shell.signal(how)
        status = shell.wait_exit(EXIT_BOUND)
        check(status == 0, "%s ended with status %s:\n%s" % (shell.name, status, shell.output()))
        left = shell.leftovers()
        check(not left, "%s left processes behind: %s" % (shell.name, left))

    def close(self):
        for thing in reversed(self.owned):
            try:
                thing.close()
            except Exception:  # noqa: BLE001 - cleanup goes on
                traceback.print_exc()
        if os.environ.get("QUORVEL_E2E_KEEP"):
            print("kept", self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)


def page_is_active(server, count=1):
    """The window took the focus (and so ran its activation) and painted."""
    server.wait_beacon("painted", START_BOUND)
    wait_for(lambda: server.beacon_names().count("focus") >= count, START_BOUND, "the window to take the focus")


# --- window -------------------------------------------------------------------

def scenario_window(s):
    server = s.start_page({"win": pages.PLAIN})
    s.report_server()
    display = s.display(1600, 1000)
    shell = s.shell("Quorvel_win.bin", display, s.data_home("win"))
    server.wait_beacon("painted", START_BOUND)
    window = wait_for(display.shell_window, START_BOUND, "the shell's window")
    x, y, w, h = display.geometry(window)
    check((x, y, w, h) == (311, 136, 978, 727), "window at %s, expected (311, 136, 978, 727)" % ((x, y, w, h),))
    hints = display.prop(window, "_MOTIF_WM_HINTS")
    check(re.search(r"= 0x2, 0x0, 0x0", hints), "window is not undecorated: " + hints)
    check("not found" in display.prop(window, "WM_TRANSIENT_FOR"), "window has a transient parent")
    title = display.prop(window, "WM_NAME").partition("=")[2].strip()
    check(title in ("", '""'), "window has a title: " + title)
    check("_NET_WM_ICON(CARDINAL)" in display.prop(window, "_NET_WM_ICON"), "window has no icon")

    corners = [(x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)]

    def page_fills_window():
        pixel = display.pixels()
        return pixel and all(pixel(cx, cy) == pages.PAGE_COLOUR for cx, cy in corners) and \
            pixel(x - 1, y - 1) != pages.PAGE_COLOUR
    wait_for(page_fills_window, START_BOUND, "the page's colour at the window's corners")
    shot = os.path.join(s.args.artifacts, "e2e-window-1600x1000.png")
    display.screenshot(shot)
    print("screenshot:", shot)
    s.end(shell)

    small = s.display(800, 600)
    shell = s.shell("Quorvel_win.bin", small, s.data_home("win"))
    window = wait_for(small.shell_window, START_BOUND, "the shell's window at 800x600")
    x, y, w, h = small.geometry(window)
    check((x, y, w, h) == (0, 0, 978, 727), "window at %s on 800x600, expected (0, 0, 978, 727)" % ((x, y, w, h),))
    s.end(shell)


# --- install report -----------------------------------------------------------

def local_stamp():
    return time.strftime("%Y%m%d%H%M%S", time.localtime())


def check_worked_example(head, source, before, after, report_host):
    lines = head.split(b"\r\n")
    check(len(lines) == 6 and lines[4:] == [b"", b""], "report head is not five lines: %r" % head)
    match = re.fullmatch(rb"GET /api/report/install\?soft_id=quorvel_win&source=" + re.escape(source.encode()) +
                         rb"&device_code=(\d{15,19}) HTTP/1\.1", lines[0])
    check(match, "unexpected request line %r" % lines[0])
    stamp = match.group(1)[:14].decode()
    check(before <= stamp <= after, "device code %s does not begin with the local time (%s..%s)" %
          (match.group(1).decode(), before, after))
    check(lines[1:4] == [b"Host: " + report_host.encode(), b"Accept: application/json",
                         b"Accept-Encoding: identity"], "unexpected header lines %r" % lines[1:4])


def scenario_report(s):
    server = s.start_page({"t1": pages.PLAIN})
    reports = s.report_server()
    display = s.display()
    data = s.data_home("t1")

    before = local_stamp()
    shell = s.shell("Quorvel_t1.bin", display, data)
    wait_for(lambda: "GET /quorvl/index1.html?source=t1 HTTP/1.1" in server.lines(), START_BOUND,
             "the start page request with source=t1")
    wait_for(reports.count, START_BOUND, "the install report")
    after = local_stamp()
    check_worked_example(reports.all()[0], "t1_test", before, after, s.args.report_host)
    check(os.path.isdir(os.path.join(data, "t1")), "the marker folder t1 is missing")

    # Focus away and back: no second activation.
    page_is_active(server)
    window = display.shell_window()
    display.focus_root()
    wait_for(lambda: "blur" in server.beacon_names(), START_BOUND, "the window to lose the focus")
    display.focus(window)
    page_is_active(server, 2)
    time.sleep(QUIET)
    check(reports.count() == 1, "focus coming back sent another report")
    s.end(shell)

    # The marker is there: the second run sends nothing.
    server.reset_beacons()
    shell = s.shell("Quorvel_t1.bin", display, data)
    page_is_active(server)
    time.sleep(QUIET)
    check(reports.count() == 1, "a second run sent a report")
    s.end(shell)

    # A file in place of the folder: a report on every run.
    data = s.data_home("file")
    with open(os.path.join(data, "t1"), "w") as f:
        f.write("not a folder")
    for run in (1, 2):
        shell = s.shell("Quorvel_t1.bin", display, data)
        wait_for(lambda: reports.count() == 1 + run, START_BOUND, "report %d with a file in place of the marker" % run)
        s.end(shell)

    # A report server that refuses connections: the folder is still made,
    # and the next run sends nothing.
    reports.close()
    s.owned.remove(reports)
    data = s.data_home("refused")
    server.reset_beacons()
    shell = s.shell("Quorvel_t1.bin", display, data)
    page_is_active(server)
    wait_for(lambda: os.path.isdir(os.path.join(data, "t1")), START_BOUND, "the marker after a refused report")
    s.end(shell)
    reports = s.report_server()
    server.reset_beacons()
    shell = s.shell("Quorvel_t1.bin", display, data)
    page_is_active(server)
    time.sleep(QUIET)
    check(reports.count() == 0, "the run after a refused report sent one")
    s.end(shell)


# --- close marker -------------------------------------------------------------

def scenario_close(s):
    routes = {
        "/frame": lambda r: (200, {"Content-Type": "text/html"}, pages.FRAME.encode()),
        "/redirect": lambda r: (302, {"Location": "/bye/redirect?c100100"}, b""),
        "/next": lambda r: (200, {"Content-Type": "text/html"}, pages.NEXT_UPPER.encode()),
        "/next2": lambda r: (200, {"Content-Type": "text/html"}, pages.NEXT_SHORT.encode()),
    }
    server = s.start_page(pages.CLOSE_PAGES, routes)
    reports = s.report_server()
    display = s.display()
    data = s.data_home("close")
    for how in ("link", "blank", "script", "frame", "form", "redirect"):
        server.reset_beacons()
        shell = s.shell("Quorvel_%s.bin" % how, display, data)
        page_is_active(server)
        if how in ("link", "blank"):
            window = display.shell_window()
            x, y, w, h = display.geometry(window)
            started = time.monotonic()
            display.click(x + w // 2, y + h // 2)
        else:
            started = server.wait_beacon("go", START_BOUND)
        status = shell.wait_exit(EXIT_BOUND)
        took = shell.ended - started
        check(status == 0, "%s: status %s:\n%s" % (how, status, shell.output()))
        check(took <= 2.0, "%s: the program took %.2f s to end after the navigation" % (how, took))
        left = shell.leftovers()
        check(not left, "%s: processes left behind: %s" % (how, left))
        seen = [line for line in server.lines() if "c100100" in line]
        check(not seen, "%s: a server saw the marker: %s" % (how, seen))
        print("%s: ended %.2f s after the navigation" % (how, took))
    check(any(line.startswith("GET /redirect ") for line in server.lines()), "the redirect was never requested")
    check(not any(b"c100100" in head for head in reports.all()), "the report server saw the marker")

    # Near misses go on.
    server.reset_beacons()
    shell = s.shell("Quorvel_near.bin", display, data)
    server.wait_beacon("near-done", START_BOUND)
    lines = server.lines()
    check(any(line.startswith("GET /next?C100100 ") for line in lines), "C100100 was not requested")
    check(any(line.startswith("GET /next2?c10010 ") for line in lines), "c10010 was not requested")
    time.sleep(QUIET)
    s.end(shell)


# --- ending -------------------------------------------------------------------

def scenario_ending(s):
    server = s.start_page({"*": pages.PLAIN})
    reports = s.report_server()
    display = s.display()
    data = s.data_home("ending")

    shell = s.shell("Quorvel_term.bin", display, data)
    page_is_active(server)
    s.end(shell, signal.SIGTERM)

    server.reset_beacons()
    shell = s.shell("Quorvel_close.bin", display, data)
    page_is_active(server)
    display.send_delete_window(display.shell_window())
    status = shell.wait_exit(EXIT_BOUND)
    check(status == 0, "close request: status %s:\n%s" % (status, shell.output()))
    left = shell.leftovers()
    check(not left, "close request: processes left behind: %s" % left)

    # A SIGTERM inside the start-up pump, before any main loop runs: the
    # pump is the only place where the main thread sleeps.
    reports_before = reports.count()
    shell = s.shell("Quorvel_pump.bin", display, data)
    pid = shell.pid()
    wait_for_pump(pid)
    os.kill(pid, signal.SIGTERM)
    status = shell.wait_exit(EXIT_BOUND)
    check(status == 0, "SIGTERM in the pump: status %s:\n%s" % (status, shell.output()))
    left = shell.leftovers()
    check(not left, "SIGTERM in the pump: processes left behind: %s" % left)
    print("SIGTERM in the pump: reports sent by that run: %d" % (reports.count() - reports_before))

    # SIGHUP and SIGINT as early as the browser's first process exists.
    for signum in (signal.SIGHUP, signal.SIGINT):
        shell = s.shell("Quorvel_early.bin", display, data)
        pid = shell.pid()
        wait_for(lambda: children_of(pid), START_BOUND, "the browser's first process")
        os.kill(pid, signum)
        status = shell.wait_exit(EXIT_BOUND)
        check(status == 0, "early %s: status %s:\n%s" % (signum.name, status, shell.output()))
        left = shell.leftovers()
        check(not left, "early %s: processes left behind: %s" % (signum.name, left))


def wait_for_pump(pid):
    """Until the main thread sleeps in clock_nanosleep (x86-64 call 230).
    Polled without pause: the whole pump lasts about 60 ms."""
    deadline = time.monotonic() + START_BOUND
    path = "/proc/%d/syscall" % pid
    while time.monotonic() < deadline:
        try:
            with open(path) as f:
                if f.read().split(" ", 1)[0] == "230":
                    return
        except OSError:
            pass
    raise Failure("the start-up pump was never seen")


# --- cookies ------------------------------------------------------------------

def scenario_cookies(s):
    token = os.urandom(8).hex()
    # The start page signs in through a resource that sets a persistent cookie.
    signin = pages.page("<script>var x = new XMLHttpRequest(); x.open('GET', '/signin', false); x.send();"
                        "beacon('signed-in');</script>")
    routes = {"/signin": lambda r: (200, {"Set-Cookie": "qsession=%s; Max-Age=86400; Path=/" % token,
                                          "Content-Type": "text/plain"}, b"ok")}
    server = s.start_page({"*": signin}, routes)
    s.report_server()
    display = s.display()
    data = s.data_home("cookies")

    shell = s.shell("Quorvel_cookie.bin", display, data)
    server.wait_beacon("signed-in", START_BOUND)
    page_is_active(server)
    s.end(shell)

    def start_page_headers():
        with server.lock:
            return next((h for _, line, h in server.requests if line.startswith("GET /quorvl/index1.html")), None)
    with server.lock:
        server.requests.clear()
    shell = s.shell("Quorvel_cookie.bin", display, data)
    headers = wait_for(start_page_headers, START_BOUND, "the start page request of the second run")
    check("qsession=" + token in headers.get("Cookie", ""), "the cookie did not survive the restart: %r" % headers)
    s.end(shell)


# --- the browser's own interface ---------------------------------------------

def signin_route(token):
    return {"/signin": lambda r: (200, {"Set-Cookie": "qsession=%s; Path=/" % token, "Content-Type": "text/plain"},
                                  b"ok")}


def html_route(html):
    return lambda r: (200, {"Content-Type": "text/html; charset=utf-8"}, html.encode())


def windows_titled(display, title):
    out = display.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title), check=False)
    return out.split()


def visible_shell_windows(display):
    return display.run("xdotool", "search", "--onlyvisible", "--classname", "^quorvel$", check=False).split()


def click_tile(display, window, index):
    """Raises the window (second windows may cover it), then clicks the tile."""
    display.run("xdotool", "windowactivate", "--sync", window, check=False)
    x, y, _, _ = display.geometry(window)
    cx, cy = pages.tile_centre(index)
    display.click(x + cx, y + cy)


def start_page_loads(server):
    return [line for line in server.lines() if line.startswith("GET /quorvl/index1.html")]


def requests_other_than_beacons(server):
    return [line for line in server.lines() if not line.startswith("GET /beacon?")]


def scenario_popups(s):
    token = os.urandom(8).hex()
    report_host = s.args.report_host
    start_port = s.args.start_page_host.partition(":")[2]
    other_host = "http://localhost:%s/elsewhere?from=message" % start_port
    other_port = "http://%s/out-of-mail?x=1" % report_host
    mailto = "mailto:grace@quorvel.example?subject=Figures"
    main = pages.tiles(
        ("<a target='_blank' href='/second'", "</a>"),
        ("<button onclick=\"window.open('/compose', 'compose', 'width=480,height=360')\"", "</button>"),
        ("<a target='_blank' href='%s'" % other_host, "</a>"),
        ("<a target='_blank' href='%s'" % other_port, "</a>"),
        ("<a href='%s'" % mailto, "</a>"))
    routes = dict(signin_route(token), **{"/second": html_route(pages.SECOND), "/compose": html_route(pages.COMPOSE)})
    server = s.start_page({"*": main, "loop": pages.HANDOFF_LOOP}, routes)
    reports = s.report_server()
    display = s.display()
    s.own(WindowManager(display, s.work))
    data = s.data_home("popups")
    recorder = HandlerRecorder(data)
    shell = s.shell("Quorvel_popups.bin", display, data)
    server.wait_beacon("signed-in", START_BOUND)
    page_is_active(server)
    window = wait_for(display.shell_window, START_BOUND, "the shell's window")

    # A new-window link of the start page's site: a second window of the
    # same session, and the main window keeps its page.
    click_tile(display, window, 0)
    second = wait_for(lambda: windows_titled(display, "Second page"), START_BOUND, "the second window")
    with server.lock:
        headers = next((h for _, line, h in server.requests if line.startswith("GET /second ")), {})
    check("qsession=" + token in headers.get("Cookie", ""), "the second window's request had no cookie: %r" % headers)
    check("_NET_WM_ICON(CARDINAL)" in display.prop(second[0], "_NET_WM_ICON"), "the second window has no icon")
    check(window in visible_shell_windows(display) and len(start_page_loads(server)) == 1,
          "the main window lost its page")

    # window.open: the size it asks for, window.opener, and window.close().
    click_tile(display, window, 1)
    compose = wait_for(lambda: windows_titled(display, "Compose"), START_BOUND, "the window.open window")[0]
    server.wait_beacon("opener-yes", START_BOUND)
    _, _, w, h = display.geometry(compose)
    check((w, h) == (480, 360), "the window.open window is %dx%d, not 480x360" % (w, h))
    shot = os.path.join(s.args.artifacts, "e2e-popups.png")
    display.screenshot(shot)
    print("screenshot:", shot)
    x, y, w, h = display.geometry(compose)
    display.run("xdotool", "windowactivate", "--sync", compose, check=False)
    display.click(x + w // 2, y + h // 2)
    wait_for(lambda: not windows_titled(display, "Compose"), START_BOUND, "window.close() to close the window")
    time.sleep(QUIET)
    check(shell.running(), "closing the window.open window ended the program")

    # Links out of the site, and mailto:, go to the desktop's handlers; the
    # shell itself fetches nothing for them.
    for index, uri in ((2, other_host), (3, other_port), (4, mailto)):
        before = len(requests_other_than_beacons(server))
        click_tile(display, window, index)
        wait_for(lambda: uri in recorder.uris(), START_BOUND, "the handler to be given " + uri)
        time.sleep(QUIET)
        check(len(requests_other_than_beacons(server)) == before,
              "the start-page server saw more: %s" % requests_other_than_beacons(server)[before:])
    check(recorder.uris() == [other_host, other_port, mailto], "the handler was given %s" % recorder.uris())
    check(not any(b"out-of-mail" in head for head in reports.all()), "the shell fetched the link to another port")
    check(window in visible_shell_windows(display) and len(start_page_loads(server)) == 1,
          "the main window lost its page")

    # The close button closes a second window, and only that one; the end of
    # the session closes the other too.
    click_tile(display, window, 0)
    wait_for(lambda: len(windows_titled(display, "Second page")) == 2, START_BOUND, "another second window")
    display.send_delete_window(windows_titled(display, "Second page")[0])
    wait_for(lambda: len(windows_titled(display, "Second page")) == 1, START_BOUND, "the closed second window to go")
    time.sleep(QUIET)
    check(shell.running() and window in visible_shell_windows(display), "closing a second window ended the program")
    s.end(shell)

    # A script's hand-offs in a loop launch the handler one every two seconds.
    shell = s.shell("Quorvel_loop.bin", display, data)
    wait_for(lambda: "mailto:loop@quorvel.example" in recorder.uris(), START_BOUND, "the looping hand-off")
    time.sleep(3 * QUIET)
    launched = recorder.uris().count("mailto:loop@quorvel.example")
    check(launched <= 4, "a script's loop launched the handler %d times in %.0f s" % (launched, 3 * QUIET))
    s.end(shell)


def attachment_route(name, body):
    return lambda r: (200, {"Content-Type": "application/octet-stream",
                            "Content-Disposition": 'attachment; filename="%s"' % name}, body)


def broken_download(hang_up):
    """Promises more than it sends, then hangs up when hang_up is set."""
    def answer(r):
        r.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      b"Content-Disposition: attachment; filename=\"broken.bin\"\r\n"
                      b"Content-Length: 1000000\r\n\r\n" + b"x" * 1000)
        r.wfile.flush()
        hang_up.wait(START_BOUND)
        r.close_connection = True
        r.connection.shutdown(socket.SHUT_RDWR)
    return answer


def press(display, window_title, key):
    """Waits for the window, lets it take the focus, and presses key."""
    dialog = wait_for(lambda: windows_titled(display, window_title), START_BOUND, "the window " + window_title)[0]
    display.run("xdotool", "windowactivate", "--sync", dialog, check=False)
    wait_for(lambda: display.run("xdotool", "getactivewindow", check=False).strip() == str(int(dialog, 0)),
             START_BOUND, "the window %s to take the focus" % window_title)
    display.run("xdotool", "key", key)
    wait_for(lambda: not windows_titled(display, window_title), START_BOUND, "the window %s to go" % window_title)


def scenario_downloads(s):
    sent = bytes(range(256)) * 1024 + os.urandom(4096)
    hang_up = threading.Event()
    # The first opens a new window, as mail pages do for attachments.
    main = pages.tiles(("<a target='_blank' href='/files/report'", "</a>"), ("<a href='/files/notes'", "</a>"),
                       ("<a href='/files/broken'", "</a>"))
    routes = dict(signin_route("d"), **{"/files/report": attachment_route("../q3 report.csv", sent),
                                       "/files/notes": attachment_route("notes.txt", b"notes"),
                                       "/files/broken": broken_download(hang_up),
                                       "/files/bye.bin": attachment_route("bye.bin", b"bye")})
    pages_by_source = dict(pages.MARKER_PAGES, **{"downloads": main})
    server = s.start_page(pages_by_source, routes)
    reports = s.report_server()
    display = s.display()
    s.own(WindowManager(display, s.work))
    data = s.data_home("downloads")
    recorder = HandlerRecorder(data)
    home = os.path.join(s.work, "home")
    os.makedirs(home)
    downloads = os.path.join(home, "Downloads")
    listing = lambda: sorted(os.listdir(downloads)) if os.path.isdir(downloads) else []
    # A fresh home with no user folders configured; the save dialog keeps its
    # settings in memory, as there is no settings service on the test's bus.
    env = {"HOME": home, "GSETTINGS_BACKEND": "memory"}

    shell = s.shell("Quorvel_downloads.bin", display, data, env)
    page_is_active(server)
    window = wait_for(display.shell_window, START_BOUND, "the shell's window")

    # Enter saves under the suggested name, which stays inside the folder.
    click_tile(display, window, 0)
    press(display, "Save File", "Return")
    saved = os.path.join(downloads, "q3 report.csv")
    wait_for(lambda: listing() == ["q3 report.csv"] and open(saved, "rb").read() == sent, START_BOUND,
             "the attachment saved whole in ~/Downloads (there: %s)" % listing())
    check(sorted(os.listdir(home)) == ["Downloads"], "the home folder holds %s" % os.listdir(home))
    wait_for(lambda: visible_shell_windows(display) == [window], START_BOUND, "the attachment's empty window to go")

    # Escape: nothing is saved.
    click_tile(display, window, 1)
    press(display, "Save File", "Escape")
    time.sleep(QUIET)
    check(listing() == ["q3 report.csv"], "a cancelled download left %s" % listing())

    # A server that hangs up once the file is being written: told in a
    # dialog, and nothing left behind.
    click_tile(display, window, 2)
    press(display, "Save File", "Return")
    hang_up.set()
    press(display, "Download failed", "Escape")
    time.sleep(QUIET)
    check(listing() == ["q3 report.csv"], "a failed download left %s" % listing())
    check(len(start_page_loads(server)) == 1 and window in visible_shell_windows(display) and shell.running(),
          "the page did not stay")
    s.end(shell)

    # A new window, mailto: and a download whose address holds the marker
    # each end the program, unseen by any server.
    # The menu's items: Open Link, Open Link in New Window, Download Linked File.
    menu_keys = {"menu-window": ["Down", "Down"], "menu-download": ["Down", "Down", "Down"]}
    for how in ("popup", "mailto", "download", "menu-window", "menu-download"):
        server.reset_beacons()
        shell = s.shell("Quorvel_%s.bin" % how, display, data, env)
        page_is_active(server)
        if how == "download" or how in menu_keys:
            x, y, w, h = display.geometry(wait_for(display.shell_window, START_BOUND, "the shell's window"))
            display.run("xdotool", "mousemove", str(x + w // 2), str(y + h // 2),
                        "click", "3" if how in menu_keys else "1")
        if how in menu_keys:
            wait_for(lambda: len(visible_shell_windows(display)) == 2, START_BOUND, "the context menu")
            display.run("xdotool", "key", *menu_keys[how], "Return")
        status = shell.wait_exit(EXIT_BOUND)
        check(status == 0, "%s: status %s:\n%s" % (how, status, shell.output()))
        left = shell.leftovers()
        check(not left, "%s: processes left behind: %s" % (how, left))
    seen = [line for line in server.lines() if "c100100" in line]
    check(not seen, "a server saw the marker: %s" % seen)
    check(not any(b"c100100" in head for head in reports.all()), "the report server saw the marker")
    check(not recorder.uris(), "the handler was given %s" % recorder.uris())
    check(listing() == ["q3 report.csv"], "a download with the marker left %s" % listing())


SCENARIOS = {
    "window": scenario_window,
    "report": scenario_report,
    "close": scenario_close,
    "ending": scenario_ending,
    "cookies": scenario_cookies,
    "popups": scenario_popups,
    "downloads": scenario_downloads,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--shell", required=True)
    parser.add_argument("--start-page-host", required=True)
    parser.add_argument("--report-host", required=True)
    parser.add_argument("--artifacts", default=os.getcwd())
    args = parser.parse_args()
    scenario = Scenario(args)
    try:
        SCENARIOS[args.scenario](scenario)
    except Failure as failure:
        print("FAILED:", failure)
        return 1
    finally:
        scenario.close()
    print("passed:", args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
