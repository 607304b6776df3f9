#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes a small seed corpus of PLY files (each prefixed by the two size bytes the fuzz target reads).
set -euo pipefail
out=$1
mkdir -p "$out"
seed() { printf '\x01\x01'; cat; }
printf 'ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty float z\nend_header\n1 2 3\nnan 0 -inf\n' | seed >"$out/ascii"
printf 'ply\nformat ascii 1.0\ncomment c\nelement face 1\nproperty list uchar int i\nelement vertex 2\nproperty double x\nproperty uchar r\nproperty double y\nproperty double z\nend_header\n3 0 1 2\n1 5 2 3\n4 5 6 7\n' | seed >"$out/ascii-face"
{ printf 'ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty float z\nend_header\n'; head -c 24 /dev/urandom; } | seed >"$out/le"
{ printf 'ply\nformat binary_big_endian 1.0\nelement vertex 2\nproperty double x\nproperty double y\nproperty double z\nend_header\n'; head -c 48 /dev/urandom; } | seed >"$out/be"
{ printf 'ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list uchar int i\nelement vertex 2\nproperty float x\nproperty list uchar float n\nproperty float y\nproperty float z\nend_header\n\x01\x00\x00\x00\x00'; head -c 40 /dev/urandom; } | seed >"$out/le-lists"
printf 'ply\nformat ascii 1.0\nelement junk 3\nelement vertex 1\nproperty float x\nproperty float y\nproperty float z\nend_header\n1 2 3\n' | seed >"$out/ascii-empty-element"
{ printf 'ply\r\nformat binary_little_endian 1.0\r\nelement vertex 1\r\nproperty float x\r\nproperty float y\r\nproperty float z\r\nend_header\r\n'; head -c 12 /dev/urandom; } | seed >"$out/le-crlf"
