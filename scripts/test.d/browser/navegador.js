// Shared by the page checks of 70-browser.sh: a headless Chromium on a fresh profile, one
// page, a screenshot whatever happens, and the exit status (0 passed, 1 failed). A page opened
// over https must make every request over https too, its REST calls among them (the server's
// test certificate is accepted without its CA).
const { chromium } = require('playwright-core');

// Runs corpo(page) and saves a screenshot to shot. Options: foto(page) names the element to
// photograph (by default the visible page), viewport its size (1280 x 720 by default).
async function verificar(profile, shot, corpo, { foto, viewport } = {}) {
  // A fresh profile directory (--user-data-dir), which Playwright takes as its own argument.
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: viewport || { width: 1280, height: 720 },
    ignoreHTTPSErrors: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  let falhou = false;
  const page = await browser.newPage();
  const erros = [];
  page.on('pageerror', (e) => erros.push(String(e)));
  const pedidos = [];
  page.on('request', (r) => pedidos.push(r.url()));
  try {
    await corpo(page);
    if (erros.length) throw new Error(`script errors: ${erros.join('; ')}`);
    if (pedidos.length && pedidos[0].startsWith('https://')) {
      const inseguros = pedidos.filter((u) => !u.startsWith('https://'));
      if (inseguros.length) throw new Error(`requests not over https: ${inseguros.join(', ')}`);
      const rest = pedidos.filter((u) => new URL(u).pathname.startsWith('/tamrix/')).length;
      if (rest === 0) throw new Error('the page made no REST call');
      console.log(`  ok   all ${pedidos.length} requests over https, ${rest} of them REST calls`);
    }
  } catch (e) {
    console.error(`  FAIL ${e.message}`);
    falhou = true;
  } finally {
    try {
      const alvo = foto ? await foto(page) : null;
      if (alvo) await alvo.screenshot({ path: shot });
      else await page.screenshot({ path: shot, fullPage: false });
    } catch (e) {
      await page.screenshot({ path: shot }).catch(() => {});
    }
    await browser.close();
  }
  process.exit(falhou ? 1 : 0);
}

module.exports = { verificar };
