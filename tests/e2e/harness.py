"""What the end-to-end tests start: a private X display (or weston inside
one), loopback start-page and report servers, and the shell under a private
session bus. Every wait has a bound; everything started is stopped by its
owner's close()."""

import ctypes
import json
import os
import re
import shutil
import signal
import socket
import socketserver
import stat
import struct
import subprocess
import tempfile
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit


class Failure(Exception):
    pass


def wait_for(condition, timeout, what):
    """Polls condition until it returns a true value; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)


def split_host(host):
    name, _, port = host.partition(":")
    return name, int(port or 80)


# --- display ------------------------------------------------------------------

class Display:
    """Xvfb on a display number it picks itself, with no window manager."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                os.close(read_end)
                self.close()
                raise Failure("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        self.name = ":" + number.decode().strip()

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def run(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env(), capture_output=True, text=True, timeout=30)
        if check and result.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def shell_window(self):
        """The id of the shell's visible toplevel, or None."""
        out = self.run("xdotool", "search", "--onlyvisible", "--classname", "^quorvel$", check=False)
        ids = out.split()
        return ids[0] if ids else None

    def geometry(self, window):
        info = self.run("xwininfo", "-id", window)
        pick = lambda key: int(re.search(key + r":\s+(-?\d+)", info).group(1))
        return pick("Absolute upper-left X"), pick("Absolute upper-left Y"), pick("Width"), pick("Height")

    def prop(self, window, name):
        return self.run("xprop", "-id", window, name).strip()

    def screenshot(self, path):
        self.run("import", "-window", "root", path)

    def pixels(self):
        """The screen as rows of (r, g, b), through a fresh screenshot."""
        raw = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env(),
                             capture_output=True, timeout=30).stdout
        if len(raw) != self.width * self.height * 3:
            return None
        return lambda x, y: tuple(raw[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3])

    def focus_root(self):
        # With the focus on the root, keys go to the window under the pointer,
        # which GTK counts as focus: the pointer leaves first.
        self.run("xdotool", "mousemove", "0", "0")
        root = re.search(r"Window id: (0x[0-9a-f]+)", self.run("xwininfo", "-root")).group(1)
        self.run("xdotool", "windowfocus", root)

    def focus(self, window):
        self.run("xdotool", "windowfocus", window)

    def click(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y), "click", "1")

    def send_delete_window(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        send_wm_delete(self.name, int(window, 0))

    def close(self):
        stop_group(self.process)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_wm_delete(display_name, window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise Failure("cannot open display " + display_name)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


# --- wayland ------------------------------------------------------------------

WESTON_CONFIG = """[core]
idle-time=0
[shell]
background-image=
background-color=0xff%02x%02x%02x
panel-position=none
"""
WESTON_BACKGROUND = (32, 64, 96)


class WaylandDisplay:
    """weston with its X11 back-end inside a private Xvfb (the X11 back-end
    gives it a seat, and so keyboard focus), under a private runtime folder.
    Clients talk Wayland only, through a relay that can deliver the
    compositor's close request. The Xvfb root shows weston's output at
    scale 1, so its pixels are the Wayland desktop's."""

    def __init__(self, width, height, workdir):
        self.width, self.height = width, height
        self.x11 = Display(width, height)
        self.runtime_dir = tempfile.mkdtemp(prefix="wayland-", dir=workdir)
        os.chmod(self.runtime_dir, 0o700)
        self.socket = "quorvel-" + uuid.uuid4().hex[:8]
        config = os.path.join(self.runtime_dir, "weston.ini")
        with open(config, "w") as f:
            f.write(WESTON_CONFIG % WESTON_BACKGROUND)
        env = dict(os.environ, DISPLAY=self.x11.name, XDG_RUNTIME_DIR=self.runtime_dir)
        env.pop("WAYLAND_DISPLAY", None)
        self.log = open(os.path.join(workdir, "weston.log"), "ab")
        self.relay = None
        self.process = subprocess.Popen(
            ["weston", "--backend=x11-backend.so", "--socket=" + self.socket, "--config=" + config,
             "--width=%d" % width, "--height=%d" % height, "--idle-time=0", "--use-pixman"],
            env=env, stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
            start_new_session=True)
        try:
            wait_for(lambda: self.process.poll() is not None or
                     os.path.exists(os.path.join(self.runtime_dir, self.socket)), 30, "weston's socket")
            if self.process.poll() is not None:
                raise Failure("weston ended at start with status %s" % self.process.returncode)
            # Its desktop has drawn when the background fills the output.
            wait_for(lambda: (self.pixels() or (lambda x, y: None))(width - 1, height - 1) == WESTON_BACKGROUND,
                     30, "weston's background")
            self.relay = WaylandRelay(self.runtime_dir, self.socket)
        except Failure as failure:
            self.close()
            with open(self.log.name, "rb") as f:
                said = f.read().decode(errors="replace").strip().splitlines()[-15:]
            raise Failure("%s; weston said:\n%s" % (failure, "\n".join(said))) from None
        except BaseException:
            self.close()
            raise

    def env(self):
        env = dict(os.environ, GDK_BACKEND="wayland", WAYLAND_DISPLAY=self.relay.name,
                   XDG_RUNTIME_DIR=self.runtime_dir)
        env.pop("DISPLAY", None)
        return env

    def pixels(self):
        return self.x11.pixels()

    def screenshot(self, path):
        self.x11.screenshot(path)

    def close_toplevel(self):
        """What weston would send for a close button: xdg_toplevel.close."""
        self.relay.send_close()

    def close(self):
        if self.relay:
            self.relay.close()
        stop_group(self.process)
        self.log.close()
        self.x11.close()


def read_u32(data, offset):
    return int.from_bytes(data[offset:offset + 4], "little")


class WaylandRelay:
    """Passes every Wayland message between its clients and the compositor
    unchanged, fds included, and follows which objects are xdg_toplevels, so
    that it can send the last one the close event (opcode 1 of xdg_toplevel,
    no arguments): the compositor's close request, which weston 10 has no
    binding or decoration of its own to send."""

    def __init__(self, runtime_dir, upstream):
        self.upstream = os.path.join(runtime_dir, upstream)
        self.name = upstream + "-relay"
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(os.path.join(runtime_dir, self.name))
        self.listener.listen(8)
        self.lock = threading.Lock()
        self.links = []
        self.closed = False
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.connect(self.upstream)
            link = {"client": client, "server": server, "lock": threading.Lock(),
                    "registries": set(), "wm_bases": set(), "xdg_surfaces": set(), "toplevels": []}
            with self.lock:
                self.links.append(link)
            threading.Thread(target=self.pump, args=(link, client, server, True), daemon=True).start()
            threading.Thread(target=self.pump, args=(link, server, client, False), daemon=True).start()

    def pump(self, link, source, sink, from_client):
        pending = b""
        fd_size = socket.CMSG_SPACE(28 * 4)
        try:
            while True:
                data, ancillary, _, _ = source.recvmsg(65536, fd_size)
                if not data:
                    break
                fds = []
                for level, kind, payload in ancillary:
                    if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
                        fds.extend(int.from_bytes(payload[i:i + 4], "little", signed=True)
                                   for i in range(0, len(payload) - len(payload) % 4, 4))
                pending += data
                whole = 0
                while len(pending) - whole >= 8:
                    size = read_u32(pending, whole + 4) >> 16
                    if size < 8 or len(pending) - whole < size:
                        break
                    if from_client:
                        self.follow(link, pending[whole:whole + size])
                    whole += size
                # Only whole messages go on, so that a close event can go
                # between any two of them; fds go with the first bytes after
                # they came, as libwayland takes them in order.
                with link["lock"]:
                    sink.sendmsg([pending[:whole]],
                                 [(socket.SOL_SOCKET, socket.SCM_RIGHTS, b"".join(
                                     fd.to_bytes(4, "little", signed=True) for fd in fds))] if fds else [])
                for fd in fds:
                    os.close(fd)
                pending = pending[whole:]
        except OSError:
            pass
        for end in (source, sink):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    @staticmethod
    def follow(link, message):
        target, opcode = read_u32(message, 0), read_u32(message, 4) & 0xFFFF
        if target == 1 and opcode == 1:  # wl_display.get_registry
            link["registries"].add(read_u32(message, 8))
        elif target in link["registries"] and opcode == 0:  # wl_registry.bind(name, interface, version, id)
            length = read_u32(message, 12)
            interface = message[16:16 + length - 1]
            new_id = read_u32(message, 16 + (length + 3) // 4 * 4 + 4)
            if interface == b"xdg_wm_base":
                link["wm_bases"].add(new_id)
        elif target in link["wm_bases"] and opcode == 2:  # xdg_wm_base.get_xdg_surface(id, surface)
            link["xdg_surfaces"].add(read_u32(message, 8))
        elif target in link["xdg_surfaces"] and opcode == 1:  # xdg_surface.get_toplevel(id)
            link["toplevels"].append(read_u32(message, 8))
        elif target in link["toplevels"] and opcode == 0:  # xdg_toplevel.destroy
            link["toplevels"].remove(target)

    def send_close(self):
        with self.lock:
            links = [link for link in self.links if link["toplevels"]]
        if not links:
            raise Failure("no client has an xdg_toplevel to close")
        link = links[-1]
        with link["lock"]:
            link["client"].sendall(link["toplevels"][-1].to_bytes(4, "little") + (8 << 16 | 1).to_bytes(4, "little"))

    def close(self):
        self.listener.close()
        with self.lock:
            for link in self.links:
                for end in (link["client"], link["server"]):
                    try:
                        end.close()
                    except OSError:
                        pass


def page_rectangle(pixel, width, height, colour, step=4):
    """The bounding box (x, y, w, h) of the pixels of colour, or None; found
    on a coarse grid, then edged exactly."""
    xs = [x for y in range(0, height, step * 8) for x in range(0, width, step) if pixel(x, y) == colour]
    ys = [y for x in range(0, width, step * 8) for y in range(0, height, step) if pixel(x, y) == colour]
    if not xs or not ys:
        return None
    left, right, top, bottom = min(xs), max(xs), min(ys), max(ys)
    mid_y, mid_x = (top + bottom) // 2, (left + right) // 2
    while left > 0 and pixel(left - 1, mid_y) == colour:
        left -= 1
    while right < width - 1 and pixel(right + 1, mid_y) == colour:
        right += 1
    while top > 0 and pixel(mid_x, top - 1) == colour:
        top -= 1
    while bottom < height - 1 and pixel(mid_x, bottom + 1) == colour:
        bottom += 1
    return left, top, right - left + 1, bottom - top + 1
class WindowManager:
    """openbox on a display, with its own configuration and cache folders."""

    def __init__(self, display, workdir):
        env = display.env()
        env.update(XDG_CONFIG_HOME=os.path.join(workdir, "wm-config"), XDG_CACHE_HOME=os.path.join(workdir, "wm-cache"))
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.process = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: "window id" in display.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False),
                 30, "the window manager to start")

    def close(self):
        stop_group(self.process)


class HandlerRecorder:
    """The desktop's default handler for http, https and mailto addresses, and
    for a program's own scheme, as GIO finds it: a .desktop entry in
    $XDG_DATA_HOME/applications named in its mimeapps.list, whose program
    writes each address it is given to a file."""

    SCHEMES = ("http", "https", "mailto", "x-quorvel-test")

    def __init__(self, data_home):
        folder = os.path.join(data_home, "applications")
        os.makedirs(folder, exist_ok=True)
        self.record = os.path.join(folder, "handled.txt")
        script = os.path.join(folder, "record-uri")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nprintf \'%%s\\n\' "$1" >> "%s"\n' % self.record)
        os.chmod(script, 0o755)
        with open(os.path.join(folder, "quorvel-e2e-recorder.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%u\nMimeType=%s\n" %
                    (script, "".join("x-scheme-handler/%s;" % scheme for scheme in self.SCHEMES)))
        with open(os.path.join(folder, "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\n" +
                    "".join("x-scheme-handler/%s=quorvel-e2e-recorder.desktop\n" % s for s in self.SCHEMES))

    def uris(self):
        try:
            with open(self.record) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        pass


# --- servers ------------------------------------------------------------------

class StartPageServer:
    """Serves pages by the start page's source value and records every request.
    pages: source -> html of the start page; routes: path -> handler(request)
    returning (status, headers, body)."""

    def __init__(self, host, pages, routes=None):
        self.requests = []  # (time, request line, headers)
        self.beacons = []   # (time, name)
        self.resets = []    # (time, request line) of requests answered with a reset
        self.resetting = False  # while set, every request is answered with a TCP reset
        self.lock = threading.Lock()
        owner = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                now = time.monotonic()
                if owner.resetting:
                    with owner.lock:
                        owner.resets.append((now, self.requestline))
                    # Closed with no lingering: a reset, not an orderly end.
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()
                    self.close_connection = True
                    return
                with owner.lock:
                    owner.requests.append((now, self.requestline, dict(self.headers)))
                url = urlsplit(self.path)
                if url.path == "/beacon":
                    with owner.lock:
                        owner.beacons.append((now, url.query))
                    return self.reply(204, {}, b"")
                if url.path == "/quorvl/index1.html":
                    source = parse_qs(url.query, keep_blank_values=True).get("source", [""])[0]
                    html = pages.get(source, pages.get("*", "<p>no page for %s</p>" % source))
                    return self.reply(200, {"Content-Type": "text/html; charset=utf-8"}, html.encode())
                handler = (routes or {}).get(url.path)
                if handler:
                    # A handler that answers by itself returns None.
                    answer = handler(self)
                    return self.reply(*answer) if answer else None
                return self.reply(404, {"Content-Type": "text/plain"}, b"not here")

            def reply(self, status, headers, body):
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

        self.server = ThreadingHTTPServer(split_host(host), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def lines(self):
        with self.lock:
            return [line for _, line, _ in self.requests]

    def beacon_names(self):
        with self.lock:
            return [name for _, name in self.beacons]

    def reset_beacons(self):
        with self.lock:
            self.beacons.clear()

    def beacon_time(self, name):
        with self.lock:
            for t, n in self.beacons:
                if n == name:
                    return t
        return None

    def reset_times(self, path):
        """When each request for path was answered with a reset."""
        with self.lock:
            return [t for t, line in self.resets if line.startswith("GET " + path)]

    def wait_beacon(self, name, timeout=60):
        return wait_for(lambda: self.beacon_time(name), timeout, "the page's beacon " + name)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class ReportServer:
    """Records the exact bytes of each request head and answers 200."""

    def __init__(self, host):
        self.heads = []
        self.lock = threading.Lock()
        owner = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                self.request.settimeout(10)
                data = b""
                try:
                    while b"\r\n\r\n" not in data:
                        chunk = self.request.recv(4096)
                        if not chunk:
                            break
                        data += chunk
                    with owner.lock:
                        owner.heads.append(data)
                    self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                         b"Content-Length: 2\r\nConnection: close\r\n\r\n{}")
                except OSError:
                    pass

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server(split_host(host), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def count(self):
        with self.lock:
            return len(self.heads)

    def all(self):
        with self.lock:
            return list(self.heads)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# --- the shell ----------------------------------------------------------------

def stop_group(process, grace=5):
    """Ends a process started in its own session, and all it started."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        pass


def processes_with_token(token):
    """Pids of processes whose environment carries the run's token."""
    found = []
    needle = ("QUORVEL_E2E_RUN=" + token).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if needle in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def describe(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return "%d %s" % (pid, f.read().replace(b"\0", b" ").decode(errors="replace").strip())
    except OSError:
        return str(pid)


def children_of(pid):
    kids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[1]) == pid:
                kids.append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return kids


def exe_name(pid):
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid))
    except OSError:
        return ""


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=%s</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def session_bus_config(workdir):
    """A private session bus without service files: nothing is activated on
    it (no accessibility bus), so whatever runs after the shell ended is the
    shell's own."""
    path = os.path.join(workdir, "session-bus.conf")
    if not os.path.exists(path):
        with open(path, "w") as f:
            f.write(BUS_CONFIG % workdir)
    return path


class Shell:
    """One run of the shell, copied under a tagged file name, under its own
    session bus, with the given data folder."""

    def __init__(self, binary, name, display, data_home, workdir, extra_env=None, wrapper=(), inner=()):
        self.folder = tempfile.mkdtemp(prefix="bin-", dir=workdir)
        self.path = os.path.join(self.folder, name)
        shutil.copy(binary, self.path)
        self.name = name
        self.token = uuid.uuid4().hex
        env = display.env()
        env.update(XDG_DATA_HOME=data_home, XDG_CACHE_HOME=os.path.join(workdir, "cache"),
                   XDG_CONFIG_HOME=os.path.join(workdir, "config"),
                   XDG_RUNTIME_DIR=getattr(display, "runtime_dir", workdir), NO_AT_BRIDGE="1", GTK_A11Y="none",
                   QUORVEL_E2E_RUN=self.token)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        # None takes a variable out.
        for key, value in (extra_env or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        self.log_path = os.path.join(workdir, name + ".log")
        self.log = open(self.log_path, "ab")
        self.started = time.monotonic()
        self.process = subprocess.Popen(list(wrapper) + ["dbus-run-session", "--config-file",
                                                         session_bus_config(workdir), "--"] + list(inner) + [self.path], env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                        start_new_session=True)
        self.ended = None

    def pid(self, timeout=30):
        """The shell's own pid (under the bus wrapper, and whatever runs it)."""
        return wait_for(lambda: next((p for p in descendants(self.process.pid) if exe_name(p) == self.name), None),
                        timeout, "the shell process to start")

    def signal(self, signum):
        os.kill(self.pid(), signum)

    def wait_exit(self, timeout):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end within %.0f s" % (self.name, timeout))
        self.ended = time.monotonic()
        return status

    def running(self):
        return self.process.poll() is None

    def leftovers(self, timeout=30):
        """Waits until nothing started by this run is left; returns what is."""
        try:
            wait_for(lambda: not processes_with_token(self.token), timeout, "the run's processes to end")
        except Failure:
            return [describe(pid) for pid in processes_with_token(self.token)]
        return []

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def close(self):
        stop_group(self.process)
        for pid in processes_with_token(self.token):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        self.log.close()


# --- the desktop's services ---------------------------------------------------

SYSTEM_PYTHON = "/usr/bin/python3"  # the one with Debian's dbus and gi
STANDINS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "desktop_standins.py")


class DesktopStandins:
    """A notification server, a settings portal and the accessibility bus on
    one run's session bus (desktop_standins.py): inner() goes before the
    shell's command; calls() is what they were asked, order() tells them to
    act."""

    def __init__(self, workdir, name):
        self.record = os.path.join(workdir, name + ".calls")
        self.orders = os.path.join(workdir, name + ".orders")

    def inner(self, notifications=True, portal=None, a11y=False):
        options = ["--notifications"] if notifications else []
        options += ["--portal", str(portal)] if portal is not None else []
        options += ["--a11y"] if a11y else []
        return [SYSTEM_PYTHON, STANDINS, self.record, self.orders] + options + ["--"]

    def calls(self, name=None):
        try:
            with open(self.record) as f:
                found = [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []
        return [call for call in found if name is None or call["call"] == name]

    def order(self, text):
        with open(self.orders, "a") as f:
            f.write(text + "\n")

    def notified(self, summary):
        return next((call for call in self.calls("Notify") if call["summary"] == summary), None)

    def find_text(self, text):
        """The accessible object holding text, as a screen reader finds it on
        the run's accessibility bus, or None."""
        bus = next((call["bus"] for call in self.calls("started")), None)
        if not bus:
            return None
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus)
        env.pop("NO_AT_BRIDGE", None)
        try:
            found = subprocess.run([SYSTEM_PYTHON, STANDINS, "find-text", text], env=env, capture_output=True,
                                   text=True, timeout=60)
        except subprocess.TimeoutExpired:
            return None
        return found.stdout.strip() if found.returncode == 0 else None

    def close(self):
        pass


# --- sandbox ------------------------------------------------------------------

def descendants(pid):
    """Every process under pid, from one look at /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                parents.setdefault(int(f.read().rsplit(")", 1)[1].split()[1]), []).append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    found, queue = [], [pid]
    while queue:
        kids = parents.get(queue.pop(), [])
        found += kids
        queue += kids
    return found


def web_processes(shell_pid):
    """The pids of the shell's WebKit web processes."""
    return [p for p in descendants(shell_pid) if exe_name(p) == "WebKitWebProcess"]


def web_process(shell_pid):
    """The pid of the shell's (first) WebKit web process, or None."""
    return next(iter(web_processes(shell_pid)), None)


def parent_names(pid):
    """The executable names of pid's ancestors, nearest first."""
    names = []
    while pid > 1:
        try:
            with open("/proc/%d/stat" % pid) as f:
                pid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            break
        names.append(exe_name(pid))
    return names


def seen_by(pid, path):
    """Whether path exists in pid's mount namespace."""
    return os.path.exists("/proc/%d/root%s" % (pid, path))


HOST_MARK = "/.flatpak-info"


def host_mark_present():
    return os.path.lexists(HOST_MARK)


def remove_host_mark():
    """Removes what a sandbox run left on the host root: only an empty
    regular file, as bubblewrap leaves its mount point."""
    try:
        info = os.lstat(HOST_MARK)
    except FileNotFoundError:
        return
    if stat.S_ISREG(info.st_mode) and info.st_size == 0:
        os.remove(HOST_MARK)


def port_is_free(host):
    with socket.socket() as s:
        # As the servers bind: a port in TIME_WAIT is free for them.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(split_host(host))
            return True
        except OSError:
            return False
