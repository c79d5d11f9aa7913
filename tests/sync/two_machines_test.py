#!/usr/bin/env python3
"""Two computers on one machine: Syncthing keeps the import folder in step between "A", where
texts are sent, and "B", the teleprompter's machine, where the receiver takes them.

Each side has its own home and container root, and the two Syncthing instances talk only over
127.0.0.1 (global and local discovery, relays, NAT traversal, usage and crash reporting off;
no other address is ever dialled). Checked: a text sent on A is taken on B exactly once, byte
for byte, and A's import folder empties; then 100 texts sent on A while B's receiver watches
each land once, exactly. The median hand-over time (send's end on A to the file in B's folder)
is printed. Bounded in time; both instances are stopped by their process ids whatever happens.

    two_machines_test.py BIN_DIR       (exit 77: skipped, with the reason)
"""
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request
import xml.etree.ElementTree as ET

GROUP = "group.app.quorvane.teleprompter"
DEADLINE = time.monotonic() + 180  # the whole test, start to cleanup
SKIP = 77

# Only texts travel: the folder's own marker is Syncthing's, and anything that is not a text's
# name (an upper-case UUID) stays on the machine where it was made.
IGNORE_PATTERNS = "!/????????-????-????-????-????????????\n*\n"


def fail(message):
    raise AssertionError(message)


def wait_for(what, condition, limit):
    end = min(time.monotonic() + limit, DEADLINE)
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    fail("timed out waiting for " + what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Machine:
    def __init__(self, base, name):
        self.name = name
        self.home = os.path.join(base, name, "home")
        self.root = os.path.join(base, name, "containers")
        self.imported = os.path.join(self.root, GROUP, "regular", "imported")
        self.gui_port = free_port()
        self.listen_port = free_port()
        self.api_key = "quorvane-test-" + name
        self.process = None
        for path in (self.home, self.imported):
            os.makedirs(path, mode=0o700, exist_ok=True)
        for path in (os.path.join(self.root, GROUP), os.path.dirname(self.imported), self.imported):
            os.chmod(path, 0o700)
        config = os.path.join(self.home, "syncthing")
        subprocess.run(["syncthing", "generate", "--home=" + config, "--no-default-folder"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=self.environment())
        self.config_path = os.path.join(config, "config.xml")
        self.tree = ET.parse(self.config_path)
        self.device_id = self.tree.getroot().find("device").get("id")

    def environment(self):
        env = dict(os.environ)
        env.update({"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
                    "XDG_STATE_HOME": os.path.join(self.home, ".local/state"),
                    "QUORVANE_CONTAINER_ROOT": self.root, "STNOUPGRADE": "1",
                    "STNORESTART": "1"})
        return env

    def configure(self, peer):
        root = self.tree.getroot()
        for device in root.findall("device"):
            root.remove(device)
        gui = root.find("gui")
        gui.find("address").text = "127.0.0.1:%d" % self.gui_port
        gui.find("apikey").text = self.api_key
        options = root.find("options")
        settings = {"listenAddress": "tcp://127.0.0.1:%d" % self.listen_port,
                    "globalAnnounceEnabled": "false", "localAnnounceEnabled": "false",
                    "relaysEnabled": "false", "natEnabled": "false", "urAccepted": "-1",
                    "startBrowser": "false", "autoUpgradeIntervalH": "0",
                    "crashReportingEnabled": "false", "setLowPriority": "false"}
        for key, value in settings.items():
            element = options.find(key)
            if element is None:
                element = ET.SubElement(options, key)
            element.text = value
        for machine in (self, peer):
            device = ET.Element("device", {"id": machine.device_id, "name": machine.name,
                                           "compression": "metadata"})
            address = "tcp://127.0.0.1:%d" % machine.listen_port
            ET.SubElement(device, "address").text = address
            root.insert(0, device)
        # The watcher tells of a new text within a second. A text taken on B in the moment
        # Syncthing is still recording its arrival can escape the watcher's partial scan, so a
        # full scan every ten seconds (cheap: the folder holds only waiting texts) carries every
        # removal to the other machine.
        folder = ET.SubElement(root, "folder", {
            "id": "quorvane-imported", "label": "Teleprompter imports", "path": self.imported,
            "type": "sendreceive", "rescanIntervalS": "10", "fsWatcherEnabled": "true",
            "fsWatcherDelayS": "1", "ignorePerms": "false", "autoNormalize": "true"})
        ET.SubElement(folder, "filesystemType").text = "basic"
        for machine in (self, peer):
            ET.SubElement(folder, "device", {"id": machine.device_id})
        ET.SubElement(folder, "versioning")  # no versioning: a taken text is gone, not kept
        self.tree.write(self.config_path)
        with open(os.path.join(self.imported, ".stignore"), "w") as ignore:
            ignore.write(IGNORE_PATTERNS)

    def start(self):
        log = open(os.path.join(self.home, "syncthing.log"), "w")
        self.process = subprocess.Popen(
            ["syncthing", "serve", "--home=" + os.path.join(self.home, "syncthing"),
             "--no-browser", "--no-restart", "--no-upgrade"],
            stdout=log, stderr=subprocess.STDOUT, env=self.environment(),
            start_new_session=True)

    def rest(self, path):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.gui_port, path),
                                         headers={"X-API-Key": self.api_key})
        try:
            with urllib.request.urlopen(request, timeout=5) as answer:
                return answer.read().decode()
        except OSError:
            return None

    def connected_to(self, peer):
        answer = self.rest("/rest/system/connections")
        return answer is not None and ('"%s"' % peer.device_id) in answer and \
            '"connected": true' in answer.replace('"connected":true', '"connected": true')

    def stop(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()

    def texts(self):
        return sorted(name for name in os.listdir(self.imported)
                      if len(name) == 36 and not name.startswith("."))


def wait_for_taken(a, b):
    """A text taken on B leaves A's folder too, and comes back to neither."""
    try:
        wait_for("A's import folder to empty", lambda: not a.texts(), 60)
    except AssertionError:
        left = a.texts()
        fail("%d texts taken on B still wait on A; B's record of %s: %s" % (
            len(left), left[0], b.rest("/rest/db/file?folder=quorvane-imported&file=" + left[0])))
    time.sleep(2)
    if a.texts() or b.texts():
        fail("a taken text came back: A %s, B %s" % (a.texts(), b.texts()))


def main():
    if len(sys.argv) != 2:
        print("usage: two_machines_test.py BIN_DIR", file=sys.stderr)
        return 2
    bin_dir = sys.argv[1]
    share = os.path.join(bin_dir, "quorvane-share")
    receive = os.path.join(bin_dir, "quorvane-receive")
    if shutil.which("syncthing") is None:
        print("skipped: syncthing is not installed (scripts/setup.sh test installs it)")
        return SKIP
    for program in (share, receive):
        if not os.access(program, os.X_OK):
            print("skipped: %s is not built" % program)
            return SKIP

    base = tempfile.mkdtemp(prefix="quorvane-sync-")
    a, b = Machine(base, "A"), Machine(base, "B")
    watcher = None
    try:
        a.configure(b)
        b.configure(a)
        a.start()
        b.start()
        wait_for("both instances to answer", lambda: a.rest("/rest/system/ping") and
                 b.rest("/rest/system/ping"), 60)
        wait_for("A and B to connect", lambda: a.connected_to(b) and b.connected_to(a), 60)

        # One text: sent on A, taken on B once, gone from A.
        first = "Opening lines\nGood evening, and welcome. \u00e9\U0001F3AC\r\n".encode()
        sent = subprocess.run([share, "--send", "-"], input=first, env=a.environment(),
                              capture_output=True, check=True).stdout.decode().strip()
        name = os.path.basename(sent)
        wait_for("the text on B", lambda: name in b.texts(), 60)
        delivered = os.path.join(base, "B", "Teleprompter")
        subprocess.run([receive, "--to", delivered], env=b.environment(), check=True,
                       capture_output=True)
        files = os.listdir(delivered)
        if len(files) != 1:
            fail("B's folder holds %s, not one text" % files)
        with open(os.path.join(delivered, files[0]), "rb") as f:
            if f.read() != first:
                fail("the text taken on B differs from the one sent on A")
        wait_for_taken(a, b)

        # A hundred texts sent on A while B's receiver watches.
        watched = os.path.join(base, "B", "Watched")
        os.makedirs(watched)
        watcher = subprocess.Popen([receive, "--watch", "--to", watched], env=b.environment(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   start_new_session=True)
        sent_at = {}
        for number in range(100):
            text = ("Script %03d\nline of script %d\n" % (number, number)).encode()
            subprocess.run([share, "--send", "-"], input=text, env=a.environment(),
                           capture_output=True, check=True)
            sent_at[text] = time.time()

        def all_landed():
            return len(os.listdir(watched)) >= 100
        wait_for("100 texts in B's folder", all_landed, 150)
        landed = {}
        for entry in os.listdir(watched):
            path = os.path.join(watched, entry)
            with open(path, "rb") as f:
                content = f.read()
            if content in landed:
                fail("a text landed twice in B's folder: %r" % content[:20])
            landed[content] = os.stat(path).st_ctime
        if set(landed) != set(sent_at):
            fail("B's folder differs from what was sent: %d landed, %d missing, %d unknown" % (
                len(landed), len(set(sent_at) - set(landed)), len(set(landed) - set(sent_at))))
        wait_for_taken(a, b)
        handover = statistics.median(landed[t] - sent_at[t] for t in sent_at) * 1000
        print("hand-over A to B (median of 100): %.0f ms" % handover)
        print("1 passed, 0 failed")
        return 0
    except AssertionError as error:
        print("FAIL: %s" % error, file=sys.stderr)
        for machine in (a, b):
            log = os.path.join(machine.home, "syncthing.log")
            if os.path.exists(log):
                with open(log) as f:
                    print("--- %s's Syncthing log (end)\n%s" % (machine.name, f.read()[-3000:]),
                          file=sys.stderr)
        return 1
    finally:
        if watcher and watcher.poll() is None:
            os.killpg(watcher.pid, signal.SIGTERM)
            try:
                watcher.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(watcher.pid, signal.SIGKILL)
        a.stop()
        b.stop()
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
