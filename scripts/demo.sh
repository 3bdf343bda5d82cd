#!/usr/bin/env bash
# The demo: installs what is missing, builds the host tool and the plug-in, lists
# the simulated demo cameras and grabs five frames from one into PNG files.
#
# Uses the same build tree and configure options as scripts/test.sh, so one tree
# serves both.
#   QRV_BUILD_DIR   build tree (default: build/ in the repository)
#   QRV_CMAKE_ARGS  extra arguments for the configure step, split on spaces
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QRV_BUILD_DIR:-$repo/build}
frames_dir=$repo/demo-frames
read -r -a extra_args <<<"${QRV_CMAKE_ARGS:-}"

bash "$repo/scripts/setup-deps.sh"

cmake -S "$repo" -B "$build_dir" -DQRV_WERROR=ON "${extra_args[@]}"
cmake --build "$build_dir" -j2 --target qrvacq QRVAcqGenIcam

qrvacq=$build_dir/bin/qrvacq
# Simulated cameras only: the demo never looks for real ones on the network.
export KZR_ARAVIS=off KZR_GENTL=off
echo
echo "== qrvacq --sim demo list"
"$qrvacq" --sim demo list
echo
echo "== qrvacq --sim demo grab SIM-AREA-001 -n 5 -o demo-frames"
# Old frames would mix with the new ones.
rm -f "$frames_dir"/frame_*.png "$frames_dir"/frame_*.chunks.bin
"$qrvacq" --sim demo grab SIM-AREA-001 -n 5 -o "$frames_dir"
echo
echo "PNG frames: $frames_dir"
ls "$frames_dir"
