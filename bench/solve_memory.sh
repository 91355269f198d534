#!/bin/sh
# Peak resident memory of `tarvix-cli solve` against the matrix's own size
# (n x n doubles), for each size given (default 4000 8000).
#   bench/solve_memory.sh [CLI] [N...]
cli=${1:-build/tarvix-cli}
[ $# -gt 0 ] && shift
sizes=${*:-4000 8000}
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf '%6s %10s %10s %6s\n' n peak-MB matrix-MB ratio
for n in $sizes; do
    "$cli" generate "$n" "$dir/s.btrx" --seed 7 >/dev/null || exit 1
    /usr/bin/time -o "$dir/peak" -f %M "$cli" solve "$dir/s.btrx" >/dev/null 2>&1
    kb=$(tail -n 1 "$dir/peak")
    awk -v n="$n" -v kb="$kb" 'BEGIN { m = n * n * 8 / 1048576; p = kb / 1024;
        printf "%6d %10.1f %10.1f %6.2f\n", n, p, m, p / m }'
    rm -f "$dir/s.btrx"
done
