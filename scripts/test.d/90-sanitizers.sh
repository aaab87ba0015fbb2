#!/usr/bin/env bash
# The whole ctest suite once more under AddressSanitizer + UndefinedBehaviorSanitizer (leaks
# included), the end-to-end tests running an ASan server of their own; then the concurrency
# tests under ThreadSanitizer. Only the test executables and the server are built, not the
# benchmarks. Any sanitizer report fails the script; the reports are printed at the end and
# kept under $TAMRIX_ARTIFACTS/sanitizers.
# Needs the environment of scripts/test: TAMRIX_PG_* (and TAMRIX_ARTIFACTS).
# TAMRIX_SANITIZERS=asan or =tsan runs only one half.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
ART=${TAMRIX_ARTIFACTS:-$ROOT/tests/artifacts}
ONLY=${TAMRIX_SANITIZERS:-all}

die() { echo "90-sanitizers: $*" >&2; exit 1; }
[ -n "${TAMRIX_PG_PORT:-}" ] || die "TAMRIX_PG_* not set (eval \"\$(bash scripts/pg start DIR)\")"

REPORTS=$ART/sanitizers
rm -rf "$REPORTS"
mkdir -p "$REPORTS/asan" "$REPORTS/tsan"
ulimit -c 0

# Every tests/<folder> with test sources gives <folder>_tests (the fuzz targets have their own run).
test_targets() {
  local d n
  for d in "$ROOT"/tests/*/; do
    n=$(basename "$d")
    [ "$n" = fuzz ] && continue
    [ -f "$d/CMakeLists.txt" ] && compgen -G "$d/*_test.cpp" >/dev/null && echo "${n}_tests"
  done
}

# Concurrency tests per executable (gtest filters): the per-thread connection table and the
# tenant directory, the log, the session registry, the listener's request pool.
declare -A TSAN_FILTER=(
  [core_tests]='DmServidorTest.SessionsOfDifferentTokens*:DmServidorTest.*Concurrent*:DmServidorTest.Stop*:DmServidorTest.*Outlasting*:DmServidorTest.AThreadEnding*:DmServidorTest.Release*:ConfigBDWritingTest.Threads*:EventosTest.*Threads*:*Reuso*:ConfigBDRecargaTest.Threads*'
  [diagnostics_tests]='LogServidor.OitoThreads*:LogServidor.Singleton*:Metricas.ConcurrentCounting*'
  [rest_tests]='RestSessionManager.*:RestSessoes.TerminateAll*:RestCache.CallsOfOneSessionAtOnce*'
  [web_tests]='Listener.Pool*:Listener.Deactivation*:Listener.ConnectionCap*:Listener.ReadTimeout*:Listener.ReadTime*:Listener.WriteTime*:ListenerDrenagem.*'
)

status=0
report_check() {  # label, folder: fails when a sanitizer left a report file there
  local f found=0
  for f in "$2"/*; do
    [ -s "$f" ] || continue
    found=1
    echo "---- $f"
    head -n 120 "$f"
  done
  if [ $found -ne 0 ]; then
    echo "90-sanitizers: $1: sanitizer reports above"
    status=1
  fi
}

if [ "$ONLY" = all ] || [ "$ONLY" = asan ]; then
  mapfile -t targets < <(test_targets)
  echo "-- ASan+UBSan build: ${targets[*]} tamrix-rest-server tamrix-dataset"
  bash "$ROOT/scripts/build" --sanitize --target "${targets[@]}" tamrix-rest-server tamrix-dataset \
    >"$REPORTS/../sanitize-build.log" 2>&1 ||
    { tail -n 60 "$REPORTS/../sanitize-build.log"; die "ASan build failed"; }
  SUPP=$ROOT/tests/sanitizers
  # Reports go to files (log_path) so that servers started by the e2e tests are caught too.
  (
    export TAMRIX_DIST=$ROOT/build/sanitize/dist
    export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:log_path=$REPORTS/asan/asan:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0"
    export LSAN_OPTIONS="suppressions=$SUPP/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=$REPORTS/asan/ubsan"
    ctest --test-dir "$ROOT/build/sanitize" --output-on-failure -j"$(nproc)" --timeout 900
  ) || { echo "90-sanitizers: ctest under ASan+UBSan failed"; status=1; }
  report_check "ASan+UBSan" "$REPORTS/asan"
fi

if [ "$ONLY" = all ] || [ "$ONLY" = tsan ]; then
  echo "-- TSan build: ${!TSAN_FILTER[*]}"
  bash "$ROOT/scripts/build" --tsan --target "${!TSAN_FILTER[@]}" \
    >"$REPORTS/../tsan-build.log" 2>&1 ||
    { tail -n 60 "$REPORTS/../tsan-build.log"; die "TSan build failed"; }
  for t in "${!TSAN_FILTER[@]}"; do
    bin=$(find "$ROOT/build/tsan/tests" -type f -name "$t" -perm -u+x | head -n 1)
    [ -n "$bin" ] || die "no $t in build/tsan"
    echo "-- TSan: $t --gtest_filter=${TSAN_FILTER[$t]}"
    TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:log_path=$REPORTS/tsan/tsan:suppressions=$ROOT/tests/sanitizers/tsan.supp" \
      "$bin" --gtest_filter="${TSAN_FILTER[$t]}" --gtest_brief=1 ||
      { echo "90-sanitizers: $t under TSan failed"; status=1; }
  done
  report_check "TSan" "$REPORTS/tsan"
fi

[ $status -eq 0 ] && echo "90-sanitizers: no sanitizer report"
exit $status
