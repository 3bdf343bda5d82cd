#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. Run as root.
# Does nothing, not even an index update, when every package is already there.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libopencv-core-dev libpng-dev
  clang-format file binutils gcovr
  libaravis-dev libusb-1.0-0-dev aravis-tools
  zlib1g-dev python3
  iproute2 util-linux
  libcpp-httplib-dev chromium python3-websocket
  clang-14 libclang-rt-14-dev
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "setup-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

echo "setup-deps: installing ${missing[*]}"
# Wait for another apt or dpkg run to release its lock instead of failing.
apt_opts=(-o DPkg::Lock::Timeout=600)
apt-get "${apt_opts[@]}" update
apt-get "${apt_opts[@]}" install -y --no-install-recommends "${missing[@]}"
