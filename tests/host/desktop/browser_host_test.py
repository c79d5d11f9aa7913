#!/usr/bin/env python3
"""The browser extension's native-messaging host on its own: framed messages written to its
standard input as a browser writes them (the JSON's length in 4 bytes of the machine's byte
order, then the JSON), and its one framed answer read back. Whole and broken frames, hostile
JSON, a text sent without the window (saved byte for byte, its path in the answer), the
window asked for where there is no display, and each way the window can end.

    browser_host_test.py HOST_PROGRAM [sanitize=WHICH]
"""
import json
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile

host = sys.argv[1]
sanitized = len(sys.argv) > 2 and sys.argv[2] != "sanitize="
failures = 0


def fail(message):
    global failures
    print("FAIL: " + message, file=sys.stderr)
    failures += 1


def frame(payload):
    if isinstance(payload, (dict, list)):
        payload = json.dumps(payload).encode()
    return struct.pack("=I", len(payload)) + payload


def run(stdin, env, limits=()):
    def limit():
        for which, value in limits:
            resource.setrlimit(which, (value, value))
    done = subprocess.run([host, "chrome-extension://pacoafdhbjgfpdpgkiegajpbaapdgjcg/"],
                          input=stdin, capture_output=True, env=env, timeout=60, preexec_fn=limit)
    out = done.stdout
    if not out:
        return done.returncode, None, done.stderr
    (length,) = struct.unpack("=I", out[:4])
    if length != len(out) - 4:
        fail(f"the answer's length {length} is not the {len(out) - 4} bytes that follow")
    if length > 1024 * 1024:
        fail(f"the answer is {length} bytes, over the 1 MB a browser takes")
    return done.returncode, json.loads(out[4:].decode("utf-8")), done.stderr


with tempfile.TemporaryDirectory() as work:
    containers = os.path.join(work, "containers")
    imported = os.path.join(containers, "group.app.quorvane.teleprompter", "regular", "imported")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["QUORVANE_CONTAINER_ROOT"] = containers
    cap = 16 << 20

    # (what, standard input, the reason's words, or None for no answer at all)
    refused = [
        ("nothing: the browser closed the stream", b"", None),
        ("half a length", b"\x10\x00", "cut short"),
        ("a body shorter than its length", struct.pack("=I", 100) + b'{"action": "sh', "cut short (14 of 100"),
        ("a length over the cap, nothing after it", struct.pack("=I", cap + 1), "too large"),
        ("a length over the cap, with its body", frame(b"x" * (cap + 1)), "too large"),
        ("the largest length there is", struct.pack("=I", 0xFFFFFFFF) + b"{}", "too large"),
        ("an empty message", struct.pack("=I", 0), "not valid JSON"),
        ("JSON cut in the middle", frame(b'{"action": "share", "text": "ab'), "not valid JSON"),
        ("a number beyond any double", frame(b'{"action": "share", "text": "a", "n": 1e999}'), "too large to read"),
        ("not JSON", frame(b"share this"), "not valid JSON"),
        ("an array", frame([{"action": "share", "text": "a"}]), "not a JSON object"),
        ("no action", frame({"text": "a"}), "asks for no share"),
        ("another action", frame({"action": "delete", "text": "a"}), "asks for no share"),
        ("a text that is a number", frame({"action": "share", "text": 5}), "holds no text"),
        ("no text", frame({"action": "share"}), "holds no text"),
        ("show that is a word", frame({"action": "share", "text": "a", "show": "no"}), "not true or false"),
        ("bytes that are not UTF-8", frame(b'{"action": "share", "text": "caf\xe9"}'), "not valid Unicode"),
        ("a lone surrogate escape", frame(b'{"action": "share", "text": "\\ud800 alone"}'), "not valid Unicode"),
        ("the window with no display", frame({"action": "share", "text": "a", "show": True}), "no display"),
    ]
    for what, stdin, words in refused:
        status, answer, err = run(stdin, env)
        if words is None:
            if answer is not None or status != 0:
                fail(f"{what}: expected no answer and status 0, got {answer} ({status})")
            continue
        if not answer or answer.get("outcome") != "failed" or words not in answer.get("reason", ""):
            fail(f"{what}: expected a failure saying '{words}', got {answer} ({status}; {err!r})")
        elif set(answer) != {"outcome", "reason"}:
            fail(f"{what}: the answer holds more than the outcome and the reason: {answer}")
        if status == 0:
            fail(f"{what}: the host exited 0 after refusing")
    if os.path.isdir(imported) and os.listdir(imported):
        fail(f"refused messages left files: {os.listdir(imported)}")

    # Sent without the window: the text exactly (NUL, CR LF, emoji, an escaped slash), once,
    # and the answer names the file; a second message after the first is not taken.
    text = "Title line ☃\r\nsecond\x00third 👩‍👩‍👧 \\/ end"
    message = frame({"action": "share", "text": text, "show": False})
    status, answer, err = run(message + frame({"action": "share", "text": "again", "show": False}), env)
    files = os.listdir(imported) if os.path.isdir(imported) else []
    if status != 0 or not answer or answer.get("outcome") != "sent":
        fail(f"the share without the window: {answer} ({status}; {err!r})")
    elif len(files) != 1 or answer.get("path") != os.path.join(imported, files[0]):
        fail(f"the answer names {answer.get('path')}; the import folder holds {files}")
    else:
        with open(answer["path"], "rb") as saved:
            if saved.read() != text.encode("utf-8"):
                fail("the saved text differs from the text sent")
        print(f"sent without the window: {answer['path']}")
    print(f"{len(refused)} broken or refused messages answered with their reasons")

    # Under the limits a browser may be started with, the host answers and the answer is true:
    # "sent" exactly when the text was saved, never an abort or a death by SIGXFSZ with no
    # answer (which the extension shows as a failure, inviting the person to send it again).
    # A file-size limit below the text's size fails holding it; an address-space limit fails
    # wherever memory runs out first: reading, parsing, the share program, or its outcome.
    # With no limit, a text whose outcome from the share program is many times its size (each
    # control character shown escaped, the text repeated) is answered with its path too.
    big = "Long read\n" + "word " * (3 << 20)
    limits = [("no limit, 300 KB of control characters", "\x01" * 300000, []),
              ("file size 64 KB", big, [(resource.RLIMIT_FSIZE, 64 << 10)])]
    if not sanitized:  # a sanitized program reserves more address space than these allow
        limits += [(f"address space {mb} MB", big, [(resource.RLIMIT_AS, mb << 20)])
                   for mb in (30, 60, 90, 120, 160, 200, 260, 400)]
    for what, text, limit in limits:
        before = set(os.listdir(imported))
        status, answer, err = run(frame({"action": "share", "text": text, "show": False}), env, limit)
        added = set(os.listdir(imported)) - before
        if status < 0 or answer is None or b"terminate called" in err:
            fail(f"{what}: no answer ({status}; {err[-300:]!r})")
        elif added and answer.get("outcome") != "sent":
            fail(f"{what}: the text was saved, but the answer is {answer}")
        elif not added and answer.get("outcome") != "failed":
            fail(f"{what}: nothing was saved, but the answer is {answer}")
        elif answer.get("outcome") == "sent" and answer.get("path") not in (
                None if limit else "", os.path.join(imported, next(iter(added)))):
            fail(f"{what}: the answer names {answer.get('path')}, not the file saved")
    print(f"{len(limits)} limits answered truly")

    # How each ending of the share window is told, with stand-ins for the window beside a copy
    # of the host (where it looks for it): the text reaches the window's standard input exactly,
    # and its status, outcome and last words become the answer.
    beside = os.path.join(work, "beside")
    os.mkdir(beside)
    shutil.copy(host, beside)
    copied = os.path.join(beside, os.path.basename(host))
    received = os.path.join(work, "received")
    endings = [
        ("closed by the person", "exit 1", {"outcome": "cancelled"}),
        ("closed during the send, saved all the same",
         "echo '{\"outcome\": \"cancelled\", \"files\": [\"/saved/X\"]}'; exit 5",
         {"outcome": "sent", "path": "/saved/X"}),
        ("a failed save", "echo '{\"outcome\": \"failed\", \"error\": {\"message\": \"disk full\"}}'; exit 3",
         {"outcome": "failed", "reason": "disk full"}),
        ("a refusal on standard error",
         "echo 'quorvane-share-desktop: cannot read it' >&2; echo \"Try 'quorvane-share-desktop --help'\" >&2; exit 2",
         {"outcome": "failed", "reason": "cannot read it"}),
        ("killed", "kill -9 $$", None),
    ]
    for what, body, expected in endings:
        with open(os.path.join(beside, "quorvane-share-desktop"), "w") as fake:
            fake.write(f"#!/bin/sh\ncat >'{received}'\n{body}\n")
        os.chmod(os.path.join(beside, "quorvane-share-desktop"), 0o755)
        text = "Shown ☃\r\n\x00 end"
        done = subprocess.run([copied], input=frame({"action": "share", "text": text}),
                              capture_output=True, env=env, timeout=60)
        answer = json.loads(done.stdout[4:].decode()) if len(done.stdout) > 4 else None
        with open(received, "rb") as got:
            if got.read() != text.encode():
                fail(f"{what}: the window did not get the text exactly")
        if expected is None:
            if not answer or answer.get("outcome") != "failed" or "signal 9" not in answer.get("reason", ""):
                fail(f"{what}: {answer}")
        elif answer != expected:
            fail(f"{what}: expected {expected}, got {answer}")
    print(f"{len(endings)} endings of the window told as they happened")

sys.exit(1 if failures else 0)
