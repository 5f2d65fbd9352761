#!/usr/bin/python3
"""A stand-in for the desktop services a program asks to keep the screen awake: the desktop
portal's Inhibit (org.freedesktop.portal.Desktop, released by closing the request object it
hands out) and the screen saver service (org.freedesktop.ScreenSaver, Inhibit and UnInhibit
by cookie). Like the real ones, it lets go of what a caller held when the caller leaves the
bus.

    awake_service.py RECORD [--own-bus] [--without portal|screensaver]...
                            [--refuse portal|screensaver]... [--end-bus-after-hold]

Every event is appended to RECORD as one line, as it happens:
    hold portal N flags=8 reason=TEXT       hold screensaver N app=NAME reason=TEXT
    release portal N                        release screensaver N
    drop portal N  (its caller left the bus holding it)
    refuse portal  (--refuse: the call was answered with an error)
    bus ended      (--end-bus-after-hold: the bus was stopped after the first hold)

--own-bus starts a bus of its own (no service is ever started on demand there) and prints
"address ADDRESS" first; otherwise it serves DBUS_SESSION_BUS_ADDRESS. "ready" follows once
the services are on the bus. SIGTERM or SIGINT ends it, and its own bus with it. It exits
with status 77 where it cannot run here (python3-dbus, python3-gi or dbus-daemon missing).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

try:
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
except ImportError as e:  # status 77: the tests that need it skip
    print(f"SKIP: {e} (scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs python3-dbus "
          "and python3-gi)", file=sys.stderr)
    sys.exit(77)

PORTAL = "org.freedesktop.portal.Desktop"
SCREENSAVER = "org.freedesktop.ScreenSaver"
REFUSAL = "org.freedesktop.DBus.Error.AccessDenied"

# A bus that starts nothing on demand: a real portal installed on the machine stays out.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class Refused(dbus.DBusException):
    _dbus_error_name = REFUSAL


class Record:
    def __init__(self, path):
        self.path = path
        self.count = 0
        self.on_hold = None

    def write(self, line):
        with open(self.path, "a") as f:
            f.write(line + "\n")

    def hold(self, kind, detail):
        self.count += 1
        self.write(f"hold {kind} {self.count} {detail}")
        if self.on_hold:
            self.on_hold()
        return self.count


class Holds:
    """What each caller holds: (kind, number) -> (caller, the thing to remove on release)."""

    def __init__(self, bus, record):
        self.bus = bus
        self.record = record
        self.held = {}
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged",
                                "org.freedesktop.DBus", "org.freedesktop.DBus",
                                "/org/freedesktop/DBus")

    def add(self, kind, number, caller, undo=None):
        self.held[(kind, number)] = (caller, undo)

    def release(self, kind, number, caller, event="release"):
        entry = self.held.get((kind, number))
        if not entry or entry[0] != caller:
            return False
        del self.held[(kind, number)]
        if entry[1]:
            entry[1]()
        self.record.write(f"{event} {kind} {number}")
        return True

    def owner_changed(self, name, old, new):
        if name.startswith(":") and old and not new:
            for kind, number in [k for k, v in self.held.items() if v[0] == name]:
                self.release(kind, number, name, "drop")


class PortalRequest(dbus.service.Object):
    def __init__(self, bus, path, holds, number, caller):
        super().__init__(bus, path)
        self.holds, self.number, self.caller = holds, number, caller

    @dbus.service.method("org.freedesktop.portal.Request", in_signature="", out_signature="",
                         sender_keyword="sender")
    def Close(self, sender=None):
        self.holds.release("portal", self.number, sender)


class Portal(dbus.service.Object):
    def __init__(self, bus, holds, refuse):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus, self.holds, self.refuse = bus, holds, refuse

    @dbus.service.method("org.freedesktop.portal.Inhibit", in_signature="sua{sv}",
                         out_signature="o", sender_keyword="sender")
    def Inhibit(self, window, flags, options, sender=None):
        if self.refuse:
            self.holds.record.write("refuse portal")
            raise Refused("inhibiting is not allowed here")
        reason = str(options.get("reason", ""))
        number = self.holds.record.hold("portal", f"flags={int(flags)} reason={reason}")
        caller = sender[1:].replace(".", "_")
        path = f"/org/freedesktop/portal/desktop/request/{caller}/t{number}"
        request = PortalRequest(self.bus, path, self.holds, number, sender)
        self.holds.add("portal", number, sender, request.remove_from_connection)
        return dbus.ObjectPath(path)


class ScreenSaver(dbus.service.Object):
    def __init__(self, bus, holds, refuse):
        super().__init__(bus, "/org/freedesktop/ScreenSaver")
        self.holds, self.refuse = holds, refuse

    @dbus.service.method(SCREENSAVER, in_signature="ss", out_signature="u",
                         sender_keyword="sender")
    def Inhibit(self, app, reason, sender=None):
        if self.refuse:
            self.holds.record.write("refuse screensaver")
            raise Refused("inhibiting is not allowed here")
        number = self.holds.record.hold("screensaver", f"app={app} reason={reason}")
        self.holds.add("screensaver", number, sender)
        return dbus.UInt32(number)

    @dbus.service.method(SCREENSAVER, in_signature="u", out_signature="",
                         sender_keyword="sender")
    def UnInhibit(self, cookie, sender=None):
        self.holds.release("screensaver", int(cookie), sender)


def start_bus(folder):
    if not shutil.which("dbus-daemon"):
        print("SKIP: dbus-daemon is not installed (scripts/setup.sh with "
              "TARROWIN_TEST_TOOLS=1)", file=sys.stderr)
        sys.exit(77)
    config = os.path.join(folder, "bus.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG)
    # Its complaint about the limit of open files, as root, says nothing about the test.
    daemon = subprocess.Popen(["dbus-daemon", f"--config-file={config}", "--nofork",
                               "--print-address=1"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    address = daemon.stdout.readline().strip()
    if not address:
        sys.exit("awake_service: the bus did not start")
    return daemon, address


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("record")
    parser.add_argument("--own-bus", action="store_true")
    parser.add_argument("--without", action="append", default=[],
                        choices=("portal", "screensaver"))
    parser.add_argument("--refuse", action="append", default=[],
                        choices=("portal", "screensaver"))
    parser.add_argument("--end-bus-after-hold", action="store_true")
    args = parser.parse_args()
    open(args.record, "a").close()

    daemon = None
    folder = tempfile.mkdtemp(prefix="tarrowin-bus.")
    if args.own_bus:
        daemon, address = start_bus(folder)
        print(f"address {address}", flush=True)
    else:
        address = os.environ["DBUS_SESSION_BUS_ADDRESS"]

    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    record = Record(args.record)
    holds = Holds(bus, record)
    names = []
    if "portal" not in args.without:
        names.append(dbus.service.BusName(PORTAL, bus))
        Portal(bus, holds, "portal" in args.refuse)
    if "screensaver" not in args.without:
        names.append(dbus.service.BusName(SCREENSAVER, bus))
        ScreenSaver(bus, holds, "screensaver" in args.refuse)

    loop = GLib.MainLoop()

    def end_bus():
        record.write("bus ended")
        names.clear()  # let go of the names while the bus still answers
        daemon.terminate()
        loop.quit()
        return False

    if args.end_bus_after_hold and daemon:
        record.on_hold = lambda: GLib.timeout_add(100, end_bus)

    def stop():
        loop.quit()
        return False

    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, stop)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, stop)
    print("ready", flush=True)
    try:
        loop.run()
    finally:
        names.clear()
        if daemon:
            daemon.terminate()
            daemon.wait()
        os.remove(os.path.join(folder, "bus.conf"))
        os.rmdir(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
