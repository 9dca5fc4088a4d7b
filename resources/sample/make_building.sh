#!/usr/bin/env bash
# Regenerates the sample five-floor building: building.json (the simulator's
# scenario: 20 access points, four on each floor, 15 dB a floor slab), one
# walk per floor (building/floorN.ktd, written by ktsim without a terminal)
# and the site file building.kts (every floor on the sample plan site.ktp,
# aligned by three reference points).
#   resources/sample/make_building.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/default}"
ktsim="$build/tools/ktsim/ktsim"
ktd="$build/tools/ktd/ktd"
cmake --build "$build" --target ktsim ktd

python3 - "$here/site.json" "$here/building.json" <<'PY'
import json, random, sys
base = json.load(open(sys.argv[1]))
rng = random.Random(7)
aps = []
for level in range(5):
    for k in range(4):
        aps.append({
            "mac": "02:4B:54:00:%02X:%02X" % (level, k + 1),
            "ssid": "KT-Floor%d" % level if k < 3 else "KT-Guest",
            "attribute": [1, 6, 11, 1][k],
            "lat": round(rng.uniform(52.20510, 52.20590), 6),
            "lon": round(rng.uniform(0.12015, 0.12185), 6),
            "txPower": 20,
            "level": level,
        })
base["name"] = "Ketrion sample building (five floors)"
base["pathLoss"]["perFloor"] = 15.0
base["accessPoints"] = aps
json.dump(base, open(sys.argv[2], "w"), indent=2)
open(sys.argv[2], "a").write("\n")
PY

mkdir -p "$here/building"
rm -f "$here"/building/floor*.ktd "$here/building.kts"
"$ktd" site new "$here/building.kts" --name "Sample building"
for level in 0 1 2 3 4; do
    "$ktsim" --scenario "$here/building.json" --seed $((100 + level)) --walk-level "$level" \
        --walk-spacing 4 --walk-start $((1767268800 + 3600 * level)) \
        --walk-out "$here/building/floor$level.ktd"
    # The plans are one drawing; the marks differ by a pixel or two, as marks
    # made by hand on five scans do.
    "$ktd" site add-floor "$here/building.kts" --building "Sample building" \
        --floor "Floor $level" --order "$level" --height $((level * 4)) \
        --projection "$here/site.ktp" \
        --ref "stairs,$((96 + level % 2)),108" --ref "lift,864,$((612 - level % 3))" \
        --ref "core,480,108"
    "$ktd" site add "$here/building.kts" --floor "Floor $level" --surveyor "Sample surveyor" \
        "$here/building/floor$level.ktd"
done
"$ktd" site list "$here/building.kts"
"$ktd" site check "$here/building.kts"
