/*
 * TAMRIX Rest Server - the "Server Functions" page: lists every class and method of the
 * generated js/serverfunctions.js and calls any of them with the values typed in.
 * Needs js/tamrixrest.js and js/serverfunctions.js loaded first. Answers are drawn by the
 * renderers of TamrixResultRenderers (js/tamrixdataset.js adds the data-set tables);
 * whatever no renderer takes is shown as JSON text.
 * The file starts with a UTF-8 byte-order mark: the server then names the charset, which
 * the page (ISO-8859-1) would otherwise lend it.
 */
var TamrixInvoker = (function () {
  var conexao = null;
  var instancias = {};

  function el(tag, attrs, texto) {
    var e = document.createElement(tag);
    for (var k in attrs || {}) {
      if (Object.prototype.hasOwnProperty.call(attrs, k)) e.setAttribute(k, attrs[k]);
    }
    if (texto !== undefined && texto !== null) e.appendChild(document.createTextNode(texto));
    return e;
  }

  function instancia(classe) {
    if (!instancias[classe]) instancias[classe] = new window[classe](conexao);
    return instancias[classe];
  }

  function entradas(info) {
    var lista = [];
    for (var i = 0; i < info.params.length; i++) {
      if (info.params[i].direction !== "out") lista.push(info.params[i]);
    }
    return lista;
  }

  function nomesSaida(info) {
    var nomes = [];
    for (var i = 0; i < info.params.length; i++) {
      if (info.params[i].direction !== "in") nomes.push(info.params[i].name);
    }
    if (info.result !== null) nomes.push("Resultado");
    return nomes;
  }

  function campo(param) {
    var dica = {"int32": "n\u00FAmero inteiro", "int64": "n\u00FAmero inteiro",
                "double": "n\u00FAmero", "datetime": "AAAA-MM-DD hh:nn:ss",
                "json": "valor JSON, por exemplo {\"a\":1}"}[param.type] || "texto";
    if (param.type === "boolean") {
      var s = el("select", {"data-param": param.name});
      s.appendChild(el("option", {"value": "true"}, "true"));
      s.appendChild(el("option", {"value": "false"}, "false"));
      return s;
    }
    if (param.type === "json") return el("textarea", {"rows": "3", "placeholder": dica});
    return el("input", {"type": "text", "placeholder": dica});
  }

  /* The value of one field as the call takes it; throws for a JSON field that does not
   * parse. */
  function valor(param, controle) {
    var texto = controle.value;
    if (param.type === "json") {
      if (/^\s*$/.test(texto)) return null;
      try {
        return JSON.parse(texto);
      } catch (e) {
        throw new Error("Valor JSON inv\u00E1lido em " + param.name + ": " + e.message);
      }
    }
    return texto;
  }

  function desenharValor(valorResposta, destino) {
    for (var i = 0; i < TamrixResultRenderers.length; i++) {
      try {
        if (TamrixResultRenderers[i](valorResposta, destino)) return;
      } catch (e) {
        destino.appendChild(el("div", {"class": "erro"}, "Falha ao exibir: " + e.message));
      }
    }
    destino.appendChild(el("pre", {"class": "json"}, JSON.stringify(valorResposta, null, 2)));
  }

  function mostrarResposta(info, r, saida) {
    saida.innerHTML = "";
    saida.appendChild(el("div", {"class": "status"},
                         "HTTP " + r.status + (conexao.sessionId ? "  sess\u00E3o " +
                                               conexao.sessionId : "")));
    if (r.error !== null) {
      saida.appendChild(el("div", {"class": "erro"}, r.error));
      return;
    }
    if (r.result === null) {
      saida.appendChild(el("pre", {"class": "json"}, r.text));
      return;
    }
    var nomes = nomesSaida(info);
    for (var i = 0; i < r.result.length; i++) {
      var bloco = el("div", {"class": "valor"});
      bloco.appendChild(el("div", {"class": "rotulo"}, nomes[i] || ("[" + i + "]")));
      desenharValor(r.result[i], bloco);
      saida.appendChild(bloco);
    }
  }

  function formularioMetodo(classe, metodo, info) {
    var caixa = el("div", {"class": "metodo", "data-nome": (classe + "." + metodo).toLowerCase()});
    var titulo = el("div", {"class": "titulo"});
    titulo.appendChild(el("span", {"class": "verbo"}, info.verb));
    titulo.appendChild(el("span", {"class": "nome"}, metodo));
    caixa.appendChild(titulo);
    var params = entradas(info);
    var controles = [];
    for (var i = 0; i < params.length; i++) {
      var linha = el("label", {"class": "param"});
      linha.appendChild(el("span", {}, params[i].name + " (" + params[i].type + ")"));
      var c = campo(params[i]);
      controles.push(c);
      linha.appendChild(c);
      caixa.appendChild(linha);
    }
    var botao = el("button", {"type": "button"}, "Executar");
    var url = el("div", {"class": "url"});
    var saida = el("div", {"class": "saida"});
    botao.onclick = function () {
      var args = [];
      try {
        for (var j = 0; j < params.length; j++) args.push(valor(params[j], controles[j]));
      } catch (e) {
        saida.innerHTML = "";
        saida.appendChild(el("div", {"class": "erro"}, e.message));
        return;
      }
      var objeto = instancia(classe);
      url.textContent = objeto[metodo + "_URL"].apply(objeto, args);
      saida.innerHTML = "";
      saida.appendChild(el("div", {"class": "status"}, "Executando..."));
      args.push(function (r) { mostrarResposta(info, r, saida); });
      objeto[metodo].apply(objeto, args);
    };
    caixa.appendChild(botao);
    caixa.appendChild(url);
    caixa.appendChild(saida);
    return caixa;
  }

  function filtrar(texto) {
    texto = texto.toLowerCase();
    var caixas = document.querySelectorAll(".metodo");
    for (var i = 0; i < caixas.length; i++) {
      caixas[i].style.display =
          caixas[i].getAttribute("data-nome").indexOf(texto) >= 0 ? "" : "none";
    }
  }

  /* Data-set containers as tables, when js/tamrixdataset.js is there; the JSON text of the
   * container stays below the tables, folded. */
  function registrarDataSets() {
    if (typeof TamrixDataSet === "undefined" || !TamrixDataSet.ehContainer) return;
    TamrixRegisterResultRenderer(function (valorResposta, destino) {
      if (!TamrixDataSet.ehContainer(valorResposta)) return false;
      var lugar = el("div", {"class": "dataset"}, "Lendo o conjunto de dados...");
      destino.appendChild(lugar);
      var bruto = el("details", {});
      bruto.appendChild(el("summary", {}, "JSON"));
      bruto.appendChild(el("pre", {"class": "json"}, JSON.stringify(valorResposta, null, 2)));
      destino.appendChild(bruto);
      TamrixDataSet.lerContainer(valorResposta).then(function (dataSets) {
        lugar.textContent = "";
        for (var i = 0; i < dataSets.length; i++) {
          var linhas = dataSets[i].linhas.length;
          lugar.appendChild(el("div", {"class": "rotulo"},
                               (dataSets[i].nome || "(sem nome)") + " - " + linhas +
                               (linhas === 1 ? " linha" : " linhas")));
          var tabela = TamrixDataSet.criarTabela(dataSets[i], document);
          tabela.className = "dataset";
          lugar.appendChild(tabela);
        }
      }, function (e) {
        lugar.textContent = "";
        lugar.appendChild(el("div", {"class": "erro"}, String((e && e.message) || e)));
      });
      return true;
    });
  }

  /* Builds the page inside the element of id containerId. */
  function start(containerId, connectionInfo) {
    conexao = connectionInfo || new TamrixConnectionInfo();
    registrarDataSets();
    var raiz = document.getElementById(containerId);
    if (typeof JSProxyMethodInfo === "undefined") {
      raiz.appendChild(el("div", {"class": "erro"},
                          "A biblioteca js/serverfunctions.js n\u00E3o foi carregada."));
      return;
    }
    var busca = el("input", {"type": "search", "id": "filtro",
                             "placeholder": "Filtrar por classe ou m\u00E9todo"});
    busca.oninput = function () { filtrar(busca.value); };
    raiz.appendChild(busca);
    for (var classe in JSProxyMethodInfo) {
      if (!Object.prototype.hasOwnProperty.call(JSProxyMethodInfo, classe)) continue;
      var secao = el("details", {"class": "classe", "open": "open"});
      secao.appendChild(el("summary", {}, classe));
      var metodos = JSProxyClassList[classe] || [];
      for (var i = 0; i < metodos.length; i++) {
        secao.appendChild(formularioMetodo(classe, metodos[i], JSProxyMethodInfo[classe][metodos[i]]));
      }
      raiz.appendChild(secao);
    }
  }

  return {start: start, showAnswer: mostrarResposta};
})();
