#!/usr/bin/env node
// The page as static files, the tool in WebAssembly, used by hand in Debian's
// headless Chromium from a plain static server on 127.0.0.1: press and pull
// out a box, drag a corner handle, edit the panel, undo and redo, keep, leave
// choosing the sample covers after picking a folder of one's own; download
// the .json, .glb, .obj and the session. `modeler run` of that session must
// write the same .json and .glb, byte for byte. Then a shelf as a link: the
// page's link opened in a new tab replays to the same .json; a broken link
// says so. Reports the figures: page ready, fill speed against the native
// library's (through the Python package). Fails (exit 1) on any console
// error or failed request. Screenshot: OUT/static.png.
// Usage: static_page.js STATIC_FOLDER MODELER COVERS OUT PYTHONPATH
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { requireChromium, launchChromium } = require('./chromium');
const { serveFolder } = require('./static_server');
const { check, within, elapsed, freshOutput, watchErrors, gestures } = require('./page_steps');

const [folder, modeler, covers, out, pythonPath] = process.argv.slice(2);
if (!folder || !modeler || !covers || !out || !pythonPath) {
  console.error('usage: static_page.js STATIC_FOLDER MODELER COVERS OUT PYTHONPATH');
  process.exit(2);
}
requireChromium();
const { downloads, waitForFile } = freshOutput(out);

// The shelf the speed is measured on: about 1,000 books.
const benchBox = [0, 0, 0, 80, 0.5, 0.3];
const benchRuns = 10;

(async () => {
  const server = await serveFolder(folder);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const browser = await launchChromium();
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1400, height: 900 });
    const errors = [];
    watchErrors(page, errors);
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });

    const loading = Date.now();
    await page.goto(url);
    await page.waitForFunction(() => window.varlobooks);
    await page.evaluate(() => window.varlobooks.ready);
    const readyMs = Date.now() - loading;
    check(true, `the page is ready, the tool active, ${readyMs} ms after it was asked for`);
    const { settle, state, dragHandle, typeInto } = gestures(page);

    // Press in the Top view and pull out the box's far corner.
    const canvas = await page.$('#canvas');
    const box = await canvas.boundingBox();
    const top = { x: box.x + box.width * 0.12, y: box.y + box.height * 0.32 };
    await page.mouse.move(top.x, top.y);
    await page.mouse.down();
    await page.mouse.move(top.x + box.width * 0.15, top.y - box.height * 0.06, { steps: 8 });
    await page.mouse.up();
    await settle();
    let s = await state();
    check(s.inUse && s.handles.length === 9 && s.polygons > 0,
      `the press and pull filled a box (${s.points} points, ${s.polygons} polygons, nine handles)`);

    // Drag corner handle 7 up and right in the Front view.
    await page.click('#frame');
    const before = s.handles[7].position;
    await dragHandle(7, 2, 60, -80);
    s = await state();
    const corner = s.handles[7].position;
    check(corner[0] > before[0] + 0.01 && corner[1] > before[1] + 0.01,
      `handle 7 was dragged up and right (${before.map((v) => v.toFixed(3))} -> ${corner.map((v) => v.toFixed(3))})`);

    // The panel: a tilt (sines and cosines in the geometry), a larger book.
    await typeInto('Rotation', '17');
    await typeInto('MaxSize', '0.06');
    s = await state();
    check(s.panel.controls.find((c) => c.label === 'MaxSize').value === '0.06', 'MaxSize typed as 0.06, Rotation 17');

    // Undo and redo.
    const actions = s.actions;
    await page.keyboard.press('Escape');
    await page.click('#undo');
    await settle();
    s = await state();
    check(s.redo === 1 && s.panel.controls.find((c) => c.label === 'MaxSize').value !== '0.06', 'Undo took back the last edit');
    await page.click('#redo');
    await settle();
    s = await state();
    check(s.actions === actions && s.panel.controls.find((c) => c.label === 'MaxSize').value === '0.06', 'Redo did it again');

    await page.click('#keep');
    await settle();

    // Leaving: the sample covers are offered, and a folder of one's own.
    await page.click('#leave');
    await page.waitForSelector('#form-dialog[open]');
    let folders = await page.$$eval('#form-folder option', (o) => o.map((e) => e.value));
    check(folders.join() === 'samples', `the dialog offers the sample covers (${folders.join(', ')})`);
    const pick = await page.$('#form-pick');
    const pickedName = path.basename(path.resolve(covers));
    await pick.uploadFile(path.resolve(covers));  // a folder, as a person picks one
    await page.waitForFunction(() => document.querySelectorAll('#form-folder option').length === 2);
    folders = await page.$$eval('#form-folder option', (o) => o.map((e) => e.value));
    const chosen = await page.$eval('#form-folder', (e) => e.value);
    check(folders.includes(pickedName) && chosen === pickedName,
      `the folder picked is offered and chosen (${folders.join(', ')})`);
    await page.select('#form-folder', 'samples');
    await page.click('#form-ok');
    await page.waitForFunction(() => window.modelerPage.state() && window.modelerPage.state().inUse === false
      && !window.modelerPage.state().form && window.modelerPage.idle());
    s = await state();
    check(s.materials.some((m) => m.texture !== null), 'covers carry images after leaving');
    await new Promise((r) => setTimeout(r, 500));  // the textures are decoded
    await page.screenshot({ path: path.join(out, 'static.png') });

    // Downloads: the buttons and the script interface give the same bytes.
    await page.click('[data-download="json"]');
    const json = fs.readFileSync(await waitForFile('bookshelf.json'));
    const scripted = Buffer.from(await page.evaluate(async () => Array.from(await window.varlobooks.download('json'))));
    check(Buffer.compare(json, scripted) === 0, `varlobooks.download('json') gives the button's ${json.length} bytes`);
    const glb = Buffer.from(await page.evaluate(async () => Array.from(await window.varlobooks.download('glb'))));
    check(glb.subarray(0, 4).toString() === 'glTF', `a .glb of ${glb.length} bytes`);
    const obj = Buffer.from(await page.evaluate(async () => Array.from(await window.varlobooks.download('obj'))));
    check(obj.subarray(0, 2).toString() === 'PK', `the .obj with its .mtl and covers as a zip of ${obj.length} bytes`);
    fs.writeFileSync(path.join(out, 'bookshelf.obj.zip'), obj);
    execFileSync('unzip', ['-q', '-o', path.join(out, 'bookshelf.obj.zip'), '-d', path.join(out, 'obj')]);
    check(fs.existsSync(path.join(out, 'obj', 'bookshelf.obj')) && fs.existsSync(path.join(out, 'obj', 'bookshelf.mtl')),
      'the zip unpacks to bookshelf.obj and bookshelf.mtl');
    await page.click('[data-download="session"]');
    const session = await waitForFile('bookshelf.session');
    await new Promise((r) => setTimeout(r, 300));
    const lines = fs.readFileSync(session, 'utf8');
    check(/^done folder "samples"$/m.test(lines) && /^set "Rotation" /m.test(lines), 'the session holds the edits and the folder chosen');

    // A shelf as a link, opened in a new tab.
    const link = await page.evaluate(() => window.varlobooks.link());
    check(/#session=[A-Za-z0-9_-]+$/.test(link), `the page's link (${link.length} characters) carries its session in base64url`);
    const second = await browser.newPage();
    watchErrors(second, errors);
    await second.goto(link);
    await second.waitForFunction(() => window.varlobooks);
    await second.evaluate(() => window.varlobooks.ready);
    const linked = Buffer.from(await second.evaluate(async () => Array.from(await window.varlobooks.download('json'))));
    check(Buffer.compare(json, linked) === 0, 'the link replays to the same .json');
    check(await second.evaluate(() => location.hash) === '', 'and leaves the address (a reload keeps later work)');
    await second.close();

    // A new scene, left with a folder of one's own holding one cover: the
    // tool's choice cannot then depend on the order a file system lists a
    // folder in, which differs between systems, so modeler run of the
    // session on Linux must give the same bytes.
    page.on('dialog', (dialog) => dialog.accept());
    await page.click('#restart');
    await page.waitForFunction(() => window.modelerPage.state() && window.modelerPage.state().actions === 2
      && window.modelerPage.idle());
    await page.mouse.move(top.x, top.y);
    await page.mouse.down();
    await page.mouse.move(top.x + box.width * 0.2, top.y - box.height * 0.08, { steps: 6 });
    await page.mouse.up();
    await settle();
    await typeInto('Rotation', '23');
    await page.click('#leave');
    await page.waitForSelector('#form-dialog[open]');
    const oneCover = path.resolve(out, 'one-cover');
    fs.mkdirSync(oneCover);
    fs.copyFileSync(path.join(covers, 'cover03.png'), path.join(oneCover, 'cover03.png'));
    await (await page.$('#form-pick')).uploadFile(oneCover);
    await page.waitForFunction(() => document.querySelector('#form-folder').value === 'one-cover');
    await page.click('#form-ok');
    await page.waitForFunction(() => window.modelerPage.state() && window.modelerPage.state().inUse === false
      && !window.modelerPage.state().form && window.modelerPage.idle());
    const download = async (format) =>
      Buffer.from(await page.evaluate(async (f) => Array.from(await window.varlobooks.download(f)), format));
    const ownJson = await download('json');
    const ownGlb = await download('glb');
    const ownSession = path.join(out, 'own.session');
    fs.writeFileSync(ownSession, await download('session'));
    execFileSync(modeler, ['run', ownSession, '--images', oneCover, '-q', '-o', path.join(out, 'replay.json'),
      '-o', path.join(out, 'replay.glb')], { stdio: 'inherit', timeout: 90000 });
    // The .json names each cover's file where the system keeps it: the
    // page's /images/one-cover, the folder given to modeler run here.
    const replayed = fs.readFileSync(path.join(out, 'replay.json'), 'utf8');
    const here = JSON.stringify(`${oneCover}/`).slice(1, -1);
    check(replayed.includes(here) && replayed.split(here).join('/images/one-cover/') === ownJson.toString('utf8'),
      `modeler run of the session writes the page's .json byte for byte, but where the covers lie (${ownJson.length} bytes)`);
    check(Buffer.compare(ownGlb, fs.readFileSync(path.join(out, 'replay.glb'))) === 0,
      `and its .glb byte for byte (${ownGlb.length} bytes)`);

    // That shelf's link, where its folder is not: the shelf, without covers.
    const ownLink = await page.evaluate(() => window.varlobooks.link());
    const elsewhere = await browser.newPage();
    await elsewhere.goto(ownLink);
    await elsewhere.waitForFunction(() => window.varlobooks);
    await elsewhere.evaluate(() => window.varlobooks.ready);
    const warned = await elsewhere.$$eval('#warnings li', (items) => items.map((i) => i.textContent));
    const there = await elsewhere.evaluate(() => window.modelerPage.state());
    check(there.polygons > 0 && warned.some((w) => /"one-cover" the session left with is not offered here/.test(w)),
      `a link whose folder is not here plays the shelf without covers and says so (${warned.join('; ')})`);
    await elsewhere.close();

    const broken = await browser.newPage();
    await broken.goto(`${url}#session=not*base64`);
    await broken.waitForFunction(() => window.varlobooks);
    await broken.evaluate(() => window.varlobooks.ready);
    const said = await broken.$eval('#message', (e) => e.textContent);
    check(/not base64url/.test(said) && (await broken.evaluate(() => window.modelerPage.state().actions)) === 2,
      `a broken link starts an empty scene and says why (${said})`);
    await broken.close();

    // Fill speed: the same shelf filled by the WebAssembly library in this
    // page and by the native library (Python package), books per second.
    const web = await page.evaluate(async (boxCorners, runs) => {
      const { default: create } = await import('./varlobooks.js');
      const w = await create();
      const slot = w._malloc(64);
      if (w._varlobooks_module_open(0, slot) !== 0) throw new Error('no module');
      const module = w.HEAPU32[slot >> 2];
      const corners = w._malloc(48);
      w.HEAPF64.set(boxCorners, corners >> 3);
      let books = 0;
      const began = performance.now();
      for (let i = 0; i < runs; ++i) {
        w._varlobooks_session_new(module, 0, slot);
        const session = w.HEAPU32[slot >> 2];
        if (w._varlobooks_session_fill(session, corners, BigInt(i), 0, 0) !== 0) throw new Error('fill failed');
        w._varlobooks_session_summary(session, slot + 8, 0);
        books += w.HEAPU32[(slot + 8) >> 2];
        w._varlobooks_session_free(session);
      }
      return { books, seconds: (performance.now() - began) / 1000 };
    }, benchBox, benchRuns);
    // The native library through the same C calls (ctypes, by the Python
    // package's declarations).
    const native = JSON.parse(execFileSync('python3', ['-c', `
import ctypes, json, time
from varlobooks import _native as n
lib = n.lib()
module = ctypes.c_void_p()
assert lib.varlobooks_module_open(None, ctypes.byref(module)) == 0
box = (ctypes.c_double * 6)(*${JSON.stringify(benchBox)})
books = 0
began = time.perf_counter()
for i in range(${benchRuns}):
    session = ctypes.c_void_p()
    lib.varlobooks_session_new(module, None, ctypes.byref(session))
    assert lib.varlobooks_session_fill(session, box, i, None, 0) == 0
    summary = n.Summary()
    lib.varlobooks_session_summary(session, ctypes.byref(summary), None)
    books += summary.books
    lib.varlobooks_session_free(session)
print(json.dumps({"books": books, "seconds": time.perf_counter() - began}))
`], { env: { ...process.env, PYTHONPATH: pythonPath } }).toString());
    const webRate = web.books / web.seconds;
    const nativeRate = native.books / native.seconds;
    check(web.books === native.books, `both filled the same ${web.books} books in ${benchRuns} shelves`);
    console.log(`figures: ready ${readyMs} ms; fill ${Math.round(webRate)} books/s in the browser, ` +
      `${Math.round(nativeRate)} native: ${(webRate / nativeRate).toFixed(2)} of native`);

    check(errors.length === 0, `no console errors or failed requests${errors.length ? ': ' + errors.join('; ') : ''}`);
  } finally {
    await within(20, browser.close(), 'closing the browser').catch((error) => {
      console.error(`${error.message}: killed`);
      browser.process().kill('SIGKILL');
    });
    server.close();
  }
})().then(() => {
  console.log(`done (${elapsed()})`);
  process.exit(0);
}, (error) => {
  console.error(`FAILED (${elapsed()}): ${error.message}`);
  process.exit(1);
});
