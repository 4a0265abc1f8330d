#!/usr/bin/python3
"""Presses a control of a running application through AT-SPI, as a screen reader would.

    atspi-press.py APPLICATION PLACE BUTTON

Finds the showing element named PLACE (a dropdown row, a window, a dialog) in APPLICATION's
accessibility tree and presses the showing control named BUTTON inside it (a button, switch,
choice, tab or list entry), with its "Press" action, or "Toggle" when it has no "Press".
Exits 0 when pressed, 1 (saying what was missing) otherwise.
"""
import sys
import time

import pyatspi


CONTROLS = {"push button", "toggle button", "check box", "radio button", "page tab",
            "list item", "menu item"}


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def find(root, predicate):
    found = pyatspi.findDescendant(root, lambda a: a is not None and predicate(a))
    return found


def main():
    application, row_name, button_name = sys.argv[1:4]
    deadline = time.monotonic() + 10
    while True:
        apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == application]
        row = None
        for app in apps:
            row = find(app, lambda a: a.name == row_name and showing(a))
            if row:
                break
        button = row and find(row, lambda a: a.getRoleName() in CONTROLS
                              and a.name == button_name and showing(a))
        if button:
            action = button.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            action.doAction(names.index("Press" if "Press" in names else "Toggle"))
            print("pressed")
            return 0
        if time.monotonic() > deadline:
            what = "application" if not apps else ("place" if not row else "button")
            print(f"no showing {what} for {application!r} / {row_name!r} / {button_name!r}")
            return 1
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
