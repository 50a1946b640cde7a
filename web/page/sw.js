// The service worker: the page's files kept in the browser, so that once
// the page has been opened it opens, plays, edits and downloads with no
// network. Files come from the cache first. A new version of the page (a
// new kVersion, which scripts/web writes from the files' hash) is fetched
// in the background and taken at the next start, once no tab of the old one
// is open: never in the middle of editing.
const kVersion = 'dev';
const kCache = `fenk-${kVersion}`;
const kFiles = ['./', 'index.html', 'style.css', 'app.js', 'tracker.js', 'song-lines.js', 'drafts.js', 'send.js',
                'fenk-player.js', 'fenk-engine.js', 'fenk-worklet.js', 'wasi.js', 'fenk.wasm', 'square.wav',
                'manifest.webmanifest', 'icon-192.png', 'icon-512.png'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(kCache).then((cache) => cache.addAll(kFiles)));
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const key of await caches.keys()) {
      if (key.startsWith('fenk-') && key !== kCache) await caches.delete(key);
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
