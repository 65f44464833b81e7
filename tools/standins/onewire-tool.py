#!/usr/bin/env python3
"""1-Wire memory writer of the unit sandbox.

Accepts the options of the unit's tool (-e: encrypt, -m MODE: the accessory, e.g. knob), reads the
text to write from standard input and appends it to $UNIT_SANDBOX_STATE/onewire-tool.input; the
options of each call are appended, one call a line, to onewire-tool.args. While the file
onewire-tool.fail exists in that folder every call fails with exit status 1 and records nothing; while
onewire-tool.hang exists every call waits forever, as the tool does on a stuck 1-Wire bus; while
onewire-tool.delay exists every call takes the number of seconds it holds before it writes, as the tool
does on a slow bus.
"""
import argparse
import os
import signal
import sys
import time


def main():
    parser = argparse.ArgumentParser(prog="onewire-tool.py", description=__doc__)
    parser.add_argument("-e", "--encrypt", action="store_true")
    parser.add_argument("-m", "--mode", required=True)
    parser.parse_args()
    state = os.environ.get("UNIT_SANDBOX_STATE")
    if not state:
        sys.exit("onewire-tool.py: UNIT_SANDBOX_STATE is not set")
    text = sys.stdin.buffer.read()
    if os.path.exists(os.path.join(state, "onewire-tool.hang")):
        print("onewire-tool.py: waiting for the 1-Wire bus", file=sys.stderr, flush=True)
        while True:
            signal.pause()
    delay = os.path.join(state, "onewire-tool.delay")
    if os.path.exists(delay):
        with open(delay, encoding="utf-8") as seconds:
            time.sleep(float(seconds.read()))
    if os.path.exists(os.path.join(state, "onewire-tool.fail")):
        print("onewire-tool.py: no answer from the 1-Wire memory", file=sys.stderr)
        return 1
    with open(os.path.join(state, "onewire-tool.args"), "a", encoding="utf-8") as record:
        record.write(" ".join(sys.argv[1:]) + "\n")
    with open(os.path.join(state, "onewire-tool.input"), "ab") as record:
        record.write(text)
    print(f"onewire-tool.py: {len(text)} bytes written to the 1-Wire memory")
    return 0


if __name__ == "__main__":
    sys.exit(main())
