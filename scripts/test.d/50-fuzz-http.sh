#!/usr/bin/env bash
# 60 seconds of fuzzing over the listener's request reading.
exec bash "$(dirname "$0")/../fuzz" fuzz-http fuzz_http tests/fuzz/corpus-http 70000
