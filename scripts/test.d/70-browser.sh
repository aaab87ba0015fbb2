#!/usr/bin/env bash
# Headless Chromium against the dist/ server: the start page "/" loads the generated client
# library, a text typed into the ReverseString form goes through TsmComum.InverterString and
# comes back reversed. Screenshot in $TAMRIX_ARTIFACTS. playwright-core comes from npm into
# a folder outside the repository (TAMRIX_NODE_DIR, default ~/.cache/tamrix-node).
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
while :; do
  PORT=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null || break
done
cp -r "$DIST" "$WORK/dist"
rm -f "$WORK/dist/log.txt" "$WORK/dist/js/serverfunctions.js"
printf '[Servidor]\r\nPorta=%s\r\n[BD]\r\nDriver=PostgreSQL\r\nHost=%s\r\nPorta=%s\r\nInstancia=\r\nDataBase=%s\r\nUsuario=%s\r\nSenha=%s\r\n' \
  "$PORT" "$TAMRIX_PG_HOST" "$TAMRIX_PG_PORT" "$DB" "$TAMRIX_PG_USER_SCRAMBLED" \
  "$TAMRIX_PG_PASSWORD_SCRAMBLED" >"$WORK/dist/config.ini"
"$WORK/dist/tamrix-rest-server" --headless >"$WORK/out.txt" 2>&1 &
SRV=$!
for _ in $(seq 300); do
  grep -q "ouvindo em" "$WORK/out.txt" && break
  kill -0 "$SRV" 2>/dev/null || die "the server ended: $(cat "$WORK/out.txt")"
  sleep 0.1
done
grep -q "ouvindo em" "$WORK/out.txt" || die "the server did not start: $(cat "$WORK/out.txt")"

cat >"$WORK/reverse.js" <<'JS'
const { chromium } = require('playwright-core');
const [url, profile, shot] = process.argv.slice(2);
const texto = 'Ação TAMRIX 2016 - pão & café <ok>';
const esperado = texto.split('').reverse().join('');  // 16-bit units, last first
(async () => {
  // A fresh profile directory (--user-data-dir), which Playwright takes as its own argument.
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  let falhou = false;
  const page = await browser.newPage();
  try {
    const erros = [];
    page.on('pageerror', (e) => erros.push(String(e)));
    const resposta = await page.goto(url, { waitUntil: 'load' });
    if (resposta.status() !== 200) throw new Error(`GET / answered ${resposta.status()}`);
    await page.fill('#texto', texto);
    await page.click('#botaoInverter');
    await page.waitForFunction(
        () => document.getElementById('resultado').textContent !== '' ||
              document.getElementById('erro').textContent !== '', null, { timeout: 20000 });
    const resultado = await page.textContent('#resultado');
    const erro = await page.textContent('#erro');
    if (erro) throw new Error(`the page shows an error: ${erro}`);
    if (resultado !== esperado) throw new Error(`got ${JSON.stringify(resultado)}, expected ${JSON.stringify(esperado)}`);
    if (erros.length) throw new Error(`script errors: ${erros.join('; ')}`);
    console.log(`  ok   "${texto}" came back as "${resultado}"`);
  } catch (e) {
    console.error(`  FAIL ${e.message}`);
    falhou = true;
  } finally {
    await page.screenshot({ path: shot }).catch(() => {});
    await browser.close();
  }
  process.exit(falhou ? 1 : 0);
})();
JS

echo "== browser: ReverseString page through the generated client library"
status=0
NODE_PATH="$NODE_DIR/node_modules" timeout 120 node "$WORK/reverse.js" "http://localhost:$PORT/" \
  "$WORK/profile" "$ART/navegador-reversestring.png" || status=1
if grep -q '^\* ERRO' "$WORK/dist/log.txt" 2>/dev/null; then
  echo "  FAIL the server logged errors:"; grep '^\* ERRO' "$WORK/dist/log.txt"; status=1
fi
[ $status -eq 0 ] && echo "70-browser: all passed" || echo "70-browser: failed"
exit $status
