#!/usr/bin/env python3
"""Writes examples/demo.mid: one format-0 track, division 96, with a sequence
name, a tempo, a 4/4 time signature and one note held for a beat."""
import pathlib
import struct

track = bytes([
    0x00, 0xFF, 0x03, 0x04, *b"Demo",                 # sequence name
    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,         # tempo 500000
    0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,   # 4/4, 24 clocks, 8 32nds
    0x00, 0x90, 0x3C, 0x40,                           # note on c5
    0x60, 0x3C, 0x00,                                 # 96 ticks later, running status, velocity 0
    0x00, 0xFF, 0x2F, 0x00,                           # end of track
])
data = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track
pathlib.Path(__file__).with_name("demo.mid").write_bytes(data)
