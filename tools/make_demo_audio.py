#!/usr/bin/env python3
"""Synthesises the test host's demonstration clip and writes it as raw 16-bit mono resources.

A gentle four-bar piece in D major at 64 beats a minute (Dmaj9, Bm9, Gmaj9, A7sus4 to A, ending on
D): a soft pad, an arpeggiated bell, a round bass and a flute-like melody, placed across the stereo
field, with a ping-pong echo and a small room. Every rate is rendered from the same score at its
own sample rate, so both hold the same 16.55 s of music. Only the standard library is used and
nothing is random, so every run writes the same bytes.
"""
import math
import os
import struct
import sys

# Frames per rate: the lengths the test host's resource table gives.
LENGTHS = {44100: 730008, 48000: 794566}
RESOURCES = {44100: ("DemoAudio_44100_L.raw", "DemoAudio_44100_R.raw"),
             48000: ("DemoAudio_48000_L.raw", "DemoAudio_48000_R.raw")}

BEAT = 60.0 / 64
PEAK = 0.70           # about -3 dBFS of headroom
FADE_IN = 0.03        # seconds
FADE_OUT = 1.2

# Chord voicings per bar (MIDI numbers) and the notes the bell arpeggiates over them.
PAD = [
    (0, [50, 57, 61, 64, 66]),   # Dmaj9
    (4, [47, 54, 57, 61, 62]),   # Bm9
    (8, [43, 50, 54, 57, 59]),   # Gmaj9
    (12, [45, 52, 55, 59, 62]),  # A7sus4
    (14, [45, 52, 55, 59, 61]),  # A7
    (16, [50, 57, 64, 66]),      # Dadd9, the last chord
]
ARPEGGIO = [
    (0, [62, 66, 69, 73, 76]),
    (4, [59, 62, 66, 69, 73]),
    (8, [55, 59, 62, 66, 69]),
    (12, [57, 62, 64, 67, 71]),
    (14, [57, 61, 64, 67, 71]),
]
BASS = [(0, 3, 38), (3, 1, 45), (4, 3, 35), (7, 1, 42), (8, 3, 31), (11, 1, 38), (12, 2, 33), (14, 2, 33),
        (16, 2, 38)]
# (start beat, length in beats, note)
MELODY = [
    (1.0, 0.5, 69), (1.5, 0.5, 71), (2.0, 1.5, 74), (3.5, 0.5, 76),
    (4.0, 1.5, 78), (5.5, 0.5, 76), (6.0, 1.0, 74), (7.0, 1.0, 71),
    (8.0, 1.0, 74), (9.0, 0.5, 76), (9.5, 0.5, 78), (10.0, 1.5, 81), (11.5, 0.5, 78),
    (12.0, 1.5, 76), (13.5, 0.5, 74), (14.0, 1.0, 73), (15.0, 1.0, 76),
    (16.0, 1.6, 74),
]


def frequency(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def pan_gains(position):
    """Constant-power placement: 0 is left, 1 is right."""
    return math.cos(position * math.pi / 2), math.sin(position * math.pi / 2)


class Voice:
    """One note: partials (ratio, level, decay time constant or None) under an attack/release envelope."""

    def __init__(self, start, length, note, level, pan, partials, attack, release, decay=None,
                 vibrato=0.0, detune_cents=0.0):
        self.start, self.length, self.note = start, length, note
        self.level, self.pan, self.partials = level, pan, partials
        self.attack, self.release, self.decay = attack, release, decay
        self.vibrato, self.detune = vibrato, detune_cents

    def render(self, rate, left, right):
        first = int(round(self.start * rate))
        total = int((self.length + self.release) * rate)
        count = min(total, len(left) - first)
        if count <= 0:
            return
        gl, gr = pan_gains(self.pan)
        gl *= self.level
        gr *= self.level
        base = frequency(self.note) * 2.0 ** (self.detune / 1200.0)
        attack_n = max(1, int(self.attack * rate))
        hold_n = int(self.length * rate)
        release_n = max(1, total - hold_n)
        decay_k = 1.0 / (self.decay * rate) if self.decay else 0.0
        partials = [(2.0 * math.pi * base * ratio / rate, level, 1.0 / (tau * rate) if tau else 0.0)
                    for ratio, level, tau in self.partials]
        vib_step = 2.0 * math.pi * 5.0 / rate
        vib_onset = int(0.3 * rate)
        phase = 0.0
        sin, exp, cos = math.sin, math.exp, math.cos
        for i in range(count):
            if i < attack_n:
                env = 0.5 - 0.5 * cos(math.pi * i / attack_n)
            elif i < hold_n:
                env = 1.0
            else:
                env = 0.5 + 0.5 * cos(math.pi * min(1.0, (i - hold_n) / release_n))
            if decay_k:
                env *= exp(-i * decay_k)
            if env < 1e-5 and i > attack_n:
                break
            # Vibrato only once the note has settled, as a player would.
            if self.vibrato and i > vib_onset:
                depth = self.vibrato * min(1.0, (i - vib_onset) / vib_onset)
                phase += 1.0 + depth * sin(vib_step * i)
            else:
                phase += 1.0
            value = 0.0
            for step, level, k in partials:
                value += level * (exp(-i * k) if k else 1.0) * sin(step * phase)
            value *= env
            left[first + i] += value * gl
            right[first + i] += value * gr


def score():
    """Every voice of the piece, as (bus, voice): the echo bus gets the bell and the melody."""
    voices = []
    pad_partials = [(1.0, 1.0, None), (2.0, 0.3, None), (3.0, 0.1, None)]
    for index, (beat, notes) in enumerate(PAD):
        end = PAD[index + 1][0] if index + 1 < len(PAD) else 17.8
        for k, note in enumerate(notes):
            pan = 0.3 + 0.4 * k / max(1, len(notes) - 1)
            for cents in (-4.0, 4.0):  # a slow beat between two copies: a gentle chorus
                voices.append(("dry", Voice(beat * BEAT, (end - beat) * BEAT, note, 0.035, pan, pad_partials,
                                            attack=0.35, release=0.6, detune_cents=cents)))
    bell_partials = [(1.0, 1.0, None), (2.0, 0.25, 0.25), (4.0, 0.08, 0.08)]
    for index, (beat, notes) in enumerate(ARPEGGIO):
        end = ARPEGGIO[index + 1][0] if index + 1 < len(ARPEGGIO) else 16
        pattern = [0, 1, 2, 3, 4, 3, 2, 1]
        for step in range(int((end - beat) * 2)):
            note = notes[pattern[step % len(pattern)]]
            level = 0.09 if step % 2 == 0 else 0.065
            pan = 0.22 if step % 2 == 0 else 0.4
            voices.append(("echo", Voice((beat + step * 0.5) * BEAT, 0.45 * BEAT, note, level, pan, bell_partials,
                                         attack=0.006, release=0.5, decay=0.55)))
    # The closing chord, rolled upward on the bell.
    for k, note in enumerate([62, 66, 69, 76, 78]):
        voices.append(("echo", Voice((16 + 0.12 * k) * BEAT, 1.2, note, 0.07, 0.25 + 0.12 * k, bell_partials,
                                     attack=0.006, release=0.6, decay=0.9)))
    bass_partials = [(1.0, 1.0, None), (2.0, 0.35, 0.4), (3.0, 0.08, 0.2)]
    for beat, length, note in BASS:
        voices.append(("dry", Voice(beat * BEAT, length * BEAT * 0.95, note, 0.2, 0.5, bass_partials,
                                    attack=0.012, release=0.25, decay=2.5)))
    flute_partials = [(1.0, 1.0, None), (2.0, 0.15, None), (3.0, 0.05, None)]
    for beat, length, note in MELODY:
        voices.append(("echo", Voice(beat * BEAT, length * BEAT * 0.92, note, 0.15, 0.62, flute_partials,
                                     attack=0.06, release=0.18, vibrato=0.003)))
    return voices


def ping_pong(left, right, rate, delay_s, feedback, damping_hz):
    """Echoes only, bouncing between the sides, each one darker than the last."""
    d = int(round(delay_s * rate))
    a = math.exp(-2.0 * math.pi * damping_hz / rate)
    n = len(left)
    line_l = [0.0] * n
    line_r = [0.0] * n
    wet_l = [0.0] * n
    wet_r = [0.0] * n
    lp_l = lp_r = 0.0
    for i in range(n):
        if i >= d:
            lp_l = (1.0 - a) * line_r[i - d] + a * lp_l
            lp_r = (1.0 - a) * line_l[i - d] + a * lp_r
        wet_l[i] = lp_l
        wet_r[i] = lp_r
        # The signal enters on the left line only, so the first echo lands on the right.
        line_l[i] = (left[i] + right[i]) * 0.5 + feedback * lp_l
        line_r[i] = feedback * lp_r
    return wet_l, wet_r


def room(signal, rate, comb_ms, feedback=0.78, damping_hz=4500.0):
    """A small Schroeder room: damped combs in parallel, then two all-passes."""
    n = len(signal)
    a = math.exp(-2.0 * math.pi * damping_hz / rate)
    wet = [0.0] * n
    for ms in comb_ms:
        d = int(round(ms * rate / 1000.0))
        buf = [0.0] * d
        lp = 0.0
        j = 0
        for i in range(n):
            y = buf[j]
            lp = (1.0 - a) * y + a * lp
            buf[j] = signal[i] + feedback * lp
            wet[i] += y
            j += 1
            if j == d:
                j = 0
    for ms, g in ((5.0, 0.5), (1.7, 0.5)):
        d = int(round(ms * rate / 1000.0))
        buf = [0.0] * d
        j = 0
        for i in range(n):
            delayed = buf[j]
            x = wet[i]
            v = x + g * delayed
            buf[j] = v
            wet[i] = delayed - g * v
            j += 1
            if j == d:
                j = 0
    return [w / len(comb_ms) for w in wet]


def render(rate):
    n = LENGTHS[rate]
    dry_l, dry_r = [0.0] * n, [0.0] * n
    send_l, send_r = [0.0] * n, [0.0] * n
    for bus, voice in score():
        if bus == "echo":
            voice.render(rate, send_l, send_r)
        else:
            voice.render(rate, dry_l, dry_r)
    echo_l, echo_r = ping_pong(send_l, send_r, rate, 0.75 * BEAT, 0.38, 2800.0)
    mix_l = [dry_l[i] + send_l[i] + 0.3 * echo_l[i] for i in range(n)]
    mix_r = [dry_r[i] + send_r[i] + 0.3 * echo_r[i] for i in range(n)]
    # Slightly different rooms per side give width.
    room_l = room(mix_l, rate, (29.7, 37.1, 41.1, 43.7))
    room_r = room(mix_r, rate, (30.5, 36.4, 40.2, 44.9))
    out_l = [mix_l[i] + 0.35 * room_l[i] for i in range(n)]
    out_r = [mix_r[i] + 0.35 * room_r[i] for i in range(n)]

    fade_in, fade_out = int(FADE_IN * rate), int(FADE_OUT * rate)
    for i in range(n):
        g = 1.0
        if i < fade_in:
            g = 0.5 - 0.5 * math.cos(math.pi * i / fade_in)
        left_to_end = n - 1 - i
        if left_to_end < fade_out:
            g *= (0.5 - 0.5 * math.cos(math.pi * left_to_end / fade_out))
        out_l[i] *= g
        out_r[i] *= g
    peak = max(max(abs(v) for v in out_l), max(abs(v) for v in out_r))
    gain = PEAK / peak
    return [quantise(v * gain) for v in out_l], [quantise(v * gain) for v in out_r]


def quantise(value):
    return max(-32767, min(32767, int(round(value * 32767.0))))


def main(folder):
    for rate in sorted(LENGTHS):
        left, right = render(rate)
        for name, samples in zip(RESOURCES[rate], (left, right)):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(struct.pack("<%dh" % len(samples), *samples))
        print("%d Hz: %d frames" % (rate, len(left)))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "testhost"))
