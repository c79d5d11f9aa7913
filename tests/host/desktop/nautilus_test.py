#!/usr/bin/python3
"""GNOME Files' "Send to Teleprompter": the nautilus-python module loaded as nautilus-python
loads it (imported from its file, its classes that implement Nautilus.MenuProvider found and
made), asked for its items with files that implement Nautilus.FileInfo over real files (their
types from GIO's content sniffing, as Nautilus reads them). A text file and a Markdown file get
the item, and activating it runs the share window on that file; a folder, an image, two files
at once and a file behind a remote location get none. Skipped where nautilus-python's
Nautilus 4.0 bindings cannot be loaded.

    nautilus_test.py MODULE
"""
import importlib.util
import os
import stat
import sys
import tempfile
import time

try:
    import gi
    gi.require_version("Nautilus", "4.0")
    from gi.repository import Gio, GObject, Nautilus
except (ImportError, ValueError) as error:
    print(f"skipped: the Nautilus 4.0 bindings (python3-nautilus) cannot be loaded: {error}")
    sys.exit(77)

failures = 0


def fail(message):
    global failures
    print("FAIL: " + message, file=sys.stderr)
    failures += 1


class FileInfo(GObject.GObject, Nautilus.FileInfo):
    """A file as Nautilus hands it to extensions."""

    def __init__(self, uri):
        super().__init__()
        self.file = Gio.File.new_for_uri(uri)
        self.uri = uri
        if self.file.get_uri_scheme() == "file":
            info = self.file.query_info("standard::content-type,standard::type", 0, None)
            self.content_type = info.get_content_type()
            self.directory = info.get_file_type() == Gio.FileType.DIRECTORY
        else:
            self.content_type, self.directory = "text/plain", False

    def do_is_directory(self):
        return self.directory

    def do_get_uri_scheme(self):
        return self.file.get_uri_scheme()

    def do_get_uri(self):
        return self.uri

    def do_get_location(self):
        return self.file

    def do_get_mime_type(self):
        return self.content_type

    def do_is_mime_type(self, mime_type):
        return Gio.content_type_is_a(self.content_type, mime_type)

    def do_is_gone(self):
        return False


def load(path):
    found = importlib.util.spec_from_file_location("quorvane_share_nautilus", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    providers = [value for value in vars(module).values()
                 if isinstance(value, type) and issubclass(value, Nautilus.MenuProvider)
                 and value is not Nautilus.MenuProvider]
    return providers


with tempfile.TemporaryDirectory() as work:
    providers = load(sys.argv[1])
    if len(providers) != 1:
        fail(f"the module holds {len(providers)} menu providers, not one")
        sys.exit(1)
    provider = providers[0]()
    files = {
        "notes.txt": b"Evening news\nGood evening.\n",
        "-dash.md": b"# Heading\n\ntext\n",
        "picture.png": b"\x89PNG\r\n\x1a\n" + b"\x00" * 32,
    }
    for name, content in files.items():
        with open(os.path.join(work, name), "wb") as out:
            out.write(content)
    os.mkdir(os.path.join(work, "folder"))
    # A stand-in for the share window that notes what it was asked to open.
    bin_dir = os.path.join(work, "bin")
    os.mkdir(bin_dir)
    record = os.path.join(work, "opened")
    fake = os.path.join(bin_dir, "quorvane-share-desktop")
    with open(fake, "w") as out:
        out.write(f'#!/bin/sh\nprintf "%s\\n" "$@" >"{record}.partial" && mv "{record}.partial" "{record}"\n')
    os.chmod(fake, stat.S_IRWXU)
    os.environ["PATH"] = bin_dir + os.pathsep + os.environ.get("PATH", "")

    def uri(name):
        return Gio.File.new_for_path(os.path.join(work, name)).get_uri()

    for name in ("notes.txt", "-dash.md"):
        items = provider.get_file_items([FileInfo(uri(name))])
        labels = [item.get_property("label") for item in items]
        if labels != ["Send to Teleprompter"]:
            fail(f"{name}: offered {labels}")
            continue
        if os.path.exists(record):
            os.remove(record)
        items[0].activate()
        for _ in range(100):
            if os.path.exists(record):
                break
            time.sleep(0.05)
        opened = open(record).read().splitlines() if os.path.exists(record) else None
        if opened != ["--", os.path.join(work, name)]:
            fail(f"{name}: the item ran the share window with {opened}")
        else:
            print(f"{name}: offered, and opens the share window on it")
    refused = {
        "a folder": [FileInfo(uri("folder"))],
        "an image": [FileInfo(uri("picture.png"))],
        "two text files": [FileInfo(uri("notes.txt")), FileInfo(uri("-dash.md"))],
        "a remote file": [FileInfo("sftp://example.invalid/notes.txt")],
        "nothing": [],
    }
    for what, selection in refused.items():
        items = provider.get_file_items(selection)
        if items:
            fail(f"{what}: offered {[item.get_property('label') for item in items]}")
    if provider.get_background_items(FileInfo(uri("folder"))):
        fail("the folder's background has an item")
    print(f"not offered for: {', '.join(refused)}")

sys.exit(1 if failures else 0)
