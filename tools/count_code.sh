#!/bin/sh
# Counts non-blank, non-comment lines of C++ under tests/ and under the rest
# of the code (every other source folder: src/, bench/, fuzz/, the plugin),
# and prints the ratio tests : rest.
# Usage: tools/count_code.sh [repository root]   (default: the root above this script)
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

count() {
    # Lines that hold anything besides blanks and comments. Comments are
    # stripped with a small state machine that knows about string and
    # character literals, so "//" or "/*" inside a literal is code.
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' -o -name '*.cxx' \) \
        -print 2>/dev/null | sort | xargs -r awk '
    FNR == 1 { inblock = 0 }
    {
        line = $0; code = ""; i = 1; n = length(line); quote = ""
        while (i <= n) {
            c = substr(line, i, 1); d = substr(line, i, 2)
            if (inblock) {
                if (d == "*/") { inblock = 0; i += 2 } else i++
                continue
            }
            if (quote != "") {
                code = code c
                if (c == "\\") { code = code substr(line, i + 1, 1); i += 2; continue }
                if (c == quote) quote = ""
                i++; continue
            }
            if (d == "//") break
            if (d == "/*") { inblock = 1; i += 2; continue }
            if (c == "\"" || c == "\047") quote = c
            code = code c; i++
        }
        if (code ~ /[^ \t\r]/) total++
    }
    END { print total + 0 }'
}

tests=$(count tests)
rest=$(count src bench fuzz trxopencl)
echo "tests: $tests"
echo "rest:  $rest"
awk -v t="$tests" -v r="$rest" 'BEGIN { if (r > 0) printf "ratio: %.1f%%\n", 100 * t / r; else print "ratio: n/a" }'
