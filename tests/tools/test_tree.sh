#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Rules the whole source tree keeps: every source file names its licence;
# the PAM environment's keys are spelled only in their contract; the PAM
# modules include nothing of the plug-in, the RADIUS client nothing of either.
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
# The contract between plug-in and modules is platform/pam_env.h: no key is
# spelled in quotes anywhere else in product code, the test module, the
# fuzzers or the benchmark (unit tests, shell tests and documents may).
keys=$(grep -oE '= "[A-Z][A-Z0-9_]+";' platform/pam_env.h | tr -d '=";' | tr -d ' ')
expect_eq "the contract's keys are found (the check below is not vacuous)" "$(($(wc -w <<<"$keys") > 20))" "1"
code=$(grep -E '^(auth|acct|linkup|plugin|pam|radius|device|tools|platform|base|bench|fuzz|tests/pam)/.*\.(cpp|h)$' <<<"$files" |
       grep -v '^platform/pam_env.h$')
spelled=$(for k in $keys; do grep -nF "\"$k" $code; done)
expect_eq "no key is spelled outside platform/pam_env.h" "$spelled" ""
expect_eq "pam/ includes nothing of the plug-in" \
    "$(grep -nE '#include "(auth|acct|linkup|plugin)/' $(grep '^pam/' <<<"$files"))" ""
expect_eq "radius/ includes nothing of the plug-in or the PAM modules" \
    "$(grep -nE '#include "(auth|acct|linkup|plugin|pam)/' $(grep '^radius/' <<<"$files"))" ""
finish
