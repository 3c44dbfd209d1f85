#!/usr/bin/env bash
# Times quellar-cli end to end (xlsx in, CSV out, and with the job "write" xlsx out) against the inflate floor
# (`unzip -p FILE xl/worksheets/sheet1.xml > /dev/null`) and against reading the input alone
# (`convert FILE.xlsx FILE.csv`). Each job runs RUNS times (default 3); the script prints the
# fastest, median and slowest wall time, the median CPU time (user + system, steadier than the
# wall time on a busy machine) and the largest peak resident memory (/usr/bin/time -v).
#
# Inputs are made once by make_cli_inputs into $QUELLAR_BENCH_DIR (default /tmp/perfbench):
# pairs a_N.xlsx / b_N.xlsx of N records x 10 fields keyed by 编号 for N = 10,000, 100,000 and
# 1,000,000, e_N.xlsx (a_N with rows deleted, changed and appended, for --align-rows), and
# /tmp/quellar_bench_1048576x10.xlsx.
#
# Usage: bench/cli_end_to_end.sh [BUILD_DIR]        (default build/)
#        RUNS=5 SIZES="10000 100000" JOBS="compare compare-rules join" bench/cli_end_to_end.sh
#        JOBS="compare highlighter details" SIZES=1000000 bench/cli_end_to_end.sh   (the tabular
#        diff and the details page against the full CSV result)
#        JOBS=aligned SIZES=1000000 bench/cli_end_to_end.sh   (by position, plain and --align-rows)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/cli/quellar-cli"
runs="${RUNS:-3}"
data="${QUELLAR_BENCH_DIR:-/tmp/perfbench}"
sizes="${SIZES:-10000 100000 1000000 1048576}"
jobs="${JOBS:-floor read write compare compare-rules join filter blank-rows group-sum}"
mkdir -p "$data"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

pairs=""
for n in $sizes; do [ "$n" != 1048576 ] && pairs="$pairs $n"; done
# shellcheck disable=SC2086
"$build/bench/make_cli_inputs" "$data" $pairs >&2

# run LABEL COMMAND...: RUNS runs; prints min/median/max wall and max peak RSS.
run() {
    local label="$1"
    shift
    local walls=() cpus=() peak=0
    for _ in $(seq "$runs"); do
        if ! /usr/bin/time -v -o "$out/time" "$@" >"$out/stdout" 2>"$out/stderr"; then
            echo "$label: FAILED"; cat "$out/stderr" | head -5; return
        fi
        walls+=("$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i]; print s }' "$out/time")")
        cpus+=("$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$out/time")")
        local kb
        kb="$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$out/time")"
        [ "$kb" -gt "$peak" ] && peak="$kb"
    done
    printf '%-40s %s   cpu %6.2f s   peak %6.0f MB\n' "$label" \
        "$(printf '%s\n' "${walls[@]}" | sort -g | awk '{ v[NR] = $1 } END { printf "%6.2f s (min %5.2f, max %5.2f)", v[int((NR + 1) / 2)], v[1], v[NR] }')" \
        "$(printf '%s\n' "${cpus[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')" \
        "$(echo "$peak / 1024" | bc -l)"
}

has() { [[ " $jobs " == *" $1 "* ]]; }

echo "quellar-cli end to end, $runs runs each, $(nproc) cores (shared machine: figures vary with other work)"
for n in $sizes; do
    if [ "$n" = 1048576 ]; then
        a=/tmp/quellar_bench_1048576x10.xlsx; b="$a"
        key=编号; where=城市=北京; group=城市; sum=金额
    else
        a="$data/a_$n.xlsx"; b="$data/b_$n.xlsx"
        key=编号; where=地区=华东; group=部门; sum=金额
    fi
    echo "--- $n rows x 10: $(basename "$a") $(basename "$b")"
    has floor && run "unzip -p sheet1.xml > /dev/null" sh -c "unzip -p '$a' xl/worksheets/sheet1.xml > /dev/null"
    has read && run "convert (read one input, CSV out)" "$cli" convert "$a" "$out/read.csv"
    # The same with .xlsx out (targets: within 2x of CSV out; compare within 1.5x).
    has write && run "convert (xlsx out)" "$cli" convert "$a" "$out/read.xlsx"
    has compare && run "compare --key $key" "$cli" compare --quiet --key "$key" "$a" "$b" -o "$out/r.csv"
    has write && run "compare --key $key -o r.xlsx" "$cli" compare --quiet --key "$key" "$a" "$b" -o "$out/r.xlsx"
    has highlighter && run "compare --key $key --format highlighter" "$cli" compare --quiet --key "$key" "$a" "$b" -o "$out/d.csv" --format highlighter
    has details && run "compare --key $key -o r.csv --details" "$cli" compare --quiet --key "$key" "$a" "$b" -o "$out/r.csv" --details "$out/d.htm"
    # The same comparison with every rule on (tolerances, text rules, an ignored column) and the statistics.
    has compare-rules && [ "$n" != 1048576 ] && run "compare --key $key, all rules" "$cli" compare --quiet --key "$key" --ignore-case \
        --tolerance 0.01 --rel-tolerance 0.1% --tolerance 金额=0.5 --ignore-spaces --ignore-width --ignore-column 备注 \
        --summary "$out/s.json" "$a" "$b" -o "$out/r.csv"
    # By position against the same list with every 97th row deleted, every 100th changed and 1%
    # appended (e_N.xlsx), plain and with the rows aligned.
    if has aligned && [ "$n" != 1048576 ]; then
        run "compare --by-position (edited list)" "$cli" compare --quiet --by-position "$a" "$data/e_$n.xlsx" -o "$out/r.csv"
        run "compare --by-position --align-rows" "$cli" compare --quiet --by-position --align-rows "$a" "$data/e_$n.xlsx" -o "$out/r.csv"
    fi
    has join && run "join --on $key" "$cli" join --quiet --on "$key" "$a" "$b" -o "$out/r.csv"
    has filter && run "filter --where $where" "$cli" filter --quiet --where "$where" "$a" "$b" -o "$out/r.csv"
    has blank-rows && run "blank-rows --count 2" "$cli" blank-rows --quiet --count 2 "$a" -o "$out/r.csv"
    has group-sum && run "group-sum --group $group --sum $sum" "$cli" group-sum --quiet --group "$group" --sum "$sum" "$a" -o "$out/r.csv"
done
# A job left out above is no failure.
exit 0
