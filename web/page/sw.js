// The service worker: the page's files kept in the browser, so that once
// the page has been opened it opens, plays, edits and downloads with no
// network. Files come from the cache first. A new version of the page (a
// new kVersion, which scripts/web writes from the files' hash) is fetched
// in the background and taken at the next start, once no tab of the old one
// is open: never in the middle of editing.
//
// Every file of a version is fetched from the network itself (never from
// the HTTP cache, which may hold a file of the version before), and the
// caches are this copy's of the page only: another copy on the same host
// (another folder) keeps its own.
const kVersion = 'dev';
const kPrefix = `fenk:${new URL(self.registration.scope).pathname}:`;
const kCache = `${kPrefix}${kVersion}`;
const kFiles = ['./', 'index.html', 'style.css', 'app.js', 'tracker.js', 'song-lines.js', 'drafts.js', 'send.js',
                'fenk-player.js', 'fenk-engine.js', 'fenk-worklet.js', 'wasi.js', 'fenk.wasm', 'square.wav',
                'manifest.webmanifest', 'icon-192.png', 'icon-512.png', 'fflate.js', 'examples/index.json'];

async function fetchFresh(file) {
  const response = await fetch(new Request(file, { cache: 'no-store' }));
  if (!response.ok) throw new Error(`${file}: ${response.status}`);
  return response;
}

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(kCache);
    const examples = await (await fetchFresh('examples/index.json')).clone().json();
    const files = [...kFiles, ...examples.map((name) => `examples/${name}`)];
    // All or nothing: a version is kept only when every file of it came.
    const responses = await Promise.all(files.map(fetchFresh));
    await Promise.all(files.map((file, k) => cache.put(file, responses[k])));
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const key of await caches.keys()) {
      if (key.startsWith(kPrefix) && key !== kCache) await caches.delete(key);
    }
    // The tab that installed the first version is served from now on.
    await self.clients.claim();
  })());
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith((async () => {
    const cache = await caches.open(kCache);
    return (await cache.match(event.request, { ignoreSearch: true })) ?? fetch(event.request);
  })());
});
