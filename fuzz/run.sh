#!/usr/bin/env bash
# Runs every libFuzzer target built in build-fuzz/ over its seed corpus.
#   fuzz/run.sh [seconds] [runs]
# Each target runs for `seconds` (60 by default) or, when `runs` is given, for that many
# inputs. The targets work on a scratch copy of fuzz/corpus/<target>/, so the seeds in the
# repository stay as they are; a crashing input is kept in fuzz/artifacts/.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
runs=${2:-}
bin=build-fuzz/fuzz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p fuzz/artifacts

limit=(-max_total_time="$seconds")
[ -n "$runs" ] && limit=(-runs="$runs")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=0
for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    target=$bin/fuzz_$name
    if [ ! -x "$target" ]; then
        echo "fuzz_$name: not built"
        failed=1
        continue
    fi
    cp -r "$corpus" "$scratch/$name"
    log=$scratch/$name.log
    "$target" "${limit[@]}" -print_final_stats=1 -artifact_prefix=fuzz/artifacts/"$name"- \
        "$scratch/$name" >"$log" 2>&1
    rc=$?
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ $rc -eq 0 ]; then
        echo "fuzz_$name: ${executed:-?} runs, clean"
    else
        echo "fuzz_$name: ${executed:-?} runs, FAILED (exit $rc)"
        grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -n 5
        failed=1
    fi
done
exit $failed
