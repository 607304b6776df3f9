#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the Debian packages made by `make package` with lintian (no error allowed), then installs them
# into a fresh Debian root built from the archive alone (mmdebstrap) and there: runs the command line's
# demo, checks that every library the programs need was installed, imports the Python module and runs its
# example, then installs libtarn-dev and builds and runs the SDK example with find_package(Tarn).
#   tests/packaging/fresh-root.sh BUILD_DIR [SUITE]   (SUITE: this machine's Debian release by default)
# Packages already in apt's cache on this machine are copied in rather than downloaded again.
set -euo pipefail

build="$(cd "${1:?usage: fresh-root.sh BUILD_DIR [SUITE]}" && pwd)"
suite="${2:-$(. /etc/os-release && echo "$VERSION_CODENAME")}"
shopt -s nullglob
debs=("$build"/*.deb)
if [ ${#debs[@]} -eq 0 ]; then
  echo "fresh-root: no packages in $build (run make package)" >&2
  exit 1
fi

echo "fresh-root: lintian"
lintian --fail-on error "${debs[@]}"

work="$(mktemp -d "${TMPDIR:-/tmp}/tarn-fresh-root.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debs"
cp "${debs[@]}" "$work/debs/"

# What runs inside the new root, as root, from /tmp.
cat > "$work/inside.sh" <<'INSIDE'
set -eu
export DEBIAN_FRONTEND=noninteractive
apt_install() { apt-get install -y -q --no-install-recommends "$@" > /tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }; }
cd /tmp/debs
echo "fresh-root: installing tarn, libtarn2, python3-tarn, tarn-doc"
apt_install ./tarn_*.deb ./libtarn2_*.deb ./python3-tarn_*.deb ./tarn-doc_*.deb
size=$(dpkg-query -W -f='${Installed-Size}\n' tarn libtarn2 python3-tarn | awk '{ kb += $1 } END { print kb }')
echo "fresh-root: tarn, libtarn2 and python3-tarn take ${size} KB installed"
if [ "$size" -ge 61440 ]; then echo "fresh-root: the runtime packages take 60 MB or more" >&2; exit 1; fi
for program in /usr/bin/tarn /usr/bin/tarn_studio /usr/lib/tarn/libtarn_commands.so; do
  if ldd "$program" | grep -q "not found"; then ldd "$program"; echo "fresh-root: $program lacks a library" >&2; exit 1; fi
done
cd /tmp && tarn demo | tail -n 1
python3 -c 'import tarn; print("fresh-root: import tarn from", tarn.__file__)'
python3 /usr/share/tarn/TarnSDK/examples/python/calibrate_synthetic.py | tail -n 1
echo "fresh-root: installing libtarn-dev and a compiler"
cd /tmp/debs && apt_install ./libtarn-dev_*.deb ./libtarn2_*.deb cmake g++ make
cp -r /usr/share/tarn/TarnSDK/examples/sdk-consumer /tmp/sdk
cmake -S /tmp/sdk -B /tmp/sdk/build > /tmp/sdk.log 2>&1 && cmake --build /tmp/sdk/build >> /tmp/sdk.log 2>&1 ||
  { cat /tmp/sdk.log; exit 1; }
/tmp/sdk/build/sdk_consumer | tail -n 1
echo "fresh-root: passed"
INSIDE

mmdebstrap --variant=apt --format=directory --quiet \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives && { cp -l /var/cache/apt/archives/*.deb "$1"/var/cache/apt/archives/ 2>/dev/null || cp /var/cache/apt/archives/*.deb "$1"/var/cache/apt/archives/ 2>/dev/null || true; }' \
  --customize-hook="copy-in $work/debs $work/inside.sh /tmp" \
  --customize-hook='chroot "$1" sh /tmp/inside.sh' \
  "$suite" "$work/root"
