#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs one harness over its checked-in seeds and then fuzzes for a while:
#   smoke.sh FUZZ_BUILD_DIR NAME SECONDS
# New inputs go to a scratch directory; the seeds are only read.
set -uo pipefail
build=$1 name=$2 seconds=$3
seeds=$(dirname "$(readlink -f "$0")")/corpus/$name
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "$scratch" "$seeds" 2>&1 | tail -n 12
status=${PIPESTATUS[0]}
ls crash-* leak-* timeout-* 2>/dev/null && echo "artifacts kept in $scratch" && trap - EXIT
exit "$status"
