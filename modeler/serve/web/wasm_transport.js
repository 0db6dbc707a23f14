// The page's host in-process, for the page served as static files: the
// tool and the host library compiled to WebAssembly (varlobooks.js and
// .wasm), answering the page's requests as modeler serve answers them,
// route for route and byte for byte, so that the page itself is the same.
// Cover images live in the program's in-memory file system: the sample
// covers under /images/samples, each folder the person picks beside them.
import createVarlobooks from './varlobooks.js';
import { zipSync } from './fflate.js';

const OK = 0;
const objectName = 'bookshelf';
const imageRoot = '/images';
const samples = 'samples';
const imageTypes = { '.png': 'image/png', '.jpg': 'image/jpeg', '.jpeg': 'image/jpeg', '.gif': 'image/gif', '.bmp': 'image/bmp' };
// A picked folder's images, as the server would serve them: no larger.
const largestImage = 64 << 20;

// Loads the program, the sample covers and the module linked into it.
export async function openInProcess() {
  const [wasm, covers] = await Promise.all([
    createVarlobooks(),
    fetch('covers/index.json').then((r) => (r.ok ? r.json() : [])).catch(() => []),
  ]);
  const host = new InProcessHost(wasm);
  wasm.FS.mkdir(imageRoot);
  wasm.FS.mkdir(`${imageRoot}/${samples}`);
  const fetched = await Promise.all(covers.map(async (name) => {
    const response = await fetch(`covers/${encodeURIComponent(name)}`);
    return { name, bytes: response.ok ? new Uint8Array(await response.arrayBuffer()) : null };
  }));
  // The tool takes a folder's files in the order the file system lists
  // them, which here is the order they were written: by name, so that a
  // session (a link) chooses the same covers in every browser.
  for (const { name, bytes } of fetched.sort(byName)) {
    if (bytes) wasm.FS.writeFile(`${imageRoot}/${samples}/${name}`, bytes);
  }
  host.openModule();
  return host;
}

function byName(a, b) {
  return a.name < b.name ? -1 : a.name > b.name ? 1 : 0;
}

function reply(body, status = 200, headers = {}) {
  return new Response(body, { status, headers });
}

function failure(status, reason) {
  // As the server: never more than a short piece of what was sent.
  const shown = reason.length > 400 ? `${reason.slice(0, 400)} ...` : reason;
  return reply(JSON.stringify({ error: shown }), status, { 'Content-Type': 'application/json' });
}

function attachment(name) {
  return `attachment; filename="${name}"`;
}

class InProcessHost {
  constructor(wasm) {
    this.wasm = wasm;
    this.module = 0;
    this.page = 0;
    this.token = null;
    this.encoder = new TextEncoder();
  }

  // ---- C strings and out-parameters over the program's memory ----------

  text(pointer) {
    return pointer ? this.wasm.UTF8ToString(pointer) : '';
  }

  // Calls fn with each text copied into the program's memory (null stays
  // the null pointer), and frees them after.
  withTexts(texts, fn) {
    const pointers = texts.map((t) => {
      if (t === null || t === undefined) return 0;
      const size = this.wasm.lengthBytesUTF8(t) + 1;
      const p = this.wasm._malloc(size);
      this.wasm.stringToUTF8(t, p, size);
      return p;
    });
    try {
      return fn(...pointers);
    } finally {
      for (const p of pointers) if (p) this.wasm._free(p);
    }
  }

  // Calls fn with room for `words` 32-bit out-values; returns fn's result
  // and the words.
  withOut(words, fn) {
    const room = this.wasm._malloc(4 * words);
    this.wasm.HEAPU32.fill(0, room >> 2, (room >> 2) + words);
    try {
      const result = fn(room);
      return { result, out: Array.from(this.wasm.HEAPU32.subarray(room >> 2, (room >> 2) + words)) };
    } finally {
      this.wasm._free(room);
    }
  }

  bytes(pointer, size) {
    return this.wasm.HEAPU8.slice(pointer, pointer + size);
  }

  openModule() {
    const { result, out } = this.withOut(1, (slot) => this.wasm._varlobooks_module_open(0, slot));
    this.module = out[0];
    if (result !== OK) throw new Error(this.text(this.wasm._varlobooks_module_error(this.module)));
  }

  pageError() {
    return this.text(this.wasm._varlobooks_page_error(this.page));
  }

  // ---- the image folders ---------------------------------------------------

  // Places a folder the person picked (the files of an <input
  // webkitdirectory>) beside the samples; returns its name as the form
  // offers it, or null when it held no image.
  async addFolder(files) {
    const FS = this.wasm.FS;
    const list = Array.from(files).filter((file) => {
      const dot = file.name.lastIndexOf('.');
      return dot > 0 && imageTypes[file.name.slice(dot).toLowerCase()] && file.size <= largestImage;
    });
    if (!list.length) return null;
    // A folder's files carry their path under it; files picked one by one
    // go to a folder of their own.
    const top = list[0].webkitRelativePath ? list[0].webkitRelativePath.split('/')[0] : 'picked';
    let name = top.replace(/["\r\n]/g, '_');
    for (let n = 2; name === samples || FS.analyzePath(`${imageRoot}/${name}`).exists; ++n) name = `${top} (${n})`;
    const relative = (file) => file.webkitRelativePath || file.name;
    list.sort((a, b) => byName({ name: relative(a) }, { name: relative(b) }));
    for (const file of list) {
      const parts = file.webkitRelativePath ? file.webkitRelativePath.split('/').slice(1) : [file.name];
      let folder = `${imageRoot}/${name}`;
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
      for (const part of parts.slice(0, -1)) {
        folder += `/${part}`;
        if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
      }
      FS.writeFile(`${folder}/${parts[parts.length - 1]}`, new Uint8Array(await file.arrayBuffer()));
    }
    return name;
  }

  // ---- the routes of modeler serve ----------------------------------------

  async fetch(url, { method = 'GET', body = null } = {}) {
    const where = new URL(url, 'http://page/');
    const path = where.pathname;
    try {
      if (path === '/api/start' && method === 'POST') return this.start(body, where);
      if (!this.page) return failure(409, 'the page has not started the tool');
      const handler = this.routes(path, method, body, where);
      if (handler) return handler();
      return failure(404, 'no such page or file');
    } catch (error) {
      // The program aborts only on a fault of its own: say so, as a 500.
      return failure(500, `the host failed: ${error.message || error}`);
    }
  }

  routes(path, method, body, where) {
    const w = this.wasm;
    const page = this.page;
    const have = where.searchParams.get('have');
    const frame = () => this.frame(have);
    const texture = /^\/api\/texture\/(\d{1,6})$/.exec(path);
    const download = /^\/api\/download\/([a-z]+)$/.exec(path);
    if (method === 'POST' && (path === '/api/undo' || path === '/api/redo')) {
      return () => {
        const status = path === '/api/undo' ? w._varlobooks_page_undo(page) : w._varlobooks_page_redo(page);
        return status === OK ? frame() : failure(409, this.pageError());
      };
    }
    if (method === 'GET' && path === '/api/state') return frame;
    if (method === 'POST' && path === '/api/action') {
      return () => {
        const gesture = where.searchParams.get('gesture') || '';
        if (gesture && gesture !== 'begin') return failure(400, `gesture is begin or absent, not "${gesture}"`);
        const line = body || '';
        if (line.includes('\0')) return failure(400, 'expected one line of text');
        const status = this.withTexts([line], (l) => w._varlobooks_page_act(page, l, gesture === 'begin' ? 1 : 0));
        return status === OK ? frame() : failure(400, this.pageError());
      };
    }
    if (method === 'POST' && path === '/api/leave') {
      return () => (w._varlobooks_page_leave(page) === OK ? frame() : failure(409, this.pageError()));
    }
    if (method === 'POST' && path === '/api/form') {
      return () => {
        const expected = 'expected {"folder": NAME} or {"cancel": true}';
        let answer;
        try {
          answer = JSON.parse(body);
        } catch (e) {
          return failure(400, expected);
        }
        if (!answer || typeof answer !== 'object') return failure(400, expected);
        let folder = null;
        if (typeof answer.folder === 'string') folder = answer.folder;
        else if (answer.cancel !== true) return failure(400, expected);
        if (folder !== null && folder.includes('\0')) return failure(400, 'a folder name holds no NUL');
        const status = this.withTexts([folder], (f) => w._varlobooks_page_answer_form(page, f));
        return status === OK ? frame() : failure(400, this.pageError());
      };
    }
    if (method === 'GET' && texture) return () => this.texture(Number(texture[1]));
    if (method === 'GET' && download) return () => this.download(download[1]);
    if (method === 'GET' && path === '/api/session') {
      return () => reply(this.text(w._varlobooks_page_session_text(page)), 200, {
        'Content-Type': 'text/plain; charset=utf-8',
        'Content-Disposition': attachment(`${objectName}.session`),
      });
    }
    return null;
  }

  // A fresh page, or one with its session played again: {session, steps}.
  start(body, where) {
    const w = this.wasm;
    let saved = null;
    if (body) {
      const expected = 'expected {"session": TEXT, "steps": [N, ...]}';
      try {
        saved = JSON.parse(body);
      } catch (e) {
        return failure(400, expected);
      }
      if (!saved || typeof saved.session !== 'string' || saved.session.includes('\0')) return failure(400, expected);
      const steps = saved.steps || [];
      if (!Array.isArray(steps) || !steps.every((s) => Number.isSafeInteger(s) && s >= 0)) return failure(400, expected);
      saved.steps = steps;
    }
    if (this.page) w._varlobooks_page_free(this.page);
    const { result, out } = this.withTexts([imageRoot, objectName], (images, name) =>
      this.withOut(1, (slot) => w._varlobooks_page_new(this.module, images, name, slot)));
    this.page = out[0];
    this.token = Array.from(crypto.getRandomValues(new Uint8Array(16)), (b) => b.toString(16).padStart(2, '0')).join('');
    if (result !== OK) return failure(500, this.pageError());
    if (saved) {
      const stepsRoom = w._malloc(4 * Math.max(1, saved.steps.length));
      w.HEAPU32.set(saved.steps, stepsRoom >> 2);
      const status = this.withTexts([saved.session], (text) =>
        w._varlobooks_page_replay(this.page, text, stepsRoom, saved.steps.length));
      w._free(stepsRoom);
      if (status !== OK) return failure(422, `the page's session could not be played again: ${this.pageError()}`);
    }
    return this.frame(where.searchParams.get('have'));
  }

  // What the page shows next, as the server frames it: u32 length, the
  // state's JSON, then the mesh when the page does not hold the current one.
  frame(have) {
    const w = this.wasm;
    const page = this.page;
    let text = this.text(w._varlobooks_page_state(page));
    const version = w._varlobooks_page_mesh_version(page);
    const withMesh = w._varlobooks_page_shows_tool(page) !== 0 && (have === null || !/^\d{1,19}$/.test(have) || BigInt(have) !== version);
    let mesh = new Uint8Array(0);
    if (withMesh) {
      const { result, out } = this.withOut(2, (slot) => w._varlobooks_page_mesh(page, slot, slot + 4));
      if (result !== OK) return failure(500, this.pageError());
      mesh = this.bytes(out[0], out[1]);
    }
    text = text.slice(0, -1);
    if (text.length > 1) text += ',';
    text += `"mesh":${withMesh},"workspace":"${this.token}"}`;
    let json = this.encoder.encode(text);
    const padding = (4 - (json.length % 4)) % 4;
    if (padding) json = this.encoder.encode(text + ' '.repeat(padding));
    const frame = new Uint8Array(4 + json.length + mesh.length);
    new DataView(frame.buffer).setUint32(0, json.length, true);
    frame.set(json, 4);
    frame.set(mesh, 4 + json.length);
    return reply(frame);
  }

  texture(index) {
    const w = this.wasm;
    const { result, out } = this.withOut(5, (image) => w._varlobooks_page_texture(this.page, index, image));
    if (result !== OK) return failure(404, 'no such texture');
    return reply(this.bytes(out[3], out[4]), 200, { 'Content-Type': this.text(out[1]) });
  }

  // An export of one file as itself; with companions (OBJ, glTF), one zip
  // of them all, as the server sends it.
  download(format) {
    const w = this.wasm;
    const made = this.withTexts([format], (f) => this.withOut(1, (slot) => w._varlobooks_page_download(this.page, f, slot)));
    const files = made.out[0];
    if (made.result !== OK) {
      if (files) w._varlobooks_files_free(files);
      return failure(400, this.pageError());
    }
    try {
      const list = [];
      const count = w._varlobooks_files_count(files);
      for (let i = 0; i < count; ++i) {
        const { result, out } = this.withOut(3, (slot) => w._varlobooks_files_get(files, i, slot, slot + 4, slot + 8));
        if (result !== OK) return failure(500, 'cannot read the export');
        list.push({ name: this.text(out[0]), bytes: this.bytes(out[1], out[2]) });
      }
      const name = `${objectName}.${format}`;
      const types = { json: 'application/json', glb: 'model/gltf-binary' };
      if (list.length === 1 && types[format]) {
        return reply(list[0].bytes, 200, { 'Content-Type': types[format], 'Content-Disposition': attachment(list[0].name) });
      }
      const entries = {};
      for (const file of list.sort(byName)) entries[file.name] = file.bytes;
      return reply(zipSync(entries), 200, { 'Content-Type': 'application/zip', 'Content-Disposition': attachment(`${name}.zip`) });
    } finally {
      w._varlobooks_files_free(files);
    }
  }
}
