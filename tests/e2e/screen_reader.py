#!/usr/bin/python3
# A screen reader's view of the running console, through the accessibility
# bus of the session in DBUS_SESSION_BUS_ADDRESS. Prints one tab-separated
# line per object of the console's window, then "ready", then one line per
# name or description change of any object, or any object shown, as it
# arrives:
#   window <role> <name>
#   control <role> <name> <description> <states: focused, showing>
#   ready
#   event <what changed: accessible-name, accessible-description, showing>
#         <role> <name> <description>
# An event's name and description are asked of the console when the event
# comes: what the event itself carries differs between Qt versions.
# Runs until it is ended; stops on its own only when no console shows up.
import sys
import time

import pyatspi


# Role names as this script prints them; at-spi's own names of some roles
# differ between its versions ("push button", "button").
ROLES = {
    pyatspi.ROLE_FRAME: "frame",
    pyatspi.ROLE_PUSH_BUTTON: "button",
    pyatspi.ROLE_IMAGE: "image",
    pyatspi.ROLE_NOTIFICATION: "notification",
}


def role(obj):
    return ROLES.get(obj.getRole(), obj.getRoleName())


def line(*fields):
    print("\t".join(str(field) for field in fields), flush=True)


def console_window(timeout_seconds=20):
    end = time.monotonic() + timeout_seconds
    while time.monotonic() < end:
        for app in pyatspi.Registry.getDesktop(0):
            for window in app or []:
                if window is not None and window.name == "VELANTRO":
                    return window
        time.sleep(0.1)
    return None


def states(obj):
    state = obj.getState()
    names = [("focused", pyatspi.STATE_FOCUSED), ("showing", pyatspi.STATE_SHOWING)]
    return ",".join(name for name, value in names if state.contains(value))


def on_change(event):
    what = event.type.split(":")[-1]
    source = event.source
    line("event", what, role(source), source.name, source.description)


def main():
    window = console_window()
    if window is None:
        line("error", "no window named VELANTRO on the accessibility bus")
        return 1
    pyatspi.Registry.registerEventListener(
        on_change,
        "object:property-change:accessible-name",
        "object:property-change:accessible-description",
        "object:state-changed:showing",
    )
    line("window", role(window), window.name)
    for child in window:
        line("control", role(child), child.name, child.description, states(child))
    line("ready")
    pyatspi.Registry.start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
