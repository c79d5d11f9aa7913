"""Synthetic readings of a script for the voice-following tests and figures.

A reading is made with espeak-ng's library (through ctypes), which reports where each word
starts in its audio, so every script word said has its time. Parts are read one after another:
paragraphs of the script (by their word indices), an ad-lib, silence. The WAV is written at
espeak-ng's own rate (22050 Hz), which the prompter resamples.
"""
import ctypes
import re
import struct
import wave

AUDIO_OUTPUT_SYNCHRONOUS = 2
ESPEAK_RATE = 1
ESPEAK_CHARS_UTF8 = 1
POS_CHARACTER = 1
EVENT_WORD = 1


class _Event(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("unique_identifier", ctypes.c_uint),
                ("text_position", ctypes.c_int), ("length", ctypes.c_int),
                ("audio_position", ctypes.c_int), ("sample", ctypes.c_int),
                ("user_data", ctypes.c_void_p), ("id", ctypes.c_char * 8)]


_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_short), ctypes.c_int,
                             ctypes.POINTER(_Event))
_library = None
_rate = 0


def _espeak():
    global _library, _rate
    if _library is None:
        _library = ctypes.CDLL("libespeak-ng.so.1")
        _rate = _library.espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, None, 0)
        if _rate <= 0:
            raise RuntimeError("espeak-ng cannot start")
    return _library


def ready():
    """Raises OSError where espeak-ng's library cannot be loaded."""
    _espeak()


def script_words(script):
    """Per paragraph (line), the words the prompter counts: (index, spoken text or None).

    As the prompter counts: words part at spaces and tabs; a cue (from a `[` to the next `]` on
    the line; an unclosed `[` is text) is not counted and parts words; a line without words
    counts as one. A heading line's words are counted but not said.
    """
    paragraphs = []
    index = 0
    for line in re.split(r"\r\n|[\n\r\x0b\x0c\x85\u2028\u2029]", script):
        heading = line.lstrip(" \t").startswith("#")
        text = re.sub(r"\[[^\]]*\]", " ", line)
        words = []
        for word in re.split(r"[ \t]+", text):
            if not word:
                continue
            spoken = re.sub(r"[^\w' -]", "", word).strip()
            words.append((index, spoken if spoken and not heading else None))
            index += 1
        index += 0 if words else 1
        paragraphs.append(words)
    return paragraphs


def _synthesize(text, voice, wpm):
    library = _espeak()
    if library.espeak_SetVoiceByName(voice.encode()) != 0:
        raise RuntimeError(f"espeak-ng has no voice {voice}")
    library.espeak_SetParameter(ESPEAK_RATE, wpm, 0)
    samples = []
    events = []

    def collect(wav, count, event):
        if wav and count > 0:
            samples.extend(wav[:count])
        i = 0
        while event[i].type != 0:
            if event[i].type == EVENT_WORD:
                events.append((event[i].text_position, event[i].audio_position))
            i += 1
        return 0

    callback = _CALLBACK(collect)
    library.espeak_SetSynthCallback(callback)
    data = text.encode()
    library.espeak_Synth(data, len(data) + 1, 0, POS_CHARACTER, 0, ESPEAK_CHARS_UTF8, None, None)
    library.espeak_Synchronize()
    return samples, events


def speak(parts, voice, wpm, path):
    """Reads `parts` into the WAV at `path` and returns the words' times.

    A part is ("words", [(index, text), ...]), ("say", text) or ("silence", seconds).
    Returns [(index, start_ms, end_ms)] for the script words said.
    """
    audio = []
    timings = []
    for kind, value in parts:
        offset_ms = len(audio) * 1000.0 / (_rate or 22050)
        if kind == "silence":
            _espeak()
            audio.extend([0] * int(value * _rate))
            continue
        words = value if kind == "words" else []
        text = " ".join(t for _, t in words) if kind == "words" else value
        samples, events = _synthesize(text, voice, wpm)
        audio.extend(samples)
        if kind != "words":
            continue
        starts = []  # character position (1-based) at which each word starts
        at = 1
        for _, t in words:
            starts.append(at)
            at += len(t) + 1
        times = {}
        for position, ms in events:
            for k, start in enumerate(starts):
                if start <= position < start + len(words[k][1]) + 1 and k not in times:
                    times[k] = ms
        part_end = len(samples) * 1000.0 / _rate
        for k, (index, _) in enumerate(words):
            if k in times:
                later = [times[j] for j in range(k + 1, len(words)) if j in times]
                end = later[0] if later else part_end
                timings.append((index, offset_ms + times[k], offset_ms + end))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(_rate)
        out.writeframes(struct.pack(f"<{len(audio)}h", *audio))
    return timings


def trace(path):
    """The prompter's positions trace: [(audio_ms, word)]."""
    lines = []
    with open(path) as lines_in:
        for line in lines_in:
            ms, word = line.split()
            lines.append((int(ms), int(word)))
    return lines


def word_at(positions, ms):
    """The word on the reading line `ms` into the audio (the last trace line at or before it)."""
    word = None
    for at, index in positions:
        if at > ms:
            break
        word = index
    return word
