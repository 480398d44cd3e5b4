#!/usr/bin/env python3
"""End-to-end tests of the tray program on a real Wayland desktop.

A headless sway (scripts/wayland-session.sh) runs the program natively on
Wayland beside editors of both toolkits, gedit (GTK 3) and featherpad
(Qt 5). Text is typed through a virtual keyboard of the test's own (wtype),
shortcuts through another with an ordinary keymap (e2e-wlkeys), the
requests come from sway's key bindings (Ctrl+Shift+F12 runs `morvantile
encrypt`, Ctrl+Shift+F11 `morvantile decrypt`), windows are found, waited
for and focused through swaymsg, and what lands in an editor is read back
through the clipboard (wl-paste) and checked with `morvantile-cli`.

The helpers that do not depend on the desktop (waiting, the options file,
morvantile-cli) come from the X11 suite, tests/e2e/e2e.py.

Run one scenario inside the session (E2E_KEEP=1 keeps its folder, with the
screenshots, also when it passes):
    wayland-session.sh --morvantile BIN e2e_wayland.py --morvantile BIN --cli BIN
        --keys e2e-wlkeys --x11-e2e tests/e2e/e2e.py SCENARIO
"""

import argparse
import glob
import importlib.util
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

x11 = None  # tests/e2e/e2e.py, loaded in main()
MORVANTILE = ""
KEYS = ""  # e2e-wlkeys
HOME = ""  # the scenario's folder: its files, screenshots and logs
PASSWORD = "correct horse"
# Typed with the virtual keyboard: umlauts, an en dash and the euro sign
# (all of them in Windows-1252) on several lines.
TEXT = "Dear Alice,\nthe key is under the mat.\nGr\u00fc\u00dfe \u2013 1\u20ac\n\u2014 Bob"
ENCRYPT = "F12"  # with Ctrl+Shift: sway's binding runs `morvantile encrypt`
DECRYPT = "F11"
# Enough for the last keystrokes of a request (SendKeysDelay 150 ms before
# each of select-all and paste) to have arrived.
SETTLE = 1.5
FINDINGS = []


def check(condition, what):
    x11.check(condition, what)


def wait_for(predicate, what, timeout=10.0, interval=0.1):
    return x11.wait_for(predicate, what, timeout, interval)


def run(*cmd, **kwargs):
    return x11.run(*cmd, **kwargs)


def finding(text):
    """Something the program does wrong that the test works around."""
    FINDINGS.append(text)
    print(f"FINDING: {text}", flush=True)


# ---------------------------------------------------------------- desktop

def views():
    """Every window in sway's tree: con_id, app_id, title, pid, focused."""
    tree = json.loads(run("swaymsg", "-t", "get_tree", "-r").stdout)
    found = []

    def walk(node):
        if node.get("type") in ("con", "floating_con") and node.get("pid"):
            found.append({"id": node["id"], "app_id": node.get("app_id") or "", "title": node.get("name") or "",
                          "pid": node["pid"], "focused": node.get("focused", False)})
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)

    walk(tree)
    return found


def views_where(app_id=None, title=None, pid=None):
    """Windows of an application id, a title (a regular expression) and a
    process, each when given."""
    return [v for v in views()
            if (app_id is None or v["app_id"] == app_id) and (title is None or re.search(title, v["title"]))
            and (pid is None or v["pid"] == pid)]


def wait_view(what, timeout=10.0, **match):
    return wait_for(lambda: (views_where(**match) or [None])[0], what, timeout)


def view(con_id):
    return next((v for v in views() if v["id"] == con_id), None)


def focused():
    return next((v for v in views() if v["focused"]), None)


def focus(con_id):
    """What a click on the window does: it gets the keyboard."""
    run("swaymsg", f"[con_id={con_id}] focus", check_rc=False)
    wait_for(lambda: (view(con_id) or {}).get("focused"), f"window {con_id} to get the focus", 5)


def wtype(*args):
    # Each wtype is a new keyboard with a keymap of its own: a client can
    # miss the first key when it comes with the keymap, so it waits first.
    run("wtype", "-s", "100", *args, timeout=30)


def key(*chords):
    """Key chords ("ctrl+a", "alt+c", "Return") through e2e-wlkeys, whose
    keyboard has real modifier keys (wtype's modifiers reach no GTK 3
    program)."""
    run(KEYS, *chords, timeout=30)
    time.sleep(0.05)


def press_binding(request):
    """Ctrl+Shift+F12 (encrypt) or F11 (decrypt), typed with wtype as a
    person's keyboard: sway runs `morvantile encrypt` or `decrypt`."""
    wtype("-M", "ctrl", "-M", "shift", "-k", request, "-m", "shift", "-m", "ctrl")


def type_text(text):
    """Lines typed as characters, each line end as Return."""
    args = ["-d", "8"]
    for i, line in enumerate(text.split("\n")):
        if i:
            args += ["-k", "Return"]
        if line:
            args += ["--", line] if line.startswith("-") else [line]
    wtype(*args)


class Clipboard:
    """The seat's clipboard, through wl-clipboard (data control)."""

    @staticmethod
    def read():
        result = run("wl-paste", "--no-newline", check_rc=False, timeout=5)
        return result.stdout.decode("utf-8", errors="replace") if result.returncode == 0 else None

    @staticmethod
    def write(text):
        # wl-copy serves the clipboard from a process of its own until another
        # program takes it, so its output must not be waited for.
        subprocess.run(["wl-copy", "--type", "text/plain;charset=utf-8"], input=text.encode(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=5, check=True)
        wait_for(lambda: Clipboard.read() == text, "wl-copy to own the clipboard", 5)


def copied_from(con_id, keys=("ctrl+a", "ctrl+c")):
    """The text the window gives when its content is selected and copied."""
    focus(con_id)
    sentinel = f"<nothing copied {time.monotonic()}>"
    Clipboard.write(sentinel)
    key(*keys)
    return wait_for(lambda: (lambda t: t if t not in (None, sentinel) else None)(Clipboard.read()),
                    f"a copy from window {con_id}", 5)


def own_windows():
    return views_where(app_id="morvantile")


def wait_quiet(timeout=15.0):
    """Waits until no window of the program has been up for a while, then
    for the request's last keystrokes."""
    end = time.monotonic() + timeout
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < 0.6:
        if own_windows():
            quiet_since = time.monotonic()
        if time.monotonic() > end:
            raise x11.Failure(f"a window of the program stays open: {own_windows()}")
        time.sleep(0.1)
    time.sleep(SETTLE)


def wait_text(con_id, expected, what, timeout=12.0):
    """Polls the window's text until it equals `expected` (read only once the
    program is quiet: a copy would spoil a paste still under way)."""
    wait_quiet()
    seen = []

    def matches():
        text = copied_from(con_id)
        seen.append(text)
        return text == expected

    try:
        wait_for(matches, what, timeout, interval=0.8)
    except x11.Failure:
        raise x11.Failure(f"{what}: last text {seen[-1] if seen else None!r}")


# ---------------------------------------------------------------- programs

# Editors of two toolkits, each natively on Wayland and standalone, so each
# test owns its window: the command, its environment and application id.
EDITORS = {
    "gedit": (["gedit", "--standalone"], {"GDK_BACKEND": "wayland"}, "gedit"),              # GTK 3
    "featherpad": (["featherpad", "--standalone"], {"QT_QPA_PLATFORM": "wayland"}, "featherpad"),  # Qt 5
}


def start_editor(program, args, log):
    command, env, _ = EDITORS[program]
    return subprocess.Popen([*command, *args], env=dict(os.environ, **env), stdout=log, stderr=subprocess.STDOUT)


class Editor:
    """An editor window holding a file."""

    def __init__(self, home, program, text="", name="note.txt"):
        self.program = program
        self.app_id = EDITORS[program][2]
        self.path = os.path.join(home, name)
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(text)
        self.log = open(os.path.join(home, f"{program}.log"), "ab")
        self.proc = start_editor(program, [self.path], self.log)
        self.id = wait_view(f"the {program} window", 20, app_id=self.app_id, pid=self.proc.pid)["id"]
        focus(self.id)

    def text(self):
        return copied_from(self.id)

    def write(self, text):
        """A person typing the message (not saved: an editor may add a line
        end when it saves)."""
        focus(self.id)
        type_text(text)
        wait_for(lambda: self.text() == text, f"{self.program} to hold the typed text", 10, interval=0.5)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.log.close()


def write_options(sections):
    folder = os.path.join(os.environ["XDG_CONFIG_HOME"], "morvantile")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "morvantile.ini"), "w", encoding="utf-8") as f:
        f.write(x11.ini_text(sections))


def trigger_socket():
    return os.path.join(os.environ["XDG_RUNTIME_DIR"], "morvantile", "trigger")


def request(word):
    """`morvantile WORD` as a key binding runs it: (status, output)."""
    result = run(MORVANTILE, word, check_rc=False, timeout=20)
    return result.returncode, (result.stdout + result.stderr).decode(errors="replace")


def instance_running():
    """The running copy answers requests (the socket alone may be a dead
    copy's)."""
    if not os.path.exists(trigger_socket()):
        return False
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(trigger_socket())
        return True
    except OSError:
        return False
    finally:
        s.close()


class Morvantile:
    """The tray program in this session (the configuration folder and the
    request socket are the session's, which sway's bindings use too)."""

    def __init__(self, home, sections):
        write_options(sections)
        self.log = open(os.path.join(home, "morvantile.log"), "ab")
        self.proc = subprocess.Popen([MORVANTILE, "nosplash"], stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(lambda: instance_running() or self.proc.poll() is not None, "the request socket", 20)
        check(self.proc.poll() is None, f"the program ended at start ({self.proc.returncode})")
        self.start_messages = close_start_messages()

    def running(self):
        return self.proc.poll() is None

    def stop(self):
        x11.end_process(self.proc)
        self.log.close()


NO_TRAY = "No system tray was found."
ERROR_CAPTION = "^Morvantile: error!$"


def message_text(con_id):
    """The text of one of the program's message boxes (Ctrl+C copies it)."""
    return copied_from(con_id, keys=("ctrl+c",)).replace("\n", " ").strip()


def close_start_messages(quiet=1.5, timeout=20.0):
    """Closes the messages of a start until none has come for a while: only
    the one about the missing tray is expected (the session has no panel).
    The texts of the messages closed."""
    texts = []
    end = time.monotonic() + timeout
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < quiet:
        check(time.monotonic() < end, f"messages keep coming at start: {texts}")
        boxes = views_where(app_id="morvantile", title=ERROR_CAPTION)
        if boxes:
            box = boxes[0]["id"]
            texts.append(message_text(box))
            key("Return")
            wait_for(lambda: view(box) is None, "the message to close", 5)
            quiet_since = time.monotonic()
        time.sleep(0.1)
    unexpected = [t for t in texts if not t.startswith(NO_TRAY)]
    check(not unexpected, f"unexpected messages at start: {unexpected}")
    return texts


def answer_password(password=PASSWORD, caption="Morvantile: enter password"):
    """Types the password into the program's dialog. The dialog should have
    the keyboard when it appears; if it does not, that is reported, and the
    test gives it the focus as a click would."""
    dialog = wait_view("the password dialog", 15, app_id="morvantile", title=f"^{re.escape(caption)}$")["id"]
    try:
        wait_for(lambda: (view(dialog) or {}).get("focused"), "the password dialog to get the focus", 3)
    except x11.Failure:
        finding(f"the password dialog appeared without the keyboard focus (focused: {focused()})")
        focus(dialog)
    time.sleep(0.4)  # the window has the focus a moment before its text box
    screenshot(os.path.join(HOME, f"password-dialog-{len(glob.glob(os.path.join(HOME, 'password-dialog-*')))}.png"))
    type_text(password)
    key("Return")
    wait_for(lambda: view(dialog) is None, "the password dialog to close", 5)


def replaced_text(editor, old, what, timeout=12.0):
    """The editor's text once the program has replaced `old` in it."""
    wait_quiet()
    return wait_for(lambda: (lambda t: t if t != old else None)(editor.text()), what, timeout, interval=0.8)


def encrypt_in_editor(editor, password=PASSWORD):
    """The encrypt binding on the editor's text: the block it holds then."""
    old = editor.text()
    focus(editor.id)
    press_binding(ENCRYPT)
    answer_password(password)
    block = replaced_text(editor, old, "the block pasted into the editor")
    screenshot(os.path.join(HOME, "encrypted.png"))
    return block


def block_of(text):
    """A block made by morvantile-cli of the text as the program takes it
    from an editor (CR LF line ends, Windows-1252 bytes where possible)."""
    rc, block = x11.cli("encrypt", stdin_text=x11.as_typed(text.replace("\n", "\r\n")))
    check(rc == 0, "morvantile-cli encrypts")
    return block.decode()


# ---------------------------------------------------------------- scenarios

def scenario_diagnose(home):
    """`morvantile diagnose` finds the wlroots protocols and picks them."""
    rc, out = request("diagnose")
    check(rc == 0, f"diagnose ends with 0, not {rc}: {out}")
    backend = re.search(r"^Backend: (.*)$", out, re.M)
    check(backend and "Wayland" in backend.group(1) and "XWayland" not in backend.group(1)
          and "clipboard" not in backend.group(1).lower(), f"the native Wayland backend is chosen:\n{out}")
    wayland = re.search(r"^\s*Wayland: display \S+,(.*)$", out, re.M)
    check(wayland, f"a line about the Wayland display:\n{out}")
    for protocol in ("virtual keyboard", "data control", "foreign toplevel"):
        check(re.search(protocol + r"[^,]* yes", wayland.group(1)), f"{protocol} found:\n{out}")
    for line in ("keystrokes: yes", "source window: yes", "clipboard: yes"):
        check(re.search(r"^\s*" + line, out, re.M), f"works: {line!r}:\n{out}")
    check(not instance_running(), "diagnose starts no copy")

    # The choice can be overridden.
    result = run("env", "MORVANTILE_BACKEND=clipboard", MORVANTILE, "diagnose", check_rc=False)
    out = result.stdout.decode(errors="replace")
    check(result.returncode == 0 and re.search(r"^Backend: clipboard only", out, re.M),
          f"MORVANTILE_BACKEND=clipboard is taken:\n{out}")


def roundtrip(home, program):
    """Encrypt and decrypt in place through sway's key bindings."""
    editor = Editor(home, program)
    editor.write(TEXT)
    app = Morvantile(home, x11.options())

    block = encrypt_in_editor(editor)
    check(block != TEXT and "[-START" not in block, f"a bare block replaced the text: {block!r}")
    x11.decrypts_to(block, TEXT)

    focus(editor.id)
    press_binding(DECRYPT)
    answer_password()
    wait_text(editor.id, TEXT, "the decrypt binding restores the text exactly")
    check(app.running(), "the program keeps running")
    app.stop()
    editor.close()


def scenario_roundtrip_gedit(home):
    """In place with a GTK 3 editor."""
    roundtrip(home, "gedit")


def scenario_roundtrip_featherpad(home):
    """In place with a Qt 5 editor."""
    roundtrip(home, "featherpad")


def scenario_viewer(home):
    """DecryptView 1: the viewer shows the text and pastes it back."""
    block = block_of(TEXT)
    editor = Editor(home, "gedit", text=block)
    app = Morvantile(home, x11.options(misc__DecryptView=1))

    focus(editor.id)
    press_binding(DECRYPT)
    answer_password()
    viewer = wait_view("the viewer", 10, app_id="morvantile", title="^Morvantile: view decrypted text$")["id"]
    wait_for(lambda: (view(viewer) or {}).get("focused"), "the viewer to get the focus", 5)
    time.sleep(0.8)  # sway lists and focuses a window before its first frame is drawn
    screenshot(os.path.join(home, "viewer.png"))
    check(editor.text() == block, "the editor keeps the block while the viewer shows the text")

    focus(viewer)
    time.sleep(0.4)
    Clipboard.write("<before copy>")
    key("alt+c")  # Copy to clipboard
    wait_for(lambda: Clipboard.read() not in (None, "<before copy>"), "the viewer's Copy to fill the clipboard", 5)
    copied = Clipboard.read()
    check(copied == TEXT, f"the viewer copies the text exactly: {copied!r}")
    # A notice may confirm the copy; it closes by itself.
    wait_for(lambda: not views_where(app_id="morvantile", title="^Morvantile$"), "the copy notice to close", 8)
    focus(viewer)
    time.sleep(0.4)
    key("alt+p")  # Paste to window
    wait_text(editor.id, TEXT, "Paste to window puts the text into the editor")
    app.stop()
    editor.close()


def external_editor_started(home, command_line):
    """DecryptView 2 with no window of the editor open: the editor started
    from the command line gets the text; the source keeps its block."""
    block = block_of(TEXT)
    source = Editor(home, "gedit", text=block)
    app = Morvantile(home, x11.options(misc__DecryptView=2, misc__DecryptViewer=command_line))
    focus(source.id)
    press_binding(DECRYPT)
    answer_password()
    started = wait_view(f"a featherpad window started by {command_line!r}", 20, app_id="featherpad")["id"]
    wait_text(started, TEXT, f"the editor started by {command_line!r} holds the decrypted text")
    check(source.text() == block, "the source editor keeps the block")
    app.stop()
    return source, block


def scenario_external_editor(home):
    """DecryptView 2: a started editor, then a running one, gets the text."""
    source, block = external_editor_started(home, "featherpad")

    # A bare program name finds the running editor by its application id
    # and pastes over its text; no second one is started.
    app = Morvantile(home, x11.options(misc__DecryptView=2, misc__DecryptViewer="gedit"))
    focus(source.id)
    press_binding(DECRYPT)
    answer_password()
    wait_text(source.id, TEXT, "the running gedit holds the decrypted text")
    check(len(views_where(app_id="gedit")) == 1, f"no second gedit: {views_where(app_id='gedit')}")
    app.stop()
    source.close()


def scenario_external_editor_arguments(home):
    """DecryptView 2 with a command line with arguments: its new window gets
    the text too (the compositor tells no window's process here, so the
    window is known by the program's name alone)."""
    source, _ = external_editor_started(home, "featherpad --standalone")
    source.close()


def trigger_starts_program(home, tray):
    """With no copy running, the encrypt binding starts one that encrypts,
    and that copy takes the next request."""
    check(not instance_running(), "no copy runs at first")
    # The splash is on in the options: a start for a request goes without it.
    write_options(x11.options(misc__NoSplash=0))
    editor = Editor(home, "featherpad")
    editor.write(TEXT)
    focus(editor.id)
    press_binding(ENCRYPT)
    seen = set()

    def dialog_up():
        windows = own_windows()
        seen.update(v["title"] for v in windows)
        for box in (v for v in windows if re.search(ERROR_CAPTION, v["title"])):
            # Without a panel the start's message comes first, and the
            # request waits for it.
            text = message_text(box["id"])
            check(not tray and text.startswith(NO_TRAY), f"an unexpected message: {text!r}")
            finding(f"a copy started by a request first shows {text!r}; the request waits until it is closed")
            key("Return")
            wait_for(lambda: view(box["id"]) is None, "the message to close", 5)
        return any(v["title"] == "Morvantile: enter password" for v in windows)

    wait_for(dialog_up, "the started copy's password dialog", 25)
    check(seen <= {"Morvantile: enter password", "Morvantile: error!"},
          f"no splash or other window before the dialog: {seen}")
    answer_password()
    block = replaced_text(editor, TEXT, "the block pasted into the editor")
    x11.decrypts_to(block, TEXT)
    check(instance_running(), "the started copy keeps running")

    focus(editor.id)
    press_binding(DECRYPT)
    answer_password()
    wait_text(editor.id, TEXT, "the decrypt binding restores the text exactly")

    rc, out = request("exit")
    check(rc == 0, f"morvantile exit ends the copy: {rc} {out}")
    wait_for(lambda: not instance_running(), "the copy to end", 10)
    rc, out = request("exit")
    check(rc == 1, f"a second morvantile exit finds no copy: {rc} {out}")
    editor.close()


def scenario_trigger_starts_program(home):
    """On a desktop with a tray (run with wayland-session.sh --tray)."""
    trigger_starts_program(home, tray=True)


def scenario_trigger_starts_program_no_tray(home):
    """On a desktop without one: the start's message comes first."""
    trigger_starts_program(home, tray=False)


def screenshot(path):
    run("grim", path, check_rc=False, timeout=20)


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items() if name.startswith("scenario_")}


def load_x11_suite(path):
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    located = importlib.util.spec_from_file_location("e2e_x11", path)
    module = importlib.util.module_from_spec(located)
    located.loader.exec_module(module)
    return module


def main():
    global x11, MORVANTILE, KEYS, HOME
    parser = argparse.ArgumentParser()
    parser.add_argument("--morvantile", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--keys", required=True, help="e2e-wlkeys")
    parser.add_argument("--x11-e2e", required=True, help="tests/e2e/e2e.py, for its helpers")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    x11 = load_x11_suite(args.x11_e2e)
    MORVANTILE = x11.MORVANTILE = os.path.abspath(args.morvantile)
    x11.CLI = os.path.abspath(args.cli)
    KEYS = os.path.abspath(args.keys)
    x11.PASSWORD = PASSWORD
    home = HOME = tempfile.mkdtemp(prefix=f"morvantile-e2ewl-{args.scenario}-")
    os.chmod(home, 0o755)
    started = time.monotonic()
    try:
        SCENARIOS[args.scenario](home)
    except Exception:
        traceback.print_exc()
        shot = os.path.join(home, "failure.png")
        screenshot(shot)
        try:
            with open(os.path.join(home, "tree.json"), "w") as f:
                json.dump(views(), f, indent=1)
        except Exception:
            pass
        for name in ("morvantile.log", "gedit.log", "featherpad.log"):
            path = os.path.join(home, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    print(f"--- {name}:\n" + f.read())
        sway_log = os.environ.get("SWAY_LOG")
        if sway_log and os.path.exists(sway_log):
            shutil.copy(sway_log, os.path.join(home, "sway.log"))
            with open(sway_log, errors="replace") as f:
                lines = f.read().splitlines()
            print("--- sway and the programs it started (last lines):\n" + "\n".join(lines[-60:]))
        ini = os.path.join(os.environ["XDG_CONFIG_HOME"], "morvantile", "morvantile.ini")
        if os.path.exists(ini):
            shutil.copy(ini, os.path.join(home, "morvantile.ini"))
        print(f"FAILED {args.scenario} after {time.monotonic() - started:.1f} s; screenshot and logs in {home}")
        return 1
    # A sanitizer build reports memory errors and undefined behaviour on the
    # program's output (the copies started by sway's bindings write to
    # sway's). Leaks at exit are only shown: Qt's Wayland plugin leaves its
    # own objects behind.
    errors, leaks = [], False
    for path in (os.path.join(home, "morvantile.log"), os.environ.get("SWAY_LOG", "")):
        if path and os.path.exists(path):
            with open(path, errors="replace") as f:
                for line in f:
                    errors += [line] if "ERROR: AddressSanitizer" in line or "runtime error:" in line else []
                    leaks = leaks or "ERROR: LeakSanitizer" in line
    if leaks:
        print("NOTE: LeakSanitizer reported leaks at the program's exit")
    if errors:
        print("".join(errors))
        if os.environ.get("SWAY_LOG"):
            shutil.copy(os.environ["SWAY_LOG"], os.path.join(home, "sway.log"))
        print(f"FAILED {args.scenario}: sanitizer reports; logs in {home}")
        return 1
    print(f"PASSED {args.scenario} in {time.monotonic() - started:.1f} s"
          + (f" with {len(FINDINGS)} finding(s)" if FINDINGS else ""))
    if os.environ.get("E2E_KEEP"):
        print(f"kept: {home}")
    else:
        shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
