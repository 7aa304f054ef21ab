#!/usr/bin/env python3
"""A plain pyserial logger: the peer the program's silent-line and line-rate
figures are measured beside. It reads the instrument's frames ("#" and eight
hexadecimal digits) from PORT, as such a logger is usually written (a read
that waits up to a second for what is waiting), and appends each reading to
FILE as "seconds since 1970<TAB>°C", flushed after each read."""
import re
import sys
import time

import serial

FRAME = re.compile(rb"#([0-9A-Fa-f]{4})[0-9A-Fa-f]{4}")


def main():
    port = serial.Serial(sys.argv[1], 115200, timeout=1)
    pending = b""
    with open(sys.argv[2], "a", encoding="utf-8") as out:
        while True:
            pending += port.read(max(1, port.in_waiting))
            now = time.time()
            end = 0
            for frame in FRAME.finditer(pending):
                out.write(f"{now:.3f}\t{(int(frame.group(1), 16) - 2732) / 10:.1f}\n")
                end = frame.end()
            pending = pending[end:] if end else pending[-8:]
            out.flush()


if __name__ == "__main__":
    main()
