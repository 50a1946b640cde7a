// Serves a folder on 127.0.0.1 for the page (scripts/web --serve) and its
// tests: static files with the types browsers want for modules and wasm,
// nothing outside the folder. Prints "http://127.0.0.1:PORT/" when ready.
//
//   node serve.mjs FOLDER [PORT]     (default 8000, or any free port when it
//                                    is taken; 0: any free port)
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve, sep } from 'node:path';

const folder = resolve(process.argv[2] ?? '.');
const port = Number(process.argv[3] ?? 8000);
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.wav': 'audio/wav', '.txt': 'text/plain; charset=utf-8',
  '.8xp': 'application/octet-stream', '.png': 'image/png',
};

const server = createServer(async (request, response) => {
  const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  const file = normalize(join(folder, path.endsWith('/') ? `${path}index.html` : path));
  if (file !== folder && !file.startsWith(folder + sep)) {
    response.writeHead(403).end();
    return;
  }
  try {
    const body = await readFile(file);
    response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream',
                              'Cache-Control': 'no-cache' });
    response.end(body);
  } catch {
    response.writeHead(404, { 'Content-Type': 'text/plain' }).end('Not found\n');
  }
});
// Port 8000 taken (another server): any free port will do.
server.on('error', (error) => {
  if (error.code === 'EADDRINUSE' && port !== 0) {
    server.listen(0, '127.0.0.1');
  } else {
    console.error(`serve.mjs: ${error.message}`);
    process.exit(1);
  }
});
server.on('listening', () => console.log(`http://127.0.0.1:${server.address().port}/`));
server.listen(port, '127.0.0.1');
