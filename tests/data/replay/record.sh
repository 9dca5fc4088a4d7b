#!/usr/bin/env bash
# Re-records the golden replay captures and their expected ktreplay output.
#   tests/data/replay/record.sh [BUILD_DIR]      (default: build/default)
# Needs ktsim and ktreplay built in BUILD_DIR. Review the diff of every
# *.expected file before committing: a change there is a change in behaviour.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$(cd "${1:-$root/build/default}" && pwd)"
ktsim="$build/tools/ktsim/ktsim"
ktreplay="$build/tools/ktreplay/ktreplay"
work="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# Scenario files: the sample office with a fixed start time and quick scans,
# plus the faults each capture is about.
python3 - "$root/resources/sample/site.json" "$here" <<'PY'
import json, sys
base = json.load(open(sys.argv[1]))
base["startTime"] = 1173103629          # 5 March 2007, 14:07:09 UTC
base["scan"] = {"minMs": 400, "maxMs": 900, "passes": 2}
for name, faults in [
    ("session", {}),
    ("faults", {"noise": 0.3, "badCheck": 0.2, "split": 0.5, "loseScanEnd": 0.5}),
]:
    s = json.loads(json.dumps(base))
    s["faults"].update(faults)
    with open(f"{sys.argv[2]}/{name}.json", "w") as f:
        json.dump(s, f, indent=2)
        f.write("\n")
PY

request() {  # writes one request frame (hex bytes) to the board's terminal
    printf "$(printf '\\x%s' "$@")" >"$work/tty"
}

# Plays the program's side by hand: the handshake requests, then scan
# requests, while ktsim records everything the board sends.
record() {
    local name="$1" seconds="$2"
    shift 2
    "$ktsim" --scenario "$here/$name.json" --capture "$here/$name.bin" --link "$work/tty" \
        --duration "$seconds" >/dev/null &
    local sim=$!
    for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
    cat "$work/tty" >/dev/null 2>&1 &  # drains the line like the program's reads
    local drain=$!
    sleep 0.3
    request 11 12 01 00 11 13  # Version
    sleep 0.3
    request 11 12 02 00 11 13  # Serial
    sleep 0.3
    request 11 12 03 07 00 11 13  # Configure 7
    for at in "$@"; do
        sleep "$at"
        request 11 12 16 00 11 13  # scan
    done
    wait "$sim"
    kill "$drain" 2>/dev/null || true
    wait "$drain" 2>/dev/null || true
}

record session 6 0.5 2.5
record faults 9 0.5 2 2 2

# Hand-made edge cases that the board's own traffic does not contain: a
# Version text without its zero byte (the check byte ends it), with a space
# and a backslash; a Serial number shorter than the one before; a bad check
# byte; a frame of type 0x11; a ScanStart never ended; noise between frames.
python3 - "$here/edge.bin" <<'PY'
import sys
def frame(t, body, check=None):
    x = t
    for b in body:
        x ^= b
    body = bytes(body) + bytes([x if check is None else check])
    out = bytearray([0x11, 0x12, t])
    if t == 0x11:
        out.append(0x14)
    for b in body:
        out.append(b)
        if b == 0x11:
            out.append(0x14)
    return bytes(out + b"\x11\x13")
s = b""
s += frame(0x01, b"v 1\\2")
s += frame(0x02, b"ABCD1234")
s += b"\x00\x13\x55"
s += frame(0x02, b"XY\x00")
s += frame(0x16, b"", check=0x00)  # empty body: bad check
s += frame(0x11, b"\x05")
s += frame(0x16, b"")
open(sys.argv[1], "wb").write(s)
PY

for bin in "$here"/*.bin; do
    "$ktreplay" "$bin" >"${bin%.bin}.expected"
done
echo "recorded: $(cd "$here" && ls ./*.bin | tr '\n' ' ')"
