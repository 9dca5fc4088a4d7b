#!/usr/bin/env bash
# Regenerates the sample site's plan image (plan.png) and its projection file
# (site.ktp) from the drawing program and ktp.
#   resources/sample/make_sample.sh [BUILD_DIR]     (default build/sample)
# The plan covers latitude 52.20500 (bottom edge) to 52.20600 (top edge) and
# longitude 0.12000 (left edge) to 0.12200 (right edge), 960 x 720 pixels; the
# four corners are the control points.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/sample}"

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKETRION_UI=OFF -DKETRION_TESTS=OFF -DKETRION_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target ktp ktp_sample_plan

"$build/tools/ktp/ktp_sample_plan" "$here/plan.png"
"$build/tools/ktp/ktp" pack "$here/plan.png" \
    --ref 52.20600,0.12000,0,0 \
    --ref 52.20600,0.12200,960,0 \
    --ref 52.20500,0.12000,0,720 \
    --ref 52.20500,0.12200,960,720 \
    -o "$here/site.ktp"
