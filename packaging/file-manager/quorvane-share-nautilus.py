# "Send to Teleprompter" in the context menu of one selected text file in GNOME Files
# (nautilus-python, Nautilus 43 and later: installed in
# /usr/share/nautilus-python/extensions, which nautilus-python loads at Nautilus's start).
# The item runs the share window on the file, as "Open With" does; it is offered for a local
# file whose type is text/plain or a kind of it (source code, Markdown, ...), never for a
# folder, several files at once or a file only reachable through a remote location.
import os
import subprocess

import gi

gi.require_version("Nautilus", "4.0")
from gi.repository import GObject, Nautilus  # noqa: E402

PROGRAM = "quorvane-share-desktop"


def shareable_path(item):
    """The local path of a text file the share window can open, else None."""
    if item.is_directory() or item.get_uri_scheme() != "file" or not item.is_mime_type("text/plain"):
        return None
    location = item.get_location()
    return location.get_path() if location is not None else None


def send(_menu_item, path):
    # A process of its own: Nautilus never waits for the window, and "--" keeps a file whose
    # name begins with "-" a file.
    try:
        subprocess.Popen([PROGRAM, "--", path], start_new_session=True,
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    except OSError as error:  # removed since Nautilus started: nothing to open
        print(f"Send to Teleprompter: cannot run {PROGRAM}: {error}")


class SendToTeleprompter(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *arguments):
        # Nautilus 43 passes the files; older releases passed the window first.
        files = arguments[-1]
        if len(files) != 1:
            return []
        path = shareable_path(files[0])
        if path is None:
            return []
        item = Nautilus.MenuItem(name="SendToTeleprompter::send", label="Send to Teleprompter",
                                 tip="Send this text to the teleprompter", icon="quorvane-share")
        item.connect("activate", send, path)
        return [item]

    def get_background_items(self, *arguments):
        return []
