# SPDX-License-Identifier: BSD-3-Clause
# Assertion helpers for the shell tests; finish prints the counts and sets the exit status.
PASSED=0
FAILED=0
ok() { PASSED=$((PASSED + 1)); echo "ok - $1"; }
not_ok() {
    FAILED=$((FAILED + 1))
    echo "not ok - $1"
    shift
    for line in "$@"; do printf '    %s\n' "$line"; done
}
expect_eq() { # description actual expected
    if [ "$2" == "$3" ]; then ok "$1"; else not_ok "$1" "expected: $3" "actual:   $2"; fi
}
# The needle is literal text, line breaks included (grep -F would take each
# of its lines as a pattern of its own, and an empty one matches anything).
expect_contains() { # description haystack needle
    if [[ "$2" == *"$3"* ]]; then ok "$1"; else not_ok "$1" "missing: $3" "in: $(head -c 2000 <<<"$2")"; fi
}
expect_lacks() { # description haystack needle
    if [[ "$2" == *"$3"* ]]; then not_ok "$1" "unexpected: $3"; else ok "$1"; fi
}
finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit
}

