#!/usr/bin/env python3
"""End-to-end tests of the tray program on a real X11 desktop.

Each scenario drives `morvantile` the way a person does: text in a real
editor (mousepad), hotkeys pressed and held with xdotool, passwords typed
into the dialogs, the tray menu clicked. What lands in the editor is read
back through the clipboard (xclip) and checked with `morvantile-cli`.

Run one scenario inside a throw-away desktop (scripts/desktop-session.sh):
    e2e.py --morvantile BIN --cli BIN SCENARIO
"""

import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

PASSWORD = "correct horse"
TEXT = "Dear Alice,\nthe key is under the mat.\n\u00dcber-geheim: 42 \u20ac\n\u2014 Bob"
ENCRYPT = "ctrl+shift+F12"
DECRYPT = "ctrl+shift+F9"
OPTIONS = "ctrl+shift+F8"
EXIT = "ctrl+shift+F5"

MORVANTILE = CLI = ""
# Enough for the last keystrokes of a request (SendKeysDelay 150 ms before
# each of select-all and paste) to have arrived.
SETTLE = 1.5


class Failure(AssertionError):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


# ---------------------------------------------------------------- desktop

def run(*cmd, timeout=10, check_rc=True, input_text=None, env=None):
    result = subprocess.run(cmd, capture_output=True, timeout=timeout, input=input_text, env=env)
    if check_rc and result.returncode != 0:
        raise Failure(f"{' '.join(cmd)} failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
    return result


def xdotool(*args):
    return run("xdotool", *args).stdout.decode().strip()


def wait_for(predicate, what, timeout=10.0, interval=0.1):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


def active_window():
    result = run("xdotool", "getactivewindow", check_rc=False)
    return int(result.stdout) if result.returncode == 0 and result.stdout.strip() else 0


def windows_named(pattern):
    result = run("xdotool", "search", "--onlyvisible", "--name", pattern, check_rc=False)
    return [int(w) for w in result.stdout.split()]


def window_name(window):
    result = run("xdotool", "getwindowname", str(window), check_rc=False)
    return result.stdout.decode(errors="replace").rstrip("\n") if result.returncode == 0 else ""


def pid_of(window):
    result = run("xdotool", "getwindowpid", str(window), check_rc=False)
    return int(result.stdout) if result.returncode == 0 and result.stdout.strip() else 0


def wait_window(pattern, timeout=10.0):
    return wait_for(lambda: (windows_named(pattern) or [0])[0], f"a window named {pattern!r}", timeout)


def wait_gone(pattern, timeout=10.0):
    wait_for(lambda: not windows_named(pattern), f"the window {pattern!r} to close", timeout)


def wait_active(window, timeout=5.0):
    wait_for(lambda: active_window() == window, f"window {window} ({window_name(window)!r}) to become active",
             timeout)


def wait_dialog(caption, timeout=10.0):
    """A dialog of the program, active and ready for the keyboard (the
    window manager marks it active a moment before the focus arrives)."""
    dialog = wait_window(caption, timeout)
    wait_active(dialog)
    time.sleep(0.4)
    return dialog


def activate(window):
    """What a click on the window does: it becomes the active one."""
    run("xdotool", "windowactivate", str(window), check_rc=False)
    wait_active(window)


def chord(keys, hold=0.6):
    """A person pressing a hotkey: down, held, released."""
    xdotool("keydown", keys)
    time.sleep(hold)
    xdotool("keyup", keys)


def key(*keys):
    xdotool("key", "--delay", "40", *keys)


def type_text(text):
    xdotool("type", "--delay", "25", text)


class Clipboard:
    """The CLIPBOARD selection, through xclip."""

    owners = []

    @classmethod
    def read(cls):
        result = run("xclip", "-o", "-selection", "clipboard", check_rc=False, timeout=5)
        return result.stdout.decode("utf-8", errors="replace") if result.returncode == 0 else None

    @classmethod
    def write(cls, text):
        # xclip serves the selection until another program takes it.
        owner = subprocess.Popen(["xclip", "-i", "-quiet", "-selection", "clipboard"], stdin=subprocess.PIPE,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        owner.stdin.write(text.encode())
        owner.stdin.close()
        cls.owners.append(owner)
        wait_for(lambda: cls.read() == text, "xclip to own the clipboard", 5)

    @classmethod
    def end(cls):
        for owner in cls.owners:
            if owner.poll() is None:
                owner.kill()
            owner.wait()
        cls.owners = []


def copied_from(window, keys=("ctrl+a", "ctrl+c")):
    """The text the window gives when its content is selected and copied."""
    activate(window)
    sentinel = f"<nothing copied {time.monotonic()}>"
    Clipboard.write(sentinel)
    key(*keys)
    return wait_for(lambda: (lambda t: t if t not in (None, sentinel) else None)(Clipboard.read()),
                    f"a copy from {window_name(window)!r}", 5)


def wait_quiet(timeout=15.0):
    """Waits until no notice of the program has been up for a while (a
    Hardcore pass follows its notices), then for the request's last
    keystrokes."""
    end = time.monotonic() + timeout
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < 0.6:
        if windows_named("^Morvantile$"):
            quiet_since = time.monotonic()
        if time.monotonic() > end:
            raise Failure("a notice stays open")
        time.sleep(0.1)
    time.sleep(SETTLE)


def wait_text(window, expected, what, timeout=12.0):
    """Polls the window's text until it equals `expected`. Reading it means
    selecting and copying, which would spoil a paste still under way, so
    the program gets time to finish first."""
    wait_quiet()
    seen = []

    def matches():
        text = copied_from(window)
        seen.append(text)
        return text == expected

    try:
        wait_for(matches, what, timeout, interval=0.8)
    except Failure:
        raise Failure(f"{what}: last text {seen[-1] if seen else None!r}")


def message_text(window):
    """The text of one of the program's message windows (Ctrl+C copies it)."""
    return copied_from(window, keys=("ctrl+c",))


# ---------------------------------------------------------------- programs

def as_typed(text):
    """The bytes the program makes of a typed or copied text: Windows-1252
    when every character has a byte there, as the Windows build has them,
    else UTF-8."""
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError:
        return text.encode("utf-8")


def cli(*args, stdin_text="", password=PASSWORD):
    """morvantile-cli with the password's bytes as given (str as UTF-8, or
    bytes); its output as bytes, which it passes through unchanged."""
    env = dict(os.environb)
    env[b"MORVANTILE_PASSWORD"] = password if isinstance(password, bytes) else password.encode()
    data = stdin_text if isinstance(stdin_text, bytes) else stdin_text.encode()
    result = run(CLI, *args, input_text=data, env=env, check_rc=False, timeout=20)
    return result.returncode, result.stdout


def decrypts_to(block, expected, *options, password=PASSWORD):
    """The block opens with morvantile-cli. GTK editors offer plain text with
    CR LF line ends (as the Windows build has it), so that is what the block
    holds; pasted back they turn into the editor's own line ends again."""
    rc, out = cli("decrypt", *options, stdin_text=block, password=password)
    check(rc == 0, f"morvantile-cli decrypt {' '.join(options)} failed on {block!r}")
    crlf = as_typed(expected.replace("\n", "\r\n"))
    check(out == crlf, f"the block decrypts to {out!r}, not {crlf!r}")


# Editors of two toolkits, each started as a window of its own: the command
# and the caption its window gets for a file.
EDITORS = {
    "mousepad": (["mousepad", "--disable-server"], lambda path, name: f"{name} - Mousepad"),  # GTK 3
    "featherpad": (["featherpad", "--standalone"], lambda path, name: f"^{path}$"),          # Qt
}


class Editor:
    """An editor window holding a file; standalone, so each test owns it."""

    def __init__(self, workdir, text, name="note.txt", program="mousepad"):
        self.path = os.path.join(workdir, name)
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(text)
        command, caption = EDITORS[program]
        self.proc = subprocess.Popen([*command, self.path], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.window = wait_window(caption(self.path, name), 20)
        activate(self.window)

    def text(self):
        return copied_from(self.window)

    def modified(self):
        return window_name(self.window).startswith("*")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def ini_text(sections):
    lines = []
    for section, values in sections.items():
        lines.append(f"[{section}]")
        lines += [f"{k}={v}" for k, v in values.items()]
        lines.append("")
    return "\n".join(lines)


BASE_OPTIONS = {
    "misc": {"NoSplash": 1, "Hints": 0, "ConfirmPassword": 0, "ShowPasswordManager": 0, "DecryptView": 0,
             "AppendSeparator": 0, "AutoSelect_e": 1, "AutoSelect_d": 1, "AutoCopy": 1, "AutoPaste": 1},
    "timing": {"SendKeysDelay": 150, "ActiveWindowCheckTime": 100},
}


def options(**changes):
    """BASE_OPTIONS with changes given as section__Key=value."""
    sections = {name: dict(values) for name, values in BASE_OPTIONS.items()}
    for dotted, value in changes.items():
        section, name = dotted.split("__")
        sections.setdefault(section, {})[name] = value
    return sections


class Morvantile:
    """The tray program with its own configuration and run-time folders."""

    def __init__(self, home, sections=None, args=(), wait_ready=True, env=None):
        self.home = home
        self.config_dir = os.path.join(home, "config", "morvantile")
        self.ini = os.path.join(self.config_dir, "morvantile.ini")
        os.makedirs(self.config_dir, exist_ok=True)
        runtime = os.path.join(home, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        if sections is not None:
            with open(self.ini, "w", encoding="utf-8") as f:
                f.write(ini_text(sections))
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_RUNTIME_DIR=runtime)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env.update(env or {})
        self.log = open(os.path.join(home, "morvantile.log"), "ab")
        self.proc = subprocess.Popen([MORVANTILE, "nosplash", *args], env=self.env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        if wait_ready:
            self.wait_ready()

    def wait_ready(self):
        wait_for(self.tray_icon, "the tray icon", 20)
        # The hotkeys are registered right after the tray icon is shown.
        time.sleep(0.7)

    def tray_icon(self):
        tree = run("xwininfo", "-root", "-tree", check_rc=False).stdout.decode(errors="replace")
        in_panel = False
        for line in tree.splitlines():
            if '"panel"' in line:
                in_panel = True
            elif in_panel and '"morvantile"' in line:
                return int(line.split()[0], 16)
        return 0

    def menu(self, downs):
        """Right click on the tray icon, then Down `downs` times and Return
        (None: Up once, the last item, Exit)."""
        icon = self.tray_icon()
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", str(icon)).split())
        xdotool("mousemove", str(int(geometry["X"]) + 8), str(int(geometry["Y"]) + 8), "click", "3")
        time.sleep(0.8)
        key(*(["Down"] * downs if downs is not None else ["Up"]), "Return")

    def running(self):
        return self.proc.poll() is None

    def ended(self, timeout=5.0):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end")

    def stop(self):
        end_process(self.proc, 5)
        self.log.close()



def end_process(proc, timeout=10):
    """Ends a child the way a session ends it: SIGTERM, and SIGKILL when it
    has not gone after `timeout` seconds."""
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()

TRAY_MENU = {"file_mode": 3, "encrypt": 4, "decrypt": 5, "options": 6}


def answer_password(password=PASSWORD, retain=False, caption="Morvantile: enter password"):
    dialog = wait_dialog(caption)
    type_text(password)
    if retain:
        key("alt+r")
        time.sleep(0.3)
    key("Return")
    wait_for(lambda: dialog not in windows_named(caption), "the password dialog to close", 5)


def wait_paste(editor, what):
    wait_for(editor.modified, what, 12)
    wait_quiet()


def encrypted_in_editor(home, sections, retain=False, program="mousepad", password=PASSWORD):
    """The tray program and an editor whose text the encrypt hotkey has just
    replaced by a block: (app, editor, block)."""
    app = Morvantile(home, sections)
    editor = Editor(home, TEXT, program=program)
    check(editor.text() == TEXT, "the editor holds the text")
    time.sleep(0.5)  # the window check remembers the editor
    chord(ENCRYPT)
    answer_password(password, retain=retain)
    wait_paste(editor, "the block pasted into the editor")
    return app, editor, editor.text()


# ---------------------------------------------------------------- scenarios

def scenario_text_roundtrip(home):
    """Encrypt and decrypt in place with the hotkeys, held like a person does."""
    app, editor, block = encrypted_in_editor(home, options())
    check(block != TEXT and "[-START" not in block, f"a bare block replaced the text: {block!r}")
    decrypts_to(block, TEXT)

    chord(DECRYPT)
    answer_password()
    wait_text(editor.window, TEXT, "the decrypt hotkey restores the text exactly")
    check(app.running(), "the program keeps running")
    editor.close()
    app.stop()


def scenario_separators(home):
    """With separators the block carries its START and END lines."""
    app, editor, block = encrypted_in_editor(home, options(misc__AppendSeparator=1))
    lines = block.replace("\r\n", "\n").strip("\n").split("\n")
    check(lines[0].startswith("[-START Morvantile v.") and lines[0].endswith(" START-]"), f"start line in {block!r}")
    check(lines[-1].startswith("[-END Morvantile v.") and lines[-1].endswith(" END-]"), f"end line in {block!r}")
    decrypts_to("\n".join(lines[1:-1]), TEXT)
    editor.close()
    app.stop()


def scenario_hardcore_and_master(home):
    """Hardcore mode both ways, with the password kept as master password."""
    app, editor, block = encrypted_in_editor(home, options(encryption__HardcoreMode=1), retain=True)
    decrypts_to(block, TEXT, "--hardcore")
    # One pass of the default suite opens only the outer layer.
    rc, inner = cli("decrypt", stdin_text=block)
    inner = inner.decode()
    check(rc == 0 and inner != block, "the outer layer opens alone")
    decrypts_to(inner, TEXT)

    # The master password is kept: no dialog, a notice instead.
    chord(DECRYPT)
    notice = wait_window("^Morvantile$", 5)
    check(not windows_named("Morvantile: enter password"), "no password dialog with a master password")
    wait_for(lambda: notice not in windows_named("^Morvantile$"), "the notice to close itself", 5)
    wait_text(editor.window, TEXT, "the hardcore block decrypts back")
    editor.close()
    app.stop()


def scenario_viewer(home):
    """DecryptView 1: the viewer shows the text and pastes it back."""
    app, editor, block = encrypted_in_editor(home, options(misc__DecryptView=1))
    decrypts_to(block, TEXT)

    chord(DECRYPT)
    answer_password()
    viewer = wait_dialog("Morvantile: view decrypted text")
    check(editor.text() == block, "the editor still holds the block while the viewer shows the text")
    activate(viewer)
    Clipboard.write("<before copy>")
    key("alt+c")  # Copy to clipboard
    wait_for(lambda: Clipboard.read() == TEXT, "the viewer's Copy to put the text on the clipboard", 5)
    for notice in windows_named("^Morvantile$"):
        wait_for(lambda: notice not in windows_named("^Morvantile$"), "the copy notice to close", 5)
    activate(viewer)
    key("alt+p")  # Paste to window
    wait_text(editor.window, TEXT, "Paste to window puts the text into the editor")
    editor.close()
    app.stop()


def scenario_external_editor(home):
    """DecryptView 2: a new editor window gets the text and the caption prefix."""
    app, editor, block = encrypted_in_editor(
        home, options(misc__DecryptView=2, misc__DecryptViewer="mousepad --disable-server"))

    chord(DECRYPT)
    answer_password()
    viewer = wait_window("^Morvantile - ", 20)
    check(viewer != editor.window, "a second editor window")
    wait_text(viewer, TEXT, "the external editor holds the decrypted text")
    check(editor.text() == block, "the source editor keeps the block")
    second = viewer
    app.stop()

    # A bare program name finds the running editor, the one the block is in
    # (first in the window manager's list), and pastes over it.
    run("xdotool", "windowclose", str(second), check_rc=False)
    wait_for(lambda: second not in windows_named("Mousepad"), "the second editor to close", 5)
    app = Morvantile(home, options(misc__DecryptView=2, misc__DecryptViewer="mousepad"))
    activate(editor.window)
    time.sleep(0.5)
    chord(DECRYPT)
    answer_password()
    wait_for(lambda: window_name(editor.window).startswith("Morvantile - "), "the caption prefix on the editor", 15)
    check(len(windows_named("Mousepad")) == 1, "no new editor was started")
    wait_text(editor.window, TEXT, "the running editor holds the decrypted text")
    check(window_name(editor.window).startswith("Morvantile - "), "the prefix stays")
    editor.close()
    app.stop()


def scenario_messages_and_instances(home):
    """Hotkey messages at start, one instance, the options dialog first, exit hotkey."""
    # Another program holds ctrl+shift+F9 before Morvantile starts.
    xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XStringToKeysym.restype = ctypes.c_ulong
    xlib.XGrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int,
                              ctypes.c_int, ctypes.c_int]
    xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    other = xlib.XOpenDisplay(None)
    f9 = xlib.XKeysymToKeycode(other, xlib.XStringToKeysym(b"F9"))
    xlib.XGrabKey(other, f9, 1 | 4, xlib.XDefaultRootWindow(other), 0, 1, 1)  # Shift+Ctrl, async
    xlib.XSync(other, 0)

    sections = options(hotkeys__AutoEncryptHotKeyString="ctrl+alt+",
                       hotkeys__AutoDecryptHotKeyString="ctrl+shift+f9",
                       hotkeys__OptionsHotKeyString="ctrl+alt+f12")
    app = Morvantile(home, sections, wait_ready=False)
    expected = ["Invalid Auto-encrypt hotkey. Please correct.",
                "Auto-decrypt hotkey already taken. Please change.",
                "Options hotkey already taken. Please change."]
    for text in expected:
        message = wait_dialog("Morvantile: error!", 15)
        shown = message_text(message).replace("\n", " ").strip()
        check(shown == text, f"message {shown!r}, expected {text!r}")
        key("Return")
        wait_for(lambda: message not in windows_named("Morvantile: error!"), "the message to close", 5)
    app.wait_ready()
    check(not windows_named("Morvantile: error!"), "no further message")
    app.stop()
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay(other)  # lets go of ctrl+shift+F9

    # Good hotkeys now; a second copy is refused.
    app = Morvantile(home, options())
    second = subprocess.Popen([MORVANTILE, "nosplash"], env=app.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    # Its message box is the second copy's only window.
    box = wait_for(lambda: [w for w in windows_named("^Morvantile$") if pid_of(w) == second.pid],
                   "the second copy's message box", 10)[0]
    wait_active(box)
    check(app.running(), "the first copy keeps running")
    key("Return")
    check(second.wait(5) == 1, "the second copy ends with status 1")

    # A request while the options dialog is open brings that dialog forward.
    editor = Editor(home, TEXT)
    time.sleep(0.5)
    chord(OPTIONS)
    dialog = wait_dialog("Morvantile: change settings")
    activate(editor.window)
    time.sleep(0.5)
    chord(ENCRYPT)
    wait_active(dialog)
    time.sleep(0.5)
    check(not windows_named("Morvantile: enter password"), "no password dialog beside the options")
    check(not editor.modified(), "the editor is untouched")
    key("Escape")
    wait_gone("Morvantile: change settings")

    # The exit hotkey ends the program at once, without writing the options
    # (a dialog's placement is written when it closes).
    def stored():
        # The file is always replaced as a whole, so a write shows in the
        # inode even when the bytes come out the same.
        status = os.stat(app.ini)
        with open(app.ini, "rb") as f:
            return f.read(), status.st_ino, status.st_mtime_ns

    ini_before = stored()
    chord(EXIT)
    check(app.ended(5) == 0, "the exit hotkey ends the program")
    check(stored() == ini_before, "the exit hotkey leaves the configuration file alone")
    editor.close()
    app.stop()

    # An option of Qt's own is no parameter of the program: it is reported,
    # not silently taken.
    app = Morvantile(home, options(), args=("-reverse",), wait_ready=False)
    message = wait_dialog("Morvantile: error!", 15)
    shown = message_text(message)
    check("Command line error." in shown, f"the command-line error: {shown!r}")
    key("Return")
    check(app.ended(5) == 1, "the program ends after the command-line error")
    app.stop()


def file_dialog(caption, path):
    dialog = wait_dialog(caption)
    key("ctrl+a")
    type_text(path)
    key("Return")
    wait_for(lambda: dialog not in windows_named(caption), f"the dialog {caption!r} to close", 5)


def wait_file(path, timeout=10.0):
    wait_for(lambda: os.path.exists(path), f"the file {path}", timeout)


def scenario_file_mode(home):
    """File mode from the tray menu, with "Replace original file" off and on."""
    data = os.urandom(3000) + TEXT.encode() * 50
    files = os.path.join(home, "files")
    os.makedirs(files)
    original = os.path.join(files, "report.txt")
    with open(original, "wb") as f:
        f.write(data)

    app = Morvantile(home, options(filemode__OverwriteOriginal=0))
    app.menu(TRAY_MENU["file_mode"])
    time.sleep(0.5)
    app.menu(TRAY_MENU["encrypt"])
    answer_password()
    file_dialog("Morvantile: open file for encryption", original)
    # The chosen name gets the extension in place of its own.
    file_dialog("Morvantile: save encrypted file as", os.path.join(files, "report.doc"))
    encrypted = os.path.join(files, "report.mvt")
    wait_file(encrypted)
    time.sleep(0.5)
    check(open(original, "rb").read() == data, "the original stays")
    rc, _ = cli("decrypt-file", encrypted, os.path.join(home, "check.bin"))
    check(rc == 0 and open(os.path.join(home, "check.bin"), "rb").read() == data, "morvantile-cli opens the file")

    app.menu(TRAY_MENU["decrypt"])
    answer_password()
    file_dialog("Morvantile: open file for decryption", encrypted)
    restored = os.path.join(files, "restored.txt")
    file_dialog("Morvantile: save decrypted file as", restored)
    wait_file(restored)
    time.sleep(0.5)
    check(open(restored, "rb").read() == data, "the decrypted file equals the original")
    check(os.path.exists(encrypted), "the encrypted file stays")
    app.stop()

    # Replacing the original: the plaintext goes (wiped), the .mvt comes.
    app = Morvantile(home, options(filemode__OverwriteOriginal=1, filemode__SecureWipe=1))
    os.remove(encrypted)
    app.menu(TRAY_MENU["file_mode"])
    time.sleep(0.5)
    app.menu(TRAY_MENU["encrypt"])
    answer_password()
    file_dialog("Morvantile: open file for encryption", original)
    replaced = original + ".mvt"
    wait_file(replaced)
    wait_for(lambda: not os.path.exists(original), "the original to be wiped and removed", 10)
    check(not windows_named("Morvantile: save encrypted file as"), "no save dialog when replacing")
    check(sorted(os.listdir(files)) == ["report.txt.mvt", "restored.txt"], f"left: {os.listdir(files)}")
    app.menu(TRAY_MENU["decrypt"])
    answer_password()
    file_dialog("Morvantile: open file for decryption", replaced)
    wait_file(original)
    wait_for(lambda: not os.path.exists(replaced), "the encrypted file to be replaced", 10)
    check(open(original, "rb").read() == data, "the original comes back")
    app.stop()


def scenario_password_manager(home):
    """An entry added in the password dialog survives Exit and a restart."""
    entry_password = "entry secret 7"
    list_password = "list pass 1"
    app = Morvantile(home, options(misc__ShowPasswordManager=1))
    editor = Editor(home, TEXT)
    time.sleep(0.5)
    chord(ENCRYPT)
    dialog = wait_dialog("Morvantile: enter password")
    key("alt+e")  # Edit: the name box takes the focus
    time.sleep(0.4)
    type_text("work")
    key("Tab")
    type_text(entry_password)
    key("alt+a")  # Add: the entry is selected and its password is in the box
    time.sleep(0.3)
    key("Return")
    wait_for(lambda: dialog not in windows_named("Morvantile: enter password"), "the dialog to close", 5)
    wait_paste(editor, "the block pasted")
    block = editor.text()
    decrypts_to(block, TEXT, password=entry_password)

    # Exit from the tray writes the configuration; the list needs its password.
    app.menu(None)
    answer_password(list_password)
    check(app.ended(10) == 0, "Exit ends the program")
    with open(app.ini, encoding="utf-8", errors="replace") as f:
        stored = f.read()
    check(entry_password not in stored and "work" not in stored, "the list is stored encrypted")
    rc, listed = cli("passwords", "--config", app.ini, password=list_password)
    check(rc == 0 and b"work" in listed, f"morvantile-cli lists the entry: {listed!r}")

    # The next start asks for the list password; the entry is there to pick.
    editor.close()
    editor = Editor(home, TEXT, name="second.txt")
    app = Morvantile(home, wait_ready=False)
    answer_password(list_password)
    app.wait_ready()
    activate(editor.window)
    time.sleep(0.5)
    chord(ENCRYPT)
    dialog = wait_dialog("Morvantile: enter password")
    key("Tab", "Tab")  # from the password box past OK to the manager's list
    key("Down")
    time.sleep(0.3)
    key("alt+o")
    wait_for(lambda: dialog not in windows_named("Morvantile: enter password"), "the dialog to close", 5)
    wait_paste(editor, "the block pasted")
    decrypts_to(editor.text(), TEXT, password=entry_password)
    editor.close()
    app.stop()


def scenario_featherpad_windows_interop(home):
    """A Qt editor, and a password and text with umlauts that must give the
    same bytes as on Windows."""
    password = "M\u00fcller"
    # A German keyboard, on which the user types the umlaut with its own key.
    run("setxkbmap", "de")
    app, editor, block = encrypted_in_editor(home, options(), program="featherpad", password=password)
    check(block != TEXT and "[-START" not in block, f"a bare block replaced the text: {block!r}")
    # The Windows build hashes the password's Windows-1252 bytes.
    decrypts_to(block, TEXT, password=password.encode("cp1252"))

    chord(DECRYPT)
    answer_password(password)
    wait_text(editor.window, TEXT, "the decrypt hotkey restores the text exactly")

    # A block from the Windows build (its bytes, its password's bytes) and
    # one from a build that hashed UTF-8 both open from the typed password.
    note = "Gr\u00fc\u00dfe aus K\u00f6ln, 5 \u20ac\n"
    for password_bytes in (password.encode("cp1252"), password.encode("utf-8")):
        rc, foreign = cli("encrypt", stdin_text=note.replace("\n", "\r\n").encode("cp1252"),
                          password=password_bytes)
        check(rc == 0, "morvantile-cli encrypts")
        activate(editor.window)
        Clipboard.write(foreign.decode())
        key("ctrl+a", "ctrl+v")
        wait_text(editor.window, foreign.decode(), "the foreign block is in the editor")
        chord(DECRYPT)
        answer_password(password)
        wait_text(editor.window, note, f"the block made with {password_bytes!r} opens")
    check(not windows_named("Morvantile: error!"), "no message")
    editor.close()
    app.stop()


def scenario_session_end(home):
    """SIGTERM and SIGHUP, as at logout, write the configuration as Exit does."""
    sections = options(misc__RevealPassword=0)
    del sections["misc"]["Hints"]  # a key the file lacks, written at the end
    app = Morvantile(home, sections)
    editor = Editor(home, TEXT)
    time.sleep(0.5)
    # Changed in this session: Reveal in the password dialog is an option.
    chord(ENCRYPT)
    wait_dialog("Morvantile: enter password")
    key("alt+v")
    time.sleep(0.3)
    key("Escape")
    wait_gone("Morvantile: enter password")
    app.proc.send_signal(signal.SIGTERM)
    check(app.ended(10) == 0, "SIGTERM ends the program as Exit does")
    with open(app.ini, encoding="utf-8") as f:
        written = f.read()
    check("RevealPassword=1" in written, "the change of the session is written")
    check("Hints=" in written and "[Font]" in written, "every option is written")

    # SIGHUP while the password dialog is still open: it closes, and the
    # change made in it is kept too.
    app = Morvantile(home)
    activate(editor.window)
    time.sleep(0.5)
    chord(ENCRYPT)
    wait_dialog("Morvantile: enter password")
    key("alt+v")
    time.sleep(0.3)
    app.proc.send_signal(signal.SIGHUP)
    check(app.ended(10) == 0, "SIGHUP ends the program, the open dialog too")
    with open(app.ini, encoding="utf-8") as f:
        check("RevealPassword=0" in f.read(), "the change made in the open dialog is written")
    check(not editor.modified(), "nothing was typed into the editor")
    editor.close()
    app.stop()


def scenario_wayland_note(home):
    """Under Wayland the program runs on XWayland and says once what that means."""
    app = Morvantile(home, options(), env={"XDG_SESSION_TYPE": "wayland"}, wait_ready=False)
    message = wait_dialog("Morvantile: error!", 15)
    text = message_text(message)
    check("Wayland" in text and "XWayland" in text, f"the Wayland note: {text!r}")
    key("Return")
    wait_gone("Morvantile: error!")
    app.wait_ready()
    time.sleep(1)
    check(not windows_named("Morvantile: error!"), "the note comes once")
    app.stop()


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items() if name.startswith("scenario_")}


def main():
    global MORVANTILE, CLI
    parser = argparse.ArgumentParser()
    parser.add_argument("--morvantile", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    MORVANTILE, CLI = os.path.abspath(args.morvantile), os.path.abspath(args.cli)
    home = tempfile.mkdtemp(prefix=f"morvantile-e2e-{args.scenario}-")
    started = time.monotonic()
    try:
        SCENARIOS[args.scenario](home)
    except Exception:
        traceback.print_exc()
        shot = os.path.join(home, "failure.png")
        run("import", "-window", "root", shot, check_rc=False, timeout=20)
        log = os.path.join(home, "morvantile.log")
        if os.path.exists(log):
            with open(log, errors="replace") as f:
                print("--- morvantile output:\n" + f.read())
        print(f"FAILED {args.scenario} after {time.monotonic() - started:.1f} s; screenshot {shot}")
        return 1
    finally:
        Clipboard.end()
    print(f"PASSED {args.scenario} in {time.monotonic() - started:.1f} s")
    shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
