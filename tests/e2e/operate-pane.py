#!/usr/bin/python3
# Works the Arvel pane shown by System Preferences on an X server as a
# person would: finds the controls through the accessibility interface the
# toolkit exposes (AT-SPI), then clicks and drags at their places on the
# screen with the real pointer (xdotool). Nothing in the pane knows it is
# being watched.
#
#   operate-pane.py     (DISPLAY and DBUS_SESSION_BUS_ADDRESS set)
#
# It turns on "Keep the pointer moving at the trackpad edge", drags the
# tracking speed slider to its slow end, and gives the top left corner
# "Show the desktop"; it prints one line per step and exits 1 with the
# reason when a control cannot be found.
import subprocess
import sys
import time

import pyatspi

KEEP_MOVING = "Keep the pointer moving at the trackpad edge"


def fail(why):
    print("operate-pane: " + why, flush=True)
    sys.exit(1)


def xdotool(*words):
    subprocess.run(["xdotool", *[str(w) for w in words]], check=True)
    # The program takes the event on its own loop.
    time.sleep(0.3)


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def descendants(root, role, name=None):
    found = pyatspi.findAllDescendants(
        root, lambda a: a is not None and a.getRole() == role and (name is None or a.name == name) and showing(a))
    return sorted(found, key=lambda a: (extents(a)[1], extents(a)[0]))


def wait_for(what, find, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        found = find()
        if found:
            return found
        time.sleep(0.2)
    fail("no " + what + " on the screen")


def the_pane():
    # The host's window holds the pane: the application with the pane's tabs.
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and descendants(application, pyatspi.ROLE_PAGE_TAB, "Corners"):
            return application
    return None


def click_on(accessible):
    x, y, w, h = extents(accessible)
    xdotool("mousemove", x + w // 2, y + h // 2, "click", "1")


pane = wait_for("preference pane", the_pane)
print("operate-pane: the pane is on the screen", flush=True)

box = wait_for("check box \"" + KEEP_MOVING + "\"", lambda: descendants(pane, pyatspi.ROLE_CHECK_BOX, KEEP_MOVING))[0]
click_on(box)
print("operate-pane: clicked \"" + KEEP_MOVING + "\"", flush=True)

# The tracking speed is the first slider of the Trackpad tab: its handle is
# dragged to the slow end.
slider = wait_for("slider", lambda: descendants(pane, pyatspi.ROLE_SLIDER))[0]
value = slider.queryValue()
x, y, w, h = extents(slider)
handle = 10
at = x + handle // 2 + int((w - handle) * (value.currentValue - value.minimumValue) / max(1, value.maximumValue - value.minimumValue))
xdotool("mousemove", at, y + h // 2, "mousedown", "1")
xdotool("mousemove", at - w // 2, y + h // 2)
xdotool("mousemove", x + 1, y + h // 2, "mouseup", "1")
print("operate-pane: dragged the tracking speed to its slow end", flush=True)

click_on(wait_for("tab \"Corners\"", lambda: descendants(pane, pyatspi.ROLE_PAGE_TAB, "Corners"))[0])
# The corners' pop-ups name themselves by their choice; the top left one is
# the first "No action" (the application-set pop-up above it reads
# "All applications").
corner = wait_for("corner pop-up", lambda: descendants(pane, pyatspi.ROLE_COMBO_BOX, "No action"))[0]
click_on(corner)
# The list drops open with "No action" current; four down is "Show the
# desktop" (past the separator and the two click actions).
xdotool("key", "Down", "Down", "Down", "Down", "Return")
print("operate-pane: chose \"Show the desktop\" for the top left corner", flush=True)
