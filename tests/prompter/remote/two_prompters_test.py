#!/usr/bin/env python3
"""Two prompters on loopback, one following the other (--follow), through a pause, a speed
change, a jump, a dropped connection (the leader stopped: the follower holds and says so) and
its return (the leader started again on the same port: the follower takes up its place).

Both serve --remote so the test reads each one's state. Places are compared between a reading of
the leader before and one after the follower's, so the test holds on a slow machine: the
follower's place must lie between the two, give or take a word.

    two_prompters_test.py PROMPTER [--lag]   (--lag: also print the follower's lag, median of 200)
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

prompter = sys.argv[1]
measure_lag = "--lag" in sys.argv[2:]
token = "two-prompters-token-0123"
failures = 0


def check(condition, message):
    global failures
    if not condition:
        print("FAIL: " + message, file=sys.stderr)
        failures += 1


work = tempfile.mkdtemp(prefix="two-prompters-")
script = os.path.join(work, "script.txt")
with open(script, "w") as f:
    f.write("The leader's script\n")
    for i in range(2, 60):
        f.write(f"Paragraph {i}, with words enough to read aloud for a little while longer.\n")


def start(name, *arguments):
    home = os.path.join(work, name)
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home, XDG_CONFIG_HOME=home,
               XDG_DATA_HOME=home, QUORVANE_CONTAINER_ROOT=os.path.join(home, "containers"),
               QUORVANE_REMOTE_TOKEN=token)
    process = subprocess.Popen([prompter, "--window", *arguments], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for line in process.stdout:
        if line.startswith("Remote control on port "):
            return process, int(line.split()[4].rstrip("."))
    raise SystemExit(f"{name} did not start serving")


def call(port, path, body=None):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=body,
                                     headers={"Authorization": "Bearer " + token},
                                     method="POST" if body is not None else "GET")
    with urllib.request.urlopen(request, timeout=5) as reply:
        return json.load(reply)


def state(port):
    return call(port, "/api/state")["state"]


def until(what, condition, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if condition():
                return True
        except OSError:
            pass
        time.sleep(0.05)
    check(False, "timed out waiting for " + what)
    return False


def in_step(leader, follower, slack=1.0):
    """The follower's place between two readings of the leader's, give or take `slack` words."""
    before, seen, after = state(leader), state(follower), state(leader)
    return (seen["scriptId"] == before["scriptId"] and seen["running"] == before["running"]
            and seen["speed"] == before["speed"]
            and before["position"] - slack <= seen["position"] <= after["position"] + slack)


leader, leader_port = start("leader", "--prompt", script, "--countdown", "0", "--speed", "150",
                            "--remote", "127.0.0.1:0")
follower, follower_port = start("follower", "--follow", f"http://127.0.0.1:{leader_port}/",
                                "--remote", "127.0.0.1:0", "--mirror", "horizontal")
try:
    until("the follower to show the leader's script",
          lambda: state(follower_port)["script"] == "The leader's script")
    until("the follower to keep step while running", lambda: in_step(leader_port, follower_port))
    call(leader_port, "/api/pause", b"")
    until("the follower to pause with the leader", lambda: in_step(leader_port, follower_port, 0.3))
    check(not state(follower_port)["running"], "the follower runs while the leader is paused")
    call(leader_port, "/api/speed", b'{"value": 230}')
    call(leader_port, "/api/jump", b'{"paragraph": 20}')
    until("the follower to jump and take the speed",
          lambda: state(follower_port)["paragraph"] == 20 and state(follower_port)["speed"] == 230)
    call(leader_port, "/api/resume", b"")
    until("the follower to run again in step", lambda: in_step(leader_port, follower_port))
    refused = None
    try:
        call(follower_port, "/api/pause", b"")
    except urllib.error.HTTPError as error:
        refused = json.load(error)
    check(refused and "follows another" in refused["error"], f"the follower took a command: {refused}")

    if measure_lag:
        lags = []
        for _ in range(200):
            before, seen, after = state(leader_port), state(follower_port), state(leader_port)
            middle = (before["position"] + after["position"]) / 2
            lags.append((middle - seen["position"]) / before["speed"] * 60000)
        lags.sort(key=abs)
        print(f"follower lag (median of 200): {statistics.median(lags):.2f} ms, "
              f"95th percentile of its size {abs(lags[189]):.2f} ms")

    # The link drops: the follower holds where it is and says it is not connected.
    leader.terminate()
    leader.wait()
    until("the follower to notice", lambda: not state(follower_port)["connected"])
    held = state(follower_port)
    check(not held["running"], "the follower keeps moving without its leader")
    time.sleep(1)
    check(state(follower_port)["position"] == held["position"], "the follower moved while holding")
    # The leader returns on the same port: the follower takes up its place again.
    leader, _ = start("leader", "--prompt", script, "--countdown", "0",
                      "--remote", f"127.0.0.1:{leader_port}")
    until("the follower to reconnect", lambda: state(follower_port)["connected"], seconds=20)
    until("the follower to take up the leader's place", lambda: in_step(leader_port, follower_port))
finally:
    for process in (leader, follower):
        process.terminate()
        process.wait()
if failures:
    sys.exit(1)
print("the follower keeps step through a pause, a speed change, a jump and a dropped link")
