"""The browser extension in Debian's Firefox ESR, headless, driven over WebDriver BiDi (the
browser's own remote protocol; the client is Debian's python3-websocket): the same source that
runs in Chromium, loaded as Firefox loads it (a background script, the gecko id, the host's
manifest where Firefox looks in the person's home). On a local page, a selection and a page
shared with "send without showing the window" land in the import folder byte for byte, the
outcome reaches the extension (its toolbar button shows it), and refused texts come back as
failures with the reason: a lone surrogate (refused by the extension) and a text over the host's
cap (refused by the host). Without the option the host is asked for the window, which here, with
no display, answers with that reason.

The context menu and the toolbar button cannot be clicked headless, and WebDriver may not open
an extension's own pages, so the copy of the extension loaded here opens its options page when
installed and holds a host permission for the test's local server; the test then calls, from
that page, the function the clicks call in the background script. Nothing else differs.

  python3 firefox_extension_test.py HOST_PROGRAM EXTENSION_DIR
"""

import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

try:
    import websocket  # Debian's python3-websocket
except ImportError:
    print("skipped: python3-websocket is not installed")
    sys.exit(77)

FIREFOX = shutil.which("firefox-esr") or shutil.which("firefox")
if not FIREFOX:
    print("skipped: firefox-esr is not installed")
    sys.exit(77)

host_program, extension_source = sys.argv[1:3]
GECKO_ID = "send-to-teleprompter@quorvane.example"
EXTENSION_UUID = "5e1d2c3b-0000-4000-8000-0000000000aa"
failures = 0


def check(condition, message):
    global failures
    if not condition:
        print("FAIL: " + message)
        failures += 1


work = tempfile.mkdtemp(prefix="firefox-extension-")
home = os.path.join(work, "home")
containers = os.path.join(work, "containers")
imported = os.path.join(containers, "group.app.quorvane.teleprompter", "regular", "imported")

# The extension as packaged, with the two additions described above.
extension = os.path.join(work, "extension")
shutil.copytree(extension_source, extension)
with open(os.path.join(extension, "manifest.json"), encoding="utf-8") as f:
    manifest = json.load(f)
manifest["host_permissions"] = ["http://127.0.0.1/*"]
with open(os.path.join(extension, "manifest.json"), "w", encoding="utf-8") as f:
    json.dump(manifest, f)
with open(os.path.join(extension, "background.js"), "a", encoding="utf-8") as f:
    f.write('\napi.runtime.onInstalled.addListener(() => api.tabs.create({url: api.runtime.getURL("options.html")}));\n')

# The host's manifest where Firefox looks in the person's home.
hosts = os.path.join(home, ".mozilla", "native-messaging-hosts")
os.makedirs(hosts)
with open(os.path.join(hosts, "app.quorvane.teleprompter.share.json"), "w", encoding="utf-8") as f:
    json.dump({"name": "app.quorvane.teleprompter.share", "description": "Send to Teleprompter",
               "path": host_program, "type": "stdio", "allowed_extensions": [GECKO_ID]}, f)

# A fresh profile; the extension's internal address is fixed so the test can find its page.
profile = os.path.join(work, "profile")
os.makedirs(profile)
with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as f:
    f.write('user_pref("extensions.webextensions.uuids", %s);\n'
            % json.dumps(json.dumps({GECKO_ID: EXTENSION_UUID})))

# A page with what makes a text hard to keep exact (as in the Chromium test).
PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>  Evening news \U0001F4F0 </title></head>
<body><h1>Evening news</h1>
<p id="selected">Good evening.  Here is the news:\tfirst,
a headline \u2728 \u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd, caf\u00e9 e\u0301, \U0001F469\u200d\U0001F469\u200d\U0001F467 ends </p>
<pre>  indented line
second line</pre>
<p id="lone"></p>
</body></html>""".encode("utf-8")


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("content-type", "text/html; charset=utf-8")
        self.send_header("content-length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
threading.Thread(target=server.serve_forever, daemon=True).start()
url = "http://127.0.0.1:%d/news.html" % server.server_address[1]

env = {name: value for name, value in os.environ.items()
       if name not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
env.update(HOME=home, QUORVANE_CONTAINER_ROOT=containers, MOZ_CRASHREPORTER_DISABLE="1")
browser_log = open(os.path.join(work, "firefox.log"), "w+b")
browser = subprocess.Popen([FIREFOX, "--headless", "--no-remote", "--profile", profile,
                            "--remote-debugging-port", "0", "about:blank"],
                           env=env, stdout=browser_log, stderr=subprocess.STDOUT)


def browser_output():
    browser_log.seek(0)
    return browser_log.read().decode("utf-8", "replace")


class Bidi:
    def __init__(self, address):
        # No Origin header: the browser refuses a WebDriver client that sends one it was not
        # told to allow.
        self.socket = websocket.create_connection(address + "/session", timeout=60, suppress_origin=True)
        self.last = 0

    def call(self, method, params):
        self.last += 1
        self.socket.send(json.dumps({"id": self.last, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.last:
                if message.get("type") != "success":
                    raise RuntimeError("%s: %s" % (method, message.get("message", message)))
                return message["result"]

    def evaluate(self, context, expression):
        result = self.call("script.evaluate", {"expression": expression, "target": {"context": context},
                                               "awaitPromise": True})
        if result["type"] != "success":
            raise RuntimeError("in the page: " + json.dumps(result.get("exceptionDetails", result))[:500])
        return result["result"].get("value")


def select(context, element):
    return bidi.evaluate(context, """(() => {
        const range = document.createRange();
        range.selectNodeContents(document.getElementById(%s));
        getSelection().removeAllRanges();
        getSelection().addRange(range);
        return String(getSelection());
    })()""" % json.dumps(element))


def waiting():
    return set(os.listdir(imported)) if os.path.isdir(imported) else set()


try:
    deadline = time.monotonic() + 60
    address = None
    while address is None and time.monotonic() < deadline and browser.poll() is None:
        found = re.search(r"WebDriver BiDi listening on (ws://[0-9.:]+)", browser_output())
        address = found.group(1) if found else None
        time.sleep(0.1)
    if address is None:
        raise RuntimeError("Firefox did not start its WebDriver BiDi listener:\n" + browser_output()[-2000:])
    bidi = Bidi(address)
    bidi.call("session.new", {"capabilities": {}})
    installed = bidi.call("webExtension.install", {"extensionData": {"type": "path", "path": extension}})
    check(installed.get("extension") == GECKO_ID, "installed as %r" % installed)

    options_page = "moz-extension://%s/options.html" % EXTENSION_UUID
    options = None
    while options is None and time.monotonic() < deadline:
        tree = bidi.call("browsingContext.getTree", {})["contexts"]
        options = next((c["context"] for c in tree if c["url"] == options_page), None)
        time.sleep(0.1)
    if options is None:
        raise RuntimeError("the extension's page did not open")
    tab = bidi.call("browsingContext.create", {"type": "tab"})["context"]
    bidi.call("browsingContext.navigate", {"context": tab, "url": url, "wait": "complete"})

    def share(kind, without_window=True):
        return bidi.evaluate(options, """(async () => {
            const background = await browser.runtime.getBackgroundPage();
            await browser.storage.local.set({sendWithoutWindow: %s});
            const tab = (await browser.tabs.query({})).find((tab) => tab.url === %s);
            const reply = await background.sendToTeleprompter.shareFromTab(%s, tab, {});
            return JSON.stringify({reply, badge: await browser.action.getBadgeText({tabId: tab.id}),
                                   title: await browser.action.getTitle({tabId: tab.id})});
        })()""" % ("true" if without_window else "false", json.dumps(url), json.dumps(kind)))

    # Each share: exactly one new file in the import folder, holding exactly the text.
    expectations = {
        "selection": lambda: select(tab, "selected"),
        "page": lambda: bidi.evaluate(tab, 'document.title.trim() + "\\n" + document.body.innerText'),
    }
    for kind, expect in expectations.items():
        expected = expect()
        before = waiting()
        shown = json.loads(share(kind))
        reply = shown["reply"]
        check(reply.get("outcome") == "sent", "%s: the outcome is %r" % (kind, reply))
        added = sorted(waiting() - before)
        check(len(added) == 1, "%s: %d new files in the import folder" % (kind, len(added)))
        if len(added) == 1:
            saved_path = os.path.join(imported, added[0])
            check(reply.get("path") == saved_path, "%s: the reply names %r, the file is %r" % (kind, reply.get("path"), saved_path))
            with open(saved_path, "rb") as f:
                saved = f.read()
            check(saved == expected.encode("utf-8"),
                  "%s: the saved bytes differ from the text shared:\n%r\n%r" % (kind, saved, expected))
        check(shown["badge"] == "\u2713" and shown["title"] == "Sent to the teleprompter",
              "%s: the button shows %r %r" % (kind, shown["badge"], shown["title"]))
        print("%s: sent %d bytes exactly; the button shows %s" % (kind, len(expected.encode("utf-8")), shown["badge"]))

    # Refused, with the reason back in the extension. The texts are made in the page: a lone
    # surrogate would not survive the trip from here.
    refusals = [("a lone surrogate", "String.fromCharCode(0xd800) + ' alone'", r"not valid Unicode"),
                ("17 MiB", "'x'.repeat(17 * 1024 * 1024)", r"too large")]
    for name, make, reason in refusals:
        bidi.evaluate(tab, "document.getElementById('lone').textContent = %s" % make)
        select(tab, "lone")
        before = waiting()
        shown = json.loads(share("selection"))
        reply = shown["reply"]
        check(reply.get("outcome") == "failed" and re.search(reason, reply.get("reason", "")),
              "%s: expected a failure matching %r, got %s" % (name, reason, json.dumps(reply)[:300]))
        check(shown["badge"] == "!" and shown["title"] == "Not sent: " + reply.get("reason", ""),
              "%s: the button shows %r %r" % (name, shown["badge"], shown["title"]))
        check(waiting() == before, "%s: a file was saved" % name)
        print("%s: refused (%s)" % (name, reply.get("reason")))

    # Without the option: the window is asked for, and with no display that is the answer.
    select(tab, "selected")
    before = waiting()
    reply = json.loads(share("selection", without_window=False))["reply"]
    check(reply.get("outcome") == "failed" and "no display" in reply.get("reason", ""),
          "the window without a display: %r" % reply)
    check(waiting() == before, "the window without a display: a file was saved")
    print("the window asked for: %s" % reply.get("reason"))
except Exception as error:  # noqa: BLE001 - any failure of the run is the test's failure
    check(False, "%s: %s" % (type(error).__name__, error))
finally:
    browser.terminate()
    try:
        browser.wait(timeout=20)
    except subprocess.TimeoutExpired:
        browser.kill()
        browser.wait()
    server.shutdown()
    if failures:
        print(browser_output()[-3000:])
    browser_log.close()
    shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
