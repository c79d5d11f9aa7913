#!/usr/bin/env python3
"""Voice-following's figures, for scripts/figures.sh: a synthetic reading of a 3-minute script
(espeak-ng, word times from its own events), then
  - the recognition cost against real time (voice_bench: the recogniser and aligner on one
    thread, fed as fast as they take it; processor time of that thread over the audio's length);
  - the delay from each word's end in the speech to the reading line reaching it, from the
    prompter's positions trace (--audio-file at its real pace, --positions): median and 95th
    percentile.

  voice_figures.py PROMPTER VOICE_BENCH SCRIPT
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reading  # noqa: E402

VOICE, WPM = "en-us", 115  # espeak-ng's rate 115 reads about 150 words a minute


def main():
    prompter, bench, script = sys.argv[1:4]
    text = open(script).read()
    paragraphs = [[w for w in p if w[1]] for p in reading.script_words(text)]
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "reading.wav")
        timings = reading.speak([("words", p) for p in paragraphs if p], VOICE, WPM, wav)
        load = os.getloadavg()[0]
        out = subprocess.run([bench, script, wav], check=True, capture_output=True, text=True).stdout
        figure = lambda label: float(re.search(re.escape(label) + r" +([\d.]+)", out)[1])
        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                           XDG_CONFIG_HOME=os.path.join(work, "config"),
                           XDG_DATA_HOME=os.path.join(work, "data"),
                           QUORVANE_CONTAINER_ROOT=os.path.join(work, "containers"))
        trace = os.path.join(work, "positions")
        subprocess.run([prompter, "--window", "--prompt", script, "--audio-file", wav,
                        "--positions", trace], env=environment, check=True,
                       stderr=subprocess.DEVNULL)
        positions = reading.trace(trace)
        minute = os.path.join(work, "minute.wav")
        subprocess.run(["sox", wav, minute, "trim", "0", "60"], check=True)
        frames = subprocess.run([bench, "--frames", script, minute], env=environment, check=True,
                                capture_output=True, text=True).stdout
        load = max(load, os.getloadavg()[0])
    delays = []
    for index, _, end in timings:
        reached = next((ms for ms, word in positions if word >= index), None)
        if reached is not None:
            delays.append(reached - end)
    delays.sort()
    p95 = delays[min(len(delays) - 1, int(0.95 * len(delays)))] if delays else float("nan")
    print()
    print(f"Voice-following, a {figure('audio') / 60:.1f}-minute synthetic reading of "
          f"{len(timings)} timed words (espeak-ng {VOICE}, rate {WPM}; load average up to {load:.1f})")
    print()
    print("| measure | figure | promise |")
    print("|---|---:|---:|")
    print(f"| recognition and alignment, processor time against real time (voice_bench, one thread) "
          f"| {figure('against real time'):.3f}x | 0.2x |")
    print(f"| model ready (acoustic model and the script's words from the dictionary) "
          f"| {figure('model loaded'):,.0f} ms | |")
    if delays:
        print(f"| a word's end in the speech to the reading line reaching it, median / 95th percentile "
              f"| {statistics.median(delays):,.0f} / {p95:,.0f} ms | median 1,000 ms |")
    print(f"| words the reading line reached | {len(delays)} of {len(timings)} | |")
    for label, name in (("frame, following", "a frame while following (1920x1080)"),
                        ("frame, moved by voice", "a frame in which the voice moved the text")):
        m = re.search(re.escape(label) + r" +([\d.]+) / ([\d.]+) ms \(processor ([\d.]+) / ([\d.]+) ms\) over (\d+) frames",
                      frames)
        print(f"| {name}, median / worst of {int(m[5]):,}: processor time of the drawing thread "
              f"(wall clock) | {float(m[3]):.2f} / {float(m[4]):.2f} ms ({float(m[1]):.2f} / {float(m[2]):.2f} ms) | 4 ms |")


if __name__ == "__main__":
    main()
