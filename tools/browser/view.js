#!/usr/bin/env node
// Opens model files in three.js inside Debian's headless Chromium and
// prints what the loaders made of them: objects, textured materials, lines,
// and how much of the picture they cover. Fails (exit 1) on a console
// error, a failed load, lines, or a picture that is (nearly) blank.
// Usage: view.js FOLDER FILE... [--screenshots DIR]
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');
const { requireChromium, launchChromium } = require('./chromium');

const args = process.argv.slice(2);
const shotsAt = args.indexOf('--screenshots');
const shots = shotsAt >= 0 ? args.splice(shotsAt, 2)[1] : null;
const [folder, ...files] = args;
if (!folder || files.length === 0) {
  console.error('usage: view.js FOLDER FILE... [--screenshots DIR]');
  process.exit(2);
}
requireChromium();

const types = { '.html': 'text/html', '.js': 'text/javascript', '.png': 'image/png',
  '.jpg': 'image/jpeg', '.glb': 'model/gltf-binary', '.gltf': 'model/gltf+json',
  '.bin': 'application/octet-stream', '.obj': 'text/plain', '.mtl': 'text/plain' };
const roots = { '/three/': path.join(__dirname, 'node_modules/three/'), '/model/': path.resolve(folder) + '/' };

// Serves the page, three.js and the model folder, nothing else.
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  let file = url === '/' ? path.join(__dirname, 'page.html') : null;
  for (const [prefix, root] of Object.entries(roots)) {
    if (url.startsWith(prefix)) file = path.join(root, url.slice(prefix.length));
  }
  if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404);
    response.end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  fs.createReadStream(file).pipe(response);
});

(async () => {
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const base = `http://127.0.0.1:${server.address().port}`;
  const browser = await launchChromium();
  let failed = false;
  for (const file of files) {
    const page = await browser.newPage();
    const errors = [];
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    page.on('pageerror', (e) => errors.push(String(e)));
    page.on('requestfailed', (r) => errors.push(`failed: ${r.url()}`));
    page.on('response', (r) => { if (r.status() >= 400) errors.push(`${r.status()}: ${r.url()}`); });
    await page.setViewport({ width: 960, height: 540 });
    await page.goto(`${base}/?file=/model/${encodeURIComponent(file)}`);
    await page.waitForFunction('window.result !== undefined', { timeout: 60000 });
    const result = await page.evaluate('window.result');
    if (shots) {
      fs.mkdirSync(shots, { recursive: true });
      await page.screenshot({ path: path.join(shots, `${path.basename(file)}.png`) });
    }
    const problems = [...errors];
    if (result.error) problems.push(result.error);
    if (result.lines) problems.push(`${result.lines} line objects`);
    if (!(result.covered > 0.05)) problems.push(`the picture is nearly blank (${result.covered})`);
    if (!(result.colours > 50)) problems.push(`only ${result.colours} colours: untextured or flat`);
    console.log(`${file}: ${JSON.stringify(result)}`);
    for (const p of problems) console.log(`  PROBLEM: ${p}`);
    failed ||= problems.length > 0;
    await page.close();
  }
  await browser.close();
  server.close();
  process.exit(failed ? 1 : 0);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
