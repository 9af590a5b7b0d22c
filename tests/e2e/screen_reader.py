#!/usr/bin/python3
# screen_reader.py progress|success|"status TEXT": reads the installer's window over AT-SPI, as a
# screen reader does, prints the tree and fails unless it reads as it must on that screen (with
# "status", unless a text starts with TEXT).
import sys
import time

import pyatspi


def application(name):
    for _ in range(200):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name and app.childCount:
                return app
        time.sleep(0.1)
    sys.exit(f"no accessible application named {name}")


def walk(node, depth=0):
    yield depth, node
    for child in node:
        yield from walk(child, depth + 1)


def value(node):
    try:
        return node.queryValue().currentValue
    except NotImplementedError:
        return None


def line(node):
    states = node.getState()
    marks = [s for s, state in (("focused", pyatspi.STATE_FOCUSED), ("default", pyatspi.STATE_IS_DEFAULT),
                                ("read-only", pyatspi.STATE_READ_ONLY)) if states.contains(state)]
    shown = "" if value(node) is None else f" value {value(node):g}"
    return f'{node.getRoleName()} "{node.name}"{shown} {" ".join(marks)}'.rstrip()


def reads_right(screen, app):
    rows = [(depth, node.getRoleName(), node) for depth, node in walk(app)]
    roles = [role for _, role, _ in rows]
    named = {(role, node.name) for _, role, node in rows}
    assert [(d, r, n.name) for d, r, n in rows if d == 1] == [(1, "frame", "Plimbo Installer")], "window"
    assert "scroll bar" not in roles, "scroll bars"
    texts = [node for _, role, node in rows if role == "label"]
    assert all(node.getState().contains(pyatspi.STATE_READ_ONLY) for node in texts), "writable text"
    if screen.startswith("status "):
        assert any(node.name.startswith(screen[7:]) for node in texts), "no " + screen
    elif screen == "progress":
        assert ("image", "Plimbo") in named, "logo"
        bars = [node for _, role, node in rows if role == "progress bar"]
        percent = next(node.name for node in texts if node.name.endswith("%"))
        assert len(bars) == 1 and f"{value(bars[0]):g}%" == percent, "bar value against " + percent
    else:
        ok = next(node for _, role, node in rows if role == "push button" and node.name == "Ok")
        assert ok.getState().contains(pyatspi.STATE_FOCUSED), "Ok not focused"
        assert ("label", "The installation was successful") in named, "success line"


screen = sys.argv[1]
app = application("plimbo-installer")
for _ in range(50):  # the bar moves while the tree is read
    try:
        problem = reads_right(screen, app)
        break
    except (AssertionError, StopIteration) as failure:
        problem = failure or "missing"
        time.sleep(0.1)
for depth, node in walk(app):
    print("  " * depth + line(node))
if problem:
    sys.exit(f"the {screen} screen does not read right: {problem}")
