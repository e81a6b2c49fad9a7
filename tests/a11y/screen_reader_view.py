"""Looks at a running kolvane through AT-SPI, as a screen reader does.

    screen_reader_view.py PID KEYS_TSV

Finds the program's window in the accessibility tree and checks that every key of the remote
is a button named by its hint, that every control a screen reader lands on has a name, that
the keys can take the focus, and that pressing a key through its accessible action works as a
click does.
"""

import sys
import time

import pyatspi

CONTROL_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON,
    pyatspi.ROLE_TOGGLE_BUTTON,
    pyatspi.ROLE_TEXT,
    pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_IMAGE,
}
WAIT_SECONDS = 10


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def wait_for(condition, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(0.1)
    fail(f"{what} within {WAIT_SECONDS} s")


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid and app.childCount > 0:
            return app
    return None


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def showing_controls(node):
    """The controls a screen reader can land on, among what is shown."""
    for child in node:
        if child is None or not showing(child):
            continue
        if child.getRole() in CONTROL_ROLES:
            yield child
        yield from showing_controls(child)


def main():
    pid, keys_tsv = int(sys.argv[1]), sys.argv[2]
    with open(keys_tsv, encoding="utf-8") as table:
        hints = [line.split("\t")[3] for line in table if line[:1].isdigit()]
    if len(hints) != 21:
        fail(f"{keys_tsv} does not list 21 keys")

    app = wait_for(lambda: application(pid), "the program did not appear on the AT-SPI bus")
    frames = [w for w in app if w is not None and w.getRole() == pyatspi.ROLE_FRAME]
    if [f.name for f in frames] != ["Kolvane  Demo"]:
        fail(f"expected the one window 'Kolvane  Demo', found {[f.name for f in frames]}")
    controls = list(showing_controls(frames[0]))

    buttons = {c.name: c for c in controls if c.getRole() == pyatspi.ROLE_PUSH_BUTTON}
    missing = [hint for hint in hints if hint not in buttons]
    if missing:
        fail(f"keys not announced as buttons named by their hints: {missing}")
    unnamed = [c.getRoleName() for c in controls if not c.name.strip()]
    if unnamed:
        fail(f"controls a screen reader would announce without a name: {unnamed}")
    by_name = {(c.getRoleName(), c.name) for c in controls}
    for expected in [("push button", "RS232 OFF"), ("text", "Serial port"), ("text", "Log"),
                     ("push button", " Search Device >>"), ("push button", "Send CMD")]:
        if expected not in by_name:
            fail(f"no {expected[0]} named '{expected[1]}'")

    unfocusable = [hint for hint in hints
                   if not buttons[hint].getState().contains(pyatspi.STATE_FOCUSABLE)]
    if unfocusable:
        fail(f"keys not focusable: {unfocusable}")
    # A screen reader moving to a key gives it the focus, as the arrow keys do.
    audio = buttons["AUDIO_CH1"]
    audio.queryComponent().grabFocus()
    wait_for(lambda: audio.getState().contains(pyatspi.STATE_FOCUSED),
             "'AUDIO_CH1' did not take the focus")

    # With the port off, the reserved key answers in the log at once.
    log = next(c for c in controls if c.name == "Log").queryText()
    reserved = buttons["Reserved"].queryAction()
    actions = [reserved.getName(i) for i in range(reserved.nActions)]
    if "Press" not in actions:
        fail(f"the keys cannot be pressed through AT-SPI (actions: {actions})")
    reserved.doAction(actions.index("Press"))
    wait_for(lambda: log.getText(0, -1) == "Reserved", "pressing 'Reserved' did not log it")
    print(f"ok: {len(controls)} controls named, 21 keys as focusable buttons, keys pressable")


if __name__ == "__main__":
    main()
