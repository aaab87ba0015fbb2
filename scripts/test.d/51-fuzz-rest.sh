#!/usr/bin/env bash
# Fuzzes the REST dispatcher (paths, query filters, bodies, every conversion) for 60 seconds
# (libFuzzer, ASan+UBSan). Fails on a crash, a hang (10 s per input), a leak or a sanitizer
# report. New inputs go to a scratch folder; the seeds in tests/fuzz/corpus/rest_dispatch
# stay as they are. TAMRIX_FUZZ_SECONDS overrides the 60 seconds, TAMRIX_FUZZ_BUILD names a
# build folder of one's own instead of build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
SECONDS_RUN=${TAMRIX_FUZZ_SECONDS:-60}

if [ -n "${TAMRIX_FUZZ_BUILD:-}" ]; then
  cmake -S "$ROOT" -B "$TAMRIX_FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMRIX_FUZZ=ON \
    -DTAMRIX_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$TAMRIX_FUZZ_BUILD" -j2 --target fuzz_rest_dispatch >/dev/null
  BIN=$TAMRIX_FUZZ_BUILD/tests/fuzz/fuzz_rest_dispatch
else
  bash scripts/build --fuzz --target fuzz_rest_dispatch >/dev/null
  BIN=$ROOT/build/fuzz/tests/fuzz/fuzz_rest_dispatch
fi

WORK=$(mktemp -d /tmp/tamrix-fuzz-rest.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
ARTIFACTS=${TAMRIX_ARTIFACTS:-$WORK}
mkdir -p "$ARTIFACTS"

cd "$WORK"
mkdir corpus
if "$BIN" -max_total_time="$SECONDS_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/fuzz-rest-" \
    corpus "$ROOT/tests/fuzz/corpus/rest_dispatch" >"$WORK/log" 2>&1; then
  tail -n 12 "$WORK/log"
  echo "fuzz-rest: ok"
else
  tail -n 60 "$WORK/log"
  echo "fuzz-rest: FAILED (input saved under $ARTIFACTS/fuzz-rest-*)"
  exit 1
fi
