"""Reads Pavro's settings window through AT-SPI, as a screen reader does, and operates it with the
keyboard alone. Prints one "ok"/"FAIL" line per check; exits 1 when one failed.
Usage: accessibility_tree.py <caption>"""
import subprocess
import sys
import time

import pyatspi

caption = sys.argv[1]
failures = 0


def check(what, passed):
    global failures
    print(("ok   " if passed else "FAIL ") + "[a11y]: " + what, file=sys.stderr)
    failures += 0 if passed else 1


def eventually(read, expected, seconds=5.0):
    """What read() gives once it gives expected, or its last answer after the deadline."""
    deadline = time.monotonic() + seconds
    while True:
        value = read()
        if value == expected or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def window():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Pavro":
            for top in app:
                if top is not None and top.name == caption:
                    return top
    return None


def descendants(node):
    for child in node:
        yield child
        yield from descendants(child)


def by(role, name):
    return next((n for n in descendants(form) if n.getRoleName() == role and n.name == name), None)


def focused():
    node = next((n for n in descendants(form) if n.getState().contains(pyatspi.STATE_FOCUSED)), None)
    return node and (node.getRoleName(), node.name)


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "30", *names], check=True)


eventually(lambda: window() is not None, True, 10)
form = window()
if form is None:
    check("the window is in the accessibility tree", False)
    sys.exit(1)
check("the window is a dialog named by its caption", form.getRoleName() == "dialog")

labels = ["Std Speed:", "Fast Speed:", "Switch to Fast in (ms):", "Refresh Rate (ms):"]
for label in labels:
    bar = by("scroll bar", label)
    check(f'the slider is named "{label}"', bar is not None)
    labelled_by = [r.getTarget(0).name for r in (bar.getRelationSet() if bar else [])
                   if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    check(f'... and labelled by its label', labelled_by == [label])
    check(f'the value box is named "{label}"', by("text", label) is not None)
shown = [(n.getRoleName(), n.name) for n in descendants(form)]
check("every control has a name", all(name for role, name in shown if role != "filler"))
check("the buttons and the shown check box are there", all(
    c in shown for c in [("push button", "Turn On"), ("push button", "Default"),
                         ("check box", "Set cursor as default mode")]))
check("the hidden check box is not", not any(name == "Use Q1 Hardware Scancode" for _, name in shown))

# Keyboard alone: the focus starts on "Turn On" and Tab walks the controls in order.
subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", caption, "windowactivate", "--sync"],
               check=True, stdout=subprocess.DEVNULL, timeout=10)
order = [("push button", "Turn On"), ("check box", "Set cursor as default mode"), ("push button", "Default")] + \
        [("scroll bar", label) for label in labels] + [("push button", "Turn On")]
check("the focus starts on Turn On", eventually(focused, order[0]) == order[0])
for expected in order[1:]:
    keys("Tab")
    check(f"Tab moves to {expected[1]}", eventually(focused, expected) == expected)
keys("Tab", "Tab", "Tab")  # to the first slider
value_box = by("text", labels[0])
keys("Right")
check("Right on the slider steps it by 5", eventually(lambda: by("scroll bar", labels[0]).queryValue().currentValue,
                                                      30.0) == 30.0)
check("... and its value box shows 30",
      eventually(lambda: value_box.queryText().getText(0, -1), "30") == "30")
subprocess.run(["xdotool", "keydown", "Alt_L", "key", "t", "keyup", "Alt_L"], check=True)
check("Alt+T presses Turn On, which becomes Turn Off",
      eventually(lambda: by("push button", "Turn Off") is not None, True))
sys.exit(1 if failures else 0)
