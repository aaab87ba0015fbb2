/*
 * TAMRIX Rest Server - JavaScript client of the REST protocol.
 *
 * Plain browser script, no build step. Load it before js/serverfunctions.js (the generated
 * library), which makes one constructor per server class on top of ServerFunctionExecutor:
 *
 *   var conexao = new TamrixConnectionInfo();          // same server as the page
 *   var comum = new TsmComum(conexao);
 *   var r = comum.InverterString("abc");                // synchronous: r.result[0] == "cba"
 *   comum.InverterString("abc", function (r) { ... });  // asynchronous
 *
 * The session id the server answers in the "Pragma" header is kept in the connection
 * information and echoed in every later call, so the login state survives between calls.
 * The file starts with a UTF-8 byte-order mark: the server then names the charset, which
 * the page (ISO-8859-1) would otherwise lend it.
 */

/* Where the server is and which session the calls belong to. Empty host: the page's own
 * server (relative URLs). The protocol ("http:" or "https:") defaults to the page's own. */
function TamrixConnectionInfo(host, port, urlPath, protocol) {
  this.host = host || "";
  this.port = port || "";
  this.urlPath = urlPath || "";
  this.protocol = protocol ||
    (typeof location !== "undefined" && location.protocol === "https:" ? "https:" : "http:");
  this.sessionId = null;
  this.sessionExpires = null; /* milliseconds left, as the server last said */
}

TamrixConnectionInfo.prototype.baseURL = function () {
  if (!this.host) return this.urlPath;
  var host = this.host;
  if (host.indexOf(":") >= 0 && host.charAt(0) !== "[") host = "[" + host + "]";
  return this.protocol + "//" + host + (this.port ? ":" + this.port : "") + this.urlPath;
};

/* Reads "dssession=...,dssessionexpires=..." of an answer's Pragma header. */
TamrixConnectionInfo.prototype.readPragma = function (pragma) {
  if (!pragma) return;
  var itens = String(pragma).split(",");
  for (var i = 0; i < itens.length; i++) {
    var par = itens[i].split("=");
    var nome = par[0].replace(/^\s+|\s+$/g, "").toLowerCase();
    var valor = par.length > 1 ? par.slice(1).join("=").replace(/^\s+|\s+$/g, "") : "";
    if (nome === "dssession") this.sessionId = valor;
    else if (nome === "dssessionexpires") this.sessionExpires = parseInt(valor, 10);
  }
};

TamrixConnectionInfo.prototype.closeSession = function (onResult) {
  var executor = new ServerFunctionExecutor("", this);
  var url = this.baseURL() + "/tamrix/rest/CloseSession/";
  var self = this;
  return executor.send("GET", url, null, function (r) {
    self.sessionId = null;
    if (onResult) onResult(r);
  }, !onResult);
};

/* Renderers of answers for pages that show them (the invoker page). A renderer is
 * function (value, element) that draws value into element and returns true, or returns
 * false when it does not know the value; the last registered is asked first.
 * js/tamrixinvoker.js registers one that draws data-set containers as tables with the
 * reader of js/tamrixdataset.js. */
var TamrixResultRenderers = TamrixResultRenderers || [];
function TamrixRegisterResultRenderer(renderer) {
  TamrixResultRenderers.unshift(renderer);
}

function tamrixPad2(n) {
  return (n < 10 ? "0" : "") + n;
}

/* One path segment: the REST protocol percent-decodes it as UTF-8 ("%XX") and reads
 * "%uXXXX" as one character; a segment of dots only is written with "%u002E" so that
 * neither the browser nor the server takes it for "." or "..". */
function tamrixSegment(value) {
  var texto;
  if (value === null || value === undefined) texto = "null";
  else if (value instanceof Date)
    texto = value.getFullYear() + "-" + tamrixPad2(value.getMonth() + 1) + "-" + tamrixPad2(value.getDate()) +
            " " + tamrixPad2(value.getHours()) + ":" + tamrixPad2(value.getMinutes()) + ":" +
            tamrixPad2(value.getSeconds());
  else if (typeof value === "object") texto = JSON.stringify(value);
  else texto = String(value);
  if (/^\.+$/.test(texto)) return texto.replace(/\./g, "%u002E");
  return encodeURIComponent(texto);
}

/* Calls the methods of one server class. */
function ServerFunctionExecutor(className, connectionInfo) {
  this.className = className;
  this.connectionInfo = connectionInfo || new TamrixConnectionInfo();
}

/* [url, body] of a call. args are the input parameters in order; jsonFlags[i] tells that
 * the i-th one takes a JSON value: for POST and PUT that one and the ones after it travel
 * in the body as {"_parameters":[...]}, the others are path segments. Trailing undefined
 * arguments are left out (the server gives them their empty value). */
ServerFunctionExecutor.prototype.buildRequest = function (methodName, verb, args, jsonFlags) {
  args = args || [];
  jsonFlags = jsonFlags || [];
  var fim = args.length;
  while (fim > 0 && args[fim - 1] === undefined) fim--;
  var comCorpo = verb === "POST" || verb === "PUT";
  var url = this.connectionInfo.baseURL() + "/tamrix/rest/" + encodeURIComponent(this.className) +
            "/" + encodeURIComponent(methodName);
  var corpo = null;
  for (var i = 0; i < fim; i++) {
    if (comCorpo && (corpo !== null || jsonFlags[i])) {
      if (corpo === null) corpo = [];
      corpo.push(args[i] === undefined ? null : args[i]);
    } else {
      url += "/" + tamrixSegment(args[i]);
    }
  }
  return [url, corpo === null ? null : JSON.stringify({"_parameters": corpo})];
};

ServerFunctionExecutor.prototype.getMethodURL = function (methodName, verb, args, jsonFlags) {
  return this.buildRequest(methodName, verb, args, jsonFlags)[0];
};

/* Runs one method. With onResult the call is asynchronous and onResult receives the
 * answer; without it the answer is returned. The answer is an object with
 *   status          the HTTP status (0 when the server could not be reached)
 *   result          the "result" array of a successful call, else null
 *   error           the "error" text of a failed call, or a description of the failure
 *   sessionExpired  true when the server no longer knows the session (a new one follows)
 *   text            the body as received */
ServerFunctionExecutor.prototype.executeMethod = function (methodName, verb, args, jsonFlags,
                                                           onResult) {
  var pedido = this.buildRequest(methodName, verb, args, jsonFlags);
  return this.send(verb, pedido[0], pedido[1], onResult, !onResult);
};

ServerFunctionExecutor.prototype.send = function (verb, url, body, onResult, synchronous) {
  var conexao = this.connectionInfo;
  var xhr = new XMLHttpRequest();
  var resposta = null;
  function concluir() {
    resposta = {status: xhr.status, result: null, error: null, sessionExpired: false,
                text: xhr.responseText || ""};
    conexao.readPragma(xhr.getResponseHeader("Pragma"));
    var valor = null;
    try {
      valor = resposta.text ? JSON.parse(resposta.text) : null;
    } catch (e) {
      valor = null;
    }
    if (xhr.status === 403 && valor && valor.SessionExpired !== undefined) {
      conexao.sessionId = null;
      resposta.sessionExpired = true;
      resposta.error = valor.SessionExpired;
    } else if (valor && valor.result !== undefined) {
      resposta.result = valor.result;
    } else if (valor && valor.error !== undefined) {
      resposta.error = valor.error;
    } else if (xhr.status === 0) {
      resposta.error = "Servidor inacess\u00EDvel.";
    } else if (xhr.status < 200 || xhr.status >= 300) {
      resposta.error = "HTTP " + xhr.status + " " + (xhr.statusText || "");
    }
    if (onResult) onResult(resposta);
  }
  xhr.open(verb, url, !synchronous);
  if (conexao.sessionId) xhr.setRequestHeader("Pragma", "dssession=" + conexao.sessionId);
  if (body !== null) xhr.setRequestHeader("Content-Type", "application/json");
  if (!synchronous) {
    xhr.onreadystatechange = function () {
      if (xhr.readyState === 4) concluir();
    };
  }
  try {
    xhr.send(body);
  } catch (e) {
    resposta = {status: 0, result: null, error: String(e), sessionExpired: false, text: ""};
    if (onResult) onResult(resposta);
    return resposta;
  }
  if (synchronous) concluir();
  return resposta;
};
