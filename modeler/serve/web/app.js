// The page of modeler serve: four views of the host's layer, the tool's
// preview and handles drawn as the host recorded them, the tool's own panel,
// and every action sent to the host as one session line. The page knows
// nothing of what the tool makes: it shows what the host holds.
import * as THREE from './three.module.min.js';
import { Orbit } from './orbit.js';

const $ = (id) => document.getElementById(id);

// ---- talking to the host ----------------------------------------------
// Over HTTP to modeler serve, or (the page served as static files) to the
// host compiled to WebAssembly in this page, which answers the same
// requests with the same bytes.

const inProcess = document.documentElement.dataset.transport === 'wasm';
let transport = { fetch: (url, options) => fetch(url, options) };
if (inProcess) {
  try {
    $('status').textContent = 'loading the tool...';
    transport = await (await import('./wasm_transport.js')).openInProcess();
  } catch (error) {
    $('status').textContent = `the tool could not be loaded: ${error.message || error}`;
    throw error;
  }
}

const link = { token: null, meshVersion: 0, inFlight: 0, queued: 0 };

class HostError extends Error {}

// A frame: u32 length of the state's JSON, the JSON, then the mesh when the
// state says one follows.
function readFrame(buffer) {
  const view = new DataView(buffer);
  const length = view.getUint32(0, true);
  const state = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
  const mesh = state.mesh ? readMesh(buffer, 4 + length) : null;
  return { state, mesh };
}

function readMesh(buffer, offset) {
  const view = new DataView(buffer, offset);
  const vertices = view.getUint32(0, true);
  const groupCount = view.getUint32(4, true);
  const groups = [];
  let at = 8;
  let indexCount = 0;
  for (let g = 0; g < groupCount; ++g, at += 12) {
    const group = {
      material: view.getUint32(at, true),
      start: view.getUint32(at + 4, true),
      count: view.getUint32(at + 8, true),
    };
    indexCount += group.count;
    groups.push(group);
  }
  at += offset;
  const positions = new Float32Array(buffer, at, vertices * 3);
  at += vertices * 12;
  const normals = new Float32Array(buffer, at, vertices * 3);
  at += vertices * 12;
  const uvs = new Float32Array(buffer, at, vertices * 2);
  at += vertices * 8;
  const indices = new Uint32Array(buffer, at, indexCount);
  return { positions, normals, uvs, indices, groups };
}

async function call(method, path, { body, params = {} } = {}) {
  const query = new URLSearchParams({ have: String(link.meshVersion), ...params });
  const headers = {};
  if (link.token) headers['X-Workspace'] = link.token;
  link.inFlight += 1;
  try {
    return await exchange(method, `${path}?${query}`, body, headers);
  } finally {
    link.inFlight -= 1;
  }
}

async function exchange(method, url, body, headers) {
  const response = await transport.fetch(url, { method, body, headers });
  if (!response.ok) {
    let reason = `${response.status} ${response.statusText}`;
    try {
      reason = (await response.json()).error || reason;
    } catch (e) { /* the reason stays the status */ }
    if (response.status === 409 && /another page has taken over/.test(reason)) showTakenOver();
    throw new HostError(reason);
  }
  const frame = readFrame(await response.arrayBuffer());
  link.token = frame.state.workspace;
  show(frame);
  return frame;
}

// Starts the tool afresh, or with a saved session played again (a reload,
// or taking the tool back from another page).
async function start(saved = null) {
  link.token = null;
  link.meshVersion = 0;
  say('');
  $('taken').hidden = true;
  if (saved) {
    try {
      await call('POST', '/api/start', { body: JSON.stringify(saved) });
      frameAll();
      return;
    } catch (error) {
      say(`${error.message}: starting an empty scene`, 'error');
    }
  }
  await call('POST', '/api/start');
  frameAll();
}

// ---- the page's session, kept in this tab ------------------------------
// sessionStorage lives as long as the tab, a reload included: the session
// and its undo steps are kept there after each step, and played again on
// a reload. Sessions replay to the same bytes, so nothing is lost.

const storageKey = 'varlobooks-session';
const saving = { actions: -1, timer: 0, downloaded: -1 };

function savedSession() {
  try {
    const saved = JSON.parse(sessionStorage.getItem(storageKey) || 'null');
    return saved && typeof saved.session === 'string' ? saved : null;
  } catch (e) {
    return null;
  }
}

function saveSoon() {
  clearTimeout(saving.timer);
  saving.timer = setTimeout(saveNow, 250);
}

async function saveNow() {
  if (!lastState || lastState.actions === saving.actions || !link.token) return;
  if (!window.modelerPage.idle()) return saveSoon();
  try {
    const response = await transport.fetch('/api/session', { headers: { 'X-Workspace': link.token } });
    if (!response.ok) return;
    const session = await response.text();
    sessionStorage.setItem(storageKey, JSON.stringify({ session, steps: lastState.steps || [] }));
    saving.actions = lastState.actions;
  } catch (e) { /* kept as it was */ }
}

// Leaving the page with work that was not downloaded asks first.
window.addEventListener('beforeunload', (event) => {
  if (lastState && lastState.actions > 2 && lastState.actions !== saving.downloaded) {
    event.preventDefault();
    event.returnValue = '';
  }
});

// Another page took the tool: this one says so plainly and offers to take
// it back with its own session.
function showTakenOver() {
  $('taken').hidden = false;
}

// ---- the scene --------------------------------------------------------

const canvas = $('canvas');
const renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
renderer.setPixelRatio(window.devicePixelRatio);
renderer.setScissorTest(true);
const scene = new THREE.Scene();
scene.add(new THREE.HemisphereLight(0xffffff, 0x444450, 1.6));
const sun = new THREE.DirectionalLight(0xffffff, 1.8);
sun.position.set(2, 4, 3);
scene.add(sun);

// The host's model space is left-handed: its z is the world's -z here,
// as in the exports.
const toWorld = (p) => new THREE.Vector3(p[0], p[1], -p[2]);
const toModel = (v) => [v.x, v.y, -v.z];

let layerMesh = null;
let materials = [];
const textureCache = new Map();

function materialFor(description) {
  const material = new THREE.MeshStandardMaterial({ roughness: 0.85, side: THREE.DoubleSide });
  material.color.setRGB(...description.colour);
  if (description.texture !== null) {
    const key = `${link.meshVersion}:${description.texture}`;
    if (!textureCache.has(key)) {
      const texture = new THREE.Texture();
      texture.colorSpace = THREE.SRGBColorSpace;
      texture.wrapS = texture.wrapT = THREE.ClampToEdgeWrapping;
      loadTexture(`/api/texture/${description.texture}?w=${link.token}&v=${link.meshVersion}`, texture);
      textureCache.set(key, texture);
    }
    material.map = textureCache.get(key);
  }
  return material;
}

// A cover's image, fetched through the transport and shown once decoded.
async function loadTexture(url, texture) {
  try {
    const response = await transport.fetch(url, { headers: { 'X-Workspace': link.token } });
    if (!response.ok) return;
    texture.image = await createImageBitmap(await response.blob(), { imageOrientation: 'flipY' });
    texture.flipY = false;  // flipped while decoded: a bitmap cannot be flipped on upload
    texture.needsUpdate = true;
    requestRender();
  } catch (e) { /* the cover stays its colour */ }
}

function showMesh(mesh, state) {
  if (layerMesh) {
    scene.remove(layerMesh);
    layerMesh.geometry.dispose();
  }
  for (const m of materials) m.dispose();
  textureCache.clear();
  materials = state.materials.map(materialFor);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.BufferAttribute(mesh.positions, 3));
  geometry.setAttribute('normal', new THREE.BufferAttribute(mesh.normals, 3));
  geometry.setAttribute('uv', new THREE.BufferAttribute(mesh.uvs, 2));
  geometry.setIndex(new THREE.BufferAttribute(mesh.indices, 1));
  for (const g of mesh.groups) geometry.addGroup(g.start, g.count, g.material);
  geometry.computeBoundingSphere();
  layerMesh = new THREE.Mesh(geometry, materials);
  scene.add(layerMesh);
}

// The preview as recorded: pen moves, lines (solid or dashed) and circles
// around the pen, which face each view as it is drawn.
const preview = new THREE.Group();
scene.add(preview);
const circles = [];

function showDrawing(drawing) {
  for (const child of [...preview.children]) {
    preview.remove(child);
    child.geometry.dispose();
  }
  circles.length = 0;
  const segments = [[], []];
  let pen = null;
  for (const item of drawing) {
    if (item.kind === 'moveTo') {
      pen = toWorld(item.point);
    } else if (item.kind === 'lineTo') {
      const to = toWorld(item.point);
      if (pen) segments[item.style === 1 ? 1 : 0].push(pen, to);
      pen = to;
    } else if (item.kind === 'circle' && pen) {
      const points = [];
      for (let i = 0; i < 48; ++i) {
        const a = (i / 48) * Math.PI * 2;
        points.push(new THREE.Vector3(Math.cos(a) * item.radius, Math.sin(a) * item.radius, 0));
      }
      const loop = new THREE.LineLoop(new THREE.BufferGeometry().setFromPoints(points),
        item.style === 1 ? wireDashed : wireSolid);
      if (item.style === 1) loop.computeLineDistances();
      loop.position.copy(pen);
      preview.add(loop);
      circles.push(loop);
    }
  }
  segments.forEach((points, style) => {
    if (!points.length) return;
    const lines = new THREE.LineSegments(new THREE.BufferGeometry().setFromPoints(points),
      style ? wireDashed : wireSolid);
    if (style) lines.computeLineDistances();
    lines.renderOrder = 2;
    preview.add(lines);
  });
}

const wireSolid = new THREE.LineBasicMaterial({ color: 0xffd54a, depthTest: false, transparent: true });
const wireDashed = new THREE.LineDashedMaterial({
  color: 0xffd54a, dashSize: 0.02, gapSize: 0.015, depthTest: false, transparent: true,
});

let handles = [];
const handlePoints = new THREE.Points(new THREE.BufferGeometry(), new THREE.PointsMaterial({
  color: 0x4fc3f7, size: 9, sizeAttenuation: false, depthTest: false, transparent: true,
}));
handlePoints.renderOrder = 3;
scene.add(handlePoints);

function showHandles(list) {
  // Before the first press the tool puts every handle at one point (its box
  // has no size yet): none is shown, so that a first press is never taken
  // as a drag of one of them.
  const first = list[0] && list[0].position;
  const sized = list.some((h) => h.position.some((v, i) => v !== first[i]));
  handles = (sized ? list : []).map((h) => ({ ...h, world: toWorld(h.position) }));
  handlePoints.geometry.dispose();
  handlePoints.geometry = new THREE.BufferGeometry().setFromPoints(handles.map((h) => h.world));
}

// ---- the four views ----------------------------------------------------

// viewAxis: the model axis a view looks along (0 X, 1 Y, 2 Z), -1 for none.
function orthoView(name, viewAxis, offset, up, grid) {
  const camera = new THREE.OrthographicCamera(-1, 1, 1, -1, -1000, 1000);
  camera.up.copy(up);
  return { name, viewAxis, camera, offset, center: new THREE.Vector3(0.5, 0.3, -0.2), half: 1, grid };
}

function gridIn(plane, layer) {
  const grid = new THREE.GridHelper(20, 80, 0x5a5e66, 0x3a3d42);
  if (plane === 'xy') grid.rotation.x = Math.PI / 2;
  if (plane === 'zy') grid.rotation.z = Math.PI / 2;
  grid.layers.set(layer);
  scene.add(grid);
  return grid;
}

const views = [
  orthoView('Top', 1, new THREE.Vector3(0, 100, 0), new THREE.Vector3(0, 0, -1), gridIn('xz', 1)),
  { name: 'Perspective', viewAxis: -1, camera: new THREE.PerspectiveCamera(40, 1, 0.01, 500) },
  orthoView('Front', 2, new THREE.Vector3(0, 0, 100), new THREE.Vector3(0, 1, 0), gridIn('xy', 2)),
  orthoView('Side', 0, new THREE.Vector3(100, 0, 0), new THREE.Vector3(0, 1, 0), gridIn('zy', 3)),
];
const perspective = views[1];
perspective.camera.position.set(2.2, 1.6, 2.4);
perspective.orbit = new Orbit(perspective.camera, new THREE.Vector3(0.5, 0.3, -0.2));
views[0].camera.layers.enable(1);
perspective.camera.layers.enable(1);
views[2].camera.layers.enable(2);
views[3].camera.layers.enable(3);

function viewRect(index) {
  const w = canvas.clientWidth, h = canvas.clientHeight;
  const col = index % 2, row = Math.floor(index / 2);
  const x = col ? Math.floor(w / 2) : 0, y = row ? Math.floor(h / 2) : 0;
  return { x, y, width: col ? w - x : Math.floor(w / 2), height: row ? h - y : Math.floor(h / 2) };
}

function placeCamera(view, rect) {
  const aspect = rect.width / Math.max(1, rect.height);
  if (view.viewAxis < 0) {
    view.camera.aspect = aspect;
    view.camera.updateProjectionMatrix();
    return;
  }
  const c = view.camera;
  c.left = -view.half * aspect;
  c.right = view.half * aspect;
  c.top = view.half;
  c.bottom = -view.half;
  c.position.copy(view.center).add(view.offset);
  c.lookAt(view.center);
  c.updateProjectionMatrix();
  c.updateMatrixWorld();
}

let renderQueued = false;
function requestRender() {
  if (renderQueued) return;
  renderQueued = true;
  requestAnimationFrame(render);
}

function render() {
  renderQueued = false;
  const w = canvas.clientWidth, h = canvas.clientHeight;
  if (canvas.width !== Math.floor(w * devicePixelRatio) || canvas.height !== Math.floor(h * devicePixelRatio))
    renderer.setSize(w, h, false);
  views.forEach((view, index) => {
    const rect = viewRect(index);
    placeCamera(view, rect);
    for (const loop of circles) loop.quaternion.copy(view.camera.quaternion);
    const y = h - rect.y - rect.height;
    renderer.setViewport(rect.x, y, rect.width, rect.height);
    renderer.setScissor(rect.x, y, rect.width, rect.height);
    renderer.setClearColor(index === 1 ? 0x34373b : 0x2e3034);
    renderer.clear();
    renderer.render(scene, view.camera);
  });
}

function frameAll() {
  const box = new THREE.Box3();
  if (layerMesh) box.expandByObject(layerMesh);
  for (const h of handles) box.expandByPoint(h.world);
  if (box.isEmpty()) box.set(new THREE.Vector3(-0.5, 0, -0.5), new THREE.Vector3(1, 0.5, 0.5));
  const center = box.getCenter(new THREE.Vector3());
  // Never closer than a metre or so across: a new box needs room to grow.
  const radius = Math.max(0.75, box.getSize(new THREE.Vector3()).length() / 2);
  for (const view of views) {
    if (view.viewAxis < 0) {
      view.orbit.frame(center, radius);
    } else {
      view.center.copy(center);
      view.half = radius * 1.3;
    }
  }
  requestRender();
}

new ResizeObserver(requestRender).observe(canvas);

// ---- pointer: presses, handle drags, panning ----------------------------

function viewAt(event) {
  const bounds = canvas.getBoundingClientRect();
  const px = event.clientX - bounds.left, py = event.clientY - bounds.top;
  for (let i = 0; i < views.length; ++i) {
    const r = viewRect(i);
    if (px >= r.x && px < r.x + r.width && py >= r.y && py < r.y + r.height) {
      const ndc = new THREE.Vector2(((px - r.x) / r.width) * 2 - 1, -((py - r.y) / r.height) * 2 + 1);
      return { index: i, view: views[i], rect: r, ndc, px, py };
    }
  }
  return null;
}

// The point under the pointer on the plane through `through` that faces
// the view (ortho views: across the view axis; perspective: the camera).
function pointOnPlane(hit, through, ground = false) {
  const { view, ndc } = hit;
  placeCamera(view, hit.rect);
  const ray = new THREE.Raycaster();
  ray.setFromCamera(ndc, view.camera);
  let normal;
  if (view.viewAxis >= 0) {
    normal = new THREE.Vector3().setComponent(view.viewAxis, 1);
  } else if (ground) {
    normal = new THREE.Vector3(0, 1, 0);
  } else {
    normal = view.camera.getWorldDirection(new THREE.Vector3());
  }
  const plane = new THREE.Plane().setFromNormalAndCoplanarPoint(normal, through);
  return ray.ray.intersectPlane(plane, new THREE.Vector3());
}

// The handle under the pointer: within 8 pixels, the highest priority first.
function handleAt(hit) {
  placeCamera(hit.view, hit.rect);
  let best = null;
  handles.forEach((h, index) => {
    const s = h.world.clone().project(hit.view.camera);
    const dx = ((s.x - hit.ndc.x) * hit.rect.width) / 2, dy = ((s.y - hit.ndc.y) * hit.rect.height) / 2;
    const d = Math.hypot(dx, dy);
    if (d > 8 || s.z < -1 || s.z > 1) return;
    if (!best || h.priority > best.priority || (h.priority === best.priority && d < best.d))
      best = { index, priority: h.priority, d };
  });
  return best;
}

const number = (v) => (Object.is(v, -0) ? '0' : String(v));
const pointText = (p) => p.map(number).join(' ');
const axisName = (axis) => (axis < 0 ? 'none' : 'XYZ'[axis]);

// Handle drags: at most one move in flight, later ones coalesced into the
// newest, so that the host always works on where the pointer is now.
const dragSend = { inFlight: false, pending: null };

function sendDragLine(line, begins) {
  if (dragSend.inFlight) {
    dragSend.pending = { line, begins: begins || (dragSend.pending && dragSend.pending.begins) };
    return;
  }
  dragSend.inFlight = true;
  act(line, begins).finally(() => {
    dragSend.inFlight = false;
    const next = dragSend.pending;
    dragSend.pending = null;
    if (next) sendDragLine(next.line, next.begins);
  });
}

let gesture = null;

canvas.addEventListener('contextmenu', (e) => e.preventDefault());
canvas.addEventListener('pointerdown', (event) => {
  const hit = viewAt(event);
  if (!hit) return;
  canvas.setPointerCapture(event.pointerId);
  if (event.button !== 0) {
    gesture = { kind: 'navigate', hit, last: [event.clientX, event.clientY], shift: event.shiftKey };
    return;
  }
  if (!link.token || busyLeaving) return;
  if (!lastState || !lastState.inUse) {
    say('the tool was left: start a new scene to use it again', 'warning');
    return;
  }
  const handle = handleAt(hit);
  if (handle) {
    const grabbed = handles[handle.index];
    gesture = {
      kind: 'drag', hit, handle: handle.index, from: grabbed.world.clone(), plane: grabbed.world.clone(),
      begun: false, hold: null, startX: event.clientX, startY: event.clientY,
    };
    return;
  }
  const at = pointOnPlane(hit, new THREE.Vector3(0, 0, 0), true);
  if (!at) return;
  gesture = { kind: 'press', hit, start: [event.clientX, event.clientY], at };
  act(`press ${pointText(toModel(at))}`, true);
});

canvas.addEventListener('pointermove', (event) => {
  if (!gesture) return;
  if (gesture.kind === 'navigate') {
    const dx = event.clientX - gesture.last[0], dy = event.clientY - gesture.last[1];
    gesture.last = [event.clientX, event.clientY];
    const { view, rect } = gesture.hit;
    if (view.viewAxis < 0) {
      if (gesture.shift) view.orbit.pan(dx, dy, rect.height);
      else view.orbit.rotate(dx, dy);
    } else {
      const perPixel = (2 * view.half) / rect.height;
      const right = new THREE.Vector3().setFromMatrixColumn(view.camera.matrix, 0);
      const up = new THREE.Vector3().setFromMatrixColumn(view.camera.matrix, 1);
      view.center.addScaledVector(right, -dx * perPixel).addScaledVector(up, dy * perPixel);
    }
    requestRender();
    return;
  }
  const hit = { ...gesture.hit, ...viewAt(event), view: gesture.hit.view, rect: gesture.hit.rect };
  const r = gesture.hit.rect, bounds = canvas.getBoundingClientRect();
  hit.ndc = new THREE.Vector2(((event.clientX - bounds.left - r.x) / r.width) * 2 - 1,
    -((event.clientY - bounds.top - r.y) / r.height) * 2 + 1);
  if (gesture.kind === 'press') {
    const band = $('band');
    const x0 = gesture.start[0] - bounds.left, y0 = gesture.start[1] - bounds.top;
    const x1 = event.clientX - bounds.left, y1 = event.clientY - bounds.top;
    Object.assign(band.style, {
      left: `${Math.min(x0, x1)}px`, top: `${Math.min(y0, y1)}px`,
      width: `${Math.abs(x1 - x0)}px`, height: `${Math.abs(y1 - y0)}px`,
    });
    band.hidden = false;
    gesture.lastHit = hit;
    return;
  }
  const at = pointOnPlane(hit, gesture.plane);
  if (!at) return;
  const model = toModel(at);
  const view = gesture.hit.view;
  let line = `drag ${gesture.handle} ${pointText(model)} view ${axisName(view.viewAxis)}`;
  if (event.shiftKey && view.viewAxis >= 0) {
    // Along one axis: the in-plane axis the pointer has moved less on is
    // held, chosen once for the drag (as modellers do) when the pointer has
    // moved far enough to tell.
    if (!gesture.hold) {
      const moved = toModel(at.clone().sub(gesture.from));
      const first = (view.viewAxis + 1) % 3, second = (view.viewAxis + 2) % 3;
      const along = Math.abs(moved[first]) - Math.abs(moved[second]);
      const pixels = Math.hypot(event.clientX - gesture.startX, event.clientY - gesture.startY);
      if (pixels >= 4 && along !== 0) gesture.hold = along < 0 ? 'first' : 'second';
    }
    if (gesture.hold) line += ` constrain hold ${gesture.hold}`;
  }
  sendDragLine(line, !gesture.begun);
  gesture.begun = true;
});

function endGesture(event) {
  if (!gesture) return;
  const g = gesture;
  gesture = null;
  $('band').hidden = true;
  if (g.kind === 'press' && g.lastHit) {
    const moved = Math.hypot(event.clientX - g.start[0], event.clientY - g.start[1]);
    if (moved < 4) return;
    // The far corner keeps the box's depth along the view's axis; in the
    // perspective view it lies on the ground. Its line is made when its turn
    // comes, after the press's answer has placed the box's handles: a quick
    // press and release on a slow link would otherwise use the old ones.
    act(() => {
      const far = handles.length > 7 ? handles[7].world : g.at;
      const axis = g.hit.view.viewAxis;
      const through = axis >= 0 ? far : new THREE.Vector3(0, g.at.y, 0);
      const at = pointOnPlane(g.lastHit, through, axis < 0);
      return at ? `move ${pointText(toModel(at))}` : null;
    }, false);
  }
}
canvas.addEventListener('pointerup', endGesture);
canvas.addEventListener('pointercancel', endGesture);

canvas.addEventListener('wheel', (event) => {
  event.preventDefault();
  const hit = viewAt(event);
  if (!hit) return;
  const factor = Math.exp(event.deltaY * 0.0015);
  if (hit.view.viewAxis < 0) hit.view.orbit.zoom(factor);
  else hit.view.half = Math.max(0.01, hit.view.half * factor);
  requestRender();
}, { passive: false });

window.addEventListener('keydown', (event) => {
  const typing = event.target instanceof HTMLInputElement || event.target instanceof HTMLSelectElement;
  if (event.key === 'f' && !typing) frameAll();
  if ((event.ctrlKey || event.metaKey) && !typing && event.key.toLowerCase() === 'z') {
    event.preventDefault();
    undoOrRedo(event.shiftKey ? 'redo' : 'undo');
  }
  if ((event.ctrlKey || event.metaKey) && !typing && event.key.toLowerCase() === 'y') {
    event.preventDefault();
    undoOrRedo('redo');
  }
});

// Undo and redo wait for the actions before them, as every action does.
function undoOrRedo(which) {
  link.queued += 1;
  const next = actionQueue.then(async () => {
    try {
      await call('POST', `/api/${which}`);
      say('');
    } catch (error) {
      say(error.message, 'error');
    }
  }).finally(() => { link.queued -= 1; });
  actionQueue = next.catch(() => {});
  return next;
}

// ---- actions and what comes back ---------------------------------------

let busyLeaving = false;
const timing = { last: 0 };

// Actions reach the host one after another, in the order they were made:
// a pull's move must not overtake the press before it.
let actionQueue = Promise.resolve();

// explain: when given, makes the message a person reads of a refusal.
// Resolves with whether the host took the action.
function act(line, beginsGesture, explain = null) {
  link.queued += 1;
  const next = actionQueue.then(() => actNow(line, beginsGesture, explain))
    .finally(() => { link.queued -= 1; });
  actionQueue = next.catch(() => {});
  return next;
}

// `line` is the session line, or a function that makes it (or null for
// nothing to send) when the actions before it have been answered.
async function actNow(line, beginsGesture, explain) {
  if (typeof line === 'function') line = line();
  if (line === null) return false;
  const began = performance.now();
  try {
    await call('POST', '/api/action', { body: line, params: beginsGesture ? { gesture: 'begin' } : {} });
    timing.last = performance.now() - began;
    if (!lastState.error) say('');
    return true;
  } catch (error) {
    say(explain && error instanceof HostError ? explain(error.message) : error.message, 'error');
    if (error instanceof HostError) await refresh();
    return false;
  }
}

async function refresh() {
  try {
    await call('GET', '/api/state');
  } catch (error) {
    say(error.message, 'error');
  }
}

function say(text, kind = '') {
  const message = $('message');
  message.textContent = text;
  message.className = kind;
}

let lastState = null;

function show({ state, mesh }) {
  lastState = state;
  if (mesh) {
    showMesh(mesh, state);
    link.meshVersion = state.meshVersion;
  }
  if (state.form) {
    showForm(state.form);
  } else {
    showHandles(state.handles || []);
    showDrawing(state.drawing || []);
    showPanel(state.panel);
  }
  const inUse = !!state.inUse;
  $('keep').disabled = $('discard').disabled = $('leave').disabled = !inUse;
  $('undo').disabled = !state.undo || !inUse;
  $('redo').disabled = !state.redo || !inUse;
  saveSoon();
  const parts = [inUse ? 'tool in use' : state.form ? 'leaving the tool' : 'tool left'];
  if (state.points !== undefined) parts.push(`${state.points} points, ${state.polygons} polygons`);
  parts.push(`${state.actions} actions`);
  if (timing.last) parts.push(`last answer ${timing.last.toFixed(1)} ms`);
  $('status').textContent = parts.join(' · ');
  if (state.error) say(state.error, 'error');
  showWarnings(state.warnings || []);
  document.body.dataset.version = String(state.meshVersion);
  requestRender();
}

// The host's warnings (a folder that gave no cover an image, a value past
// single precision), each once, newest last, until a new scene.
function showWarnings(warnings) {
  const list = $('warnings');
  if (list.childElementCount === warnings.length) return;
  list.replaceChildren(...warnings.map((text) => {
    const item = document.createElement('li');
    item.textContent = text;
    return item;
  }));
  list.hidden = !warnings.length;
  $('warnings-title').hidden = !warnings.length;
}

// ---- the tool's panel ------------------------------------------------

function quote(text) {
  return `"${text}"`;
}

function showPanel(panel) {
  const form = $('panel');
  const left = !!lastState && !lastState.inUse && !lastState.form;
  $('left').hidden = !left;
  if (!panel) {
    form.replaceChildren();
    $('panel-title').textContent = left ? 'The tool was left' : 'No panel';
    return;
  }
  $('panel-title').textContent = panel.title || 'Panel';
  const existing = new Map([...form.querySelectorAll('[data-label]')].map((e) => [e.dataset.label, e]));
  const same = existing.size === panel.controls.length && panel.controls.every((c) => existing.has(c.label));
  if (!same) {
    form.replaceChildren(...panel.controls.map(makeControl));
    return;
  }
  // Every field shows the value the tool holds, but while a person types in it.
  for (const control of panel.controls) {
    const input = existing.get(control.label);
    if (!input.dataset.typing) input.value = control.value;
  }
}

const isNumeric = (control) => !control.choices && control.type !== 'string';

// What an arrow key adds to a number: a step of its own size (0.01 for
// 0.08, 0.1 for 0.5), a degree for an angle, one for a whole number.
function stepFor(control, value) {
  if (control.class === 'integer' || control.class === 'angle') return 1;
  if (!value) return 0.01;
  return Math.pow(10, Math.floor(Math.log10(Math.abs(value))));
}

// A decimal comma is read as a point ("0,05" is 0.05), never dropped.
function typedNumber(text) {
  const trimmed = text.trim();
  return /^[-+]?\d*,\d+$/.test(trimmed) ? trimmed.replace(',', '.') : trimmed;
}

function valueOf(label) {
  const panel = lastState && lastState.panel;
  const control = panel && panel.controls.find((c) => c.label === label);
  return control ? control.value : null;
}

async function sendEdit(control, input) {
  delete input.dataset.typing;
  const value = isNumeric(control) ? typedNumber(input.value) : input.value;
  const before = valueOf(control.label);
  if (value.includes('"')) {
    say(`${control.label}: a value cannot hold a double quote; it stays ${before}`, 'error');
    input.value = before;
    return;
  }
  const ok = await act(`set ${quote(control.label)} ${quote(value)}`, false,
    (message) => (/expected /.test(message)
      ? `${control.label} takes ${control.kind}: "${value}" is not one, so it stays ${before}`
      : `${control.label}: ${message}`));
  const held = valueOf(control.label);
  if (ok && held !== null && held !== value && !(isNumeric(control) && Number(held) === Number(value)))
    say(`${control.label}: the tool holds ${held === '' ? 'nothing' : held}, not ${value}`, 'warning');
}

function makeControl(control) {
  const label = document.createElement('label');
  label.title = `${control.label}: ${control.kind}`;
  const name = document.createElement('span');
  name.textContent = control.label;
  let input;
  if (control.choices) {
    input = document.createElement('select');
    for (const choice of control.choices) input.append(new Option(choice, choice));
  } else {
    // Text, so that what a person types reaches the tool as typed: a number
    // field would drop "abc" or "0,05" to nothing.
    input = document.createElement('input');
    input.type = 'text';
    if (isNumeric(control)) input.inputMode = 'decimal';
    input.addEventListener('input', () => { input.dataset.typing = '1'; });
    input.addEventListener('keydown', (event) => {
      if (!isNumeric(control) || (event.key !== 'ArrowUp' && event.key !== 'ArrowDown')) return;
      event.preventDefault();
      const value = Number(typedNumber(input.value));
      if (!Number.isFinite(value)) return;
      const step = stepFor(control, value) * (event.shiftKey ? 10 : 1);
      const next = Math.round((value + (event.key === 'ArrowUp' ? step : -step)) / step) * step;
      input.value = number(Number(next.toPrecision(12)));
      sendEdit(control, input);
    });
  }
  input.dataset.label = control.label;
  input.value = control.value;
  input.addEventListener('change', () => sendEdit(control, input));
  label.append(name, input);
  return label;
}

$('panel').addEventListener('submit', (e) => e.preventDefault());

// ---- leaving: the tool's form as a dialog --------------------------------

function showForm(form) {
  const dialog = $('form-dialog');
  $('form-title').textContent = form.title;
  const fields = $('form-fields');
  fields.replaceChildren();
  for (const field of form.fields) {
    const label = document.createElement('label');
    const name = document.createElement('span');
    name.textContent = field.label;
    const select = document.createElement('select');
    select.id = 'form-folder';
    // In this page's own file system the image folder holds only folders.
    const folders = inProcess ? form.folders.filter((f) => f !== '.') : form.folders;
    for (const folder of folders) select.append(new Option(folder === '.' ? '(the image folder itself)' : folder, folder));
    if (!folders.length) select.append(new Option('no image folder was given to modeler serve', ''));
    select.disabled = !folders.length;
    if (pickedFolder && folders.includes(pickedFolder)) select.value = pickedFolder;
    label.append(name, select);
    fields.append(label);
    if (inProcess) fields.append(folderPicker());
  }
  $('form-ok').disabled = !fields.querySelector('select:not([disabled])');
  if (!dialog.open) dialog.showModal();
}

// The static page: a folder of the person's own images, read into the
// page's file system and offered with the sample covers.
let pickedFolder = null;
function folderPicker() {
  const label = document.createElement('label');
  label.className = 'pick';
  label.textContent = 'or your own images: ';
  const input = document.createElement('input');
  input.type = 'file';
  input.webkitdirectory = true;
  input.multiple = true;
  input.id = 'form-pick';
  input.addEventListener('change', async () => {
    const added = await transport.addFolder(input.files);
    if (!added) {
      say('that folder holds no PNG, JPEG, GIF or BMP image', 'error');
      return;
    }
    pickedFolder = added;
    await refresh();
  });
  label.append(input);
  return label;
}

$('form-dialog').addEventListener('close', async () => {
  const dialog = $('form-dialog');
  const folder = $('form-folder');
  const answer = dialog.returnValue === 'ok' && folder && folder.value ? { folder: folder.value } : { cancel: true };
  try {
    await call('POST', '/api/form', { body: JSON.stringify(answer) });
  } catch (error) {
    say(error.message, 'error');
    refresh();
  }
  busyLeaving = false;
});

// ---- buttons ------------------------------------------------------------

$('undo').addEventListener('click', () => undoOrRedo('undo'));
$('redo').addEventListener('click', () => undoOrRedo('redo'));
$('take-back').addEventListener('click', () => {
  start(savedSession()).catch((error) => say(error.message, 'error'));
});
$('keep').addEventListener('click', () => act('end keep', false));
$('discard').addEventListener('click', () => act('end discard', false));
$('leave').addEventListener('click', async () => {
  busyLeaving = true;
  try {
    const { state } = await call('POST', '/api/leave');
    if (!state.form) busyLeaving = false;
  } catch (error) {
    busyLeaving = false;
    say(error.message, 'error');
  }
});
$('restart').addEventListener('click', () => {
  if (lastState && lastState.actions > 2 && lastState.actions !== saving.downloaded &&
      !confirm('Start again? What is not downloaded is lost.')) return;
  sessionStorage.removeItem(storageKey);
  start(savedSession()).catch((error) => say(error.message, 'error'));
});
$('frame').addEventListener('click', frameAll);

for (const button of document.querySelectorAll('[data-download]')) {
  button.addEventListener('click', () => download(button.dataset.download));
}

// A download's bytes and file name, as the Download buttons get them.
async function fetchDownload(what) {
  const path = what === 'session' ? '/api/session' : `/api/download/${encodeURIComponent(what)}`;
  const response = await transport.fetch(path, { headers: { 'X-Workspace': link.token } });
  if (!response.ok) throw new Error((await response.json()).error);
  const name = /filename="([^"]+)"/.exec(response.headers.get('Content-Disposition') || '');
  return { name: name ? name[1] : what, blob: await response.blob() };
}

async function download(what) {
  try {
    const { name, blob } = await fetchDownload(what);
    const url = URL.createObjectURL(blob);
    if (lastState) saving.downloaded = lastState.actions;
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
  } catch (error) {
    say(`download: ${error.message}`, 'error');
  }
}

// For tests and the curious: the page's link to the host, and where a
// handle is on the screen in a view.
window.modelerPage = {
  link, views, state: () => lastState, handles: () => handles,
  idle: () => link.inFlight === 0 && link.queued === 0 && !dragSend.inFlight && !dragSend.pending,
  // The layer's extent in model coordinates, or null when it is empty.
  extent() {
    if (!layerMesh) return null;
    layerMesh.geometry.computeBoundingBox();
    const b = layerMesh.geometry.boundingBox;
    return b.isEmpty() ? null : { min: [b.min.x, b.min.y, -b.max.z], max: [b.max.x, b.max.y, -b.min.z] };
  },
  screenOf(handle, viewIndex) {
    const rect = viewRect(viewIndex), view = views[viewIndex];
    placeCamera(view, rect);
    const s = handles[handle].world.clone().project(view.camera);
    const bounds = canvas.getBoundingClientRect();
    return [bounds.left + rect.x + ((s.x + 1) / 2) * rect.width, bounds.top + rect.y + ((1 - s.y) / 2) * rect.height];
  },
};

// ---- a shelf as a link -------------------------------------------------
// index.html#session= and the session's text in base64url (RFC 4648,
// section 5, no padding): opening such a link plays the session again.

const largestLink = 32 * 1024;

function toBase64Url(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) throw new Error('the link\'s session is not base64url');
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/') + '='.repeat((4 - (text.length % 4)) % 4));
  const bytes = Uint8Array.from(binary, (c) => c.charCodeAt(0));
  return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
}

// The page's address with its session, or why there is none.
async function shelfLink() {
  const response = await transport.fetch('/api/session', { headers: { 'X-Workspace': link.token } });
  if (!response.ok) throw new Error((await response.json()).error);
  const address = `${location.origin}${location.pathname}#session=${toBase64Url(await response.text())}`;
  if (address.length > largestLink) {
    throw new Error(`this shelf's link would be ${Math.ceil(address.length / 1024)} KB, more than the ` +
      `${largestLink / 1024} KB that links may hold: download the session instead`);
  }
  return address;
}

$('copy-link').addEventListener('click', async () => {
  try {
    const address = await shelfLink();
    try {
      await navigator.clipboard.writeText(address);
      say('the link to this shelf is copied');
    } catch (e) {
      prompt('The link to this shelf:', address);
    }
  } catch (error) {
    say(error.message, 'error');
  }
});

// The session a link opened with, taken off the address so that a reload
// keeps the work done since (the tab's own copy then holds it).
// Why a link's session could not be read, if it could not.
let linkProblem = null;
function linkedSession() {
  const match = /^#session=(.*)$/.exec(location.hash);
  if (!match) return null;
  history.replaceState(null, '', location.pathname + location.search);
  try {
    return { session: fromBase64Url(match[1]), steps: [] };
  } catch (error) {
    linkProblem = `${error.message}: starting an empty scene`;
    return null;
  }
}

// For scripts and pages that embed this one: ready when the tool is
// active and a linked session was played; a download's bytes.
const opening = linkedSession();
const ready = start(opening || (linkProblem ? null : savedSession())).then(() => {
  if (linkProblem) say(linkProblem, 'error');
});
ready.catch((error) => say(error.message, 'error'));
window.varlobooks = {
  ready: ready.then(() => undefined),
  async download(format) {
    await ready;
    const { blob } = await fetchDownload(format);
    return new Uint8Array(await blob.arrayBuffer());
  },
  link: shelfLink,
};
