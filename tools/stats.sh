#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# How much of the project is tests: non-blank, non-comment lines of C++ and
# shell among the tracked files. Tests are everything under tests/ and fuzz/
# (the test PAM module, fakes, drivers and the sandbox library included);
# everything else is code. Prints both counts and the tests' share, and
# says so when tests are more than a third of all lines (the aim).
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
MAX_TEST_PERCENT=33

# Prints the lines that are neither blank nor comment of C++ file $1.
cpp_lines() {
    awk '
        { line = $0 }
        in_block {
            end = index(line, "*/")
            if (!end) next
            in_block = 0
            line = substr(line, end + 2)
        }
        {
            sub(/^[ \t]+/, "", line)
            while (substr(line, 1, 2) == "/*") {
                end = index(substr(line, 3), "*/")
                if (!end) { in_block = 1; next }
                line = substr(line, end + 4)
                sub(/^[ \t]+/, "", line)
            }
            if (line == "" || substr(line, 1, 2) == "//") next
            n++
        }
        END { print n + 0 }' "$1"
}

# Prints the lines that are neither blank nor comment of shell file $1.
shell_lines() {
    grep -cvE '^[[:space:]]*(#|$)' "$1" || true
}

is_shell() {
    case "${1##*/}" in
        *.sh) return 0 ;;
        ?*.*) return 1 ;;
    esac
    head -n1 "$1" | grep -qE '^#!.*\b(ba)?sh\b'
}

tests=0 code=0
while IFS= read -r file; do
    [ -f "$file" ] || continue
    case "$file" in
        *.cpp|*.cc|*.h|*.hpp) n=$(cpp_lines "$file") ;;
        *) is_shell "$file" || continue; n=$(shell_lines "$file") ;;
    esac
    case "$file" in
        tests/*|fuzz/*) tests=$((tests + n)) ;;
        *) code=$((code + n)) ;;
    esac
done < <(git ls-files)

total=$((tests + code))
echo "code  $code lines"
echo "tests $tests lines"
echo "tests are $((tests * 100 / total)) % of all ($tests of $total)"
if [ $((tests * 100)) -gt $((total * MAX_TEST_PERCENT)) ]; then
    echo "stats: tests are more than the $MAX_TEST_PERCENT % aimed at" >&2
fi
