// The page's drafts store and its song model in Node: the store over
// fake-indexeddb (two "tabs" are two keepers on one database), the model
// over the real compiler (the engine of build/web).
//
//   FENK_WEB_DIR=build/web node --test web/tests/
import 'fake-indexeddb/auto';
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join, resolve } from 'node:path';

import { Drafts, DraftKeeper, kVersionsKept, versionsToDrop } from '../page/drafts.js';
import { SongModel, kMaxUndoSteps, newSongText, restRows, useTextFacts } from '../page/song-lines.js';

const root = resolve(new URL('../..', import.meta.url).pathname);
const webDir = resolve(process.env.FENK_WEB_DIR ?? join(root, 'build/web'));

// localStorage as the page has it, in memory.
class Journal {
  constructor() { this.items = new Map(); }
  get length() { return this.items.size; }
  key(k) { return [...this.items.keys()][k] ?? null; }
  getItem(key) { return this.items.get(key) ?? null; }
  setItem(key, value) { this.items.set(key, String(value)); }
  removeItem(key) { this.items.delete(key); }
}

const opened = [];
after(() => { for (const drafts of opened) drafts.close(); });

// Each test its own database (a factory of its own).
async function freshStore() {
  const factory = new IDBFactory();
  const drafts = await Drafts.open(factory);
  drafts.factory = factory;
  opened.push(drafts);
  return drafts;
}

const fields = (text) => ({ text, history: null, place: null });
const once = (target, type) => new Promise((resolve) => target.addEventListener(type, (e) => resolve(e.detail), { once: true }));

test('a new song takes the keys typed at once; a save in flight writes the song it was made for', async () => {
  const drafts = await freshStore();
  const keeper = new DraftKeeper(drafts, new Journal());
  const first = keeper.start('First', fields('first v1'));
  keeper.change(fields('first v2'));
  const inFlight = keeper.flush();
  // New song, then a key at once, before either write has finished.
  const second = keeper.start('Second', fields('second v1'));
  keeper.change(fields('second v2'), 0);
  await inFlight;
  await keeper.flush();
  assert.equal((await drafts.get(first.id)).text, 'first v2');
  assert.equal((await drafts.get(second.id)).text, 'second v2');
  assert.deepEqual((await drafts.list()).map((draft) => draft.name), ['Second', 'First']);
});

test('a write the browser refuses says why, loses nothing and is tried again; the revision waits for the commit', async () => {
  const drafts = await freshStore();
  const keeper = new DraftKeeper(drafts, new Journal());
  const draft = keeper.start('Song', fields('v1'));
  await keeper.flush();
  assert.equal(draft.revision, 1);
  const put = IDBObjectStore.prototype.put;
  IDBObjectStore.prototype.put = function refuse() {
    throw new DOMException('The quota has been exceeded.', 'QuotaExceededError');
  };
  const failed = once(keeper, 'failed');
  try {
    keeper.change(fields('v2'), 0);
    assert.match((await failed).reason, /no room left/);
  } finally {
    IDBObjectStore.prototype.put = put;
  }
  assert.equal(draft.revision, 1, 'the revision moves on only when a write commits');
  assert.equal((await drafts.get(draft.id)).text, 'v1');
  // The retry writes it, and nothing conflicts with the tab's own draft.
  await once(keeper, 'saved');
  assert.equal((await drafts.get(draft.id)).text, 'v2');
  assert.equal(draft.revision, 2);
  keeper.change(fields('v3'), 0);
  await keeper.flush();
  assert.equal((await drafts.get(draft.id)).text, 'v3');
});

test('two tabs on one draft: the later writer forks into a draft of its own, and every version stays reachable', async () => {
  const drafts = await freshStore();
  const other = await Drafts.open(drafts.factory);
  opened.push(other);
  const a = new DraftKeeper(drafts, new Journal());
  const b = new DraftKeeper(other, new Journal());
  const shared = a.start('Tune', fields('tune'));
  await a.flush();
  b.take(await other.get(shared.id));
  b.change(fields('tune, by b'), 0);
  await b.flush();
  const forked = once(a, 'forked');
  a.change(fields('tune, by a'), 0);
  await a.flush();
  const { to, name } = await forked;
  assert.equal(name, 'Tune (this tab)');
  assert.equal((await drafts.get(shared.id)).text, 'tune, by b');
  assert.equal((await drafts.get(to)).text, 'tune, by a');
  // From then on the tab saves its own draft.
  a.change(fields('tune, by a, later'), 0);
  await a.flush();
  assert.equal((await drafts.get(to)).text, 'tune, by a, later');
  assert.equal((await drafts.get(shared.id)).text, 'tune, by b');
  // A rename sticks through later saves; the fork keeps its own name.
  await drafts.rename(shared.id, 'Tune for two');
  b.change(fields('tune, by b, later'), 0);
  await b.flush();
  assert.equal((await drafts.get(shared.id)).name, 'Tune for two');
  assert.deepEqual((await drafts.list()).map((draft) => draft.name).sort(), ['Tune (this tab)', 'Tune for two']);
  assert.ok((await drafts.versions(shared.id)).length >= 1);
});

test('a tab closed while a save is in flight: the journal brings the text back at the next start', async () => {
  const drafts = await freshStore();
  const journal = new Journal();
  const keeper = new DraftKeeper(drafts, journal);
  const draft = keeper.start('Song', fields('v1'));
  await keeper.flush();
  keeper.change(fields('v2 typed just before closing'));
  // The page goes away: the journal is written at once; the write that
  // begins is never finished (the tab is gone).
  keeper.journalNow();
  const store = drafts.save.bind(drafts);
  drafts.save = () => new Promise(() => {});
  keeper.pending.clear();
  drafts.save = store;

  const next = new DraftKeeper(drafts, journal);
  const recovered = await next.reconcile();
  assert.deepEqual(recovered, [draft.id]);
  assert.equal((await drafts.get(draft.id)).text, 'v2 typed just before closing');
  assert.equal(journal.length, 0);

  // A journal of a draft that another tab changed since becomes a draft of its own.
  journal.setItem(`fenk-journal:${draft.id}`, JSON.stringify({ id: draft.id, revision: 1, name: 'Song', text: 'old tab' }));
  const [copy] = await next.reconcile();
  assert.equal((await drafts.get(copy)).name, 'Song (recovered)');
  assert.equal((await drafts.get(copy)).text, 'old tab');
  assert.equal((await drafts.get(draft.id)).text, 'v2 typed just before closing');
});

test('versions are thinned by age: the newest and the oldest stay, recent ones stay dense', () => {
  const minute = 60_000;
  // A version a minute for three days.
  const versions = Array.from({ length: 3 * 24 * 60 }, (_, k) => ({ revision: k + 1, updated: k * minute }));
  const dropped = new Set(versionsToDrop(versions).map((version) => version.revision));
  const kept = versions.filter((version) => !dropped.has(version.revision));
  assert.equal(kept.length, kVersionsKept);
  assert.equal(kept[0].revision, 1);
  assert.equal(kept.at(-1).revision, versions.length);
  const last = kept.at(-1).updated;
  const recent = kept.filter((version) => last - version.updated <= 60 * minute).length;
  const firstDay = kept.filter((version) => version.updated < 24 * 60 * minute).length;
  assert.ok(recent > firstDay, `the last hour keeps ${recent} versions, the first day ${firstDay}`);
});

test('the song model: the text typed is kept whether it compiles or not; a replay that does not compile shows the last version that did', async () => {
  const { FenkEngine } = await import(join(webDir, 'fenk-engine.js'));
  const engine = new FenkEngine(await WebAssembly.compile(readFileSync(join(webDir, 'fenk.wasm'))));
  assert.equal(engine.setSample(readFileSync(join(webDir, 'square.wav'))).ok, true);
  const compile = (text) => engine.open(new TextEncoder().encode(text), false);
  useTextFacts(engine.textFacts());
  const start = newSongText();
  const model = new SongModel(start, compile);
  assert.equal(model.error, null);
  const place = { section: 's1', row: 0, col: 0 };

  // Half a row typed: taken as it is, the grid keeps the version before.
  const half = start.replace('section s1\n', 'section s1\n  C4 -\n');
  assert.equal(model.type(half, place).ok, false);
  assert.equal(model.text(), half);
  assert.match(model.error, /^line 7: /);
  assert.equal(model.good.lines.join('\n'), start);
  assert.equal(model.edit(start.split('\n'), place, place).ok, false, 'no grid edit while the text does not compile');
  assert.equal(model.text(), half);

  // Finished: it compiles, and the grid shows it.
  const whole = start.replace('section s1\n', 'section s1\n  C4 - - - 1\n');
  assert.equal(model.type(whole, place).ok, true);
  assert.equal(model.good.lines.join('\n'), whole);
  // Undo goes back through the half row: the text as it was, not compiling.
  assert.equal(model.undo().result.ok, false);
  assert.equal(model.text(), half);
  assert.equal(model.good.lines.join('\n'), whole);
  assert.match(model.error, /^line 7: /);
  assert.equal(model.undo().result.ok, true);
  assert.equal(model.text(), start);

  // The history handed out is a copy: later steps do not change a saved one.
  const saved = model.history();
  const steps = saved.redo.length;
  model.type(whole, place);
  assert.equal(saved.redo.length, steps);
  // At the cap the oldest step goes, and the model counts it (the page says so).
  const capped = new SongModel(start, compile);
  for (let k = 0; k <= kMaxUndoSteps; ++k) capped.type(start.replace('tempo 120', `tempo ${k % 2 ? 120 : 121}`), place);
  assert.equal(capped.lines.undoSteps.length, kMaxUndoSteps);
  assert.equal(capped.lines.dropped, 1);
  // A history kept with another text is let go at its first replay.
  const stranger = new SongModel(start, compile, model.history());
  assert.deepEqual(stranger.undo(), { stale: true });
  assert.equal(stranger.undo(), null);
  assert.equal(stranger.text(), start);
});

test('section and order edits come from the module: comments stay, the order follows, mistakes are refused', async () => {
  const { FenkEngine } = await import(join(webDir, 'fenk-engine.js'));
  const engine = new FenkEngine(await WebAssembly.compile(readFileSync(join(webDir, 'fenk.wasm'))));
  useTextFacts(engine.textFacts());
  const compiles = (text) => engine.open(new TextEncoder().encode(text), false).ok;
  const start = `# a tune\ntitle "Two"\nname TWO\ntempo 120\n\nsection a  # the verse\n${restRows(2).join('\n')}\nend\n\n` +
                `section b\n${restRows(1).join('\n')}\nend\n\n# the order\norder a b a\n`;
  assert.ok(compiles(start));
  const edit = (fields, text = start) => engine.textEdit({ ...fields, text });

  const added = edit({ edit: 'add', after: 'a', name: 'c', rows: restRows(1) });
  assert.ok(added.ok);
  assert.ok(compiles(added.text));
  assert.match(added.text, /^# a tune\n/);
  assert.match(added.text, /\nend\n\nsection c\n {2}- .*\nend\n\nsection b\n/);
  assert.match(added.text, /\n# the order\norder a b a c\n$/);
  // Seventeen entries: the order goes on in a second line.
  const names = Array.from({ length: 17 }, (_, k) => (k % 2 ? 'a' : 'b'));
  const long = edit({ edit: 'order', names });
  assert.match(long.text, /\norder( [ab]){16}\norder b\n$/);
  assert.ok(compiles(long.text));

  const renamed = edit({ edit: 'rename', name: 'a', to: 'verse' });
  assert.match(renamed.text, /\nsection verse {2}# the verse\n/);
  assert.match(renamed.text, /\norder verse b verse\n$/);
  assert.equal(edit({ edit: 'rename', name: 'a', to: 'b' }).ok, false);
  assert.match(edit({ edit: 'rename', name: 'a', to: 'no good' }).error, /cannot name a section/);

  const deleted = edit({ edit: 'delete', name: 'b' });
  assert.ok(compiles(deleted.text));
  assert.doesNotMatch(deleted.text, /section b/);
  assert.match(deleted.text, /\nend\n\n# the order\norder a a\n$/);
  assert.match(edit({ edit: 'delete', name: 'a' }, deleted.text).error, /at least one section/);
  // A text that does not compile is not edited: its mistake is said.
  assert.match(edit({ edit: 'order', names: ['a'] }, start.replace('order a b a', 'order a z')).error, /^line \d+: /);
});
