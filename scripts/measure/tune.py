#!/usr/bin/env python3
# The measures' tune, written both ways into the folder WORK: tune.txt and
# tune.mod (256 rows of 50 ms, 12.8 s), long.txt and long.mod (the tune 32
# times, 409.6 s: a module's order list holds 128). Four voices of a looped
# 32-frame square, two a side, as a Fenk song text and as a four-channel
# ProTracker module that plays the same pitches.
#
# Usage: scripts/measure/tune.py WORK
import struct, sys
work = sys.argv[1]
# Amiga periods of C-1 .. B-3; the module's sample plays at 3546895 / period
# Hz, Fenk's at 1000000 / period: the same pitch for period * 1e6 / 3546895.
amiga = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
         428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
         214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]
def note(row, voice):
    return amiga[(row * (voice + 2) + 7 * voice) % len(amiga)]
rows = [[note(row, voice) for voice in range(4)] for row in range(256)]

def song_text(repeats):
    lines = ['title "Compare"', 'name COMPARE', 'section tune']
    for periods in rows:
        fenk = [max(1, min(255, round(p * 1e6 / 3546895))) for p in periods]
        lines.append('  %d %d %d %d 10t' % tuple(fenk))
    lines += ['end', 'order' + ' tune' * repeats]
    return '\n'.join(lines) + '\n'

def module(repeats):
    header = b'Compare'.ljust(20, b'\0')
    square = b'\x40' * 16 + b'\xc0' * 16
    samples = struct.pack('>22sHBBHH', b'square', len(square) // 2, 0, 64, 0, len(square) // 2)
    for _ in range(30):
        samples += struct.pack('>22sHBBHH', b'', 0, 0, 0, 0, 1)
    count = 4 * repeats
    order = bytes([k % 4 for k in range(count)]).ljust(128, b'\0')
    data = header + samples + bytes([count, 127]) + order + b'M.K.'
    # Channels 1 and 4 sound left, 2 and 3 right: Fenk's voices 0, 1 (left)
    # go to channels 1, 4 and its voices 2, 3 (right) to channels 2, 3.
    channel_voice = [0, 2, 3, 1]
    for pattern in range(4):
        for line in range(64):
            row = rows[pattern * 64 + line]
            for channel in range(4):
                period = row[channel_voice[channel]]
                effect, parameter = 0, 0
                if pattern == 0 and line == 0 and channel == 0:
                    effect, parameter = 0xF, 1     # speed 1: one tick a row
                if pattern == 0 and line == 0 and channel == 1:
                    effect, parameter = 0xF, 50    # tempo 50: a tick is 2.5 / 50 s
                data += bytes([(1 & 0xF0) | (period >> 8), period & 0xFF,
                               ((1 & 0x0F) << 4) | effect, parameter])
    return data + square

for name, repeats in (('tune', 1), ('long', 32)):
    open(f'{work}/{name}.txt', 'w').write(song_text(repeats))
    open(f'{work}/{name}.mod', 'wb').write(module(repeats))
