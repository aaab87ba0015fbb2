#!/usr/bin/env bash
# Part of package_test.sh, run by it in a private mount namespace (unshare --mount) as root:
# installs the package with dpkg into an overlay of / (writes go to a tmpfs), runs the server
# there as the package's service user, then purges the package. Prints "ok"/"FAIL" lines.
#   instalacao_isolada.sh DEB WORK CONFIG PORT ADMIN_PORT
# CONFIG is a config.ini for the test database with the REST port PORT and the admin port
# ADMIN_PORT.
set -uo pipefail
DEB=$1
W=$2
CONFIG=$3
PORTA=$4
PORTA_ADM=$5

ok() { echo "  ok   $*"; }
bad() { echo "  FAIL $*"; }
check() {  # description, command...
  local d=$1
  shift
  if "$@"; then ok "$d"; else bad "$d"; fi
}
wait_for() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  for _ in $(seq $n); do "$@" && return 0; sleep 0.1; done
  return 1
}

mkdir -p "$W"
mount -t tmpfs tmpfs "$W" || exit 1
mkdir -p "$W/up" "$W/wk" "$W/raiz"
mount -t overlay overlay -o "lowerdir=/,upperdir=$W/up,workdir=$W/wk" "$W/raiz" || exit 1
R=$W/raiz
mount -t proc proc "$R/proc" || exit 1
mount --rbind /dev "$R/dev" || exit 1
SRV=
trap '[ -n "$SRV" ] && kill -KILL "$SRV" 2>/dev/null' EXIT
em() { chroot "$R" "$@"; }  # a command inside the copy
P=/opt/tamrix-rest-server

cp "$DEB" "$R/tmp/pacote.deb"
em dpkg -i /tmp/pacote.deb >"$W/dpkg-i.txt" 2>&1
check "dpkg -i installs it (its Depends are satisfied here)" [ $? -eq 0 ] ||
  sed 's/^/       /' "$W/dpkg-i.txt"
check "a system user tamrix without a login shell" \
  sh -c "chroot '$R' getent passwd tamrix | grep -Eq '^tamrix:x:[0-9]+:[0-9]+:.*:/usr/sbin/nologin$'"
modos=$(em stat -c '%a %U:%G %n' $P $P/js $P/config.ini $P/tamrix-rest-server 2>&1 | tr '\n' ';')
esperado="1775 root:tamrix $P;1775 root:tamrix $P/js;640 root:tamrix $P/config.ini;755 root:root $P/tamrix-rest-server;"
check "modes: folder and js/ 1775 root:tamrix, config.ini 640, the executable root's" \
  [ "$modos" = "$esperado" ] || echo "       $modos"

# The operator's edit: written in place, so owner and mode stay.
cat "$CONFIG" >"$R$P/config.ini"
(exec chroot --userspec=tamrix:tamrix "$R" sh -c "cd $P && exec ./tamrix-rest-server --headless") \
  >"$W/out.txt" 2>&1 &
SRV=$!
# Ready as an operator sees it: /ready on the admin port (the REST port opens a moment
# before the main database connection is set up).
responde() { [ "$(curl -s -m 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORTA_ADM/ready")" = 200 ]; }
check "the server runs as tamrix and answers" wait_for 30 responde
LOGIN=$(curl -s -m 10 "http://127.0.0.1:$PORTA/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C")
check "LoginPDV answers success" grep -q '"result":\["[^"]*",true\]' <<<"$LOGIN"
check "js/serverfunctions.js generated" \
  [ "$(curl -s -m 10 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORTA/js/serverfunctions.js")" = 200 ]
UP=$(curl -s -m 10 -X POST --data-binary '{"a":"QQ=="}' \
  "http://127.0.0.1:$PORTA/tamrix/rest/TsmComum/UploadFile/a/b/c")
check "UploadFile stores its file" grep -q '#Sucesso#' <<<"$UP"
check "log.txt, the upload and serverfunctions.js belong to tamrix" sh -c "
  [ \"\$(chroot '$R' stat -c %U $P/log.txt)\" = tamrix ] &&
  [ \"\$(chroot '$R' stat -c %U $P/js/serverfunctions.js)\" = tamrix ] &&
  [ -n \"\$(chroot '$R' find $P -maxdepth 1 -name '????-??-?? ??????*.txt' -user tamrix)\" ]"
check "tamrix cannot remove or replace the package's files" sh -c "
  ! chroot --userspec=tamrix:tamrix '$R' rm -f $P/tamrix-rest-server 2>/dev/null &&
  ! chroot --userspec=tamrix:tamrix '$R' mv $P/config.ini $P/x 2>/dev/null &&
  ! chroot --userspec=tamrix:tamrix '$R' rm -f $P/js/tamrixrest.js 2>/dev/null &&
  ! chroot --userspec=tamrix:tamrix '$R' sh -c 'echo x >>$P/config.ini' 2>/dev/null"
kill -TERM "$SRV"
if wait_for 60 sh -c "! kill -0 $SRV 2>/dev/null"; then
  wait "$SRV"
  check "SIGTERM stops it with 0" [ $? -eq 0 ]
else
  bad "SIGTERM stops it"
fi
SRV=

em dpkg --purge tamrix-rest-server >"$W/purge.txt" 2>&1
check "dpkg --purge removes it" [ $? -eq 0 ] || sed 's/^/       /' "$W/purge.txt"
check "purge leaves nothing in $P (logs, uploads, generated script, config.ini)" [ ! -e "$R$P" ]
[ -e "$R$P" ] && em find $P | sed 's/^/       /'
check "purge removes the unit" [ ! -e "$R/lib/systemd/system/tamrix-rest-server.service" ]
exit 0
