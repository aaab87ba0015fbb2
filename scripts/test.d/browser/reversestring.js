// The start page: a text typed into the ReverseString form goes through
// TsmComum.InverterString and comes back reversed.
// Usage: node reversestring.js URL PROFILE SCREENSHOT
const { verificar } = require('./navegador.js');
const [url, profile, shot] = process.argv.slice(2);
const texto = 'Ação TAMRIX 2016 - pão & café <ok>';
const esperado = texto.split('').reverse().join('');  // 16-bit units, last first

verificar(profile, shot, async (page) => {
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
  console.log(`  ok   "${texto}" came back as "${resultado}"`);
});
