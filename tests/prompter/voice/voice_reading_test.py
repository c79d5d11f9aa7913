#!/usr/bin/env python3
"""Voice-following end to end: the prompter follows synthetic readings of a script, played from
WAV files at their real pace (--audio-file), and its positions trace (--positions) is checked
against the times espeak-ng gives for each word.

  voice_reading_test.py PROMPTER

Four readings run side by side (each takes its own length in real time):
  - the whole script, one voice, clean;
  - the same reading of the script followed by more than a megabyte of notes (the prompter shows
    a script that big from its start while it reads the rest, and follows once it is read);
  - another voice, faster, with noise mixed in by sox, leaving out the second paragraph;
  - a third voice, slower, with an ad-lib and ten seconds of silence after the first paragraph.
At the end of each paragraph read, the word on the reading line must be within a few words of
that paragraph's last word; through the ad-lib and the silence it must stay where it was.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reading  # noqa: E402

SCRIPT = """# The river
Good evening and welcome. Tonight we look at how small towns keep their rivers clean and safe.
[look at camera two]
The river runs for forty miles from the hills to the sea, and every village along it takes water from it.
Farmers along the banks have planted hedges to keep the soil out of the water when it rains.
At the mouth of the river the fishermen say their catch has doubled in ten years. Thank you for watching.
"""
AD_LIB = "Sorry, could somebody bring me a glass of water please? Thanks, that is much better."
NEAR = 3  # "within a few words"


def paragraphs_said():
    return [[w for w in p if w[1]] for p in reading.script_words(SCRIPT) if any(w[1] for w in p)]


def check_ends(name, positions, timings, said, end_ms, failures):
    """At the end of each paragraph read (when the next begins, or where following came to rest
    once the whole recording was heard), the word on the reading line is within NEAR words of
    the paragraph's last word."""
    starts = {index: start for index, start, _ in timings}
    for k, paragraph in enumerate(said):
        last = paragraph[-1][0]
        if k + 1 < len(said):
            when = starts[said[k + 1][0][0]]
            word = reading.word_at(positions, when)
        else:
            when = end_ms
            word = positions[-1][1] if positions else None
        ok = word is not None and abs(word - last) <= NEAR
        print(f"{name}: paragraph ending at word {last}: at {when:.0f} ms the reading line is at {word}"
              f" {'ok' if ok else 'FAIL'}")
        if not ok:
            failures.append(f"{name}: paragraph ending at {last}, reading line at {word}")


def main():
    prompter = sys.argv[1]
    try:
        reading.ready()
    except OSError as problem:
        print(f"skipped: no espeak-ng library ({problem})")
        return 77
    if not shutil.which("sox"):
        print("skipped: no sox")
        return 77
    paragraphs = paragraphs_said()
    failures = []
    with tempfile.TemporaryDirectory() as work:
        script = os.path.join(work, "river.txt")
        with open(script, "w") as out:
            out.write(SCRIPT)
        big = os.path.join(work, "river-and-notes.txt")
        with open(big, "w") as out:
            out.write(SCRIPT)
            while out.tell() <= 1_200_000:
                out.write("Notes for another evening about the harbour and its boats.\n")
        readings = {
            "whole": (["words", p] for p in paragraphs),
            "skip": (["words", p] for k, p in enumerate(paragraphs) if k != 1),
            "adlib": [["words", paragraphs[0]], ["say", AD_LIB], ["silence", 10.0]]
            + [["words", p] for p in paragraphs[1:3]],
        }
        voices = {"whole": ("en-us", 165), "skip": ("en-us+f3", 190), "adlib": ("en-gb-x-rp", 140)}
        made = {}
        for name, parts in readings.items():
            wav = os.path.join(work, name + ".wav")
            voice, wpm = voices[name]
            timings = reading.speak([tuple(p) for p in parts], voice, wpm, wav)
            if name == "skip":  # noise 25 dB or so below the speech
                clean = wav.replace(".wav", "-clean.wav")
                os.rename(wav, clean)
                subprocess.run(["sox", "-m", clean, "|sox -n -r 22050 -c 1 -b 16 -p synth "
                                f"{len(open(clean, 'rb').read()) / 44100:.2f} pinknoise vol 0.06",
                                wav], check=True)
            made[name] = (wav, timings)

        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                           XDG_CONFIG_HOME=os.path.join(work, "config"),
                           XDG_DATA_HOME=os.path.join(work, "data"),
                           QUORVANE_CONTAINER_ROOT=os.path.join(work, "containers"))
        made["big"] = made["whole"]
        runs = {}
        for name, (wav, _) in made.items():
            trace = os.path.join(work, name + ".positions")
            runs[name] = (trace, subprocess.Popen(
                [prompter, "--window", "--prompt", big if name == "big" else script,
                 "--audio-file", wav, "--positions", trace], env=environment,
                stderr=subprocess.PIPE, text=True))
        for name, (trace, process) in runs.items():
            _, errors = process.communicate(timeout=240)
            if process.returncode != 0:
                failures.append(f"{name}: status {process.returncode}: {errors.strip()}")
                continue
            positions = reading.trace(trace)
            wav, timings = made[name]
            end_ms = max(end for _, _, end in timings)
            said = [p for k, p in enumerate(paragraphs) if name != "skip" or k != 1]
            if name == "adlib":
                said = paragraphs[:3]
            check_ends(name, positions, timings, said, end_ms, failures)
            if name == "adlib":
                # From the first paragraph's end until the second begins: where it was.
                last = paragraphs[0][-1][0]
                begin = [t for t in timings if t[0] == last][0][2] + 1500
                resume = [t for t in timings if t[0] == paragraphs[1][0][0]][0][1]
                moved = [w for ms, w in positions if begin <= ms < resume and abs(w - last) > NEAR]
                print(f"adlib: during the ad-lib and silence ({begin:.0f}-{resume:.0f} ms) the "
                      f"reading line left word {last} for {moved or 'nothing'}")
                if moved:
                    failures.append(f"adlib: moved during the ad-lib or silence: {moved}")
            # The end of a run: the trace ends a second after the audio.
            if positions and positions[-1][0] > end_ms + 1500 + 1000:
                failures.append(f"{name}: trace runs on after the audio ({positions[-1]})")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
