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

// The files downloaded into folder, waited for by name.
function downloadsIn(folder) {
  async function waitForFile(name) {
    const file = path.join(folder, name);
    for (let i = 0; i < 200; ++i) {
      if (fs.existsSync(file)) return file;
      await new Promise((r) => setTimeout(r, 50));
    }
    throw new Error(`the download ${name} did not arrive`);
  }
  return { waitForFile };
}

module.exports = { check, within, elapsed, downloadsIn };
