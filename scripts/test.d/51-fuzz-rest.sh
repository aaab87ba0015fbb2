#!/usr/bin/env bash
# 60 seconds of fuzzing over the REST dispatcher (paths, query filters, bodies, conversions).
exec bash "$(dirname "$0")/../fuzz" fuzz-rest fuzz_rest_dispatch tests/fuzz/corpus/rest_dispatch 4096
