// The Server Functions page: logs in with TsmUsuario.Login, calls
// TsmCadastro.ConsultarCadastro with no filter and checks the table it draws against the
// rows the database holds (header, every cell, NULL told apart from an empty text).
// Usage: node invoker.js BASE_URL PROFILE SCREENSHOT EXPECTED_JSON USER PASSWORD TOKEN
// EXPECTED_JSON: the rows as the database gives them, [{column: text or null, ...}, ...].
const fs = require('fs');
const { verificar } = require('./navegador.js');
const [base, profile, shot, arquivoEsperado, usuario, senha, token] = process.argv.slice(2);
const esperadas = JSON.parse(fs.readFileSync(arquivoEsperado, 'utf8'));
const colunas = Object.keys(esperadas[0]);
const linhasEsperadas = esperadas.map((r) => colunas.map((c) => r[c]));
const caixa = (nome) => `.metodo[data-nome="${nome}"]`;

// Fills the method's fields in order, presses Executar and waits for its answer.
async function chamar(page, nome, valores, pronto) {
  const campos = page.locator(`${caixa(nome)} .param input`);
  if (await campos.count() !== valores.length)
    throw new Error(`${nome}: ${await campos.count()} fields, expected ${valores.length}`);
  for (let i = 0; i < valores.length; i++) await campos.nth(i).fill(valores[i]);
  await page.click(`${caixa(nome)} button`);
  await page.waitForSelector(`${caixa(nome)} .saida :is(${pronto}, .erro)`, { timeout: 20000 });
  const erro = await page.locator(`${caixa(nome)} .saida .erro`).allTextContents();
  if (erro.length) throw new Error(`${nome} shows an error: ${erro.join('; ')}`);
}

function porCodigo(linhas) {
  return [...linhas].sort((a, b) => Number(a[0]) - Number(b[0]));
}

verificar(profile, shot, async (page) => {
  const resposta = await page.goto(`${base}/ServerFunctionInvoker`, { waitUntil: 'load' });
  if (resposta.status() !== 200) throw new Error(`GET /ServerFunctionInvoker answered ${resposta.status()}`);

  // The reader's Portuguese messages come through intact only when its charset is right.
  const mensagem = await page.evaluate(
      () => TamrixDataSet.lerContainer({}).then(() => '', (e) => e.message));
  const mensagemEsperada = 'Conjunto de dados inválido: esperado Data.JSONReflect.TJSONDataSets.';
  if (mensagem !== mensagemEsperada)
    throw new Error(`reader message read as ${JSON.stringify(mensagem)}, expected ${JSON.stringify(mensagemEsperada)}`);

  await chamar(page, 'tsmusuario.login', [usuario, senha, token], '.valor');
  const login = await page.locator(`${caixa('tsmusuario.login')} .valor pre`).allTextContents();
  if (JSON.stringify(login) !== JSON.stringify(['"Sucesso"', 'true']))
    throw new Error(`Login answered ${JSON.stringify(login)}`);
  console.log('  ok   Login shown as plain values: "Sucesso", true');

  const consulta = caixa('tsmcadastro.consultarcadastro');
  await chamar(page, 'tsmcadastro.consultarcadastro', ['0', '', '', ''], 'table.dataset');
  const tabela = await page.evaluate((seletor) => {
    const t = document.querySelector(`${seletor} table.dataset`);
    return {
      cabecalho: [...t.tHead.rows[0].cells].map((c) => c.textContent),
      linhas: [...t.tBodies[0].rows].map((r) => [...r.cells].map(
          (c) => (c.classList.contains('nulo') ? null : c.textContent))),
      rotulo: t.previousElementSibling.textContent,
      marcaNulo: (() => {
        const c = t.querySelector('td.nulo');
        return c ? getComputedStyle(c, '::before').content : null;
      })(),
    };
  }, consulta);

  if (JSON.stringify(tabela.cabecalho) !== JSON.stringify(colunas))
    throw new Error(`header ${JSON.stringify(tabela.cabecalho)}, expected ${JSON.stringify(colunas)}`);
  if (tabela.linhas.length !== linhasEsperadas.length)
    throw new Error(`${tabela.linhas.length} rows, the database has ${linhasEsperadas.length}`);
  const obtidas = porCodigo(tabela.linhas), esperadasOrdem = porCodigo(linhasEsperadas);
  for (let i = 0; i < obtidas.length; i++) {
    if (JSON.stringify(obtidas[i]) !== JSON.stringify(esperadasOrdem[i]))
      throw new Error(`row ${i}: ${JSON.stringify(obtidas[i])}, expected ${JSON.stringify(esperadasOrdem[i])}`);
  }
  if (tabela.rotulo !== `qySQL - ${linhasEsperadas.length} linhas`)
    throw new Error(`caption ${JSON.stringify(tabela.rotulo)}`);
  const nulos = linhasEsperadas.flat().filter((v) => v === null).length;
  if (nulos === 0) throw new Error('the data has no NULL to show (fixture changed?)');
  if (tabela.marcaNulo !== '"nulo"')
    throw new Error(`a NULL cell shows ${JSON.stringify(tabela.marcaNulo)} instead of "nulo"`);
  console.log(`  ok   ConsultarCadastro drawn as a table: ${colunas.length} columns, ` +
              `${obtidas.length} rows, ${nulos} NULL cells, as in the database`);
  await page.locator(consulta).scrollIntoViewIfNeeded();
}, {
  // Wide enough for the fourteen columns on one line each.
  viewport: { width: 1920, height: 1000 },
  foto: (page) => page.locator(caixa('tsmcadastro.consultarcadastro')),
});
