#!/usr/bin/env python3
"""Voice-following through a real sound server: a PulseAudio daemon of the test's own with a
virtual microphone (module-pipe-source), fed a synthetic reading at its real pace, and the
prompter following it through Qt Multimedia (--follow-voice --microphone), its positions traced.

  voice_microphone_test.py PROMPTER

Skipped (status 77), with the reason, where PulseAudio, pactl, sox or espeak-ng's library is
missing or the daemon cannot start.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reading  # noqa: E402
import voice_reading_test  # noqa: E402

NEAR = voice_reading_test.NEAR
RATE = 16000


def skip(reason):
    print(f"skipped: {reason}")
    return 77


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def main():
    prompter = sys.argv[1]
    for program in ("pulseaudio", "pactl", "sox"):
        if not shutil.which(program):
            return skip(f"no {program}")
    try:
        reading.ready()
    except OSError as problem:
        return skip(f"no espeak-ng library ({problem})")

    with tempfile.TemporaryDirectory() as work:
        socket = os.path.join(work, "native")
        fifo = os.path.join(work, "microphone")
        environment = dict(os.environ, HOME=work, PULSE_RUNTIME_PATH=os.path.join(work, "run"),
                           PULSE_SERVER=f"unix:{socket}", XDG_CONFIG_HOME=os.path.join(work, "config"),
                           XDG_DATA_HOME=os.path.join(work, "data"),
                           QUORVANE_CONTAINER_ROOT=os.path.join(work, "containers"),
                           QT_QPA_PLATFORM="offscreen")
        environment.pop("XDG_RUNTIME_DIR", None)
        server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--log-target=stderr", "-L", f"module-native-protocol-unix socket={socket} auth-anonymous=1",
             "-L", f"module-pipe-source source_name=voicemic file={fifo} format=s16le rate={RATE} channels=1",
             "-L", "module-null-sink"],
            env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        prompting = None
        try:
            def pactl(*arguments):
                return subprocess.run(["pactl", *arguments], env=environment, capture_output=True,
                                      text=True).stdout
            if not wait_for(lambda: "voicemic" in pactl("list", "short", "sources"), 10):
                server.kill()
                return skip("PulseAudio did not start: " + server.communicate()[1].strip()[-300:])

            script = os.path.join(work, "river.txt")
            with open(script, "w") as out:
                out.write(voice_reading_test.SCRIPT)
            paragraphs = voice_reading_test.paragraphs_said()
            spoken = os.path.join(work, "reading.wav")
            reading.speak([("words", p) for p in paragraphs], "en-us", 165, spoken)
            raw = os.path.join(work, "reading.raw")
            subprocess.run(["sox", spoken, "-t", "raw", "-r", str(RATE), "-c", "1", "-b", "16",
                            "-e", "signed-integer", raw], check=True, stderr=subprocess.DEVNULL)
            audio = open(raw, "rb").read()

            trace = os.path.join(work, "positions")
            prompting = subprocess.Popen(
                [prompter, "--window", "--prompt", script, "--follow-voice", "--microphone",
                 "voicemic", "--positions", trace],
                env=environment, stderr=subprocess.PIPE, text=True)
            # The prompter records once its model is loaded.
            if not wait_for(lambda: pactl("list", "short", "source-outputs").strip()
                            or prompting.poll() is not None, 30):
                print("FAIL: the prompter never recorded from the virtual microphone")
                return 1
            if prompting.poll() is not None:
                print("FAIL: the prompter ended:", prompting.communicate()[1].strip())
                return 1
            # The pipe does not pace what is written to it: written at the audio's real rate,
            # in 20 ms blocks, by the clock.
            block = RATE * 2 // 50
            with open(fifo, "wb", buffering=0) as microphone:
                start = time.monotonic()
                for k, at in enumerate(range(0, len(audio), block)):
                    microphone.write(audio[at:at + block])
                    delay = start + (k + 1) * 0.02 - time.monotonic()
                    if delay > 0:
                        time.sleep(delay)
                microphone.write(bytes(RATE * 2 * 2))  # two seconds of silence after it
                time.sleep(2)
            prompting.send_signal(signal.SIGTERM)
            prompting.wait(timeout=10)
            positions = reading.trace(trace)
        finally:
            if prompting and prompting.poll() is None:
                prompting.kill()
            server.terminate()
            server.wait(timeout=10)

    words = [word for _, word in positions]
    failures = []
    for paragraph in paragraphs:
        last = paragraph[-1][0]
        passed = any(abs(word - last) <= NEAR for word in words)
        print(f"paragraph ending at word {last}: {'reached' if passed else 'never reached'}")
        if not passed:
            failures.append(f"the reading line never came near word {last}")
    final = words[-1] if words else None
    last = paragraphs[-1][-1][0]
    print(f"after the reading the reading line is at {final} (the last word is {last})")
    if final is None or abs(final - last) > NEAR:
        failures.append(f"after the reading the reading line is at {final}, not near {last}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
