#!/usr/bin/python3
"""A stand-in for the desktop services a program asks to keep the screen awake: the portal's
Inhibit (released by closing the request object it hands out) and the screen saver service
(Inhibit, UnInhibit by cookie). Like the real ones, it drops what a caller held when the caller
leaves the bus.

    awake_service.py RECORD [--without portal|screensaver]... [--refuse portal|screensaver]...
                            [--end-bus-after-hold]

It starts a bus of its own, on which no service is ever started on demand, prints "address
ADDRESS" and then "ready" once the services are on it. Each event is appended to RECORD:
"hold portal N flags=8 reason=TEXT", "hold screensaver N app=NAME reason=TEXT", "release KIND
N", "drop KIND N" (the caller left holding it), "refuse KIND" (answered with an error), "bus
ended" (--end-bus-after-hold: the bus is stopped after the first hold). SIGTERM ends it and
its bus. Status 77: it cannot run here (python3-dbus, python3-gi or dbus-daemon missing).
"""

import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys

try:
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
except ImportError as e:
    print(f"SKIP: {e} (scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs it)", file=sys.stderr)
    sys.exit(77)

# A bus as the desktop's own, less the services it would start on demand.
BUS_CONFIG = """<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>"""


class Refused(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.AccessDenied"


class Services:
    def __init__(self, bus, record, refuse):
        self.bus, self.record, self.refuse = bus, record, refuse
        self.held = {}  # (kind, number) -> (caller, what to undo)
        self.count = 0
        self.on_hold = None
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    def write(self, line):
        with open(self.record, "a") as f:
            f.write(line + "\n")

    def hold(self, kind, caller, detail, undo=None):
        if kind in self.refuse:
            self.write(f"refuse {kind}")
            raise Refused("inhibiting is not allowed here")
        self.count += 1
        self.held[(kind, self.count)] = (caller, undo)
        self.write(f"hold {kind} {self.count} {detail}")
        if self.on_hold:
            self.on_hold()
        return self.count

    def release(self, kind, number, caller, event="release"):
        if self.held.get((kind, number), (None,))[0] == caller:
            undo = self.held.pop((kind, number))[1]
            if undo:
                undo()
            self.write(f"{event} {kind} {number}")

    def owner_changed(self, name, old, new):
        if name.startswith(":") and old and not new:
            for kind, number in [key for key, v in self.held.items() if v[0] == name]:
                self.release(kind, number, name, "drop")


class Request(dbus.service.Object):
    def __init__(self, services, path, number):
        super().__init__(services.bus, path)
        self.services, self.number = services, number

    @dbus.service.method("org.freedesktop.portal.Request", sender_keyword="sender")
    def Close(self, sender=None):
        self.services.release("portal", self.number, sender)


class Portal(dbus.service.Object):
    def __init__(self, services):
        super().__init__(services.bus, "/org/freedesktop/portal/desktop")
        self.services = services

    @dbus.service.method("org.freedesktop.portal.Inhibit", in_signature="sua{sv}",
                         out_signature="o", sender_keyword="sender")
    def Inhibit(self, window, flags, options, sender=None):
        path = f"/org/freedesktop/portal/desktop/request/{sender[1:].replace('.', '_')}" \
               f"/t{self.services.count + 1}"
        request = []
        number = self.services.hold("portal", sender, f"flags={flags} reason={options['reason']}",
                                    lambda: request[0].remove_from_connection())
        request.append(Request(self.services, path, number))
        return dbus.ObjectPath(path)


class ScreenSaver(dbus.service.Object):
    def __init__(self, services):
        super().__init__(services.bus, "/org/freedesktop/ScreenSaver")
        self.services = services

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="ss", out_signature="u",
                         sender_keyword="sender")
    def Inhibit(self, app, reason, sender=None):
        return self.services.hold("screensaver", sender, f"app={app} reason={reason}")

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="u", sender_keyword="sender")
    def UnInhibit(self, cookie, sender=None):
        self.services.release("screensaver", int(cookie), sender)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("record")
    kinds = ("portal", "screensaver")
    parser.add_argument("--without", action="append", default=[], choices=kinds)
    parser.add_argument("--refuse", action="append", default=[], choices=kinds)
    parser.add_argument("--end-bus-after-hold", action="store_true")
    args = parser.parse_args()
    open(args.record, "a").close()
    if not shutil.which("dbus-daemon"):
        print("SKIP: dbus-daemon is not installed", file=sys.stderr)
        return 77
    config = args.record + ".bus.conf"  # beside the record, in the caller's folder
    with open(config, "w") as f:
        f.write(BUS_CONFIG)
    # The bus goes with the stand-in, however that ends (PR_SET_PDEATHSIG); its complaint
    # about the limit of open files, as root, says nothing about the test.
    daemon = subprocess.Popen(["dbus-daemon", f"--config-file={config}", "--nofork",
                               "--print-address=1"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True,
                              preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        serve(args, daemon.stdout.readline().strip())
    finally:
        daemon.terminate()
        daemon.wait()
        os.remove(config)
    return 0


def serve(args, address):
    print(f"address {address}", flush=True)
    DBusGMainLoop(set_as_default=True)
    services = Services(dbus.bus.BusConnection(address), args.record, args.refuse)
    names = []
    for kind, name, serves in (("portal", "org.freedesktop.portal.Desktop", Portal),
                               ("screensaver", "org.freedesktop.ScreenSaver", ScreenSaver)):
        if kind not in args.without:
            names.append(dbus.service.BusName(name, services.bus))
            serves(services)
    loop = GLib.MainLoop()

    def end_bus():
        services.write("bus ended")
        loop.quit()

    if args.end_bus_after_hold:
        services.on_hold = lambda: GLib.timeout_add(100, end_bus)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    print("ready", flush=True)
    loop.run()
    names.clear()  # while the bus still answers

if __name__ == "__main__":
    sys.exit(main())
