// Runs js/tamrixrest.js and a generated serverfunctions.js against a recorded
// XMLHttpRequest and checks what the client sends. Usage: node jsclient_check.js REST LIB
"use strict";
const fs = require("fs");
const vm = require("vm");
const assert = require("assert");

const enviados = [];
const respostas = [];
class FakeXHR {
  open(verb, url, assincrono) { this.pedido = { verb, url, assincrono, headers: {}, body: null }; }
  setRequestHeader(nome, valor) { this.pedido.headers[nome] = valor; }
  getResponseHeader(nome) { return (this.resposta.headers || {})[nome] || null; }
  send(body) {
    this.pedido.body = body === undefined ? null : body;
    enviados.push(this.pedido);
    this.resposta = respostas.shift() || { status: 200, body: '{"result":[]}' };
    this.status = this.resposta.status;
    this.statusText = "";
    this.responseText = this.resposta.body;
    this.readyState = 4;
    if (this.pedido.assincrono) setTimeout(() => this.onreadystatechange(), 0);
  }
}

const contexto = vm.createContext({ XMLHttpRequest: FakeXHR, setTimeout });
for (const arquivo of process.argv.slice(2)) vm.runInContext(fs.readFileSync(arquivo, "utf8"), contexto, { filename: arquivo });
const rodar = (codigo) => vm.runInContext(codigo, contexto);

assert.deepStrictEqual(Object.keys(rodar("JSProxyClassList")), ["TsmComum", "TsmUsuario", "TsmIntegracaoArquivo"]);
rodar("var conexao = new TamrixConnectionInfo(); var comum = new TsmComum(conexao);");

// A GET with path arguments; the session answered in Pragma is echoed afterwards.
respostas.push({ status: 200, body: '{"result":["c b/a"]}', headers: { Pragma: "dssession=1.2.3,dssessionexpires=1200000" } });
let r = rodar('comum.InverterString("a/b c")');
assert.deepStrictEqual(JSON.parse(JSON.stringify(r.result)), ["c b/a"]);
assert.strictEqual(r.error, null);
assert.strictEqual(enviados[0].verb, "GET");
assert.strictEqual(enviados[0].url, "/tamrix/rest/TsmComum/InverterString/a%2Fb%20c");
assert.strictEqual(enviados[0].headers.Pragma, undefined);
assert.strictEqual(rodar("conexao.sessionId"), "1.2.3");
assert.strictEqual(rodar("conexao.sessionExpires"), 1200000);

// Dots alone would be read as "." or ".."; non-ASCII travels as UTF-8.
rodar('comum.InverterString("..")');
assert.strictEqual(enviados[1].url, "/tamrix/rest/TsmComum/InverterString/%u002E%u002E");
assert.strictEqual(enviados[1].headers.Pragma, "dssession=1.2.3");
assert.strictEqual(rodar('comum.InverterString_URL("a\u00e7\u00e3o")'), "/tamrix/rest/TsmComum/InverterString/a%C3%A7%C3%A3o");

// POST of "update" methods drops the prefix; the JSON parameter goes in the body.
rodar('comum.updateUploadFile("12", "", "V", {"arq": "QQ=="})');
assert.strictEqual(enviados[2].verb, "POST");
assert.strictEqual(enviados[2].url, "/tamrix/rest/TsmComum/UploadFile/12//V");
assert.strictEqual(enviados[2].body, '{"_parameters":[{"arq":"QQ=="}]}');
assert.strictEqual(enviados[2].headers["Content-Type"], "application/json");

// PUT of "accept" methods; out parameters take no argument.
rodar('new TsmIntegracaoArquivo(conexao).acceptEnviarArquivoVendas("tk", "cnpj", "2024-01-31", "v.txt", {})');
assert.strictEqual(enviados[3].verb, "PUT");
assert.strictEqual(enviados[3].url, "/tamrix/rest/TsmIntegracaoArquivo/EnviarArquivoVendas/tk/cnpj/2024-01-31/v.txt");
assert.strictEqual(enviados[3].body, '{"_parameters":[{}]}');
assert.strictEqual(rodar("TsmUsuario.length"), 1);
assert.strictEqual(rodar('new TsmUsuario(conexao).Login_URL("u", "s", "t")'), "/tamrix/rest/TsmUsuario/Login/u/s/t");

// An error envelope, then an expired session that is forgotten.
respostas.push({ status: 500, body: '{"error":"falhou"}' });
r = rodar('comum.InverterString("x")');
assert.strictEqual(r.error, "falhou");
assert.strictEqual(r.result, null);
respostas.push({ status: 403, body: '{"SessionExpired":"The specified session has expired due to inactivity or was an invalid Session ID"}' });
r = rodar('comum.InverterString("x")');
assert.strictEqual(r.sessionExpired, true);
assert.strictEqual(rodar("conexao.sessionId"), null);

// Asynchronous calls answer through the callback, without the session header now.
respostas.push({ status: 200, body: '{"result":["y"]}' });
rodar('comum.InverterString("y", function (r) { globalThis.assincrono = r; })');
setTimeout(() => {
  const a = rodar("globalThis.assincrono");
  assert.ok(a, "the callback ran");
  assert.strictEqual(a.result[0], "y");
  assert.strictEqual(enviados[enviados.length - 1].assincrono, true);
  assert.strictEqual(enviados[enviados.length - 1].headers.Pragma, undefined);
  console.log("jsclient ok");
}, 20);
