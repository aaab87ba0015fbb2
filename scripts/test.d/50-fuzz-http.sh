#!/usr/bin/env bash
# Fuzzes the listener's request reading for 60 seconds (libFuzzer, ASan+UBSan). Fails on a
# crash, a hang (10 s per input), a leak or a sanitizer report. New inputs go to a scratch
# folder; the seeds in tests/fuzz/corpus-http stay as they are. TAMRIX_FUZZ_SECONDS overrides
# the 60 seconds.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
SECONDS_RUN=${TAMRIX_FUZZ_SECONDS:-60}

# TAMRIX_FUZZ_BUILD: a build folder of one's own instead of build/fuzz.
if [ -n "${TAMRIX_FUZZ_BUILD:-}" ]; then
  cmake -S "$ROOT" -B "$TAMRIX_FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMRIX_FUZZ=ON \
    -DTAMRIX_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$TAMRIX_FUZZ_BUILD" -j2 --target fuzz_http >/dev/null
  BIN=$TAMRIX_FUZZ_BUILD/tests/fuzz/fuzz_http
else
  bash scripts/build --fuzz --target fuzz_http >/dev/null
  BIN=$ROOT/build/fuzz/tests/fuzz/fuzz_http
fi

WORK=$(mktemp -d /tmp/tamrix-fuzz-http.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
ARTIFACTS=${TAMRIX_ARTIFACTS:-$WORK}
mkdir -p "$ARTIFACTS"

cd "$WORK"
mkdir corpus
if "$BIN" -max_total_time="$SECONDS_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=70000 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/fuzz-http-" \
    corpus "$ROOT/tests/fuzz/corpus-http" >"$WORK/log" 2>&1; then
  tail -n 12 "$WORK/log"
  echo "fuzz-http: ok"
else
  tail -n 60 "$WORK/log"
  echo "fuzz-http: FAILED (input saved under $ARTIFACTS/fuzz-http-*)"
  exit 1
fi
