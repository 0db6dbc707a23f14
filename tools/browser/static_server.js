#!/usr/bin/env node
// A plain static file server on 127.0.0.1, as any web host would serve the
// static page: files as they are, with their types, nothing else. Prints
// its URL. Usage: static_server.js FOLDER [PORT]
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.json': 'application/json', '.wasm': 'application/wasm',
  '.png': 'image/png', '.jpg': 'image/jpeg', '.jpeg': 'image/jpeg',
};

function serveFolder(folder, port = 0) {
  const root = fs.realpathSync(folder);
  const server = http.createServer((req, res) => {
    let name;
    try {
      name = decodeURIComponent(new URL(req.url, 'http://host/').pathname);
    } catch (e) {
      res.writeHead(400).end();
      return;
    }
    if (name.endsWith('/')) name += 'index.html';
    const file = path.join(root, path.normalize(name));
    if (!file.startsWith(root + path.sep)) {
      res.writeHead(403).end();
      return;
    }
    fs.readFile(file, (error, bytes) => {
      if (error) {
        res.writeHead(404).end();
        return;
      }
      res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
      res.end(bytes);
    });
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

module.exports = { serveFolder };

if (require.main === module) {
  const [folder, port] = process.argv.slice(2);
  if (!folder) {
    console.error('usage: static_server.js FOLDER [PORT]');
    process.exit(2);
  }
  serveFolder(folder, Number(port || 0)).then((server) => {
    console.log(`http://127.0.0.1:${server.address().port}/`);
  });
}
