# SPDX-License-Identifier: GPL-3.0-or-later
# Listens as a screen reader does and reads what it would speak: the name of
# each new list item, the text of a changed box, the focused object. Prints
# what it heard when it is stopped (SIGTERM or SIGINT).
import signal
import sys

import pyatspi
from gi.repository import GLib

heard = {}


def on_event(event):
    kind = str(event.type)
    heard[kind] = heard.get(kind, 0) + 1
    try:
        if kind.startswith("object:children-changed:add") and event.any_data is not None:
            event.any_data.name
        else:
            event.source.name
    except Exception:  # the object may be gone already, as with a reader
        pass


pyatspi.Registry.registerEventListener(
    on_event, "object:children-changed", "object:text-changed", "focus:",
    "object:state-changed:focused")
for number in (signal.SIGTERM, signal.SIGINT):
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, pyatspi.Registry.stop)
pyatspi.Registry.start()
print("screen reader heard:", ", ".join(f"{n} {k}" for k, n in sorted(heard.items())) or "nothing",
      file=sys.stderr)
