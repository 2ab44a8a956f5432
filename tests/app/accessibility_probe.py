#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader finds in an application: prints "button<TAB>name" and "image<TAB>name"
# for every button and picture shown, then presses the button named on the command line through
# its action and prints "pressed<TAB>name". Usage: accessibility_probe.py APP BUTTON
import sys
import time

import pyatspi

KINDS = {pyatspi.ROLE_PUSH_BUTTON: "button", pyatspi.ROLE_IMAGE: "image"}


def walk(node, found, depth=0):
    if node is None or depth > 30:
        return
    kind = KINDS.get(node.getRole())
    if kind and node.getState().contains(pyatspi.STATE_SHOWING):
        found.append((kind, node.name, node))
    for child in node:
        walk(child, found, depth + 1)


def main():
    app_name, press = sys.argv[1], sys.argv[2]
    # The application registers with the bus a little after the bus comes up.
    deadline = time.monotonic() + 90
    found = []
    while time.monotonic() < deadline:
        found = []
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == app_name:
                walk(app, found)
        if any(name == press for kind, name, _ in found):
            break
        time.sleep(0.5)
    for kind, name, _ in found:
        print(kind + "\t" + name)
    for kind, name, node in found:
        if kind == "button" and name == press:
            node.queryAction().doAction(0)
            print("pressed\t" + name)
            break
    sys.stdout.flush()


if __name__ == "__main__":
    main()
