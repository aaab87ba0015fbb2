#!/usr/bin/env bash
# 60 seconds of fuzzing over the listener's request reading, then 20 (TAMRIX_FUZZ_TLS_SECONDS)
# of the same bytes sent through a TLS connection to a listener's TLS port.
set -uo pipefail
FUZZ="$(dirname "$0")/../fuzz"
bash "$FUZZ" fuzz-http fuzz_http tests/fuzz/corpus-http 70000 || exit 1
TAMRIX_FUZZ_SECONDS=${TAMRIX_FUZZ_TLS_SECONDS:-20} \
  exec bash "$FUZZ" fuzz-tls-http fuzz_tls_http tests/fuzz/corpus-http 70000
