"""The desktop's services as a test needs them, on the run's private session
bus, before the shell starts: a notification server and a settings portal
that record what they are asked, and the accessibility bus. Run with the
system Python, which has dbus and gi:

  desktop_standins.py RECORD ORDERS [--notifications] [--portal SCHEME] [--a11y] -- SHELL
      claims the names, runs SHELL as its child and ends with its status.
      Each call is a JSON line in RECORD; each line added to ORDERS is done:
      "invoke ID" emits ActionInvoked(ID, "default"), "scheme V" sets the
      colour scheme to V and emits SettingChanged.
  desktop_standins.py find-text TEXT
      prints the role and text of the first accessible object, in any
      application on the accessibility bus, whose text holds TEXT."""

import json
import os
import signal
import subprocess
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NOTIFICATIONS = "org.freedesktop.Notifications"
PORTAL, SETTINGS = "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Settings"
APPEARANCE = "org.freedesktop.appearance"


def recorder(path):
    def record(**entry):
        with open(path, "a") as f:
            f.write(json.dumps(entry) + "\n")
    return record


class Notifications(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.record, self.last = record, 0

    @dbus.service.method(NOTIFICATIONS, in_signature="", out_signature="as")
    def GetCapabilities(self):
        self.record(call="GetCapabilities")
        return ["actions", "body", "body-markup", "icon-static", "persistence"]

    @dbus.service.method(NOTIFICATIONS, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return "quorvel-e2e", "Quorvel", "1.0", "1.2"

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.last = int(replaces_id) or self.last + 1
        # Image data is bytes: its size says enough.
        plain = {str(k): (str(v) if isinstance(v, (dbus.String, dbus.ObjectPath)) else
                          "%d values" % len(v) if isinstance(v, dbus.Struct) else repr(v)) for k, v in hints.items()}
        self.record(call="Notify", id=self.last, app_name=str(app_name), replaces_id=int(replaces_id),
                    app_icon=str(app_icon), summary=str(summary), body=str(body), actions=[str(a) for a in actions],
                    hints=plain)
        return dbus.UInt32(self.last)

    @dbus.service.method(NOTIFICATIONS, in_signature="u", out_signature="")
    def CloseNotification(self, id):
        self.record(call="CloseNotification", id=int(id))

    @dbus.service.signal(NOTIFICATIONS, signature="us")
    def ActionInvoked(self, id, action):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus, record, scheme):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.record, self.scheme = record, scheme

    def value(self, namespace, key):
        if (namespace, key) != (APPEARANCE, "color-scheme"):
            raise dbus.exceptions.DBusException("no such setting", name="org.freedesktop.portal.Error.NotFound")
        return dbus.UInt32(self.scheme, variant_level=1)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def ReadOne(self, namespace, key):
        self.record(call="ReadOne", namespace=str(namespace), key=str(key))
        return self.value(namespace, key)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        self.record(call="Read", namespace=str(namespace), key=str(key))
        return dbus.UInt32(self.value(namespace, key), variant_level=2)

    @dbus.service.method(SETTINGS, in_signature="as", out_signature="a{sa{sv}}")
    def ReadAll(self, namespaces):
        self.record(call="ReadAll", namespaces=[str(n) for n in namespaces])
        return {APPEARANCE: {"color-scheme": dbus.UInt32(self.scheme)}}

    @dbus.service.signal(SETTINGS, signature="ssv")
    def SettingChanged(self, namespace, key, value):
        pass


def serve(args):
    record_path, orders_path = args[0], args[1]
    split = args.index("--")
    options, command = args[2:split], args[split + 1:]
    record = recorder(record_path)
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    kept, helpers = [], []
    notifications = portal = None
    if "--notifications" in options:
        notifications = Notifications(bus, record)
        kept.append(dbus.service.BusName(NOTIFICATIONS, bus, do_not_queue=True))
    if "--portal" in options:
        portal = Portal(bus, record, int(options[options.index("--portal") + 1]))
        kept.append(dbus.service.BusName(PORTAL, bus, do_not_queue=True))
    if "--a11y" in options:
        helpers.append(subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"]))
        # The shell's toolkits ask for the bus's address at start.
        deadline = GLib.get_monotonic_time() + 30 * 1000000
        while not bus.name_has_owner("org.a11y.Bus") and GLib.get_monotonic_time() < deadline:
            GLib.usleep(50000)
    record(call="started", bus=os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""))

    loop = GLib.MainLoop()
    shell = subprocess.Popen(command)
    status = {}

    def ended(pid, code):
        status["code"] = code
        loop.quit()
    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, shell.pid, ended)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, signum, lambda s=signum: shell.send_signal(s) or True)

    done = [0]

    def take_orders():
        try:
            with open(orders_path) as f:
                f.seek(done[0])
                lines = f.read()
        except FileNotFoundError:
            return True
        whole = lines[:lines.rfind("\n") + 1]
        done[0] += len(whole)
        for order in whole.splitlines():
            verb, value = order.split()
            if verb == "invoke" and notifications:
                notifications.ActionInvoked(dbus.UInt32(int(value)), "default")
            elif verb == "scheme" and portal:
                portal.scheme = int(value)
                portal.SettingChanged(APPEARANCE, "color-scheme", dbus.UInt32(portal.scheme, variant_level=1))
            record(call="order", order=order)
        return True
    GLib.timeout_add(50, take_orders)
    loop.run()
    for helper in helpers:
        helper.terminate()
        helper.wait(10)
    code = status["code"]
    if os.WIFSIGNALED(code):
        signal.signal(os.WTERMSIG(code), signal.SIG_DFL)
        os.kill(os.getpid(), os.WTERMSIG(code))
    return os.WEXITSTATUS(code)


def find_text(text):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    seen = [0]

    def walk(node, depth):
        seen[0] += 1
        if node is None or depth > 40 or seen[0] > 20000:
            return None
        try:
            said = node.get_name() or ""
            content = node.get_text_iface()
            if content is not None:
                said += " " + Atspi.Text.get_text(content, 0, Atspi.Text.get_character_count(content))
            if text in said:
                return "%s: %s" % (node.get_role_name(), said.strip())
            for i in range(node.get_child_count()):
                found = walk(node.get_child_at_index(i), depth + 1)
                if found:
                    return found
        except GLib.Error:
            pass
        return None
    found = walk(Atspi.get_desktop(0), 0)
    print(found or "")
    return 0 if found else 1


if __name__ == "__main__":
    if sys.argv[1] == "find-text":
        sys.exit(find_text(sys.argv[2]))
    sys.exit(serve(sys.argv[1:]))
