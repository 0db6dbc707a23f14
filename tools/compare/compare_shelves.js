#!/usr/bin/env node
// Compares two JSON exports of the same session made on two systems:
// identical polygons, surfaces and UV values, points within 1e-12 (the two
// C libraries' sine and cosine may differ in the last bit). Which image
// lands on which cover may differ: each system lists the image folder in
// its own order. Prints what differs; exit 0 when they agree.
'use strict';
const fs = require('fs');

if (process.argv.length !== 4) {
  console.error('usage: compare_shelves.js A.json B.json');
  process.exit(2);
}
const [a, b] = process.argv.slice(2).map((p) => JSON.parse(fs.readFileSync(p, 'utf8')));
const problems = [];
const same = (what, x, y) => {
  if (JSON.stringify(x) !== JSON.stringify(y)) problems.push(`${what} differ`);
};

same('object names', a.object, b.object);
same('polygons', a.polygons, b.polygons);
same('vertex maps (UV values)', a.vmaps, b.vmaps);
same('surface names', a.surfaces.map((s) => s.name), b.surfaces.map((s) => s.name));
const textured = (shelf) => shelf.surfaces.filter((s) => s.textures.length > 0).length;
same('textured surface counts', textured(a), textured(b));
same('image counts', a.images.length, b.images.length);

let largest = 0;
let differing = 0;
if (a.points.length !== b.points.length) {
  problems.push(`point counts differ: ${a.points.length} and ${b.points.length}`);
} else {
  a.points.forEach((p, i) => {
    p.forEach((v, k) => {
      const d = Math.abs(v - b.points[i][k]);
      if (d !== 0) differing++;
      largest = Math.max(largest, d);
    });
  });
  if (largest > 1e-12) problems.push(`points differ by up to ${largest}`);
}

console.log(`${a.points.length} points, ${a.polygons.length} polygons, ` +
  `${a.surfaces.length} surfaces; ${differing} coordinates not bit-identical ` +
  `(largest difference ${largest})`);
for (const p of problems) console.log(`DIFFERS: ${p}`);
process.exit(problems.length ? 1 : 0);
