#!/usr/bin/env python3
"""Synthesize the program's sounds into the directory of this script.

    python3 resources/sounds/synthesize.py

Writes roustabell.wav, WRONG!.WAV, builtin-ring.wav and builtin-buzz.wav.
Standard library only, fixed random seeds: the output is the same on every
run, so the committed files can be regenerated and compared.

Every file is 16-bit mono PCM with the plain 44-byte header (format tag 1),
because Qt 6.4's QSoundEffect refuses WAVE_FORMAT_EXTENSIBLE.  Every file
begins and ends on an exact zero sample so a looped clip never clicks.
"""

import math
import os
import random
import struct
import sys

PEAK_DBFS = -3.0


# --------------------------------------------------------------------------
# output


def write_wav(path, samples, rate):
    """Write float samples in [-1, 1] as canonical 16-bit mono PCM."""
    frames = bytearray()
    for s in samples:
        v = int(round(s * 32767.0))
        frames += struct.pack("<h", max(-32767, min(32767, v)))
    channels, bits = 1, 16
    block = channels * bits // 8
    header = b"RIFF" + struct.pack("<I", 36 + len(frames)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate,
                                     rate * block, block, bits)
    header += b"data" + struct.pack("<I", len(frames))
    assert len(header) == 44
    with open(path, "wb") as f:
        f.write(header)
        f.write(frames)


def normalize(samples, peak_dbfs=PEAK_DBFS):
    top = max(abs(s) for s in samples)
    gain = 10.0 ** (peak_dbfs / 20.0) / top
    return [s * gain for s in samples]


def fade_edges(samples, rate, fade_in, fade_out):
    """Raised-cosine fades that end on exact zeros at both ends."""
    n = len(samples)
    a = max(1, int(fade_in * rate))
    b = max(1, int(fade_out * rate))
    out = list(samples)
    for i in range(a):
        out[i] *= 0.5 - 0.5 * math.cos(math.pi * i / a)
    for i in range(b):
        out[n - 1 - i] *= 0.5 - 0.5 * math.cos(math.pi * i / b)
    out[0] = 0.0
    out[-1] = 0.0
    return out


# --------------------------------------------------------------------------
# building blocks


def strike_envelope(n, rate, strikes, decay, attack=0.0008):
    """Sum of exponentially decaying strike envelopes with a short attack.

    Adding envelopes (energy) rather than ringing waveforms keeps a fast
    trill at a steady loudness: summed waveforms struck at random phases
    wander by 10 dB from one moment to the next.
    """
    kick = [0.0] * n
    for t, strength in strikes:
        i = int(t * rate)
        if i < n:
            kick[i] += strength
    r_decay = math.exp(-1.0 / (decay * rate))
    r_attack = math.exp(-1.0 / (attack * rate))
    env = [0.0] * n
    held = 0.0
    smooth = 0.0
    for i in range(n):
        held = held * r_decay + kick[i]
        smooth = smooth * r_attack + (1.0 - r_attack) * held
        env[i] = smooth
    return env


def bell(n, rate, fundamental, partials, strikes):
    """Inharmonic partials, each a slightly split pair so the tone shimmers."""
    out = [0.0] * n
    for ratio, gain, decay in partials:
        f = fundamental * ratio
        if f * 1.004 >= 0.45 * rate:
            continue
        env = strike_envelope(n, rate, strikes, decay)
        w1 = 2.0 * math.pi * f / rate
        w2 = w1 * 1.004
        for i in range(n):
            out[i] += gain * env[i] * (math.sin(w1 * i) + 0.5 * math.sin(w2 * i))
    return out


def hammer_clicks(n, rate, strikes, rng, level, length=0.002):
    out = [0.0] * n
    m = int(length * rate)
    for t, strength in strikes:
        start = int(t * rate)
        prev = 0.0
        for k in range(m):
            if start + k >= n:
                break
            # Differenced noise: a bright tick with no low-frequency thump.
            x = rng.random() - 0.5
            out[start + k] += level * strength * (x - prev) * (1.0 - k / m)
            prev = x
    return out


def soft_clip(samples, drive):
    norm = math.tanh(drive)
    return [math.tanh(drive * s) / norm for s in samples]


def one_pole_lowpass(samples, rate, cutoff):
    a = math.exp(-2.0 * math.pi * cutoff / rate)
    y = 0.0
    out = []
    for s in samples:
        y = (1.0 - a) * s + a * y
        out.append(y)
    return out


def bandlimited_saw_square(phase, nharm, square_mix):
    """Additive sawtooth / square blend; harmonics stop below Nyquist."""
    v = 0.0
    for h in range(1, nharm + 1):
        saw = 1.0 / h
        sq = 1.0 / h if h % 2 else 0.0
        v += ((1.0 - square_mix) * saw + square_mix * sq) * math.sin(h * phase)
    return v


# --------------------------------------------------------------------------
# the sounds

# Partial ratios of a small thin hemispherical bell: inharmonic, which is
# what makes it sound like metal rather than an organ pipe.
SMALL_BELL = [
    (1.00, 1.00, 0.22),
    (2.32, 0.55, 0.14),
    (4.25, 0.30, 0.08),
    (6.63, 0.16, 0.05),
]


def twin_bell_ring(rate, seconds, bursts, rate_hz, f_left, f_right, seed,
                   partials=SMALL_BELL):
    """A hammer trilling between two bells in bursts: 'brrring, brrring'."""
    rng = random.Random(seed)
    n = int(seconds * rate)
    sides = ([], [])
    period = 1.0 / rate_hz
    for start, stop in bursts:
        t = start
        side = 0
        while t < stop:
            # Slight unevenness in the hammer keeps the trill alive.
            sides[side].append((t, 0.8 + 0.2 * rng.random()))
            side ^= 1
            t += period * (1.0 + 0.04 * (rng.random() - 0.5))
    left = bell(n, rate, f_left, partials, sides[0])
    right = bell(n, rate, f_right, partials, sides[1])
    clicks = hammer_clicks(n, rate, sides[0] + sides[1], rng, 0.6)
    return [a + b + c for a, b, c in zip(left, right, clicks)]


def make_roustabell():
    rate = 22050
    seconds = 3.0
    # Two long bursts and a quiet tail; the tail dies away before the loop
    # point, so the repeat sounds like the next ring, not a splice.
    s = twin_bell_ring(rate, seconds, [(0.0, 0.95), (1.2, 2.15)],
                       rate_hz=22.0, f_left=1318.5, f_right=1568.0, seed=1907)
    s = soft_clip(normalize(s, 0.0), 1.0)
    s = fade_edges(s, rate, 0.002, 0.25)
    return rate, normalize(s)


def make_builtin_ring():
    rate = 16000
    seconds = 2.0
    # A different voice from the main ring: a lower, faster double bell
    # struck in four short bursts, like an old telephone.
    bell = [
        (1.00, 1.00, 0.12),
        (2.76, 0.45, 0.08),
        (5.40, 0.20, 0.05),
    ]
    s = twin_bell_ring(rate, seconds,
                       [(0.0, 0.3), (0.45, 0.75), (0.9, 1.2), (1.35, 1.65)],
                       rate_hz=25.0, f_left=988.0, f_right=1175.0, seed=1876,
                       partials=bell)
    s = soft_clip(normalize(s, 0.0), 1.0)
    s = fade_edges(s, rate, 0.002, 0.12)
    return rate, normalize(s)


def buzzer(rate, seconds, f0, detune, vib_hz, vib_depth, glide, seed):
    """A harsh game-show buzzer: two slightly detuned saw/square voices."""
    rng = random.Random(seed)
    n = int(seconds * rate)
    out = []
    phases = [0.0, 0.0]
    ratios = [1.0, 1.0 + detune]
    for i in range(n):
        t = i / rate
        vib = 1.0 + vib_depth * math.sin(2.0 * math.pi * vib_hz * t)
        f = f0 * vib * (1.0 - glide * t / seconds)
        v = 0.0
        for k in (0, 1):
            fk = f * ratios[k]
            phases[k] += 2.0 * math.pi * fk / rate
            nharm = int(0.45 * rate / fk)
            v += bandlimited_saw_square(phases[k], nharm, 0.6)
        v += 0.05 * (rng.random() - 0.5)  # rasp
        out.append(v)
    # Take the fizz off the very top so it is harsh, not painful.
    out = one_pole_lowpass(out, rate, 0.3 * rate)
    return soft_clip(normalize(out, 0.0), 2.5)


def make_wrong():
    rate = 22050
    s = buzzer(rate, 0.70, f0=128.0, detune=0.035, vib_hz=7.0,
               vib_depth=0.015, glide=0.06, seed=404)
    s = fade_edges(s, rate, 0.006, 0.03)
    return rate, normalize(s)


def make_builtin_buzz():
    rate = 16000
    s = buzzer(rate, 0.50, f0=142.0, detune=0.045, vib_hz=9.0,
               vib_depth=0.02, glide=0.10, seed=405)
    s = fade_edges(s, rate, 0.006, 0.03)
    return rate, normalize(s)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outputs = [
        ("roustabell.wav", make_roustabell),
        ("WRONG!.WAV", make_wrong),
        ("builtin-ring.wav", make_builtin_ring),
        ("builtin-buzz.wav", make_builtin_buzz),
    ]
    for name, make in outputs:
        rate, samples = make()
        path = os.path.join(here, name)
        write_wav(path, samples, rate)
        print(f"{name}: {len(samples) / rate:.3f} s at {rate} Hz", file=sys.stderr)


if __name__ == "__main__":
    main()
