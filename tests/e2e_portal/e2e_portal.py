#!/usr/bin/env python3
"""End-to-end tests of the program on a desktop that offers the desktop
portals (GNOME, KDE): global shortcuts, remote-desktop keystrokes and the
portal clipboard.

The desktop is the Wayland suite's headless sway, with a stand-in for the
portal service (fake_portal.py) on a session bus of the scenario's own: its
shortcuts become sway key bindings, its keystrokes go through a virtual
keyboard of its own, its clipboard is sway's. No sway binding of the
program's own is made: every request comes through the portal. Editors,
windows, dialogs and the clipboard are handled by the Wayland suite's
helpers (tests/e2e_wayland/e2e_wayland.py, which loads tests/e2e/e2e.py).

Run one scenario inside the session (E2E_KEEP=1 keeps its folder, with the
portal's log, also when it passes):
    wayland-session.sh e2e_portal.py --morvantile BIN --cli BIN --keys e2e-wlkeys
        --fake fake_portal.py --wayland-e2e e2e_wayland.py --x11-e2e e2e.py SCENARIO
"""

import argparse
import importlib.util
import json
import os
import re
import select
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import traceback

wl = None  # tests/e2e_wayland/e2e_wayland.py, loaded in main()
x11 = None  # tests/e2e/e2e.py, through it
MORVANTILE = ""
FAKE = ""
KEYS = ""
HOME = ""

BUS_NAME = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
CLIPBOARD = "org.freedesktop.portal.Clipboard"
SESSION = "org.freedesktop.portal.Session"
TEXT_MIME = "text/plain;charset=utf-8"
CONTROL_L, KEY_A, KEY_C, KEY_V = 0xFFE3, 0x61, 0x63, 0x76

# The options' hotkeys and the triggers the portal should be asked for.
HOTKEYS = {"AutoEncryptHotKeyString": "ctrl+shift+f12", "AutoDecryptHotKeyString": "ctrl+shift+f11",
           "OptionsHotKeyString": "ctrl+shift+f8", "ExitHotKeyString": "ctrl+shift+f5"}
TRIGGERS = {"encrypt": "CTRL+SHIFT+F12", "decrypt": "CTRL+SHIFT+F11", "options": "CTRL+SHIFT+F8",
            "exit": "CTRL+SHIFT+F5"}
REFUSED = "did not allow Morvantile"
PASSWORD_CAPTION = "Morvantile: enter password"
OPTIONS_CAPTION = "Morvantile: change settings"
TAKEN = "Auto-encrypt hotkey already taken. Please change."
PORTAL_BACKEND = "Wayland (desktop portals)"
KEYBOARD_BACKEND = "Wayland (virtual keyboard)"


def check(condition, what):
    x11.check(condition, what)


def wait_for(predicate, what, timeout=10.0, interval=0.1):
    return x11.wait_for(predicate, what, timeout, interval)


def options(**changes):
    """The Wayland suite's options with the hotkeys set and switched on."""
    sections = x11.options(**changes)
    hotkeys = sections.setdefault("hotkeys", {})
    for name, value in HOTKEYS.items():
        hotkeys.setdefault(name, value)
    hotkeys.setdefault("HotKeysEnabled", 1)
    return sections


# ---------------------------------------------------------------- the bus and the portal

class Bus:
    """A session bus of the scenario's own (dbus-daemon)."""

    def __init__(self):
        self.proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        self.address = self.proc.stdout.readline().strip() if ready else ""
        check(self.address, "dbus-daemon tells its address")

    def env(self, **more):
        return dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address, **more)

    def stop(self):
        x11.end_process(self.proc, 5)


class Portal:
    """fake_portal.py on the bus; its log, read back as JSON lines."""

    count = 0

    def __init__(self, bus, *args):
        self.bus = bus
        Portal.count += 1
        self.log_path = os.path.join(HOME, f"portal-{Portal.count}.log")
        self.token_store = os.path.join(HOME, "portal-tokens.json")
        self.output = open(os.path.join(HOME, f"portal-{Portal.count}.out"), "ab")
        self.proc = subprocess.Popen(
            [sys.executable, FAKE, "--keys", KEYS, "--log", self.log_path, "--token-store", self.token_store, *args],
            env=bus.env(), stdout=subprocess.PIPE, stderr=self.output, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 15)
        line = self.proc.stdout.readline().strip() if ready else ""
        check(line == "ready", f"the portal starts (it said {line!r}); see {self.output.name}")

    def entries(self, kind=None, **match):
        found = []
        with open(self.log_path, encoding="utf-8") as f:
            for line in f:
                entry = json.loads(line)
                if (kind is None or entry["kind"] == kind) and all(entry.get(k) == v for k, v in match.items()):
                    found.append(entry)
        return found

    def calls(self, method, interface=None):
        return [e for e in self.entries("call", method=method)
                if interface is None or e["interface"] == interface]

    def signals(self, name):
        return self.entries("signal", signal=name)

    def errors(self):
        return self.entries("error")

    def response_after(self, call):
        """The Response to a logged call (the first one after it on a
        request object of that caller): (response, results), or None."""
        entries = self.entries()
        prefix = f"{PORTAL_PATH}/request/{call['sender'].lstrip(':').replace('.', '_')}/"
        token = call["args"][-1].get("handle_token") if isinstance(call["args"][-1], dict) else None
        for e in entries[entries.index(call) + 1:]:
            if e["kind"] == "signal" and e["signal"] == "Response" and e["path"].startswith(prefix) and (
                    not token or e["path"] == prefix + token):
                return tuple(e["args"])
        return None

    def restore_tokens(self):
        """Every restore token issued, in order."""
        return [e["args"][1]["restore_token"] for e in self.signals("Response") if "restore_token" in e["args"][1]]

    def control(self, method, *args):
        """A method of the portal's control object for tests."""
        import dbus
        connection = dbus.bus.BusConnection(self.bus.address)
        try:
            return connection.get_object(BUS_NAME, "/org/morvantile/PortalTest").get_dbus_method(
                method, "org.morvantile.PortalTest")(*args)
        finally:
            connection.close()

    def stop(self):
        x11.end_process(self.proc)
        self.output.close()


class Morvantile:
    """The tray program on the scenario's bus (no sway binding of its own:
    its hotkeys are the portal's shortcuts)."""

    def __init__(self, bus, sections, expected=()):
        wl.write_options(sections)
        self.log = open(os.path.join(HOME, "morvantile.log"), "ab")
        self.proc = subprocess.Popen([MORVANTILE, "nosplash"], env=bus.env(), stdout=self.log,
                                     stderr=subprocess.STDOUT)
        wait_for(lambda: wl.instance_running() or self.proc.poll() is not None, "the request socket", 20)
        check(self.proc.poll() is None, f"the program ended at start ({self.proc.returncode})")
        self.start_messages = close_messages(expected)

    def running(self):
        return self.proc.poll() is None

    def stop(self):
        x11.end_process(self.proc)
        self.log.close()
        wait_for(lambda: not wl.instance_running(), "the program's request socket to go", 5)


def close_messages(expected=(), quiet=1.5, timeout=20.0):
    """Closes the program's messages until none has come for a while: the
    one about the missing tray (the session has no panel) and those whose
    text starts with one of `expected`. The texts closed."""
    texts = []
    end = time.monotonic() + timeout
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < quiet:
        check(time.monotonic() < end, f"messages keep coming: {texts}")
        boxes = wl.views_where(app_id="morvantile", title=wl.ERROR_CAPTION)
        if boxes:
            box = boxes[0]["id"]
            texts.append(wl.message_text(box))
            wl.key("Return")
            wait_for(lambda: wl.view(box) is None, "the message to close", 5)
            quiet_since = time.monotonic()
        time.sleep(0.1)
    unexpected = [t for t in texts if not t.startswith((wl.NO_TRAY, *expected))]
    check(not unexpected, f"unexpected messages: {unexpected}")
    return texts


def bound_shortcuts(portal):
    """The program's BindShortcuts once answered: (the shortcuts asked
    for as {id: options}, the ids bound)."""
    binds = wait_for(lambda: portal.calls("BindShortcuts"), "the program to bind its shortcuts", 15)
    check(len(binds) == 1, f"one BindShortcuts: {binds}")
    shortcuts = binds[0]["args"][1]
    response = wait_for(lambda: portal.response_after(binds[0]), "the BindShortcuts response", 5)
    return {s[0]: s[1] for s in shortcuts}, [s[0] for s in response[1]["shortcuts"]]


def check_triggers(portal):
    """Each hotkey of the options is asked for as its trigger, described."""
    asked, bound = bound_shortcuts(portal)
    check(set(asked) == set(TRIGGERS), f"the four hotkeys are asked for: {sorted(asked)}")
    for shortcut_id, trigger in TRIGGERS.items():
        check(asked[shortcut_id].get("preferred_trigger") == trigger,
              f"{shortcut_id} is asked for as {trigger}: {asked[shortcut_id]}")
        check(asked[shortcut_id].get("description"), f"{shortcut_id} has a description: {asked[shortcut_id]}")
    for shortcut_id in bound:
        entry = [e for e in portal.entries("shortcut", id=shortcut_id) if e["bound"]][-1]
        check(entry["trigger"] == TRIGGERS[shortcut_id] and entry["sway"],
              f"{shortcut_id} is bound to its trigger: {entry}")
    return bound


def check_quiet_portal(portal):
    """No fault the portal saw, and no key left down (a stuck Control)."""
    check(not portal.errors(), f"the portal saw no faults: {portal.errors()}")
    down = {}
    for method in ("NotifyKeyboardKeysym", "NotifyKeyboardKeycode"):
        for call in portal.calls(method):
            key = (method, call["args"][2])
            down[key] = down.get(key, 0) + (1 if call["args"][3] else -1)
    held = {k: n for k, n in down.items() if n}
    check(not held, f"every key pressed is let go of: {held}")


def secrets_kept(tokens=()):
    """No password, plaintext or restore token in the program's output or
    its options file."""
    secrets = [x11.PASSWORD, *[line for line in wl.TEXT.split("\n") if len(line) > 4], *tokens]
    for path in (os.path.join(HOME, "morvantile.log"),
                 os.path.join(os.environ["XDG_CONFIG_HOME"], "morvantile", "morvantile.ini")):
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                content = f.read()
            leaked = [s for s in secrets if s and s in content]
            check(not leaked, f"{os.path.basename(path)} holds no secret, but it has {leaked!r}")


def end_scenario(app, portal, bus, editor=None, tokens=()):
    """What every scenario with the program ends with: the portal saw no
    fault and no key left down, nothing secret was written, and all it
    started goes."""
    check_quiet_portal(portal)
    app.stop()
    secrets_kept(tokens)
    portal.stop()
    if editor is not None:
        editor.close()
    bus.stop()


def diagnose(bus, **env):
    result = subprocess.run([MORVANTILE, "diagnose"], env=bus.env(**env), capture_output=True, timeout=30)
    out = (result.stdout + result.stderr).decode(errors="replace")
    check(result.returncode == 0, f"diagnose ends with 0, not {result.returncode}:\n{out}")
    backend = re.search(r"^Backend: (.*)$", out, re.M)
    check(backend, f"diagnose names a backend:\n{out}")
    return backend.group(1).strip(), out


def decrypts_to(block, expected):
    """The block opens with morvantile-cli to the text (its line ends as the
    program took them)."""
    rc, out = x11.cli("decrypt", stdin_text=block)
    check(rc == 0, f"morvantile-cli decrypts {block!r}")
    check(out.replace(b"\r\n", b"\n") == x11.as_typed(expected), f"the block decrypts to {out!r}")


# ---------------------------------------------------------------- a client of the portal (the self-check)

class Client:
    """A portal client of the test's own, as an application uses the
    interfaces: it subscribes to a request's Response before calling."""

    def __init__(self, bus):
        import dbus
        from dbus.mainloop.glib import DBusGMainLoop
        from gi.repository import GLib
        self.dbus, self.GLib = dbus, GLib
        DBusGMainLoop(set_as_default=True)
        self.bus = dbus.bus.BusConnection(bus.address)
        self.name = self.bus.get_unique_name().lstrip(":").replace(".", "_")
        self.seen = []
        self.bus.add_signal_receiver(self._signal, interface_keyword="interface", member_keyword="member",
                                     path_keyword="path", sender_keyword="sender")
        self.count = 0

    def _signal(self, *args, interface=None, member=None, path=None, sender=None):
        if interface != "org.freedesktop.DBus":
            self.seen.append((interface, member, str(path), args))

    def pump(self, seconds=0.05):
        end = time.monotonic() + seconds
        context = self.GLib.MainContext.default()
        while time.monotonic() < end:
            while context.pending():
                context.iteration(False)
            time.sleep(0.01)

    def signal(self, member, timeout=5.0, after=0, **match):
        """The first signal of that name (from the `after`th on) whose
        arguments match {index: value}."""
        def found():
            self.pump()
            for s in self.seen[after:]:
                if s[1] == member and all(s[3][int(i[1:])] == v for i, v in match.items()):
                    return s
            return None
        return wait_for(found, f"the signal {member} {match}", timeout, interval=0.02)

    def no_signal(self, member, seconds, after):
        self.pump(seconds)
        return not [s for s in self.seen[after:] if s[1] == member]

    def object(self, path=PORTAL_PATH):
        return self.bus.get_object(BUS_NAME, path)

    def call(self, interface, method, *args, path=PORTAL_PATH):
        return self.object(path).get_dbus_method(method, interface)(*args)

    def request(self, interface, method, *args):
        """A method answered through a request object; the last argument is
        its options: (response, results)."""
        self.count += 1
        token = f"selfcheck{self.count}"
        args = list(args)
        args[-1] = self.dbus.Dictionary(dict(args[-1], handle_token=token), signature="sv")
        expected = f"{PORTAL_PATH}/request/{self.name}/{token}"
        mark = len(self.seen)
        handle = self.call(interface, method, *args)
        check(str(handle) == expected, f"{method} answers the request path {expected}, not {handle}")
        s = self.signal("Response", after=mark, timeout=5)
        while s[2] != expected:
            mark = self.seen.index(s) + 1
            s = self.signal("Response", after=mark, timeout=5)
        return int(s[3][0]), s[3][1]

    def fails(self, what, interface, method, *args):
        try:
            self.call(interface, method, *args)
        except self.dbus.DBusException as e:
            return e.get_dbus_name()
        raise x11.Failure(f"{what}: {method} should fail")


def scenario_fake_portal(home):
    """The stand-in portal itself, through a client of the test's own: the
    properties, a shortcut through a sway binding, consent and restore
    tokens, keys typed into an editor, and the clipboard both ways."""
    import dbus
    bus = Bus()
    portal = Portal(bus, "--refuse-shortcut", "taken", "--consent-delay", "0.05")
    client = Client(bus)
    o = lambda **kv: dbus.Dictionary(kv, signature="sv")  # noqa: E731

    # Properties and introspection.
    props = client.call("org.freedesktop.DBus.Properties", "GetAll", REMOTE)
    check(props == {"version": 2, "AvailableDeviceTypes": 7}, f"RemoteDesktop's properties: {props}")
    check(client.call("org.freedesktop.DBus.Properties", "Get", SHORTCUTS, "version") == 2, "GlobalShortcuts 2")
    check(client.call("org.freedesktop.DBus.Properties", "Get", CLIPBOARD, "version") == 1, "Clipboard 1")
    xml = client.call("org.freedesktop.DBus.Introspectable", "Introspect")
    for needle in (SHORTCUTS, REMOTE, CLIPBOARD, 'name="AvailableDeviceTypes"', 'name="NotifyKeyboardKeysym"'):
        check(needle in xml, f"the introspection names {needle}")

    # A shortcut: bound as a sway binding, which emits Activated.
    response, results = client.request(SHORTCUTS, "CreateSession", o(session_handle_token="shortcuts"))
    shortcuts = results["session_handle"]
    check(response == 0 and shortcuts == f"{PORTAL_PATH}/session/{client.name}/shortcuts",
          f"a shortcuts session: {response} {results}")
    wanted = dbus.Array([("encrypt", o(description="Encrypt", preferred_trigger="CTRL+SHIFT+F12")),
                         ("taken", o(description="Refused", preferred_trigger="CTRL+SHIFT+F7"))],
                        signature="(sa{sv})")
    response, results = client.request(SHORTCUTS, "BindShortcuts", dbus.ObjectPath(shortcuts), wanted, "", o())
    check(response == 0 and [(s[0], dict(s[1])) for s in results["shortcuts"]]
          == [("encrypt", {"description": "Encrypt", "trigger_description": "CTRL+SHIFT+F12"})],
          f"encrypt is bound, the refused one left out: {results}")
    check(client.fails("a second bind", SHORTCUTS, "BindShortcuts", dbus.ObjectPath(shortcuts), wanted, "",
                       o(handle_token="again")), "binding twice fails")
    _, results = client.request(SHORTCUTS, "ListShortcuts", dbus.ObjectPath(shortcuts), o())
    check([s[0] for s in results["shortcuts"]] == ["encrypt"], f"ListShortcuts: {results}")
    mark = len(client.seen)
    wl.press_binding("F12")
    activated = client.signal("Activated", after=mark, a0=shortcuts, a1="encrypt")
    check(activated[3][3].get("activation_token"), f"Activated carries an activation token: {activated}")
    deactivated = client.signal("Deactivated", after=mark, timeout=1.5, a0=shortcuts, a1="encrypt")
    check(client.seen.index(deactivated) > client.seen.index(activated) and deactivated[3][2] >= activated[3][2],
          f"letting go of the key ends it: {deactivated}")
    wl.press_binding("F7")
    check(client.no_signal("Activated", 0.6, mark + 1), "the refused shortcut is not bound")
    mark = len(client.seen)
    client.call("org.morvantile.PortalTest", "ChangeShortcuts", dbus.ObjectPath(shortcuts),
                path="/org/morvantile/PortalTest")
    client.signal("ShortcutsChanged", after=mark, a0=shortcuts)

    # A closed session's shortcuts go.
    client.call(SESSION, "Close", path=shortcuts)
    mark = len(client.seen)
    wl.press_binding("F12")
    check(client.no_signal("Activated", 0.6, mark), "a closed session's shortcut is unbound")

    # Keys and the clipboard need a started remote-desktop session.
    editor = wl.Editor(home, "gedit")
    response, results = client.request(REMOTE, "CreateSession", o(session_handle_token="remote"))
    remote = dbus.ObjectPath(results["session_handle"])
    check(client.fails("keys before Start", REMOTE, "NotifyKeyboardKeysym", remote, o(), KEY_A, 1)
          == "org.freedesktop.portal.Error.NotAllowed", "keys before Start are refused")
    client.call(CLIPBOARD, "RequestClipboard", remote, o())
    client.request(REMOTE, "SelectDevices", remote, o(types=dbus.UInt32(1), persist_mode=dbus.UInt32(2)))
    response, results = client.request(REMOTE, "Start", remote, "", o())
    check(response == 0 and results["devices"] == 1 and results["clipboard_enabled"] and results["restore_token"],
          f"Start: {response} {results}")
    first_token = str(results["restore_token"])
    check(client.fails("a pointer", REMOTE, "NotifyPointerMotion", remote, o(), 1.0, 1.0)
          == "org.freedesktop.portal.Error.NotAllowed", "no pointer without selecting one")
    check(client.fails("twice", CLIPBOARD, "RequestClipboard", remote, o()), "RequestClipboard after Start fails")

    def keysym(sym, *states):
        for state in states:
            client.call(REMOTE, "NotifyKeyboardKeysym", remote, o(), sym, dbus.UInt32(state))

    def chord(*syms):
        for sym in syms:
            keysym(sym, 1)
        for sym in reversed(syms):
            keysym(sym, 0)

    # 'H' is on the shifted level; 'x' goes as an evdev code (45).
    wl.focus(editor.id)
    chord(ord("H"))
    chord(ord("i"))
    for state in (1, 0):
        client.call(REMOTE, "NotifyKeyboardKeycode", remote, o(), 45, dbus.UInt32(state))
    mark = len(client.seen)
    chord(CONTROL_L, KEY_A)
    chord(CONTROL_L, KEY_C)  # Control stays down between the two: modifier state is kept
    wait_for(lambda: wl.Clipboard.read() == "Hix", "the typed keys to be copied", 5, interval=0.2)
    owner = client.signal("SelectionOwnerChanged", after=mark, a0=remote)
    check(TEXT_MIME in owner[3][1]["mime_types"] and not owner[3][1]["session_is_owner"],
          f"the editor's copy is announced: {owner}")
    fd = client.call(CLIPBOARD, "SelectionRead", remote, TEXT_MIME)
    with os.fdopen(fd.take(), "rb") as f:
        check(f.read() == b"Hix", "SelectionRead gives the clipboard's text")
    check(client.fails("no such type", CLIPBOARD, "SelectionRead", remote, "image/x-none"),
          "a type the clipboard lacks fails")

    # The session's own selection reaches the real clipboard and a paste.
    text = "\u00fcber \u2713 two\nlines"
    mark = len(client.seen)
    client.call(CLIPBOARD, "SetSelection", remote, o(mime_types=dbus.Array([TEXT_MIME, "text/plain"], "s")))
    owner = client.signal("SelectionOwnerChanged", after=mark, a0=remote)
    check(owner[3][1]["session_is_owner"], f"the session owns the selection: {owner}")
    check(client.no_signal("SelectionTransfer", 0.3, mark), "the data is asked for only when it is wanted")
    chord(CONTROL_L, KEY_A)
    chord(CONTROL_L, KEY_V)  # waits for the transfer, as a real paste would
    transfer = client.signal("SelectionTransfer", after=mark, a0=remote)
    check(transfer[3][1] == TEXT_MIME, f"the portal asks for UTF-8 text: {transfer}")
    fd = client.call(CLIPBOARD, "SelectionWrite", remote, transfer[3][2])
    with os.fdopen(fd.take(), "wb") as f:
        f.write(text.encode())
    client.call(CLIPBOARD, "SelectionWriteDone", remote, transfer[3][2], True)
    wait_for(lambda: wl.Clipboard.read() == text, "the session's selection on the clipboard", 5, interval=0.2)
    wl.wait_text(editor.id, text, "the paste puts the session's selection into the editor")
    # Reading a selection of its own that was not asked for yet asks for it.
    mark = len(client.seen)
    client.call(CLIPBOARD, "SetSelection", remote, o(mime_types=dbus.Array([TEXT_MIME], "s")))
    client.signal("SelectionOwnerChanged", after=mark, a0=remote)
    fd = client.call(CLIPBOARD, "SelectionRead", remote, TEXT_MIME)
    transfer = client.signal("SelectionTransfer", after=mark, a0=remote)
    with os.fdopen(client.call(CLIPBOARD, "SelectionWrite", remote, transfer[3][2]).take(), "wb") as f:
        f.write(b"second")
    client.call(CLIPBOARD, "SelectionWriteDone", remote, transfer[3][2], True)
    with os.fdopen(fd.take(), "rb") as f:
        check(f.read() == b"second", "the session reads its own selection")

    # A session's selection goes when the session ends.
    _, results = client.request(REMOTE, "CreateSession", o())
    other = dbus.ObjectPath(results["session_handle"])
    client.call(CLIPBOARD, "RequestClipboard", other, o())
    client.request(REMOTE, "SelectDevices", other, o(types=dbus.UInt32(1)))
    client.request(REMOTE, "Start", other, "", o())
    mark = len(client.seen)
    client.call(CLIPBOARD, "SetSelection", other, o(mime_types=dbus.Array([TEXT_MIME], "s")))
    # A key (a paste, as far as the desktop knows) has it asked for.
    client.call(REMOTE, "NotifyKeyboardKeysym", other, o(), 0xFFE1, dbus.UInt32(1))
    client.call(REMOTE, "NotifyKeyboardKeysym", other, o(), 0xFFE1, dbus.UInt32(0))
    transfer = client.signal("SelectionTransfer", after=mark, a0=other)
    with os.fdopen(client.call(CLIPBOARD, "SelectionWrite", other, transfer[3][2]).take(), "wb") as f:
        f.write(b"mine")
    client.call(CLIPBOARD, "SelectionWriteDone", other, transfer[3][2], True)
    wait_for(lambda: wl.Clipboard.read() == "mine", "the other session's selection on the clipboard", 5)
    client.call(SESSION, "Close", path=other)
    wait_for(lambda: wl.Clipboard.read() is None, "the closed session's selection to go", 5, interval=0.2)
    mark = len(client.seen)
    wl.Clipboard.write("after")
    owner = client.signal("SelectionOwnerChanged", after=mark, a0=remote)
    check(not owner[3][1]["session_is_owner"], f"a new copy is announced to the session left: {owner}")

    # Consent: a token restores once, then the next one is due.
    def started(token):
        _, results = client.request(REMOTE, "CreateSession", o())
        session = dbus.ObjectPath(results["session_handle"])
        client.request(REMOTE, "SelectDevices", session, o(types=dbus.UInt32(1), persist_mode=dbus.UInt32(2),
                                                            restore_token=token))
        response, results = client.request(REMOTE, "Start", session, "", o())
        return response, str(results.get("restore_token", "")), portal.entries("consent")[-1]

    response, second_token, consent = started(first_token)
    check(response == 0 and not consent["asked"] and second_token not in ("", first_token),
          f"the token restores without asking and a new one comes: {consent}")
    _, _, consent = started(first_token)
    check(consent["asked"], f"a used token asks again: {consent}")

    # A session without the keyboard takes no keys.
    _, results = client.request(REMOTE, "CreateSession", o())
    pointer = dbus.ObjectPath(results["session_handle"])
    client.request(REMOTE, "SelectDevices", pointer, o(types=dbus.UInt32(2)))
    response, results = client.request(REMOTE, "Start", pointer, "", o())
    check(response == 0 and results["devices"] == 2 and "restore_token" not in results, f"a pointer: {results}")
    check(client.fails("keys without the keyboard", REMOTE, "NotifyKeyboardKeycode", pointer, o(), 30, 1)
          == "org.freedesktop.portal.Error.NotAllowed", "keys without the keyboard are refused")
    check(not portal.errors(), f"no faults: {portal.errors()}")
    portal.stop()

    # Tokens outlive the portal; a refusal answers 1.
    portal = Portal(bus, "--refuse-consent", "--consent-delay", "0.05")
    response, _, consent = started(second_token)
    check(response == 0 and not consent["asked"], f"a token of the last run restores: {consent}")
    response, _, consent = started("")
    check(response == 1 and consent["asked"] and consent["refused"], f"a refusal: {response} {consent}")
    # Interfaces left out, and versions.
    portal.stop()
    portal = Portal(bus, "--remotedesktop", "1", "--clipboard", "0")
    xml = client.call("org.freedesktop.DBus.Introspectable", "Introspect")
    check(CLIPBOARD not in xml and "ConnectToEIS" in xml, "the clipboard is left out")
    check(client.call("org.freedesktop.DBus.Properties", "Get", REMOTE, "version") == 1, "RemoteDesktop 1")
    check(client.fails("no clipboard", CLIPBOARD, "SelectionRead", remote, TEXT_MIME)
          == "org.freedesktop.DBus.Error.UnknownMethod", "the clipboard's methods are unknown")
    check(not portal.errors(), f"no faults: {portal.errors()}")
    portal.stop()
    editor.close()
    bus.stop()


# ---------------------------------------------------------------- scenarios of the program

def scenario_diagnose(home):
    """The portals are chosen when they are recent enough and offer what the
    program needs, before the compositor's own protocols; else those are."""
    bus = Bus()
    portal = Portal(bus)
    backend, out = diagnose(bus)
    check(backend == PORTAL_BACKEND, f"the portal backend is chosen:\n{out}")
    portals = re.search(r"^\s*Portals:(.*)$", out, re.M)
    check(portals, f"a line about the portals:\n{out}")
    check(re.search(r"GlobalShortcuts v2.*RemoteDesktop v2.*Clipboard v1", portals.group(1)),
          f"the portals line names the versions offered: {portals.group(0)}")
    check(not wl.instance_running(), "diagnose starts no copy")
    started = [c["method"] for c in portal.entries("call") if c["method"] in ("CreateSession", "Start")]
    check(not started, f"diagnose binds no shortcut and asks for no consent: {started}")
    portal.stop()

    for why, fake_options in (("RemoteDesktop 1 cannot keep the consent", ("--remotedesktop", "1")),
                              ("no global shortcuts", ("--globalshortcuts", "0")),
                              ("a remote desktop without a keyboard", ("--device-types", "2"))):
        portal = Portal(bus, *fake_options)
        backend, out = diagnose(bus)
        check(backend == KEYBOARD_BACKEND, f"{why}: the compositor's protocols are used:\n{out}")
        portal.stop()

    backend, out = diagnose(bus)
    check(backend == KEYBOARD_BACKEND, f"without the portal the compositor's protocols are used:\n{out}")
    backend, out = diagnose(bus, MORVANTILE_BACKEND="portal")
    check(backend != PORTAL_BACKEND and re.search(r"^Why:.*MORVANTILE_BACKEND=portal", out, re.M),
          f"the portals asked for but missing: diagnose says so:\n{out}")
    secrets_kept()
    bus.stop()


def roundtrip(home, program, session_ends=False, *fake_options):
    """Both hotkeys through the portal's shortcuts, the keys through its
    remote desktop, the text through its clipboard (when it offers one).
    `session_ends`: the desktop ends the remote-desktop session between the
    two requests, as its stop-sharing button does."""
    editor = wl.Editor(home, program)
    editor.write(wl.TEXT)
    bus = Bus()
    portal = Portal(bus, *fake_options)
    app = Morvantile(bus, options())
    bound = check_triggers(portal)
    check(sorted(bound) == sorted(TRIGGERS), f"all four are bound: {bound}")

    block = wl.encrypt_in_editor(editor)
    check(block != wl.TEXT and "[-START" not in block, f"a bare block replaced the text: {block!r}")
    decrypts_to(block, wl.TEXT)
    if session_ends:
        for session in portal.control("Sessions"):
            if "/session/" in session and any(c["args"][0] == session for c in portal.calls("Start")):
                portal.control("CloseSession", session)
    wl.focus(editor.id)
    wl.press_binding(wl.DECRYPT)
    wl.answer_password()
    wl.wait_text(editor.id, wl.TEXT, "the decrypt shortcut restores the text exactly")
    check(app.running(), "the program keeps running")

    check(portal.calls("CreateSession", REMOTE), "the program makes a remote-desktop session")
    select_calls = portal.calls("SelectDevices")
    check(select_calls, "the program selects devices")
    for call in select_calls:
        check(call["args"][1].get("types") == 1 and call["args"][1].get("persist_mode") == 2,
              f"the keyboard alone, persisting: {call['args'][1]}")
    check(portal.calls("Start"), "the program starts a remote-desktop session")
    consents = portal.entries("consent")
    check(sum(c["asked"] for c in consents) == 1, f"consent is asked once for both requests: {consents}")
    if session_ends:
        check(len(consents) == 2 and consents[1]["restored"],
              f"the ended session is made anew with the restore token: {consents}")
    keysyms = [c["args"][2] for c in portal.calls("NotifyKeyboardKeysym")]
    for sym in (CONTROL_L, KEY_A, KEY_C, KEY_V):
        check(sym in keysyms, f"keysym {sym:#x} is sent: {keysyms}")
    if "--clipboard" not in fake_options:
        check(portal.calls("SelectionRead") and portal.calls("SetSelection"),
              "the text goes through the portal's clipboard")
    end_scenario(app, portal, bus, editor, tokens=portal.restore_tokens())


def scenario_roundtrip_gedit(home):
    """In place with a GTK 3 editor."""
    roundtrip(home, "gedit")


def scenario_roundtrip_featherpad(home):
    """In place with a Qt 5 editor; the desktop ends the remote-desktop
    session between the requests."""
    roundtrip(home, "featherpad", session_ends=True)


def scenario_roundtrip_without_portal_clipboard(home):
    """A desktop whose portals offer no clipboard: the program takes the
    text through its own windows' clipboard."""
    roundtrip(home, "gedit", False, "--clipboard", "0")


def scenario_viewer(home):
    """DecryptView 1 on the portals: the viewer shows the text, copies it,
    and pastes it back into the editor it came from, all with the portal's
    keys and clipboard."""
    block = wl.block_of(wl.TEXT)
    editor = wl.Editor(home, "gedit", text=block)
    bus = Bus()
    portal = Portal(bus)
    app = Morvantile(bus, options(misc__DecryptView=1))
    bound_shortcuts(portal)
    wl.focus(editor.id)
    wl.press_binding(wl.DECRYPT)
    wl.answer_password()
    viewer = wl.wait_view("the viewer", 10, app_id="morvantile", title="^Morvantile: view decrypted text$")["id"]
    wait_for(lambda: (wl.view(viewer) or {}).get("focused"), "the viewer to get the focus", 5)
    time.sleep(0.8)  # sway lists and focuses a window before its first frame is drawn
    check(editor.text() == block, "the editor keeps the block while the viewer shows the text")

    wl.focus(viewer)
    time.sleep(0.4)
    wl.Clipboard.write("<before copy>")
    wl.key("alt+c")  # Copy to clipboard
    wait_for(lambda: wl.Clipboard.read() not in (None, "<before copy>"), "the viewer's Copy to fill the clipboard", 5)
    check(wl.Clipboard.read() == wl.TEXT, f"the viewer copies the text exactly: {wl.Clipboard.read()!r}")
    wait_for(lambda: not wl.views_where(app_id="morvantile", title="^Morvantile$"), "the copy notice to close", 8)
    wl.focus(viewer)
    time.sleep(0.4)
    wl.key("alt+p")  # Paste to window
    wl.wait_text(editor.id, wl.TEXT, "Paste to window puts the text into the editor")
    end_scenario(app, portal, bus, editor, tokens=portal.restore_tokens())


def scenario_external_editor(home):
    """DecryptView 2 on the portals: the editor started from the command
    line gets the decrypted text; the source keeps its block."""
    block = wl.block_of(wl.TEXT)
    source = wl.Editor(home, "gedit", text=block)
    bus = Bus()
    portal = Portal(bus)
    app = Morvantile(bus, options(misc__DecryptView=2, misc__DecryptViewer="featherpad --standalone"))
    bound_shortcuts(portal)
    wl.focus(source.id)
    wl.press_binding(wl.DECRYPT)
    wl.answer_password()
    started = wl.wait_view("the featherpad window the program starts", 20, app_id="featherpad")["id"]
    wl.wait_text(started, wl.TEXT, "the started editor holds the decrypted text")
    check(source.text() == block, "the source editor keeps the block")
    end_scenario(app, portal, bus, source, tokens=portal.restore_tokens())


def token_file():
    return os.path.join(os.environ["XDG_CONFIG_HOME"], "morvantile", "remote-desktop-token")


def scenario_restore_token(home):
    """The consent of the first request is kept for the next start of the
    program: its token, in a file only the user reads, restores the session.
    The user takes a few seconds to allow the keystrokes. A token
    file others may read is not used."""
    editor = wl.Editor(home, "gedit")
    editor.write(wl.TEXT)
    bus = Bus()
    portal = Portal(bus, "--consent-delay", "3")
    app = Morvantile(bus, options())
    bound_shortcuts(portal)
    block = wl.encrypt_in_editor(editor)
    decrypts_to(block, wl.TEXT)
    issued = portal.restore_tokens()
    check(len(issued) == 1, f"one restore token issued: {issued}")
    path = token_file()

    def kept(token):
        """The file holds the token, and only its user may read it."""
        if not os.path.exists(path):
            return False
        mode = stat.S_IMODE(os.stat(path).st_mode)
        check(mode == 0o600, f"the token file is the user's alone: {mode:o}")
        with open(path, encoding="utf-8") as f:
            return f.read().strip() == token
    wait_for(lambda: kept(issued[0]), f"{path} to hold the token issued", 5)
    app.stop()

    app = Morvantile(bus, options())
    wait_for(lambda: len(portal.calls("BindShortcuts")) == 2, "the new copy to bind its shortcuts", 15)
    wl.focus(editor.id)
    wl.press_binding(wl.DECRYPT)
    wl.answer_password()
    wl.wait_text(editor.id, wl.TEXT, "the decrypt shortcut restores the text")
    selects = portal.calls("SelectDevices")
    check(selects[-1]["args"][1].get("restore_token") == issued[0],
          f"the second start restores with the token: {selects[-1]['args'][1]}")
    consents = portal.entries("consent")
    check([c["asked"] for c in consents] == [True, False], f"consent is asked only the first time: {consents}")
    issued = portal.restore_tokens()
    wait_for(lambda: kept(issued[-1]), "the file to hold the newest token", 5)
    app.stop()

    # A token file others may read is not trusted: the desktop asks again,
    # and the new token is kept as it should be.
    os.chmod(path, 0o644)
    app = Morvantile(bus, options())
    wait_for(lambda: len(portal.calls("BindShortcuts")) == 3, "the third copy to bind its shortcuts", 15)
    block = wl.encrypt_in_editor(editor)
    decrypts_to(block, wl.TEXT)
    selects = portal.calls("SelectDevices")
    check(not selects[-1]["args"][1].get("restore_token"),
          f"a token others may read is not sent: {selects[-1]['args'][1]}")
    consents = portal.entries("consent")
    check([c["asked"] for c in consents] == [True, False, True], f"consent is asked again: {consents}")
    issued = portal.restore_tokens()
    wait_for(lambda: kept(issued[-1]), "the file to hold the newest token, for its user alone", 5)
    end_scenario(app, portal, bus, editor, tokens=issued)


def scenario_refused_consent(home):
    """The user does not allow the keystrokes: the program says so and
    works on the clipboard alone; the next request asks again."""
    editor = wl.Editor(home, "featherpad")
    editor.write(wl.TEXT)
    bus = Bus()
    portal = Portal(bus, "--refuse-consent")
    app = Morvantile(bus, options())
    bound_shortcuts(portal)

    def clipboard_request():
        wl.Clipboard.write(wl.TEXT)
        wl.focus(editor.id)
        wl.press_binding(wl.ENCRYPT)
        messages = []

        def done():
            # The message and the password dialog, in whichever order.
            for box in wl.own_windows():
                if box["title"] == PASSWORD_CAPTION:
                    wl.answer_password()
                    continue
                messages.append(f"{box['title']}: {wl.message_text(box['id'])}")
                # Reading it took the clipboard, which the request may
                # not have read yet.
                wl.Clipboard.write(wl.TEXT)
                wl.focus(box["id"])
                wl.key("Return")
                wait_for(lambda: wl.view(box["id"]) is None, "the message to close", 5)
            text = wl.Clipboard.read()
            return text if text not in (None, wl.TEXT) else None

        block = wait_for(done, "a block on the clipboard", 25, interval=0.2)
        check(len(messages) == 1 and REFUSED in messages[0], f"one message says consent was refused: {messages}")
        decrypts_to(block, wl.TEXT)
        wl.wait_quiet()
        check(editor.text() == wl.TEXT, "the editor's text is unchanged")

    clipboard_request()
    check([c["asked"] for c in portal.entries("consent")] == [True], "consent was asked")
    check(not portal.calls("NotifyKeyboardKeysym"), "no keys go without consent")
    clipboard_request()
    check([c["asked"] for c in portal.entries("consent")] == [True, True], "the next request asks again")
    check(app.running(), "the program keeps running")
    end_scenario(app, portal, bus, editor)


def scenario_refused_shortcut(home):
    """A shortcut the desktop does not bind is reported once, like a hotkey
    another program holds; the others work, also once the options are
    confirmed (which binds them again). A hotkey switched off is not asked
    for; with the hotkeys disabled a press does nothing."""
    bus = Bus()
    portal = Portal(bus, "--refuse-shortcut", "encrypt")
    app = Morvantile(bus, options(), expected=(TAKEN,))
    bound = check_triggers(portal)
    check(sorted(bound) == ["decrypt", "exit", "options"], f"the others are bound: {bound}")
    taken = [t for t in app.start_messages if t.startswith(TAKEN)]
    check(len(taken) == 1, f"the message comes once: {app.start_messages}")
    time.sleep(1.0)
    check(not wl.own_windows(), f"nothing more: {wl.own_windows()}")
    check(app.running(), "the program keeps running")

    # OK in the options registers the hotkeys again: with the desktop's
    # shortcuts too (a session binds once, so it takes a new one).
    wl.press_binding("F8")
    dialog = wl.wait_view("the options", 10, app_id="morvantile", title=f"^{re.escape(OPTIONS_CAPTION)}$")["id"]
    wl.focus(dialog)
    time.sleep(0.4)
    wl.key("alt+o")
    wait_for(lambda: wl.view(dialog) is None, "the options to close", 5)
    again = close_messages((TAKEN,))
    check(len([t for t in again if t.startswith(TAKEN)]) <= 1, f"the refusal is told at most once more: {again}")
    binds = wait_for(lambda: portal.calls("BindShortcuts")[1:], "the shortcuts bound again", 10)
    check(binds[0]["args"][0] != portal.calls("BindShortcuts")[0]["args"][0],
          f"bound again in a new session: {binds[0]['args'][0]}")
    wl.press_binding("F5")
    wait_for(lambda: not app.running(), "the exit shortcut, bound again, to end the program", 10)
    app.stop()

    # A hotkey switched off in the options is not asked for; with the
    # hotkeys disabled the others stay bound, and a press does nothing.
    app = Morvantile(bus, options(hotkeys__ExitHotKeyString="", hotkeys__HotKeysEnabled=0), expected=(TAKEN,))
    binds = wait_for(lambda: portal.calls("BindShortcuts")[2:], "the second start's BindShortcuts", 15)
    asked = sorted(shortcut[0] for shortcut in binds[0]["args"][1])
    check(asked == ["decrypt", "encrypt", "options"], f"the exit hotkey is off, the others asked for: {asked}")
    activations = len(portal.signals("Activated"))
    wl.press_binding(wl.DECRYPT)
    wait_for(lambda: len(portal.signals("Activated")) > activations, "the decrypt shortcut's press", 5)
    time.sleep(1.5)
    check(not wl.own_windows() and not portal.calls("CreateSession", REMOTE),
          f"with the hotkeys disabled a press does nothing: {wl.own_windows()}")
    end_scenario(app, portal, bus)


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items() if name.startswith("scenario_")}


def load(name, path):
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    located = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(located)
    located.loader.exec_module(module)
    return module


def main():
    global wl, x11, MORVANTILE, FAKE, KEYS, HOME
    parser = argparse.ArgumentParser()
    parser.add_argument("--morvantile", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--keys", required=True, help="e2e-wlkeys")
    parser.add_argument("--fake", required=True, help="fake_portal.py")
    parser.add_argument("--wayland-e2e", required=True, help="tests/e2e_wayland/e2e_wayland.py, for its helpers")
    parser.add_argument("--x11-e2e", required=True, help="tests/e2e/e2e.py, which that one uses")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    try:
        import dbus  # noqa: F401
        from gi.repository import GLib  # noqa: F401
    except ImportError as e:
        print(f"SKIPPED: {e} (python3-dbus, python3-gi: scripts/setup-deps.sh)", file=sys.stderr)
        return 77
    for program, package in (("dbus-daemon", "dbus-daemon"), ("dbus-send", "dbus-bin")):
        if not shutil.which(program):
            print(f"SKIPPED: {program} is not installed ({package}: scripts/setup-deps.sh)", file=sys.stderr)
            return 77
    wl = load("e2e_wayland", args.wayland_e2e)
    x11 = wl.x11 = load("e2e_x11", args.x11_e2e)
    MORVANTILE = wl.MORVANTILE = x11.MORVANTILE = os.path.abspath(args.morvantile)
    x11.CLI = os.path.abspath(args.cli)
    KEYS = wl.KEYS = os.path.abspath(args.keys)
    FAKE = os.path.abspath(args.fake)
    x11.PASSWORD = wl.PASSWORD
    home = HOME = wl.HOME = tempfile.mkdtemp(prefix=f"morvantile-e2eportal-{args.scenario}-")
    os.chmod(home, 0o755)
    started = time.monotonic()
    try:
        SCENARIOS[args.scenario](home)
    except Exception:
        traceback.print_exc()
        wl.screenshot(os.path.join(home, "failure.png"))
        try:
            with open(os.path.join(home, "tree.json"), "w") as f:
                json.dump(wl.views(), f, indent=1)
        except Exception:
            pass
        for name in sorted(os.listdir(home)):
            if name.endswith((".log", ".out")):
                with open(os.path.join(home, name), errors="replace") as f:
                    lines = f.read().splitlines()
                print(f"--- {name} (last lines):\n" + "\n".join(lines[-80:]))
        sway_log = os.environ.get("SWAY_LOG")
        if sway_log and os.path.exists(sway_log):
            shutil.copy(sway_log, os.path.join(home, "sway.log"))
        print(f"FAILED {args.scenario} after {time.monotonic() - started:.1f} s; screenshot and logs in {home}")
        return 1
    # A sanitizer build reports memory errors and undefined behaviour on the
    # program's output. Leaks at exit are only shown: Qt's Wayland plugin
    # leaves its own objects behind.
    errors, leaks = [], False
    path = os.path.join(home, "morvantile.log")
    if os.path.exists(path):
        with open(path, errors="replace") as f:
            for line in f:
                errors += [line] if "ERROR: AddressSanitizer" in line or "runtime error:" in line else []
                leaks = leaks or "ERROR: LeakSanitizer" in line
    if leaks:
        print("NOTE: LeakSanitizer reported leaks at the program's exit")
    if errors:
        print("".join(errors))
        print(f"FAILED {args.scenario}: sanitizer reports; logs in {home}")
        return 1
    print(f"PASSED {args.scenario} in {time.monotonic() - started:.1f} s"
          + (f" with {len(wl.FINDINGS)} finding(s)" if wl.FINDINGS else ""))
    if os.environ.get("E2E_KEEP"):
        print(f"kept: {home}")
    else:
        shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
