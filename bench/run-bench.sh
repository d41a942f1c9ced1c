#!/bin/sh
# Builds the benchmark corpus (once) and the bench preset, then runs a
# benchmark program with repetitions and prints its table of medians.
#
# usage: sh bench/run-bench.sh [Google Benchmark flags...]
# environment: PROGRAM (codec_bench, the default, pack_bench, which
#              needs pigz: scripts/install-deps.sh, or engine_bench),
#              BUILD_DIR (default build/bench), REPS (default 5),
#              CORPUS_DIR (default BUILD_DIR/corpus), CORPUS_SIZE (bytes
#              per input, default 4 MiB; only when the corpus is built)
# Raw runs as JSON: add --benchmark_out=FILE --benchmark_out_format=json.
set -eu
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/bench}
REPS=${REPS:-5}
CORPUS_DIR=${CORPUS_DIR:-$BUILD_DIR/corpus}

# Only the table goes to stdout; building and progress go to stderr.
cmake --preset bench -B "$BUILD_DIR" >/dev/null
PROGRAM=${PROGRAM:-codec_bench}
cmake --build "$BUILD_DIR" -j2 --target "$PROGRAM" >&2
if [ -z "$(ls -A "$CORPUS_DIR" 2>/dev/null)" ]; then
    sh bench/make-corpus.sh "$CORPUS_DIR" ${CORPUS_SIZE:-} >&2
fi

"$BUILD_DIR/bench/$PROGRAM" --corpus="$CORPUS_DIR" \
    --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true "$@"
