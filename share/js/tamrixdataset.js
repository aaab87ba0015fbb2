// Reads the data-set answers of the TAMRIX Rest Server (docs/dataset-format.md): the JSON
// container, its Base64/zlib data text and the binary storage stream, down to columns and
// rows of text (null for NULL). Works in browsers and in Node 18 or later; inflating uses
// DecompressionStream("deflate").
// The file starts with a UTF-8 byte-order mark, so that the server serves it with
// "charset=utf-8" and the messages below read right on any page.
//
//   const dataSets = await TamrixDataSet.lerResposta(textoDaResposta);
//   // [{nome: "qySQL", colunas: [{nome, tipo, nomeTipo, ...}], linhas: [["1", null, ""]]}]
//   document.body.appendChild(TamrixDataSet.criarTabela(dataSets[0], document));
(function (raiz, fabrica) {
  if (typeof module === "object" && module.exports) module.exports = fabrica();
  else raiz.TamrixDataSet = fabrica();
})(typeof self !== "undefined" ? self : this, function () {
  "use strict";

  const TIPO_COLECAO = "Data.JSONReflect.TJSONDataSets";
  const NOMES_TIPO = [null, "Logico", "Inteiro16", "Inteiro32", "Inteiro64", "Decimal", "Real",
    "Data", "Hora", "DataHora", "DataHoraFuso", "Texto", "Binario", "Guid"];
  const decodificadorUTF8 = new TextDecoder("utf-8");

  function erro(detalhe) {
    return new Error("Conjunto de dados inválido: " + detalhe + ".");
  }

  function ehContainer(valor) {
    return valor !== null && typeof valor === "object" && valor.type === TIPO_COLECAO;
  }

  // The "fields" of a nesting level whose "type" must be `tipo`.
  function campos(nivel, tipo) {
    if (!nivel || nivel.type !== tipo || typeof nivel.fields !== "object")
      throw erro("esperado " + tipo);
    return nivel.fields;
  }

  function texto(nivel) {
    const buffer = campos(campos(nivel, "System.JSON.TJSONString").FStrBuffer,
      "System.SysUtils.TStringBuilder");
    if (typeof buffer.FData !== "string") throw erro("FData");
    return buffer.FData;
  }

  // The bytes of a data text: Base64 in lines of 76 characters, then a zlib stream.
  async function decodificarTextoDados(textoDados) {
    const binario = atob(textoDados.replace(/\r\n/g, ""));
    const comprimido = new Uint8Array(binario.length);
    for (let i = 0; i < binario.length; i++) comprimido[i] = binario.charCodeAt(i);
    const fluxo = new Blob([comprimido]).stream().pipeThrough(new DecompressionStream("deflate"));
    return new Uint8Array(await new Response(fluxo).arrayBuffer());
  }

  function dois(n) { return String(n).padStart(2, "0"); }

  // Reads one binary storage stream (a Uint8Array).
  function lerArmazenamento(bytes) {
    const dv = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    let pos = 0;
    function precisa(n) { if (pos + n > bytes.length) throw erro("fim inesperado dos dados"); }
    function u8() { precisa(1); return dv.getUint8(pos++); }
    function u16() { precisa(2); const v = dv.getUint16(pos, true); pos += 2; return v; }
    function i16() { precisa(2); const v = dv.getInt16(pos, true); pos += 2; return v; }
    function u32() { precisa(4); const v = dv.getUint32(pos, true); pos += 4; return v; }
    function i32() { precisa(4); const v = dv.getInt32(pos, true); pos += 4; return v; }
    function i64() { precisa(8); const v = dv.getBigInt64(pos, true); pos += 8; return v; }
    function u64() { precisa(8); const v = dv.getBigUint64(pos, true); pos += 8; return v; }
    function pedaco() { const n = u32(); precisa(n); const b = bytes.subarray(pos, pos + n); pos += n; return b; }

    function momento(tipo) {
      let s = "";
      if (tipo !== 8) {
        s = String(u16()).padStart(4, "0") + "-" + dois(u8()) + "-" + dois(u8());
        if (tipo === 7) return s;
        s += " ";
      }
      s += dois(u8()) + ":" + dois(u8()) + ":" + dois(u8());
      const nanos = u32();
      if (nanos !== 0) s += "." + String(nanos).padStart(9, "0").replace(/0+$/, "");
      if (tipo === 10) {
        const fuso = i16();
        const abs = Math.abs(fuso);
        s += (fuso < 0 ? "-" : "+") + dois(Math.floor(abs / 60)) + ":" + dois(abs % 60);
      }
      return s;
    }

    function valor(tipo) {
      switch (tipo) {
        case 1: return u8() ? "true" : "false";
        case 2: return String(i16());
        case 3: return String(i32());
        case 4: return i64().toString();
        case 7: case 8: case 9: case 10: return momento(tipo);
        case 11: return decodificadorUTF8.decode(pedaco());
        case 12: {
          let s = "0x";
          for (const b of pedaco()) s += b.toString(16).toUpperCase().padStart(2, "0");
          return s;
        }
        default: return decodificadorUTF8.decode(pedaco());  // Decimal, Real, Guid
      }
    }

    precisa(4);
    if (decodificadorUTF8.decode(bytes.subarray(0, 4)) !== "TXDS") throw erro("marca inicial ausente");
    pos = 4;
    const versao = u16();
    if (versao !== 1) throw new Error("Versão " + versao + " do formato de conjunto de dados não suportada.");
    const n = u32();
    const colunas = [];
    for (let i = 0; i < n; i++) {
      const nome = decodificadorUTF8.decode(pedaco());
      const tipo = u8();
      if (!NOMES_TIPO[tipo]) throw erro("tipo de coluna " + tipo);
      colunas.push({ nome: nome, tipo: tipo, nomeTipo: NOMES_TIPO[tipo], tipoSQL: i16(),
        tamanho: u32(), precisao: u16(), escala: u16(), nulidade: u8() });
    }
    const linhas = [];
    const bytesNulos = Math.ceil(n / 8);
    for (;;) {
      const marca = u8();
      if (marca === 0) break;
      if (marca !== 1) throw erro("marca de linha");
      precisa(bytesNulos);
      const nulos = bytes.subarray(pos, pos + bytesNulos);
      pos += bytesNulos;
      const linha = new Array(n);
      for (let i = 0; i < n; i++)
        linha[i] = nulos[i >> 3] & (1 << (i & 7)) ? null : valor(colunas[i].tipo);
      linhas.push(linha);
    }
    if (u64() !== BigInt(linhas.length)) throw erro("contagem de linhas");
    if (pos !== bytes.length) throw erro("bytes depois do fim");
    return { colunas: colunas, linhas: linhas };
  }

  // The data sets of one container (a parsed JSON value).
  async function lerContainer(container) {
    const membros = campos(campos(container, TIPO_COLECAO).FDataSets, "System.JSON.TJSONObject").FMembers;
    if (!Array.isArray(membros)) throw erro("FMembers");
    const r = [];
    for (const membro of membros) {
      const par = campos(membro, "System.JSON.TJSONPair");
      const conteudo = lerArmazenamento(await decodificarTextoDados(texto(par.FJsonValue)));
      r.push({ nome: texto(par.FJsonString), colunas: conteudo.colunas, linhas: conteudo.linhas });
    }
    return r;
  }

  // Every data set in the "result" array of an answer (text or parsed). An error answer
  // rejects with the server's message.
  async function lerResposta(corpo) {
    const valor = typeof corpo === "string" ? JSON.parse(corpo) : corpo;
    if (valor && typeof valor.error !== "undefined" && !Array.isArray(valor.result))
      throw new Error(String(valor.error));
    if (ehContainer(valor)) return lerContainer(valor);
    if (!valor || !Array.isArray(valor.result)) throw new Error("Resposta sem a lista \"result\".");
    const r = [];
    for (const e of valor.result) if (ehContainer(e)) r.push(...(await lerContainer(e)));
    return r;
  }

  // An HTML table of one data set; NULL cells get the class "nulo" and stay empty.
  function criarTabela(dataSet, documento) {
    const tabela = documento.createElement("table");
    const cabecalho = tabela.createTHead().insertRow();
    for (const c of dataSet.colunas) {
      const th = documento.createElement("th");
      th.textContent = c.nome;
      th.title = c.nomeTipo;
      cabecalho.appendChild(th);
    }
    const corpo = tabela.createTBody();
    for (const linha of dataSet.linhas) {
      const tr = corpo.insertRow();
      for (const v of linha) {
        const td = tr.insertCell();
        if (v === null) td.className = "nulo";
        else td.textContent = v;
      }
    }
    return tabela;
  }

  return { lerResposta, lerContainer, ehContainer, decodificarTextoDados, lerArmazenamento, criarTabela };
});
