// What the page tests share: a check that says what held, a bound on what
// may never end, and the downloads a browser drops in a folder.
'use strict';
const fs = require('fs');
const path = require('path');

const began = Date.now();
const elapsed = () => `${((Date.now() - began) / 1000).toFixed(1)} s`;

function check(ok, what) {
  if (!ok) throw new Error(what);
  console.log(`ok (${elapsed()}): ${what}`);
}

// Ends a promise that may never end (a browser that does not close).
function within(seconds, promise, what) {
  return Promise.race([promise, new Promise((_, reject) =>
    setTimeout(() => reject(new Error(`${what} did not end within ${seconds} s`)), seconds * 1000).unref())]);
}

// A fresh output folder OUT with OUT/downloads, where the browser drops
// the files the page downloads; each is waited for by name.
function freshOutput(out) {
  fs.rmSync(out, { recursive: true, force: true });
  const folder = path.resolve(out, 'downloads');
  fs.mkdirSync(folder, { recursive: true });
  async function waitForFile(name) {
    const file = path.join(folder, name);
    for (let i = 0; i < 200; ++i) {
      if (fs.existsSync(file)) return file;
      await new Promise((r) => setTimeout(r, 50));
    }
    throw new Error(`the download ${name} did not arrive`);
  }
  return { downloads: folder, waitForFile };
}

// Adds each console error, page error and failed request of page to errors.
function watchErrors(page, errors) {
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('requestfailed', (r) => errors.push(`failed: ${r.url()}`));
}

// A person's gestures on the page of modeler serve (or the static page),
// each waited out until the page has sent everything.
function gestures(page) {
  const settle = () => page.waitForFunction(() => window.modelerPage.idle());
  const state = () => page.evaluate(() => window.modelerPage.state());
  return {
    settle,
    state,
    // Drags handle from where it shows in view (0 Top, 1 Perspective, 2
    // Front, 3 Side) by dx, dy pixels.
    async dragHandle(handle, view, dx, dy, steps = 12) {
      const from = await page.evaluate((h, v) => window.modelerPage.screenOf(h, v), handle, view);
      await page.mouse.move(from[0], from[1]);
      await page.mouse.down();
      await page.mouse.move(from[0] + dx, from[1] + dy, { steps });
      await page.mouse.up();
      await settle();
    },
    // Types text into the panel's field label and sends it.
    async typeInto(label, text) {
      await page.click(`input[data-label="${label}"]`, { clickCount: 3 });
      await page.keyboard.type(text);
      await page.keyboard.press('Enter');
      await settle();
    },
  };
}

module.exports = { check, within, elapsed, freshOutput, watchErrors, gestures };
