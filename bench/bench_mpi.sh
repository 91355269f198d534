#!/usr/bin/env bash
# tarvix-mpi against tarvix-cli on this machine, in the same run:
#  - solve time of `mpirun -n 2 tarvix-mpi solve` (one BLAS thread a process)
#    against `tarvix-cli solve --threads 2` at N = 4000 and 8000, and the
#    largest difference of the two answers;
#  - peak resident memory of each of 4 processes against tarvix-cli's at
#    N = 3000 (/usr/bin/time -f %M);
#  - with BIG=N (e.g. BIG=30000): generate and solve N with 4 processes.
# Usage: bench/bench_mpi.sh [BUILD_DIR]   (default: build)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
cli="$build/tarvix-cli"
mpi="$build/tarvix-mpi"
work=$(mktemp -d "${TMPDIR:-/tmp}/bench_mpi.XXXXXX")
trap 'rm -rf "$work"' EXIT
export OPENBLAS_NUM_THREADS=1
if [ "$(id -u)" -eq 0 ]; then
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
fi
mpirun=(mpirun --oversubscribe --bind-to none --mca btl self,vader
        --mca btl_vader_single_copy_mechanism none)

seconds() { # command...: wall seconds of one run, output to $work/out
  local t0 t1
  t0=$(date +%s.%N)
  "$@" > "$work/out"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

# Largest |a - b| / max |b| of two solution listings.
difference() {
  paste "$1" "$2" | awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > m) m = d;
                           b = $2 < 0 ? -$2 : $2; if (b > s) s = b }
                         END { printf "%.2e\n", (s > 0 ? m / s : m) }'
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) (shared: figures are noisy)"
echo
echo "solve time, best of 2: mpirun -n 2 tarvix-mpi solve vs tarvix-cli solve --threads 2"
printf "%6s %10s %10s %8s %12s\n" N cli_s mpi_s mpi/cli difference
for n in 4000 8000; do
  file="$work/g$n.btrx"
  "$cli" generate "$n" "$file" --seed 7
  best_cli=""; best_mpi=""
  for round in 1 2; do
    t=$(seconds "$cli" solve "$file" --threads 2); cp "$work/out" "$work/cli.txt"
    if [ -z "$best_cli" ] || (( $(echo "$t < $best_cli" | bc -l) )); then best_cli=$t; fi
    t=$(seconds "${mpirun[@]}" -n 2 "$mpi" solve "$file"); cp "$work/out" "$work/mpi.txt"
    if [ -z "$best_mpi" ] || (( $(echo "$t < $best_mpi" | bc -l) )); then best_mpi=$t; fi
  done
  printf "%6d %10.2f %10.2f %8.2f %12s\n" "$n" "$best_cli" "$best_mpi" \
    "$(echo "$best_mpi / $best_cli" | bc -l)" "$(difference "$work/mpi.txt" "$work/cli.txt")"
  rm -f "$file"
done

echo
n=3000
file="$work/g$n.btrx"
"$cli" generate "$n" "$file" --seed 7
/usr/bin/time -f "%M" -o "$work/cli.mem" "$cli" solve "$file" --threads 2 > /dev/null
"${mpirun[@]}" -n 4 /usr/bin/time -f "%M" -a -o "$work/mpi.mem" "$mpi" solve "$file" > /dev/null
cli_kb=$(cat "$work/cli.mem")
largest=$(sort -n "$work/mpi.mem" | tail -1)
echo "peak resident memory at N = $n: tarvix-cli $((cli_kb / 1024)) MB;" \
     "tarvix-mpi with 4 processes: $(sort -n "$work/mpi.mem" | awk '{printf "%d ", $1 / 1024}')MB" \
     "(largest / cli = $(echo "$largest / $cli_kb" | bc -l | cut -c1-4))"
rm -f "$file"

if [ -n "${BIG:-}" ]; then
  echo
  file="$work/big.btrx"
  t=$(seconds "${mpirun[@]}" -n 4 "$mpi" generate "$BIG" "$file" --seed 7)
  echo "N = $BIG with 4 processes: generate $(printf %.1f "$t") s ($(( $(stat -c %s "$file") >> 20 )) MB)"
  rm -f "$work/mpi.mem"
  t=$(seconds "${mpirun[@]}" -n 4 /usr/bin/time -f "%M" -a -o "$work/mpi.mem" "$mpi" solve "$file" --report)
  echo "  solve $(printf %.1f "$t") s, peak per process" \
       "$(sort -n "$work/mpi.mem" | awk '{printf "%d ", $1 / 1024}')MB"
fi
