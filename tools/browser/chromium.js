// Debian's headless Chromium, launched by puppeteer-core as every browser
// check here uses it (software WebGL, no sandbox in containers). Exits 77
// (skipped) when it is not installed.
'use strict';
const fs = require('fs');
const puppeteer = require('puppeteer-core');

const browserPath = ['/usr/bin/chromium-headless-shell', '/usr/lib/chromium/headless_shell',
  '/usr/bin/chromium'].find((p) => fs.existsSync(p));

function requireChromium() {
  if (!browserPath) {
    console.error('no Chromium: install chromium-headless-shell (scripts/deps.sh does)');
    process.exit(77);
  }
}

function launchChromium() {
  return puppeteer.launch({ executablePath: browserPath, headless: 'shell',
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'] });
}

module.exports = { requireChromium, launchChromium };
