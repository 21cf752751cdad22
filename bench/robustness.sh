#!/usr/bin/env bash
# The robustness table of `korax peaks --profile`: builds the program and the
# benchmark, writes the synthetic spectra of every case into a scratch folder
# and prints the table (see bench/README.md).
#
#   bench/robustness.sh [BUILD_DIR] [LINES] [CASE...]
#
# LINES defaults to 120 a case; CASE names limit the table to those cases.
set -euo pipefail

build=${1:-build}
shift || true
cmake --build "$build" -j2 --target korax robustness_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/korax-robustness.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/robustness_bench" "$build/korax" "$work" "$@"
