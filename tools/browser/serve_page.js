#!/usr/bin/env node
// modeler serve used by hand in Debian's headless Chromium: press in the Top
// view and pull out a box, drag a corner handle in the Front view, choose
// Softcover in the tool's panel, keep, leave the tool choosing the covers
// folder, download the session and the .json; then `modeler run` of that
// session must write the same .json, byte for byte. Fails (exit 1) on any
// console error or failed request. Screenshots: OUT/editing.png (the
// tool in use) and OUT/serve.png (after leaving it).
// Usage: serve_page.js MODELER IMAGES OUT
'use strict';
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { requireChromium, launchChromium } = require('./chromium');
const { check, within, elapsed, freshOutput, watchErrors, gestures } = require('./page_steps');

const [modeler, images, out] = process.argv.slice(2);
if (!modeler || !images || !out) {
  console.error('usage: serve_page.js MODELER IMAGES OUT');
  process.exit(2);
}
requireChromium();
const { downloads, waitForFile } = freshOutput(out);

// Starts the server on a free port; resolves with its URL.
function serve() {
  const child = spawn(modeler, ['serve', '--port', '0', '--images', images], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const url = /http:\/\/\S+\//.exec(text);
      if (url) resolve({ child, url: url[0] });
    });
    child.on('exit', (code) => reject(new Error(`modeler serve ended (${code}) before serving`)));
  });
}

(async () => {
  const { child, url } = await serve();
  const browser = await launchChromium();
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1400, height: 900 });
    const errors = [];
    watchErrors(page, errors);
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });

    await page.goto(url);
    await page.waitForFunction(() => window.modelerPage && window.modelerPage.state() && window.modelerPage.idle());
    const { settle, state, dragHandle, typeInto } = gestures(page);

    // Press in the Top view (top left) and pull out the box's far corner,
    // on a slow link: the release comes before the press is answered, and
    // the pull must still keep the box's height from the press's answer.
    const canvas = await page.$('#canvas');
    const box = await canvas.boundingBox();
    const top = { x: box.x + box.width * 0.12, y: box.y + box.height * 0.32 };
    const slowLink = (latency) => cdp.send('Network.emulateNetworkConditions',
      { offline: false, latency, downloadThroughput: -1, uploadThroughput: -1 });
    await cdp.send('Network.enable');
    await slowLink(400);
    await page.mouse.move(top.x, top.y);
    await page.mouse.down();
    await page.mouse.move(top.x + box.width * 0.15, top.y - box.height * 0.06, { steps: 8 });
    await page.mouse.up();
    await settle();
    await slowLink(0);
    let s = await state();
    check(s.inUse && s.handles.length === 9, 'the press and pull placed a box with nine handles');
    check(s.polygons > 0, `the box was filled (${s.points} points, ${s.polygons} polygons)`);
    const filled = await page.evaluate(() => window.modelerPage.extent());

    // Fit the views to the box, then drag corner handle 7 up and right in
    // the Front view (bottom left) to make the box taller and longer.
    await page.click('#frame');
    const before = s.handles[7].position;
    await dragHandle(7, 2, 60, -80);
    s = await state();
    const corner = s.handles[7].position;
    check(corner[0] > before[0] + 0.01 && corner[1] > before[1] + 0.01 && corner[2] === before[2],
      `handle 7 was dragged up and right in the Front view, its depth kept (${before.map((v) => v.toFixed(3))} -> ${corner.map((v) => v.toFixed(3))})`);
    const grown = await page.evaluate(() => window.modelerPage.extent());
    check(grown.max[0] > filled.max[0] + 0.01 && grown.max[1] > filled.max[1] + 0.01,
      `the books were rebuilt in the larger box (top right ${filled.max.slice(0, 2).map((v) => v.toFixed(3))} -> ${grown.max.slice(0, 2).map((v) => v.toFixed(3))})`);

    // Shift holds the drag to one axis: the centre handle dragged right in
    // the Top view keeps its depth.
    const centre = s.handles[0].position;
    const grab = await page.evaluate(() => window.modelerPage.screenOf(0, 0));
    await page.keyboard.down('Shift');
    await page.mouse.move(grab[0], grab[1]);
    await page.mouse.down();
    await page.mouse.move(grab[0] + 40, grab[1] + 25, { steps: 6 });
    await page.mouse.up();
    await page.keyboard.up('Shift');
    await settle();
    s = await state();
    const moved = s.handles[0].position;
    check(moved[0] > centre[0] + 0.01 && Math.abs(moved[2] - centre[2]) < 1e-6,
      `Shift held the centre's drag to X (${centre.map((v) => v.toFixed(3))} -> ${moved.map((v) => v.toFixed(3))})`);

    // A number typed into the panel is sent when the field changes.
    await page.click('input[data-label="MaxSize"]', { clickCount: 3 });
    await page.keyboard.type('0.05');
    await page.keyboard.press('Enter');
    await settle();
    s = await state();
    check(s.panel.controls.find((c) => c.label === 'MaxSize').value === '0.05', 'MaxSize typed as 0.05');

    // The tool's own panel: Type is a menu of its choices.
    const options = await page.$$eval('select[data-label="Type"] option', (o) => o.map((e) => e.value));
    check(options.join() === 'Hardcover,Softcover,Both', `Type offers ${options.join(', ')}`);
    await page.select('select[data-label="Type"]', 'Softcover');
    await settle();
    s = await state();
    const type = s.panel.controls.find((c) => c.label === 'Type');
    check(type.value === 'Softcover', 'the panel now says Softcover');

    // The panel shows what the tool holds, and says why it refused an edit.
    const field = (label) => page.$eval(`input[data-label="${label}"]`, (e) => e.value);
    const message = () => page.$eval('#message', (e) => e.textContent);
    await typeInto('MaxSize', 'abc');
    check(await field('MaxSize') === '0.05' && /MaxSize takes a finite number: "abc" is not one/.test(await message()),
      `"abc" in MaxSize is refused in words and the field shows the tool's 0.05 (${await message()})`);
    await typeInto('MaxSize', '1e400');
    check(await field('MaxSize') === '0.05', 'so is 1e400');
    await typeInto('MaxSize', '0,06');
    s = await state();
    check(s.panel.controls.find((c) => c.label === 'MaxSize').value === '0.06' && await field('MaxSize') === '0.06',
      'a decimal comma is read as a point: "0,06" is 0.06');
    await page.focus('input[data-label="MaxSize"]');
    await page.keyboard.press('ArrowUp');
    await settle();
    check(await field('MaxSize') === '0.07', `the arrow key steps 0.06 by 0.01 (${await field('MaxSize')})`);
    await typeInto('Random Top', '0.9');
    const held = (await state()).panel.controls.find((c) => c.label === "Random Top").value;
    check(await field('Random Top') === held && held !== '0.9' && /the tool holds/.test(await message()),
      `Random Top 0.9 shows the tool's ${held}, and says so`);

    // Undo and redo: each a step, played again exactly.
    const beforeUndo = (await state()).actions;
    await page.keyboard.press('Escape');
    await page.click('#frame');
    await page.keyboard.down('Control');
    await page.keyboard.press('z');
    await page.keyboard.up('Control');
    await settle();
    s = await state();
    check(s.panel.controls.find((c) => c.label === 'Random Top').value !== held && s.redo === 1,
      `Ctrl+Z took back the last edit (${s.actions} actions, was ${beforeUndo})`);
    await page.keyboard.down('Control');
    await page.keyboard.down('Shift');
    await page.keyboard.press('z');
    await page.keyboard.up('Shift');
    await page.keyboard.up('Control');
    await settle();
    s = await state();
    check(s.panel.controls.find((c) => c.label === 'Random Top').value === held && s.actions === beforeUndo,
      'Ctrl+Shift+Z did it again');

    // A reload plays the page's session again: the same scene, byte for byte.
    await page.click('[data-download="json"]');
    const beforeReload = fs.readFileSync(await waitForFile('bookshelf.json'));
    fs.rmSync(path.join(downloads, 'bookshelf.json'));
    await new Promise((r) => setTimeout(r, 400));  // the page's session is saved
    page.on('dialog', (dialog) => dialog.accept());
    await page.reload();
    await page.waitForFunction((n) => window.modelerPage && window.modelerPage.state()
      && window.modelerPage.state().actions === n && window.modelerPage.idle(), {}, beforeUndo);
    await page.click('[data-download="json"]');
    const afterReload = fs.readFileSync(await waitForFile('bookshelf.json'));
    fs.rmSync(path.join(downloads, 'bookshelf.json'));
    check(Buffer.compare(beforeReload, afterReload) === 0, 'a reload played the session again to the same .json');
    s = await state();
    check(s.undo > 0, `and keeps its steps of undo (${s.undo})`);

    // A second page takes over; the first says so and takes the tool back.
    const second = await browser.newPage();
    await second.goto(url);
    await second.waitForFunction(() => window.modelerPage && window.modelerPage.state() && window.modelerPage.idle());
    await page.click('#frame');
    await page.evaluate(() => document.querySelector('#undo').click());
    await page.waitForSelector('#taken:not([hidden])');
    check(true, 'the first page says another page has taken over');
    await page.click('#take-back');
    await page.waitForFunction((n) => window.modelerPage.state() && window.modelerPage.state().actions === n
      && window.modelerPage.idle(), {}, beforeUndo);
    check(true, 'taking the tool back played its session again');
    await second.close();

    await page.screenshot({ path: path.join(out, 'editing.png') });
    await page.click('#keep');
    await settle();
    s = await state();
    check(!s.inUse || s.handles.length === 0, 'keep ended the edit');

    // Leaving the tool: its folder request as a dialog of the image folders.
    await page.click('#leave');
    await page.waitForSelector('#form-dialog[open]');
    const folders = await page.$$eval('#form-folder option', (o) => o.map((e) => e.value));
    check(folders.includes('covers'), `the dialog offers the image folders (${folders.join(', ')})`);
    await page.select('#form-folder', 'covers');
    await page.click('#form-ok');
    await page.waitForFunction(() => window.modelerPage.state() && window.modelerPage.state().inUse === false
      && !window.modelerPage.state().form && window.modelerPage.idle());
    s = await state();
    check(s.materials.some((m) => m.texture !== null), 'covers carry images after leaving');
    await new Promise((r) => setTimeout(r, 500));  // the textures load
    await page.screenshot({ path: path.join(out, 'serve.png') });

    await page.click('[data-download="json"]');
    const json = await waitForFile('bookshelf.json');
    await page.click('[data-download="session"]');
    const session = await waitForFile('bookshelf.session');
    await new Promise((r) => setTimeout(r, 300));
    const lines = fs.readFileSync(session, 'utf8');
    console.log(lines);
    check(/^drag 7 .* view Z$/m.test(lines) && /^press /m.test(lines) && /^done folder "covers"$/m.test(lines)
      && /^drag 0 .* view Y constrain hold first$/m.test(lines) && /^set "MaxSize" "0.05"$/m.test(lines),
      'the session holds the press, both drags (the second constrained), the edits and the folder chosen');
    check(!/^drag 0 .* hold second$/m.test(lines), 'one Shift drag held one axis throughout');

    const replay = path.join(out, 'replay.json');
    console.log(`running modeler run of the session (${elapsed()})`);
    execFileSync(modeler, ['run', session, '--images', path.join(path.resolve(images), 'covers'), '-q', '-o', replay],
      { stdio: 'inherit', timeout: 90000 });
    check(Buffer.compare(fs.readFileSync(json), fs.readFileSync(replay)) === 0,
      'modeler run of the downloaded session writes the downloaded .json byte for byte');

    // After leaving, a press is answered with a message; a new scene clears
    // it. Leaving with a folder that gives no cover an image warns.
    await page.mouse.click(top.x, top.y);
    check(/start a new scene/.test(await message()), 'a press after leaving says the tool was left');
    await page.click('#restart');
    await page.waitForFunction(() => window.modelerPage.state() && window.modelerPage.state().inUse
      && window.modelerPage.state().actions === 2 && window.modelerPage.idle());
    check(await message() === '', 'a new scene clears the old message');
    await page.mouse.move(top.x, top.y);
    await page.mouse.down();
    await page.mouse.move(top.x + box.width * 0.15, top.y - box.height * 0.06, { steps: 4 });
    await page.mouse.up();
    await settle();
    await page.click('#leave');
    await page.waitForSelector('#form-dialog[open]');
    await page.select('#form-folder', '.');
    await page.click('#form-ok');
    await page.waitForFunction(() => window.modelerPage.state() && !window.modelerPage.state().inUse
      && !window.modelerPage.state().form && window.modelerPage.idle());
    const warned = await page.$$eval('#warnings li', (items) => items.map((i) => i.textContent));
    check(warned.some((w) => /no image from the image folder went to a cover/.test(w)),
      `leaving with a folder of no images warns in the page (${warned.join('; ')})`);
    // Expected: the two refused edits (400) and the page that was taken over (409).
    const refused = errors.filter((e) => /status of 400/.test(e)).length;
    check(refused === 2, `the two refused edits were answered 400 (${refused})`);
    const expectedErrors = errors.filter((e) => !/status of (400|409)/.test(e));
    check(expectedErrors.length === 0, `no console errors or failed requests${expectedErrors.length ? ': ' + expectedErrors.join('; ') : ''}`);
  } finally {
    await within(20, browser.close(), 'closing the browser').catch((error) => {
      console.error(`${error.message}: killed`);
      browser.process().kill('SIGKILL');
    });
    child.kill('SIGTERM');
    const ended = new Promise((resolve) => child.once('exit', resolve));
    await within(20, child.exitCode !== null ? Promise.resolve() : ended, 'modeler serve after SIGTERM')
      .catch((error) => {
        child.kill('SIGKILL');
        throw error;
      });
  }
})().then(() => {
  console.log(`done (${elapsed()})`);
  process.exit(0);
}, (error) => {
  console.error(`FAILED (${elapsed()}): ${error.message}`);
  process.exit(1);
});
