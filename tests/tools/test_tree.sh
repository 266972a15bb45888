#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Rules the whole source tree keeps: every source file names its licence.
set -uo pipefail
SOURCE=${DSPPP_SOURCE:?DSPPP_SOURCE must name the source directory}
source "$SOURCE/tests/e2e/assert.sh"
cd "$SOURCE"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files)
else
    files=$(find . -type f -not -path './build*' | sed 's#^\./##')
fi
sources=$(grep -E '(\.(cpp|h|sh)|(^|/)CMakeLists\.txt|^run|^\.ci/run)$' <<<"$files")
expect_eq "there are source files to check" "$(($(wc -l <<<"$sources") > 50))" "1"
missing=$(while read -r f; do grep -q 'SPDX-License-Identifier: BSD-3-Clause' "$f" || echo "$f"; done <<<"$sources")
expect_eq "every source file carries the SPDX licence line" "$missing" ""
expect_contains "the licence text is at the root" "$(cat LICENSE)" "BSD 3-Clause License"
expect_contains "the Debian copyright file names it" "$(cat docs/copyright)" "License: BSD-3-Clause"
finish
