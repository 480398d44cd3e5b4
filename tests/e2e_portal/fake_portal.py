#!/usr/bin/python3
"""A stand-in for the desktop portal service, for the end-to-end tests.

It owns org.freedesktop.portal.Desktop on the session bus that
DBUS_SESSION_BUS_ADDRESS names and serves, at /org/freedesktop/portal/desktop,
the three interfaces the program uses on GNOME and KDE, each at the version
chosen on the command line (0 leaves it out):

- GlobalShortcuts: the bound shortcuts become key bindings of the headless
  sway the tests run on (swaymsg bindsym), whose command makes this service
  emit Activated, as a desktop does when the user presses the shortcut.
- RemoteDesktop: Start "asks for consent" unless a restore token it issued
  earlier comes with SelectDevices (tokens live in --token-store, so they
  survive restarts of the program and of this service; each is good once).
  Keyboard notifications are typed into the focused window through a virtual
  keyboard of its own with an ordinary keymap (e2e-wlkeys --stream).
- Clipboard: bridged to the real clipboard with wl-clipboard (data control,
  which works without the focus): reads pipe `wl-paste`, a selection the
  session sets is fetched from it (SelectionTransfer) when somebody wants it
  (the next key notification, which may be a paste, or a read; else after
  3 s) and handed to `wl-copy`, and changes of the real clipboard become
  SelectionOwnerChanged. Key notifications wait while a fetch runs, as a
  paste on a real desktop waits for the owner's data. A session's selection
  goes with the session.

Every method call with its arguments, every signal and every consent
decision goes to --log as JSON lines. A control object for the tests,
/org/morvantile/PortalTest (org.morvantile.PortalTest), emits Activated and
Deactivated (what the sway bindings call as a shortcut is pressed and let
go of), ShortcutsChanged and a portal-side close of a session. Prints
"ready" once the name is owned.

    fake_portal.py --keys e2e-wlkeys --log FILE --token-store FILE
        [--globalshortcuts N] [--remotedesktop N] [--clipboard N]
        [--refuse-consent] [--refuse-shortcut ID]... [--consent-delay S]
        [--device-types MASK]
"""

import argparse
import json
import os
import re
import select
import subprocess
import sys
import tempfile
import time
import uuid

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
CLIPBOARD = "org.freedesktop.portal.Clipboard"
PROPERTIES = "org.freedesktop.DBus.Properties"
CONTROL = "org.morvantile.PortalTest"
CONTROL_PATH = "/org/morvantile/PortalTest"

KEYBOARD, POINTER, TOUCHSCREEN = 1, 2, 4
AVAILABLE_DEVICES = KEYBOARD | POINTER | TOUCHSCREEN  # --device-types may offer fewer
# How long key notifications wait for a selection the session set, once
# asked for; and when it is asked for if nobody wants it before.
TRANSFER_WAIT = 2.0
LAZY_WAIT = 3.0
TEXT_TYPES = ("text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT")

ARGS = None
LOG = None
bus = None
portal = None


class Error(dbus.DBusException):
    """A portal error reply."""

    def __init__(self, what, name="org.freedesktop.portal.Error.Failed"):
        super().__init__(what, name=name)


def not_allowed(what):
    return Error(what, "org.freedesktop.portal.Error.NotAllowed")


def invalid(what):
    return Error(what, "org.freedesktop.portal.Error.InvalidArgument")


# ---------------------------------------------------------------- the log

def plain(value):
    """D-Bus values as JSON ones."""
    if isinstance(value, dbus.types.UnixFd):
        return "<fd>"
    if isinstance(value, (dbus.Boolean, bool)):
        return bool(value)
    if isinstance(value, (dbus.Byte, dbus.Int16, dbus.Int32, dbus.Int64, dbus.UInt16, dbus.UInt32, dbus.UInt64,
                          int)):
        return int(value)
    if isinstance(value, (dbus.Double, float)):
        return float(value)
    if isinstance(value, (dbus.ByteArray, bytes)):
        return bytes(value).decode("utf-8", errors="replace")
    if isinstance(value, (dbus.String, dbus.ObjectPath, dbus.Signature, str)):
        return str(value)
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return repr(value)


def log(kind, **fields):
    entry = {"time": round(time.time(), 3), "kind": kind, **{k: plain(v) for k, v in fields.items()}}
    LOG.write(json.dumps(entry, ensure_ascii=False) + "\n")
    LOG.flush()


def logged_call(interface, method, sender, *args):
    log("call", interface=interface, method=method, sender=sender, args=list(args))


def emit(emitter, interface, name, path, *args):
    """Emits a signal and logs it."""
    log("signal", interface=interface, signal=name, path=path, args=list(args))
    emitter(*args)


def later(seconds, fn, *args):
    def once():
        fn(*args)
        return False
    GLib.timeout_add(max(1, int(seconds * 1000)), once)


# ---------------------------------------------------------------- requests and sessions

def sender_part(sender):
    return sender.lstrip(":").replace(".", "_")


TOKEN_RE = re.compile(r"^[A-Za-z0-9_]+$")
counter = [0]


def token_of(options, key, sender):
    token = str(options.get(key, ""))
    if not token:
        counter[0] += 1
        return f"portal{counter[0]}"
    if not TOKEN_RE.match(token):
        raise invalid(f"{key} {token!r} is not an object path element")
    return token


class Request(dbus.service.Object):
    """One call's request object, answered by Response a moment after the
    call returns (clients subscribe before calling)."""

    live = {}

    def __init__(self, sender, options):
        self.path = f"{PATH}/request/{sender_part(sender)}/{token_of(options, 'handle_token', sender)}"
        if self.path in Request.live:
            raise invalid(f"the request {self.path} exists already")
        super().__init__(bus, self.path)
        Request.live[self.path] = self
        self.closed = False

    def answer(self, response, results, delay=0.01):
        def send():
            if self.closed:
                return
            self.closed = True
            emit(self.Response, REQUEST, "Response", self.path, dbus.UInt32(response),
                 dbus.Dictionary(results, signature="sv"))
            Request.live.pop(self.path, None)
            self.remove_from_connection()
        later(delay, send)
        return dbus.ObjectPath(self.path)

    @dbus.service.method(REQUEST, in_signature="", out_signature="", sender_keyword="sender")
    def Close(self, sender=None):
        logged_call(REQUEST, "Close", sender, self.path)
        if not self.closed:
            self.closed = True
            Request.live.pop(self.path, None)
            self.remove_from_connection()

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    """A session of one interface, made by one client."""

    live = {}

    def __init__(self, kind, sender, options):
        self.path = f"{PATH}/session/{sender_part(sender)}/{token_of(options, 'session_handle_token', sender)}"
        if self.path in Session.live:
            raise invalid(f"the session {self.path} exists already")
        super().__init__(bus, self.path)
        Session.live[self.path] = self
        self.kind = kind
        self.sender = sender
        self.open = True
        # GlobalShortcuts
        self.bound = None  # [(id, {description, trigger_description})] once bound
        self.bindings = []  # the sway key combinations it holds
        # RemoteDesktop
        self.selected = None  # the options of SelectDevices
        self.clipboard_requested = False
        self.started = False
        self.starting = False
        self.devices = 0
        self.clipboard_enabled = False

    def close(self, notify):
        if not self.open:
            return
        self.open = False
        Session.live.pop(self.path, None)
        portal.session_closed(self)
        if notify:
            emit(self.Closed, SESSION, "Closed", self.path, dbus.Dictionary({}, signature="sv"))
        self.remove_from_connection()

    @dbus.service.method(SESSION, in_signature="", out_signature="", sender_keyword="sender")
    def Close(self, sender=None):
        logged_call(SESSION, "Close", sender, self.path)
        if sender != self.sender:
            raise not_allowed("the session is another client's")
        self.close(notify=False)

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v", sender_keyword="sender")
    def Get(self, interface, name, sender=None):
        logged_call(PROPERTIES, "Get", sender, self.path, interface, name)
        if interface == SESSION and name == "version":
            return dbus.UInt32(1)
        raise Error(f"no property {interface}.{name}", "org.freedesktop.DBus.Error.UnknownProperty")

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}", sender_keyword="sender")
    def GetAll(self, interface, sender=None):
        logged_call(PROPERTIES, "GetAll", sender, self.path, interface)
        return dbus.Dictionary({"version": dbus.UInt32(1)} if interface == SESSION else {}, signature="sv")


def session_of(handle, sender, kind):
    session = Session.live.get(str(handle))
    if session is None:
        raise invalid(f"no session {handle}")
    if session.sender != sender:
        raise not_allowed(f"the session {handle} is another client's")
    if session.kind != kind:
        raise invalid(f"the session {handle} is not a {kind} session")
    return session


# ---------------------------------------------------------------- the desktop's side

class Keyboard:
    """The virtual keyboard (e2e-wlkeys --stream): one key event a line."""

    def __init__(self):
        self.proc = None

    def send(self, line):
        if self.proc is None or self.proc.poll() is not None:
            self.proc = subprocess.Popen([ARGS.keys, "--stream"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True, bufsize=1)
        try:
            self.proc.stdin.write(line + "\n")
            self.proc.stdin.flush()
            ready, _, _ = select.select([self.proc.stdout], [], [], 5)
            answer = self.proc.stdout.readline().strip() if ready else "error no answer from the keyboard"
        except OSError as e:
            answer = f"error the keyboard: {e}"
        if not answer:
            answer = "error the keyboard ended: " + (self.proc.stderr.read() if self.proc.poll() is not None else "")
        return answer

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(3)
            except subprocess.TimeoutExpired:
                self.proc.kill()


def sway_trigger(trigger):
    """A trigger as the shortcuts format writes it ("CTRL+SHIFT+F12") as
    sway's key combination ("Ctrl+Shift+F12"); None when it is not one."""
    modifiers = {"CTRL": "Ctrl", "CONTROL": "Ctrl", "SHIFT": "Shift", "ALT": "Alt", "LOGO": "Mod4",
                 "SUPER": "Mod4", "NUM": "Mod2"}
    parts = trigger.split("+")
    if len(parts) > 1 and parts[-1] == "":
        parts = parts[:-2] + ["plus"]  # "CTRL+SHIFT++"
    if not parts or not parts[-1]:
        return None
    names = []
    for word in parts[:-1]:
        if word.upper() not in modifiers:
            return None
        names.append(modifiers[word.upper()])
    key = parts[-1]
    if not re.match(r"^[A-Za-z0-9_]+$", key):
        return None
    if len(key) == 1:
        key = key.lower()  # the key, found by its unshifted keysym
    return "+".join(names + [key])


def swaymsg(*words):
    result = subprocess.run(["swaymsg", "--", *words], capture_output=True, text=True, timeout=10)
    ok = result.returncode == 0
    log("sway", command=" ".join(words), ok=ok, output=(result.stdout + result.stderr).strip()[-400:])
    return ok


class TokenStore:
    """Restore tokens: in the file for persist_mode 2, in memory for 1."""

    def __init__(self, path):
        self.path = path
        self.running = {}  # token -> the client it is good for

    def _load(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return []

    def _save(self, tokens):
        with open(self.path + ".new", "w", encoding="utf-8") as f:
            json.dump(tokens, f)
        os.replace(self.path + ".new", self.path)

    def take(self, token, sender):
        """Whether the token is one of ours; it is good once."""
        if not token:
            return False
        if self.running.get(token) == sender:
            del self.running[token]
            return True
        tokens = self._load()
        if token in tokens:
            tokens.remove(token)
            self._save(tokens)
            return True
        return False

    def issue(self, persist_mode, sender):
        token = str(uuid.uuid4())
        if persist_mode == 2:
            self._save(self._load() + [token])
        else:
            self.running[token] = sender
        return token

    def forget(self, sender):
        self.running = {t: s for t, s in self.running.items() if s != sender}


class RealClipboard:
    """The compositor's clipboard, through wl-clipboard."""

    def __init__(self, changed):
        self.changed = changed
        self.children = []
        self.watch = subprocess.Popen(
            ["wl-paste", "--watch", "sh", "-c", 'cat >/dev/null; echo "change ${CLIPBOARD_STATE:-data}"'],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        GLib.io_add_watch(self.watch.stdout.fileno(), GLib.IO_IN | GLib.IO_HUP, self._on_watch)

    def _on_watch(self, fd, condition):
        line = self.watch.stdout.readline() if condition & GLib.IO_IN else b""
        if not line:
            log("error", what="the clipboard watch ended")
            return False
        self.changed(line.decode().split()[-1] if line.split() else "data")
        return True

    @staticmethod
    def types():
        result = subprocess.run(["wl-paste", "--list-types"], capture_output=True, text=True, timeout=5)
        return result.stdout.split("\n")[:-1] if result.returncode == 0 else []

    def reap(self):
        self.children = [c for c in self.children if c.poll() is None]

    def read(self, mime, into):
        """The clipboard's data of the type, written into a file descriptor
        (by a process of its own)."""
        self.reap()
        self.children.append(subprocess.Popen(["wl-paste", "--no-newline", "--type", mime], stdout=into,
                                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL))

    def write(self, mime, data):
        self.reap()
        if mime is None:
            command = ["wl-copy", "--clear"]
        else:
            command = ["wl-copy", "--type", mime]
        # wl-copy serves the data from a process of its own: no waiting for it.
        subprocess.run(command, input=data or b"", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=10)

    def stop(self):
        if self.watch.poll() is None:
            self.watch.kill()
            self.watch.wait()
        for c in self.children:
            if c.poll() is None:
                c.kill()


# ---------------------------------------------------------------- the portal object

def offered(version):
    return version > 0


# GlobalShortcuts and RemoteDesktop both have a CreateSession: a Python class
# holds one method of a name, so each lives in a class of its own, and
# dbus-python finds the one of the interface the caller named.
class ShortcutsCreate(dbus.service.Object):
    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        return self._create(SHORTCUTS, options, sender)


class RemoteCreate(dbus.service.Object):
    @dbus.service.method(REMOTE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        return self._create(REMOTE, options, sender)


class Portal(ShortcutsCreate, RemoteCreate):
    """/org/freedesktop/portal/desktop. Methods of an interface left out
    answer as unknown ones and are missing from the introspection."""

    def __init__(self):
        super().__init__(bus, PATH)
        self.versions = {SHORTCUTS: ARGS.globalshortcuts, REMOTE: ARGS.remotedesktop, CLIPBOARD: ARGS.clipboard}
        self.tokens = TokenStore(ARGS.token_store)
        self.keyboard = Keyboard()
        self.keys = []  # key notifications not yet typed: (line, what)
        self.keys_running = False
        self.transfer = None  # the selection being fetched from a session
        self.serial = 0
        self.bindings = {}  # sway combination -> the session holding it
        self.clipboard = RealClipboard(self.clipboard_changed) if offered(ARGS.clipboard) else None
        self.own_changes = 0  # clipboard changes of our own wl-copy still to come
        self.selection_owner = None  # the session whose selection the clipboard holds
        self.state_dir = tempfile.mkdtemp(prefix="fake-portal-", dir=os.environ.get("XDG_RUNTIME_DIR"))
        self.activate_script = os.path.join(self.state_dir, "activate")
        with open(self.activate_script, "w") as f:
            address = os.environ["DBUS_SESSION_BUS_ADDRESS"].replace("'", "")
            send = f"exec dbus-send --bus='{address}' --type=method_call --dest={BUS_NAME} {CONTROL_PATH}"
            f.write("#!/bin/sh\n# What a shortcut of the portal's runs as it is pressed and let go:\n"
                    "#   activate SESSION ID press|release\n"
                    f'[ "$3" = release ] && {send} {CONTROL}.Deactivate objpath:"$1" string:"$2"\n'
                    f'{send} {CONTROL}.Activate objpath:"$1" string:"$2" string:"${{XDG_ACTIVATION_TOKEN:-}}"\n')
        os.chmod(self.activate_script, 0o755)
        bus.add_signal_receiver(self.name_owner_changed, "NameOwnerChanged", "org.freedesktop.DBus",
                                "org.freedesktop.DBus", "/org/freedesktop/DBus")

    def require(self, interface, minimum=1):
        if self.versions[interface] < minimum:
            raise Error(f"no method of {interface} here", "org.freedesktop.DBus.Error.UnknownMethod")

    # -- introspection and properties

    def properties(self, interface):
        if interface not in self.versions or not offered(self.versions[interface]):
            raise Error(f"no interface {interface}", "org.freedesktop.DBus.Error.UnknownInterface")
        found = {"version": dbus.UInt32(self.versions[interface])}
        if interface == REMOTE:
            found["AvailableDeviceTypes"] = dbus.UInt32(AVAILABLE_DEVICES)
        return found

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v", sender_keyword="sender")
    def Get(self, interface, name, sender=None):
        logged_call(PROPERTIES, "Get", sender, interface, name)
        found = self.properties(interface)
        if name not in found:
            raise Error(f"no property {interface}.{name}", "org.freedesktop.DBus.Error.UnknownProperty")
        return found[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}", sender_keyword="sender")
    def GetAll(self, interface, sender=None):
        logged_call(PROPERTIES, "GetAll", sender, interface)
        return dbus.Dictionary(self.properties(interface), signature="sv")

    @dbus.service.method(PROPERTIES, in_signature="ssv", out_signature="", sender_keyword="sender")
    def Set(self, interface, name, value, sender=None):
        logged_call(PROPERTIES, "Set", sender, interface, name, value)
        self.properties(interface)
        raise Error(f"{interface}.{name} is read-only", "org.freedesktop.DBus.Error.PropertyReadOnly")

    @dbus.service.method("org.freedesktop.DBus.Introspectable", in_signature="", out_signature="s",
                         path_keyword="object_path", connection_keyword="connection", sender_keyword="sender")
    def Introspect(self, object_path, connection, sender=None):
        logged_call("org.freedesktop.DBus.Introspectable", "Introspect", sender)
        xml = dbus.service.Object.Introspect(self, object_path, connection)
        # The interfaces left out go; the others get their properties.
        for interface, version in self.versions.items():
            block = re.compile(r'  <interface name="%s">.*?  </interface>\n' % re.escape(interface), re.S)
            if not offered(version):
                xml = block.sub("", xml)
                continue
            props = '    <property name="version" type="u" access="read"/>\n'
            if interface == REMOTE:
                props += '    <property name="AvailableDeviceTypes" type="u" access="read"/>\n'
            xml = block.sub(lambda m: m.group(0).replace("  </interface>\n", props + "  </interface>\n"), xml)
            if interface == SHORTCUTS and version < 2:
                xml = re.sub(r'    <method name="ConfigureShortcuts">.*?    </method>\n', "", xml, flags=re.S)
        return xml

    # -- GlobalShortcuts

    def _create(self, interface, options, sender):
        self.require(interface)
        logged_call(interface, "CreateSession", sender, options)
        session = Session(interface, sender, options)
        try:
            request = Request(sender, options)
        except dbus.DBusException:
            session.close(notify=False)
            raise
        return request.answer(0, {"session_handle": dbus.String(session.path)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None):
        self.require(SHORTCUTS)
        logged_call(SHORTCUTS, "BindShortcuts", sender, session_handle, shortcuts, parent_window, options)
        session = session_of(session_handle, sender, SHORTCUTS)
        if session.bound is not None:
            raise Error("the shortcuts of this session are bound already")
        request = Request(sender, options)
        bound = []
        for shortcut_id, details in shortcuts:
            shortcut_id = str(shortcut_id)
            if shortcut_id in ARGS.refuse_shortcut:
                log("shortcut", id=shortcut_id, bound=False, why="refused by the user")
                continue
            trigger = str(details.get("preferred_trigger", ""))
            combination = sway_trigger(trigger) if trigger else None
            if trigger and combination is None:
                log("error", what=f"the trigger {trigger!r} of {shortcut_id!r} is not in the shortcuts format")
            if combination is not None and combination.lower() in self.bindings:
                log("shortcut", id=shortcut_id, bound=False, why=f"{trigger} is another session's")
                continue
            description = trigger if combination is not None else ""
            if combination is not None:
                # One binding for the press (Activated), one for letting go
                # of the key (Deactivated).
                command = f"{self.activate_script} {session.path} {shortcut_id}"
                if not re.match(r"^[A-Za-z0-9_./-]+$", shortcut_id) or not (
                        swaymsg("bindsym", combination, "exec", command, "press")
                        and swaymsg("bindsym", "--release", combination, "exec", command, "release")):
                    log("shortcut", id=shortcut_id, bound=False, why="sway took no binding")
                    swaymsg("unbindsym", combination)
                    continue
                self.bindings[combination.lower()] = session
                session.bindings.append(combination)
            log("shortcut", id=shortcut_id, bound=True, trigger=trigger, sway=combination)
            bound.append(dbus.Struct((dbus.String(shortcut_id), dbus.Dictionary({
                "description": dbus.String(details.get("description", "")),
                "trigger_description": dbus.String(description)}, signature="sv")), signature="sa{sv}"))
        session.bound = bound
        return request.answer(0, {"shortcuts": dbus.Array(bound, signature="(sa{sv})")}, delay=0.05)

    @dbus.service.method(SHORTCUTS, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def ListShortcuts(self, session_handle, options, sender=None):
        self.require(SHORTCUTS)
        logged_call(SHORTCUTS, "ListShortcuts", sender, session_handle, options)
        session = session_of(session_handle, sender, SHORTCUTS)
        request = Request(sender, options)
        return request.answer(0, {"shortcuts": dbus.Array(session.bound or [], signature="(sa{sv})")})

    @dbus.service.method(SHORTCUTS, in_signature="osa{sv}", out_signature="", sender_keyword="sender")
    def ConfigureShortcuts(self, session_handle, parent_window, options, sender=None):
        self.require(SHORTCUTS, 2)
        logged_call(SHORTCUTS, "ConfigureShortcuts", sender, session_handle, parent_window, options)
        session_of(session_handle, sender, SHORTCUTS)

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session_handle, shortcuts):
        pass

    # -- RemoteDesktop

    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectDevices(self, session_handle, options, sender=None):
        self.require(REMOTE)
        logged_call(REMOTE, "SelectDevices", sender, session_handle, options)
        session = session_of(session_handle, sender, REMOTE)
        if session.started or session.starting:
            raise Error("the session has started")
        types = int(options.get("types", AVAILABLE_DEVICES))
        if types & ~AVAILABLE_DEVICES:
            raise invalid(f"unknown device types {types}")
        session.selected = {"types": types}
        if self.versions[REMOTE] >= 2:
            session.selected["persist_mode"] = int(options.get("persist_mode", 0))
            session.selected["restore_token"] = str(options.get("restore_token", ""))
            if session.selected["persist_mode"] not in (0, 1, 2):
                raise invalid(f"persist_mode {session.selected['persist_mode']}")
        request = Request(sender, options)
        return request.answer(0, {})

    @dbus.service.method(REMOTE, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session_handle, parent_window, options, sender=None):
        self.require(REMOTE)
        logged_call(REMOTE, "Start", sender, session_handle, parent_window, options)
        session = session_of(session_handle, sender, REMOTE)
        if session.started or session.starting:
            raise Error("the session has started already")
        request = Request(sender, options)
        selected = session.selected or {"types": AVAILABLE_DEVICES}
        restored = self.tokens.take(selected.get("restore_token", ""), sender)
        log("consent", session=session.path, asked=not restored, restored=restored,
            token=selected.get("restore_token", ""), refused=not restored and ARGS.refuse_consent)
        if not restored and ARGS.refuse_consent:
            session.close(notify=False)
            return request.answer(1, {}, delay=ARGS.consent_delay)
        session.starting = True

        def started():
            session.starting = False
            if not session.open or request.closed:
                return
            session.started = True
            session.devices = selected["types"] & AVAILABLE_DEVICES
            session.clipboard_enabled = session.clipboard_requested
        later(ARGS.consent_delay if not restored else 0.005, started)
        results = {"devices": dbus.UInt32(selected["types"] & AVAILABLE_DEVICES)}
        if self.versions[REMOTE] >= 2:
            results["clipboard_enabled"] = dbus.Boolean(session.clipboard_requested)
            if selected.get("persist_mode", 0) in (1, 2):
                results["restore_token"] = dbus.String(self.tokens.issue(selected["persist_mode"], sender))
        return request.answer(0, results, delay=(ARGS.consent_delay if not restored else 0.005) + 0.005)

    def keyboard_session(self, session_handle, sender):
        session = session_of(session_handle, sender, REMOTE)
        if not session.started:
            raise not_allowed("the session has not started")
        if not session.devices & KEYBOARD:
            raise not_allowed("the session has no keyboard")
        return session

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu", out_signature="", sender_keyword="sender")
    def NotifyKeyboardKeysym(self, session_handle, options, keysym, state, sender=None):
        self.require(REMOTE)
        logged_call(REMOTE, "NotifyKeyboardKeysym", sender, session_handle, options, keysym, state)
        self.keyboard_session(session_handle, sender)
        if state not in (0, 1):
            raise invalid(f"key state {state}")
        self.type_key(f"keysym {int(keysym):#x} {int(state)}")

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu", out_signature="", sender_keyword="sender")
    def NotifyKeyboardKeycode(self, session_handle, options, keycode, state, sender=None):
        self.require(REMOTE)
        logged_call(REMOTE, "NotifyKeyboardKeycode", sender, session_handle, options, keycode, state)
        self.keyboard_session(session_handle, sender)
        if state not in (0, 1):
            raise invalid(f"key state {state}")
        self.type_key(f"keycode {int(keycode)} {int(state)}")

    def pointer(self, method, session_handle, sender, *args):
        self.require(REMOTE)
        logged_call(REMOTE, method, sender, session_handle, *args)
        session = session_of(session_handle, sender, REMOTE)
        if not session.started or not session.devices & POINTER:
            raise not_allowed("the session has no pointer")
        raise Error("this desktop moves no pointer for tests")

    @dbus.service.method(REMOTE, in_signature="oa{sv}dd", out_signature="", sender_keyword="sender")
    def NotifyPointerMotion(self, session_handle, options, dx, dy, sender=None):
        self.pointer("NotifyPointerMotion", session_handle, sender, options, dx, dy)

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu", out_signature="", sender_keyword="sender")
    def NotifyPointerButton(self, session_handle, options, button, state, sender=None):
        self.pointer("NotifyPointerButton", session_handle, sender, options, button, state)

    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="h", sender_keyword="sender")
    def ConnectToEIS(self, session_handle, options, sender=None):
        self.require(REMOTE, 2)
        logged_call(REMOTE, "ConnectToEIS", sender, session_handle, options)
        raise Error("no EIS on this desktop")

    def type_key(self, line):
        """Keys are typed in order; they wait while a selection the session
        set is being fetched (on a real desktop a paste waits for it)."""
        self.keys.append(line)
        if not self.keys_running:
            self.keys_running = True
            GLib.idle_add(self.type_keys)

    def type_keys(self):
        while self.keys:
            if self.transfer is not None:
                self.ask(self.transfer)
            if self.transfer is not None and time.monotonic() < self.transfer["deadline"]:
                GLib.timeout_add(20, self.type_keys)
                return False
            if self.transfer is not None:
                log("error", what="the session did not hand over its selection in time", serial=self.transfer["serial"])
                self.finish_transfer(False)
            line = self.keys.pop(0)
            answer = self.keyboard.send(line)
            if answer != "ok":
                log("error", what=f"typing {line!r}: {answer}")
        self.keys_running = False
        return False

    # -- Clipboard

    def clipboard_session(self, session_handle, sender):
        self.require(CLIPBOARD)
        session = session_of(session_handle, sender, REMOTE)
        if not session.started or not session.clipboard_enabled:
            raise not_allowed("the session has no clipboard access")
        return session

    @dbus.service.method(CLIPBOARD, in_signature="oa{sv}", out_signature="", sender_keyword="sender")
    def RequestClipboard(self, session_handle, options, sender=None):
        self.require(CLIPBOARD)
        logged_call(CLIPBOARD, "RequestClipboard", sender, session_handle, options)
        session = session_of(session_handle, sender, REMOTE)
        if session.started or session.starting:
            raise Error("the session has started")
        session.clipboard_requested = True

    @dbus.service.method(CLIPBOARD, in_signature="oa{sv}", out_signature="", sender_keyword="sender")
    def SetSelection(self, session_handle, options, sender=None):
        logged_call(CLIPBOARD, "SetSelection", sender, session_handle, options)
        session = self.clipboard_session(session_handle, sender)
        types = [str(t) for t in options.get("mime_types", [])]
        if self.transfer is not None:
            self.finish_transfer(False)
        self.selection_owner = session
        emit_owner = lambda: self.owner_changed(types, owner=session)  # noqa: E731
        later(0.005, emit_owner)
        if not types:
            self.own_changes += 1
            later(0.01, self.clipboard.write, None, None)
            return
        mime = next((t for t in TEXT_TYPES if t in types), types[0])
        self.serial += 1
        transfer = {"session": session, "mime": mime, "serial": self.serial, "data": b"", "fd": None, "eof": False,
                    "done": None, "deadline": None, "then": []}
        self.transfer = transfer
        # The data is asked for when somebody wants it: at the next key
        # (a paste), a read, or else after a while.
        later(LAZY_WAIT, lambda: self.transfer is transfer and self.ask(transfer))

    def ask(self, transfer):
        """Asks the owning session for its selection (once)."""
        if transfer["deadline"] is not None:
            return
        transfer["deadline"] = time.monotonic() + TRANSFER_WAIT
        session = transfer["session"]
        if session.open:
            emit(self.SelectionTransfer, CLIPBOARD, "SelectionTransfer", PATH, dbus.ObjectPath(session.path),
                 dbus.String(transfer["mime"]), dbus.UInt32(transfer["serial"]))

    @dbus.service.method(CLIPBOARD, in_signature="ou", out_signature="h", sender_keyword="sender")
    def SelectionWrite(self, session_handle, serial, sender=None):
        logged_call(CLIPBOARD, "SelectionWrite", sender, session_handle, serial)
        session = self.clipboard_session(session_handle, sender)
        transfer = self.transfer
        if transfer is None or transfer["serial"] != serial or transfer["session"] is not session:
            raise invalid(f"no transfer {serial} is waiting")
        if transfer["fd"] is not None:
            raise invalid(f"the transfer {serial} has its file already")
        readable, writable = os.pipe()
        transfer["fd"] = readable
        GLib.io_add_watch(readable, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, self.transfer_data, transfer)
        handed = dbus.types.UnixFd(writable)  # a copy of it goes to the caller
        os.close(writable)
        return handed

    def transfer_data(self, fd, condition, transfer):
        chunk = os.read(fd, 65536) if condition & (GLib.IO_IN | GLib.IO_HUP) else b""
        if chunk:
            transfer["data"] += chunk
            return True
        os.close(fd)
        transfer["eof"] = True
        if transfer["done"] is not None and self.transfer is transfer:
            self.finish_transfer(transfer["done"])
        return False

    @dbus.service.method(CLIPBOARD, in_signature="oub", out_signature="", sender_keyword="sender")
    def SelectionWriteDone(self, session_handle, serial, success, sender=None):
        logged_call(CLIPBOARD, "SelectionWriteDone", sender, session_handle, serial, success)
        session = self.clipboard_session(session_handle, sender)
        transfer = self.transfer
        if transfer is None or transfer["serial"] != serial or transfer["session"] is not session:
            raise invalid(f"no transfer {serial} is waiting")
        transfer["done"] = bool(success)
        if transfer["eof"] or not success or transfer["fd"] is None:
            self.finish_transfer(bool(success) and transfer["fd"] is not None)

    def finish_transfer(self, success):
        transfer, self.transfer = self.transfer, None
        if transfer is None:
            return
        log("transfer", serial=transfer["serial"], mime=transfer["mime"], success=success,
            size=len(transfer["data"]))
        if success:
            self.own_changes += 1
            self.clipboard.write(transfer["mime"], transfer["data"])
        for then in transfer["then"]:
            then()
        if self.keys and not self.keys_running:
            self.keys_running = True
            GLib.idle_add(self.type_keys)

    @dbus.service.method(CLIPBOARD, in_signature="os", out_signature="h", sender_keyword="sender")
    def SelectionRead(self, session_handle, mime_type, sender=None):
        logged_call(CLIPBOARD, "SelectionRead", sender, session_handle, mime_type)
        self.clipboard_session(session_handle, sender)
        transfer = self.transfer
        if transfer is not None:
            # The selection a session set, not fetched yet: read once it is.
            readable, writable = os.pipe()
            self.ask(transfer)

            def read():
                self.clipboard.read(str(mime_type), writable)
                os.close(writable)
            transfer["then"].append(read)
        else:
            types = self.clipboard.types()
            if str(mime_type) not in types:
                raise invalid(f"the clipboard has no {mime_type} (it has {types})")
            readable, writable = os.pipe()
            self.clipboard.read(str(mime_type), writable)
            os.close(writable)
        handed = dbus.types.UnixFd(readable)
        os.close(readable)
        return handed

    @dbus.service.signal(CLIPBOARD, signature="oa{sv}")
    def SelectionOwnerChanged(self, session_handle, options):
        pass

    @dbus.service.signal(CLIPBOARD, signature="osu")
    def SelectionTransfer(self, session_handle, mime_type, serial):
        pass

    def clipboard_changed(self, state):
        if self.own_changes > 0:
            self.own_changes -= 1  # our own wl-copy of a session's selection
            return
        self.selection_owner = None
        types = self.clipboard.types() if state != "nil" else []
        self.owner_changed(types, owner=None)

    def owner_changed(self, types, owner):
        for session in list(Session.live.values()):
            if session.kind == REMOTE and session.started and session.clipboard_enabled:
                emit(self.SelectionOwnerChanged, CLIPBOARD, "SelectionOwnerChanged", PATH,
                     dbus.ObjectPath(session.path), dbus.Dictionary({
                         "mime_types": dbus.Array(types, signature="s"),
                         "session_is_owner": dbus.Boolean(session is owner)}, signature="sv"))

    # -- sessions ending

    def session_closed(self, session):
        log("closed", session=session.path)
        for combination in session.bindings:
            if self.bindings.get(combination.lower()) is session:
                del self.bindings[combination.lower()]
                swaymsg("unbindsym", combination)
                swaymsg("unbindsym", "--release", combination)
        session.bindings = []
        if self.transfer is not None and self.transfer["session"] is session:
            self.finish_transfer(False)
        if self.selection_owner is session and self.clipboard is not None:
            # A session's selection goes with it.
            self.selection_owner = None
            self.own_changes += 1
            self.clipboard.write(None, None)
            log("clipboard", what="emptied with the session that owned it", session=session.path)
            self.owner_changed([], owner=None)

    def name_owner_changed(self, name, old, new):
        if name.startswith(":") and old and not new:
            self.tokens.forget(name)
            for session in [s for s in Session.live.values() if s.sender == name]:
                session.close(notify=False)

    def stop(self):
        for session in list(Session.live.values()):
            session.close(notify=False)
        self.keyboard.send("release")
        self.keyboard.stop()
        if self.clipboard:
            self.clipboard.stop()


class Control(dbus.service.Object):
    """What the tests and the sway bindings ask of the desktop."""

    def __init__(self):
        super().__init__(bus, CONTROL_PATH)
        self.pressed = {}  # (session, shortcut) -> presses not let go of
        self.released_early = {}  # (session, shortcut) -> releases told before their press

    @dbus.service.method(CONTROL, in_signature="oss", out_signature="")
    def Activate(self, session_handle, shortcut_id, activation_token):
        """The user pressed the shortcut (a sway binding runs this)."""
        session = Session.live.get(str(session_handle))
        if session is None or not any(str(s[0]) == shortcut_id for s in session.bound or []):
            log("error", what=f"a press of {shortcut_id!r} for the session {session_handle} that is gone")
            return
        # sway gives its commands no activation token: one is made up, which
        # the compositor will not honour (as one that has run out).
        token = activation_token or f"portal-activation-{uuid.uuid4().hex[:12]}"
        emit(portal.Activated, SHORTCUTS, "Activated", PATH, dbus.ObjectPath(session.path), shortcut_id,
             dbus.UInt64(int(time.monotonic() * 1000)),
             dbus.Dictionary({"activation_token": dbus.String(token)}, signature="sv"))
        key = (session.path, str(shortcut_id))
        self.pressed[key] = self.pressed.get(key, 0) + 1
        if self.released_early.get(key, 0) > 0:
            # The release binding's command overtook the press binding's.
            self.released_early[key] -= 1
            self.release(key)
        else:
            # A key let go of elsewhere (the modifiers first) runs no release
            # binding: the shortcut ends after a while all the same.
            later(2.0, self.release, key)

    @dbus.service.method(CONTROL, in_signature="os", out_signature="")
    def Deactivate(self, session_handle, shortcut_id):
        """The user let go of the shortcut (a sway release binding)."""
        key = (str(session_handle), str(shortcut_id))
        if self.pressed.get(key, 0) <= 0:
            self.released_early[key] = self.released_early.get(key, 0) + 1
        else:
            self.release(key)

    def release(self, key):
        if self.pressed.get(key, 0) <= 0 or key[0] not in Session.live:
            return
        self.pressed[key] -= 1
        emit(portal.Deactivated, SHORTCUTS, "Deactivated", PATH, dbus.ObjectPath(key[0]), key[1],
             dbus.UInt64(int(time.monotonic() * 1000)), dbus.Dictionary({}, signature="sv"))

    @dbus.service.method(CONTROL, in_signature="o", out_signature="")
    def ChangeShortcuts(self, session_handle):
        """Tells the session its shortcuts changed (the list as bound)."""
        session = Session.live.get(str(session_handle))
        if session is None:
            raise invalid(f"no session {session_handle}")
        emit(portal.ShortcutsChanged, SHORTCUTS, "ShortcutsChanged", PATH, dbus.ObjectPath(session.path),
             dbus.Array(session.bound or [], signature="(sa{sv})"))

    @dbus.service.method(CONTROL, in_signature="o", out_signature="")
    def CloseSession(self, session_handle):
        """The desktop ends a session (Closed is emitted)."""
        session = Session.live.get(str(session_handle))
        if session is None:
            raise invalid(f"no session {session_handle}")
        session.close(notify=True)

    @dbus.service.method(CONTROL, in_signature="", out_signature="as")
    def Sessions(self):
        return dbus.Array(list(Session.live), signature="s")


def main():
    global ARGS, LOG, bus, portal, AVAILABLE_DEVICES
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--keys", required=True, help="e2e-wlkeys")
    parser.add_argument("--log", required=True)
    parser.add_argument("--token-store", required=True)
    parser.add_argument("--globalshortcuts", type=int, default=2)
    parser.add_argument("--remotedesktop", type=int, default=2)
    parser.add_argument("--clipboard", type=int, default=1)
    parser.add_argument("--refuse-consent", action="store_true")
    parser.add_argument("--refuse-shortcut", action="append", default=[])
    parser.add_argument("--consent-delay", type=float, default=0.3, help="seconds the user takes to allow")
    parser.add_argument("--device-types", type=int, default=AVAILABLE_DEVICES,
                        help="AvailableDeviceTypes of RemoteDesktop (1 keyboard, 2 pointer, 4 touchscreen)")
    ARGS = parser.parse_args()
    AVAILABLE_DEVICES = ARGS.device_types
    LOG = open(ARGS.log, "a", encoding="utf-8")
    log("start", versions={"GlobalShortcuts": ARGS.globalshortcuts, "RemoteDesktop": ARGS.remotedesktop,
                           "Clipboard": ARGS.clipboard}, refuse_consent=ARGS.refuse_consent,
        refuse_shortcut=ARGS.refuse_shortcut)

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal()
    Control()
    name = dbus.service.BusName(BUS_NAME, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    for signal in (15, 2, 1):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal, lambda: loop.quit() or False)
    print("ready", flush=True)
    try:
        loop.run()
    finally:
        portal.stop()
        log("stop")
        del name


if __name__ == "__main__":
    sys.exit(main())
