#!/usr/bin/env bash
# The Debian package: built by scripts/package, its control fields and files (dpkg-deb), the
# systemd unit (systemd-analyze verify), lintian without errors, and the server started from
# the unpacked tree with the package's own config.ini answering a LoginPDV; as root, also
# installed and purged with dpkg in a throwaway copy of the system (instalacao_isolada.sh).
# Needs the TAMRIX_PG_* lines of scripts/pg; TAMRIX_PACOTE_BUILD names the build tree to
# package from (default build/release when configured, else scripts/package's own).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
ART=${TAMRIX_ARTIFACTS:-$ROOT/tests/artifacts}
mkdir -p "$ART"

failures=0
ok() { echo "  ok   $*"; }
bad() { echo "  FAIL $*"; failures=$((failures + 1)); }
check() {  # description, command...
  local d=$1
  shift
  if "$@"; then ok "$d"; else bad "$d"; fi
}
die() { echo "package: $*" >&2; exit 1; }

[ -n "${TAMRIX_PG_PORT:-}" ] || die "TAMRIX_PG_* not set (eval \"\$(bash scripts/pg start DIR)\")"
for t in dpkg-deb systemd-analyze lintian curl; do
  command -v $t >/dev/null || die "$t missing (scripts/deps)"
done

WORK=$(mktemp -d /tmp/tamrix-package.XXXXXX)
chmod 755 "$WORK"
SRV=
DB=
PSQL=("$TAMRIX_PG_BIN/psql" -X -q -h "$TAMRIX_PG_HOST" -p "$TAMRIX_PG_PORT" -U "$TAMRIX_PG_USER")
sql() { PGPASSWORD=$TAMRIX_PG_PASSWORD "${PSQL[@]}" -d "$1" -tAc "$2"; }
cleanup() {
  [ -n "$SRV" ] && kill -KILL "$SRV" 2>/dev/null
  [ -n "$DB" ] && sql postgres "DROP DATABASE IF EXISTS $DB WITH (FORCE)" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  for _ in $(seq $n); do "$@" && return 0; sleep 0.1; done
  return 1
}
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo $p; return; }
  done
}

echo "== package: build"
BUILD=${TAMRIX_PACOTE_BUILD:-}
if [ -z "$BUILD" ] && [ -f "$ROOT/build/release/CMakeCache.txt" ]; then BUILD=$ROOT/build/release; fi
args=(--out "$WORK/deb")
[ -n "$BUILD" ] && args+=(--build "$BUILD")
DEB=$(bash "$ROOT/scripts/package" "${args[@]}" 2>"$WORK/package.log" | tail -n1)
[ -f "$DEB" ] || { cat "$WORK/package.log" >&2; die "scripts/package made no package"; }
VERSAO=$(sed -n 's/^project(TamrixRestServer VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
ARQ=$(dpkg --print-architecture)
check "file name tamrix-rest-server_${VERSAO}_$ARQ.deb" \
  [ "$(basename "$DEB")" = "tamrix-rest-server_${VERSAO}_$ARQ.deb" ]

echo "== package: control fields"
campo() { dpkg-deb --field "$DEB" "$1"; }
check "Package tamrix-rest-server" [ "$(campo Package)" = tamrix-rest-server ]
check "Version $VERSAO" [ "$(campo Version)" = "$VERSAO" ]
check "Architecture $ARQ" [ "$(campo Architecture)" = "$ARQ" ]
# The packages whose libraries the server loads: linked ones and the ODBC drivers it opens
# by name at run time.
DEPENDS=$(campo Depends)
echo "  Depends: $DEPENDS"
for p in unixodbc libodbc2 odbc-postgresql tdsodbc zlib1g libfltk1.3 libc6 libstdc++6 adduser; do
  check "Depends names $p" grep -qxF "$p" <(tr ',' '\n' <<<"$DEPENDS" | sed 's/^ *//; s/ .*//')
done
mkdir -p "$WORK/control"
dpkg-deb --control "$DEB" "$WORK/control"
check "config.ini is a conffile" grep -qx /opt/tamrix-rest-server/config.ini "$WORK/control/conffiles"
for s in postinst prerm postrm; do
  check "$s is an executable shell script" sh -c "[ -x '$WORK/control/$s' ] && sh -n '$WORK/control/$s'"
done

echo "== package: files"
dpkg-deb --contents "$DEB" >"$WORK/contents"
awk '{print $6}' "$WORK/contents" | sed 's|^\./|/|; s|/$||' >"$WORK/contents.p"
caminhos() { cat "$WORK/contents.p"; }
for f in tamrix-rest-server tamrix-dataset config.ini config.ini.example \
  templates/ReverseString.html templates/ServerFunctionInvoker.html js/tamrixrest.js; do
  check "/opt/tamrix-rest-server/$f" grep -qx "/opt/tamrix-rest-server/$f" <(caminhos)
done
check "the unit in /lib/systemd/system" \
  grep -qx /lib/systemd/system/tamrix-rest-server.service <(caminhos)
check "copyright and changelog.gz in /usr/share/doc" sh -c \
  "grep -qx /usr/share/doc/tamrix-rest-server/copyright '$WORK/contents.p' &&
   grep -qx /usr/share/doc/tamrix-rest-server/changelog.gz '$WORK/contents.p'"
# Every path is one of these, inside one, or a folder on the way to one.
fora=$(awk -v raizes="/opt/tamrix-rest-server /lib/systemd/system/tamrix-rest-server.service \
/usr/share/doc/tamrix-rest-server /usr/share/lintian/overrides/tamrix-rest-server" '
  BEGIN { n = split(raizes, r, " ") }
  { for (i = 1; i <= n; i++)
      if ($0 == r[i] || index($0, r[i] "/") == 1 || index(r[i], $0 "/") == 1) next
    print }' "$WORK/contents.p")
check "nothing outside /opt/tamrix-rest-server, the unit and its documentation" [ -z "$fora" ]
[ -n "$fora" ] && echo "$fora" | sed 's/^/       /'
check "every file owned by root" [ -z "$(awk '$2 != "root/root"' "$WORK/contents")" ]
check "the executable is stripped" sh -c "! dpkg-deb --fsys-tarfile '$DEB' |
  tar -xOf - ./opt/tamrix-rest-server/tamrix-rest-server | grep -aq '\.debug_info'"

RAIZ=$WORK/raiz
dpkg-deb -x "$DEB" "$RAIZ"
PASTA=$RAIZ/opt/tamrix-rest-server
UNIT=$RAIZ/lib/systemd/system/tamrix-rest-server.service

echo "== package: systemd unit"
valor() { sed -n "s/^$1=//p" "$UNIT"; }
check "ExecStart runs the server headless" \
  [ "$(valor ExecStart)" = "/opt/tamrix-rest-server/tamrix-rest-server --headless" ]
check "WorkingDirectory is the server's folder" [ "$(valor WorkingDirectory)" = /opt/tamrix-rest-server ]
check "User and Group tamrix" [ "$(valor User)/$(valor Group)" = tamrix/tamrix ]
check "Restart=on-failure" [ "$(valor Restart)" = on-failure ]
check "ExecReload sends SIGHUP to the main process" [ "$(valor ExecReload)" = '/bin/kill -HUP $MAINPID' ]
check "KillSignal=SIGTERM" [ "$(valor KillSignal)" = SIGTERM ]
# Two descriptors per connection at MaximoConexoes (a socket, a tenant connection).
check "LimitNOFILE above twice MaximoConexoes" [ "$(valor LimitNOFILE)" -gt 2048 ]
check "TimeoutStopSec above TempoEncerramento" [ "$(valor TimeoutStopSec)" -gt 30 ]
check "enabled by multi-user.target" [ "$(valor WantedBy)" = multi-user.target ]
# verify wants ExecStart's binary to exist: the unit is checked pointing at the unpacked tree.
mkdir -p "$WORK/unit"
sed "s|/opt/tamrix-rest-server|$PASTA|g" "$UNIT" >"$WORK/unit/tamrix-rest-server.service"
systemd-analyze verify "$WORK/unit/tamrix-rest-server.service" >"$WORK/verify.txt" 2>&1
rc=$?
check "systemd-analyze verify: no error, no warning" [ $rc -eq 0 ] && [ ! -s "$WORK/verify.txt" ]
[ -s "$WORK/verify.txt" ] && sed 's/^/       /' "$WORK/verify.txt"

echo "== package: lintian"
lintian --fail-on error "$DEB" >"$ART/package-lintian.txt" 2>&1
rc=$?
check "lintian: no error" [ $rc -eq 0 ] && ! grep -q '^E:' "$ART/package-lintian.txt"
grep -E '^[EW]:' "$ART/package-lintian.txt" | sed 's/^/       /'

echo "== package: the server from the unpacked tree"
DB="tmp_package_$$_$RANDOM"
sql postgres "CREATE DATABASE $DB TEMPLATE $TAMRIX_PG_MAIN_TEMPLATE" >/dev/null || die "CREATE DATABASE failed"
PORTA=$(free_port)
PORTA_ADM=$(free_port)
# The package's config.ini with this run's ports and database; every other setting stays.
awk -v porta="$PORTA" -v adm="$PORTA_ADM" -v host="$TAMRIX_PG_HOST" -v pgporta="$TAMRIX_PG_PORT" \
  -v banco="$DB" -v usuario="$TAMRIX_PG_USER_SCRAMBLED" -v senha="$TAMRIX_PG_PASSWORD_SCRAMBLED" '
  /^\[/ { secao = tolower($0) }
  secao == "[servidor]" && /^Porta=/ { $0 = "Porta=" porta }
  secao == "[administracao]" && /^Porta=/ { $0 = "Porta=" adm }
  secao == "[bd]" && /^Host=/ { $0 = "Host=" host }
  secao == "[bd]" && /^Porta=/ { $0 = "Porta=" pgporta }
  secao == "[bd]" && /^DataBase=/ { $0 = "DataBase=" banco }
  secao == "[bd]" && /^Usuario=/ { $0 = "Usuario=" usuario }
  secao == "[bd]" && /^Senha=/ { $0 = "Senha=" senha }
  secao == "[bd]" && /^Driver=/ { $0 = "Driver=PostgreSQL" }
  { print }' "$PASTA/config.ini" >"$WORK/config.ini"
cp "$WORK/config.ini" "$PASTA/config.ini"

(cd "$PASTA" && exec ./tamrix-rest-server --headless) >"$WORK/out.txt" 2>&1 &
SRV=$!
# Ready as an operator sees it: /ready on the admin port (the REST port opens a moment
# before the main database connection is set up).
responde() { [ "$(curl -s -m 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORTA_ADM/ready")" = 200 ]; }
check "the admin listener of the package's config.ini answers /ready" wait_for 30 responde
LOGIN=$(curl -s -m 10 "http://127.0.0.1:$PORTA/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C")
check "LoginPDV answers success" grep -q '"result":\["[^"]*",true\]' <<<"$LOGIN"
echo "       $LOGIN"
kill -TERM "$SRV"
if wait_for 60 sh -c "! kill -0 $SRV 2>/dev/null"; then
  wait "$SRV"
  check "SIGTERM stops it with 0" [ $? -eq 0 ]
else
  bad "SIGTERM stops it"
fi
SRV=
cp "$WORK/out.txt" "$ART/package-server-out.txt"
cp "$PASTA/log.txt" "$ART/package-server-log.txt" 2>/dev/null

echo "== package: installed with dpkg in a throwaway copy of this system"
# dpkg -i, the service user and modes of postinst, the server run as that user, and the
# purge, on an overlay of / in a private mount namespace: the real system is not touched.
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
  echo "  (skipped: needs root and a private mount namespace)"
else
  unshare --mount --propagation private bash "$ROOT/tests/package/instalacao_isolada.sh" \
    "$DEB" "$WORK/isolada" "$WORK/config.ini" "$PORTA" "$PORTA_ADM" >"$WORK/isolada.txt" 2>&1
  rc=$?
  cat "$WORK/isolada.txt"
  cp "$WORK/isolada.txt" "$ART/package-install.txt"
  n=$(grep -c '^  FAIL' "$WORK/isolada.txt")
  failures=$((failures + n))
  [ $rc -eq 0 ] || [ "$n" -gt 0 ] || bad "the isolated install ran to its end (exit $rc)"
fi

if [ $failures -eq 0 ]; then echo "package: all passed"; else echo "package: $failures failed"; fi
[ $failures -eq 0 ]
