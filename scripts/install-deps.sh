#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs every Debian package Tarn needs to build, test, benchmark and run.
# Idempotent: when everything is present it does nothing (and needs no root).
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build g++ pkgconf ccache make
  # libraries
  libeigen3-dev libspdlog-dev libfmt-dev libopencv-dev
  qtbase5-dev libqwt-qt5-dev libcli11-dev nlohmann-json3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  # the marker's PDF pages rendered by another program (and its Chinese texts' font tables)
  poppler-utils poppler-data
  # fuzzing the file readers; layout and function-size checks
  clang libclang-rt-14-dev clang-format clang-tidy
  # desktop program: fonts for the Chinese UI, Qt's own dialogs in Chinese, virtual display for screenshots
  fonts-wqy-microhei qttranslations5-l10n xvfb xauth
  # the manual opened from the desktop program under the virtual display: launcher, browser, window list
  xdg-utils dillo x11-utils
  # the Python module and its tests
  pybind11-dev python3-dev python3-numpy python3-pytest
  # the Debian packages (make package): dependency lists from the binaries, the manual as HTML, their check
  dpkg-dev file cmark lintian
  # installing the packages into a fresh Debian root (make package-test)
  mmdebstrap
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: root (or sudo) is needed to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
