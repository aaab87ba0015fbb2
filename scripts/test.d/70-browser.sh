#!/usr/bin/env bash
# Headless Chromium against the dist/ server, page checks in scripts/test.d/browser/: the
# start page "/" sends a typed text through TsmComum.InverterString and shows it reversed;
# the Server Functions page logs in, calls TsmCadastro.ConsultarCadastro and draws the rows
# as a table that must match the tenant database. Both pages run again over the server's HTTPS
# port (a test CA and certificate made here by openssl), every request of the page over https.
# Screenshots in $TAMRIX_ARTIFACTS. playwright-core comes from npm into a folder outside the
# repository (TAMRIX_NODE_DIR, default ~/.cache/tamrix-node).
# Needs the environment of scripts/test: TAMRIX_DIST, TAMRIX_ARTIFACTS, TAMRIX_PG_*.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIST=${TAMRIX_DIST:-$ROOT/dist}
ART=${TAMRIX_ARTIFACTS:-$ROOT/tests/artifacts}
NODE_DIR=${TAMRIX_NODE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tamrix-node}
PLAYWRIGHT=playwright-core@1.65
mkdir -p "$ART"

die() { echo "70-browser: FAIL: $*" >&2; exit 1; }
[ -x "$DIST/tamrix-rest-server" ] || die "no $DIST/tamrix-rest-server (run scripts/build)"
[ -n "${TAMRIX_PG_PORT:-}" ] || die "TAMRIX_PG_* not set (eval \"\$(bash scripts/pg start DIR)\")"
[ -x /usr/bin/chromium ] || die "/usr/bin/chromium missing (scripts/deps)"
command -v openssl >/dev/null || die "openssl is needed"
command -v node >/dev/null && command -v npm >/dev/null || die "node and npm are needed (scripts/deps)"

if [ ! -f "$NODE_DIR/node_modules/playwright-core/package.json" ]; then
  echo "70-browser: installing $PLAYWRIGHT into $NODE_DIR"
  mkdir -p "$NODE_DIR"
  npm install --prefix "$NODE_DIR" --no-save --no-audit --no-fund --loglevel=error "$PLAYWRIGHT" ||
    die "npm could not install $PLAYWRIGHT (is registry.npmjs.org reachable?)"
fi

WORK=$(mktemp -d /tmp/tamrix-browser.XXXXXX)
SRV=
DB="tmp_browser_$$_$RANDOM"
PSQL=("$TAMRIX_PG_BIN/psql" -X -q -h "$TAMRIX_PG_HOST" -p "$TAMRIX_PG_PORT" -U "$TAMRIX_PG_USER")
sql() { PGPASSWORD=$TAMRIX_PG_PASSWORD "${PSQL[@]}" -d "$1" -tAc "$2"; }
cleanup() {
  if [ -n "$SRV" ]; then
    kill -TERM "$SRV" 2>/dev/null
    wait "$SRV" 2>/dev/null
  fi
  sql postgres "DROP DATABASE IF EXISTS $DB WITH (FORCE)" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

sql postgres "CREATE DATABASE $DB TEMPLATE $TAMRIX_PG_MAIN_TEMPLATE" >/dev/null || die "CREATE DATABASE failed"
livre() {
  local p
  while :; do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || break
  done
  echo "$p"
}
PORT=$(livre)
PORT_TLS=$(livre)
[ "$PORT_TLS" != "$PORT" ] || PORT_TLS=$(livre)
cp -r "$DIST" "$WORK/dist"
rm -f "$WORK/dist/log.txt" "$WORK/dist/js/serverfunctions.js"
# A CA and the server's certificate for localhost and 127.0.0.1, signed by it (chain after it).
mkdir "$WORK/dist/tls"
{
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Tamrix Teste CA' \
    -keyout "$WORK/ca.key" -out "$WORK/ca.crt" &&
    openssl req -newkey rsa:2048 -nodes -subj '/CN=localhost' -keyout "$WORK/dist/tls/servidor.key" \
      -out "$WORK/servidor.csr" &&
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >"$WORK/ext.cnf" &&
    openssl x509 -req -days 2 -CA "$WORK/ca.crt" -CAkey "$WORK/ca.key" -CAcreateserial \
      -extfile "$WORK/ext.cnf" -in "$WORK/servidor.csr" -out "$WORK/servidor.pem" &&
    cat "$WORK/servidor.pem" "$WORK/ca.crt" >"$WORK/dist/tls/servidor.crt"
} >/dev/null 2>&1 || die "openssl could not make the test certificate"
printf '[Servidor]\r\nPorta=%s\r\n[HTTPS]\r\nPorta=%s\r\nCertificado=tls/servidor.crt\r\nChavePrivada=tls/servidor.key\r\n[BD]\r\nDriver=PostgreSQL\r\nHost=%s\r\nPorta=%s\r\nInstancia=\r\nDataBase=%s\r\nUsuario=%s\r\nSenha=%s\r\n' \
  "$PORT" "$PORT_TLS" "$TAMRIX_PG_HOST" "$TAMRIX_PG_PORT" "$DB" "$TAMRIX_PG_USER_SCRAMBLED" \
  "$TAMRIX_PG_PASSWORD_SCRAMBLED" >"$WORK/dist/config.ini"
"$WORK/dist/tamrix-rest-server" --headless >"$WORK/out.txt" 2>&1 &
SRV=$!
for _ in $(seq 300); do
  grep -q "ouvindo em" "$WORK/out.txt" && break
  kill -0 "$SRV" 2>/dev/null || die "the server ended: $(cat "$WORK/out.txt")"
  sleep 0.1
done
grep -q "ouvindo em" "$WORK/out.txt" || die "the server did not start: $(cat "$WORK/out.txt")"
curl -sf --cacert "$WORK/ca.crt" -o /dev/null "https://localhost:$PORT_TLS/" ||
  die "the HTTPS port $PORT_TLS does not answer: $(cat "$WORK/out.txt")"

PAGINAS="$ROOT/scripts/test.d/browser"
pagina() { NODE_PATH="$NODE_DIR/node_modules" timeout 120 node "$PAGINAS/$1" "${@:2}"; }
status=0

echo "== browser: ReverseString page through the generated client library"
pagina reversestring.js "http://localhost:$PORT/" "$WORK/profile-reverse" \
  "$ART/navegador-reversestring.png" || status=1
echo "== browser: ReverseString page over HTTPS"
pagina reversestring.js "https://localhost:$PORT_TLS/" "$WORK/profile-reverse-https" \
  "$ART/navegador-reversestring-https.png" || status=1

# The rows ConsultarCadastro answers with no filter, as the tenant database gives them (text
# forms of our data-set reader; the server's query has no ORDER BY, the page check sorts).
TOKEN=TkLoja1-7F3A9C
TENANT=$(sql "$DB" "SELECT nome_bd FROM ConfigBD WHERE token = '$TOKEN'")
sql "$TENANT" "SELECT json_agg(row_to_json(t)) FROM (
  SELECT Cadastro.cd_cadastro::text AS cd_cadastro, Cadastro.razao, Cadastro.fantasia,
         Cadastro.cgc_cpf, Cadastro.dt_cadastro::text AS dt_cadastro, Cadastro.endereco,
         Cadastro.numero, Cadastro.complemento, Cadastro.bairro, Cidade.nome AS cidade,
         Cidade.cd_estado, Cadastro.cep, Cidade.ddd, Cadastro.fone
    FROM Cadastro JOIN Cidade ON (Cidade.cd_cidade = Cadastro.cd_cidade)) t" \
  >"$WORK/cadastros.json" || die "could not read Cadastro of $TENANT"

echo "== browser: Server Functions page draws ConsultarCadastro as a table"
pagina invoker.js "http://127.0.0.1:$PORT" "$WORK/profile-invoker" \
  "$ART/invoker-consultarcadastro.png" "$WORK/cadastros.json" ADMIN admin123 "$TOKEN" || status=1
echo "== browser: Server Functions page over HTTPS"
pagina invoker.js "https://127.0.0.1:$PORT_TLS" "$WORK/profile-invoker-https" \
  "$ART/invoker-consultarcadastro-https.png" "$WORK/cadastros.json" ADMIN admin123 "$TOKEN" || status=1

if grep -q '^\* ERRO' "$WORK/dist/log.txt" 2>/dev/null; then
  echo "  FAIL the server logged errors:"; grep '^\* ERRO' "$WORK/dist/log.txt"; status=1
fi
[ $status -eq 0 ] && echo "70-browser: all passed" || echo "70-browser: failed"
exit $status
