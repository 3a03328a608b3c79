#!/usr/bin/env python3
"""Reads the program's windows through the AT-SPI bus as a screen reader does, prints the
tree, and checks it: every control a sighted user can use has a name (Japanese, or its
Japanese hint beside a Latin caption), and nothing out of sight is announced as showing.
Usage: check_tree.py APP-NAME TIMEOUT-SECONDS"""
import sys
import time

import pyatspi

# Roles of things a user operates or reads as a control.
CONTROLS = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_LIST, pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_SLIDER,
    pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_TOOL_BAR, pyatspi.ROLE_PANEL, pyatspi.ROLE_FRAME,
    pyatspi.ROLE_GROUPING if hasattr(pyatspi, "ROLE_GROUPING") else pyatspi.ROLE_PANEL,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_LIST_BOX if hasattr(pyatspi, "ROLE_LIST_BOX") else pyatspi.ROLE_LIST,
}


def japanese(text):
    return any(ord(ch) > 0x2E7F for ch in text or "")


def find_app(name, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == name and app.childCount > 0:
                return app
        time.sleep(0.5)
    return None


def extents(node):
    try:
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)
    except Exception:
        return None


def overlaps(a, b):
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


def main():
    name, timeout = sys.argv[1], float(sys.argv[2])
    app = find_app(name, timeout)
    if app is None:
        print("application %r not on the accessibility bus" % name)
        return 2
    faults = []

    def walk(node, depth, window):
        states = node.getState()
        showing = states.contains(pyatspi.STATE_SHOWING)
        visible = states.contains(pyatspi.STATE_VISIBLE)
        role = node.getRole()
        box = extents(node)
        if depth == 1:
            window = box
        print("%s%s %r desc=%r %s%s %s" % ("  " * depth, node.getRoleName(), node.name, node.description,
                                            "showing" if showing else "hidden", "" if visible else "/invisible", box))
        # Windows are named by their captions, which are partly Latin ("DOWN LOAD LISTS").
        if showing and role in CONTROLS and role != pyatspi.ROLE_LIST_ITEM and depth > 1:
            if not node.name:
                faults.append("nameless %s under %r" % (node.getRoleName(), node.parent.name if node.parent else ""))
            elif not japanese(node.name) and not japanese(node.description):
                faults.append("no Japanese name or hint: %s %r" % (node.getRoleName(), node.name))
        if (showing or visible) and window and box and box[2] > 0 and box[3] > 0 and depth > 1:
            if not overlaps(box, window):
                faults.append("announced although out of sight: %s %r at %s" % (node.getRoleName(), node.name, box))
        if not showing and depth > 0 and role != pyatspi.ROLE_LIST_ITEM:
            return  # what is hidden is not read further
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None and role != pyatspi.ROLE_LIST:
                walk(child, depth + 1, window)

    walk(app, 0, None)
    for f in faults:
        print("FAULT: " + f)
    print("%d fault(s)" % len(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
