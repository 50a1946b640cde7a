// Drafts: every song edited on the page, kept in the browser (IndexedDB)
// with its undo history, so that a reload, a closed tab or a crash loses
// nothing. A draft is {id, name, text, history, place, revision, updated};
// its name is its own (a rename sticks: saves write the text, never the
// name).
//
// Two tabs never overwrite each other's work: a save names the draft it is
// for and the revision it was made from, and goes through only when that is
// still the stored one (checked and written in one transaction; the
// revision moves on only when the write commits). Otherwise it is a
// conflict, and nothing is written. Each tab holds a Web Lock on its draft,
// so that a duplicated tab (which inherits the same draft) can tell.
//
// Earlier versions of each draft are kept beside it (a version at most
// every kVersionEveryMs of saves, at most kVersionsKept, thinned by age), so
// that no write destroys the only copy of a song.

const kDatabase = 'fenk';
const kStore = 'drafts';
const kVersions = 'versions';
export const kVersionsKept = 20;
export const kVersionEveryMs = 60_000;

function request(req) {
  return new Promise((resolve, reject) => {
    req.onsuccess = () => resolve(req.result);
    req.onerror = () => reject(req.error);
  });
}

// A transaction's outcome: 'done' when it commits, else why it did not.
function finished(transaction) {
  return new Promise((resolve) => {
    transaction.oncomplete = () => resolve({ ok: true });
    transaction.onabort = () => resolve({ ok: false, reason: reasonOf(transaction.error) });
  });
}

function reasonOf(error) {
  if (!error) return 'the browser stopped the write';
  if (error.name === 'QuotaExceededError') return 'the browser has no room left for this site';
  return error.message || error.name;
}

export function newId() {
  return globalThis.crypto?.randomUUID?.() ?? `${Date.now()}-${Math.random().toString(16).slice(2)}`;
}

// Which of `versions` (oldest first, each {updated}) to let go so that at
// most `keep` stay: the newest and the oldest always stay; of the others,
// the one closest in time to the one before it goes first, so that recent
// hours keep many versions and older days a few.
export function versionsToDrop(versions, keep = kVersionsKept) {
  const left = versions.slice();
  const dropped = [];
  while (left.length > keep) {
    let closest = 1;
    for (let k = 2; k < left.length - 1; ++k) {
      // Gaps count less the newer they are: older versions spread out more.
      const age = (at) => left.at(-1).updated - left[at].updated + 1;
      const gap = (at) => (left[at].updated - left[at - 1].updated) / age(at);
      if (gap(k) < gap(closest)) closest = k;
    }
    dropped.push(left.splice(closest, 1)[0]);
  }
  return dropped;
}

export class Drafts extends EventTarget {
  static async open(factory = globalThis.indexedDB) {
    const opening = factory.open(kDatabase, 2);
    opening.onupgradeneeded = (event) => {
      const db = opening.result;
      if (event.oldVersion < 1) db.createObjectStore(kStore, { keyPath: 'id' }).createIndex('updated', 'updated');
      if (event.oldVersion < 2) db.createObjectStore(kVersions, { keyPath: ['id', 'revision'] });
    };
    return new Drafts(await request(opening));
  }

  constructor(db) {
    super();
    this.db = db;
    this.release = null;     // ends this tab's lock on its draft
    this.channel = typeof BroadcastChannel === 'function' ? new BroadcastChannel('fenk-drafts') : null;
    // Another tab saved a draft: {id, revision} ('saved').
    if (this.channel) {
      this.channel.onmessage = ({ data }) => this.dispatchEvent(new CustomEvent('saved', { detail: data }));
    }
  }

  close() {
    if (this.closed) return;
    this.closed = true;
    this.channel?.close();
    this.release?.();
    this.db.close();
  }

  store(mode, name = kStore) { return this.db.transaction(name, mode).objectStore(name); }

  get(id) { return request(this.store('readonly').get(id)); }

  // Every draft ({id, name, updated, size}), the latest changed first.
  async list() {
    const all = await request(this.store('readonly').index('updated').getAll());
    return all.reverse().map(({ id, name, updated, text }) => ({ id, name, updated, size: text?.length ?? 0 }));
  }

  // Every draft whole, the latest changed first (for an export).
  async all() {
    return (await request(this.store('readonly').index('updated').getAll())).reverse();
  }

  async remove(id) {
    const transaction = this.db.transaction([kStore, kVersions], 'readwrite');
    transaction.objectStore(kStore).delete(id);
    transaction.objectStore(kVersions).delete(IDBKeyRange.bound([id, 0], [id, Infinity]));
    return finished(transaction);
  }

  // The draft's own name, kept however the song's title changes.
  async rename(id, name) {
    const transaction = this.db.transaction(kStore, 'readwrite');
    const store = transaction.objectStore(kStore);
    store.get(id).onsuccess = (event) => {
      const draft = event.target.result;
      if (draft) store.put({ ...draft, name });
    };
    const outcome = await finished(transaction);
    if (outcome.ok) this.channel?.postMessage({ id, renamed: true });
    return outcome;
  }

  // True when no other tab holds draft `id` (then this tab does, until it
  // takes another one). Without Web Locks, always true.
  async claim(id) {
    this.release?.();
    this.release = null;
    if (!globalThis.navigator?.locks) return true;
    return new Promise((resolve) => {
      navigator.locks.request(`fenk-draft-${id}`, { ifAvailable: true }, (lock) => {
        if (!lock) {
          resolve(false);
          return undefined;
        }
        resolve(true);
        return new Promise((release) => { this.release = release; });
      });
    });
  }

  // Writes draft `id` made from revision `base` (0: a new draft, made by
  // this write) with `fields` ({text, history, place}, and the name of a new
  // draft). {outcome: 'saved', revision} once it commits; {outcome:
  // 'conflict', revision: the stored one} when another write came first
  // (nothing written); {outcome: 'failed', reason} when the browser did not
  // write it (nothing changed).
  async save(id, base, fields) {
    const transaction = this.db.transaction([kStore, kVersions], 'readwrite');
    const store = transaction.objectStore(kStore);
    const versions = transaction.objectStore(kVersions);
    const now = Date.now();
    let outcome = null;
    let refused = null;
    store.get(id).onsuccess = (event) => {
      const stored = event.target.result;
      const revision = stored?.revision ?? 0;
      if (revision !== base) {
        outcome = { outcome: 'conflict', revision };
        return;
      }
      const name = stored?.name ?? fields.name ?? 'Untitled';
      const draft = { ...stored, ...fields, name, id, revision: base + 1, updated: now };
      try {
        store.put(draft);
        keepVersion(versions, draft, now);
      } catch (error) {
        // Refused before the commit (no room, a value that cannot be kept):
        // nothing of it is written.
        refused = error;
        transaction.abort();
        return;
      }
      outcome = { outcome: 'saved', revision: base + 1 };
    };
    const written = await finished(transaction);
    if (!written.ok) return { outcome: 'failed', reason: refused ? reasonOf(refused) : written.reason };
    if (outcome.outcome === 'saved') this.channel?.postMessage({ id, revision: outcome.revision });
    return outcome;
  }

  // Makes a draft of `fields` ({name, text, history, place}); its id, or
  // null with the reason when the browser did not write it.
  async create(fields) {
    const id = newId();
    const saved = await this.save(id, 0, fields);
    return saved.outcome === 'saved' ? { id, revision: saved.revision } : { id: null, reason: saved.reason };
  }

  // The versions kept of draft `id` ({id, revision, name, text, updated}),
  // the newest first.
  async versions(id) {
    const range = IDBKeyRange.bound([id, 0], [id, Infinity]);
    return (await request(this.store('readonly', kVersions).getAll(range))).reverse();
  }
}

// Within a save's transaction: `draft` kept as a version when the latest
// version of it is older than kVersionEveryMs (or there is none), and the
// versions thinned to kVersionsKept.
function keepVersion(versions, draft, now) {
  const range = IDBKeyRange.bound([draft.id, 0], [draft.id, Infinity]);
  versions.getAll(range).onsuccess = (event) => {
    const kept = event.target.result;
    if (kept.length > 0 && now - kept.at(-1).updated < kVersionEveryMs) {
      // The latest version follows the text until a minute has passed.
      versions.put({ ...kept.at(-1), text: draft.text, name: draft.name, updated: now, revision: kept.at(-1).revision });
      return;
    }
    const version = { id: draft.id, revision: draft.revision, name: draft.name, text: draft.text, updated: now };
    versions.put(version);
    for (const old of versionsToDrop([...kept, version])) versions.delete([old.id, old.revision]);
  };
}

const kJournal = 'fenk-journal:';
export const kSaveDelayMs = 300;
export const kRetryMs = 2000;

// What a tab edits, kept: the draft it is on ({id, revision, name}: the
// revision its text was made from), its changes written one save at a
// time, each naming its draft, a failed write tried again with nothing let
// go, a conflict forked at once into a draft of the tab's own, and a
// journal (localStorage) written synchronously when the page goes away,
// which the next start reconciles with the store.
// Events: 'saved' ({id}), 'failed' ({reason}), 'forked' ({from, to, name}).
export class DraftKeeper extends EventTarget {
  constructor(drafts, journal = globalThis.localStorage ?? null) {
    super();
    this.drafts = drafts;
    this.journal = journal;
    this.current = null;        // {id, revision, name}
    this.latest = null;         // the fields last given for current
    this.pending = new Map();   // id -> {target, fields}: changes not written yet
    this.queue = Promise.resolve();
    this.timer = 0;
    this.failure = null;        // why the last write failed, until one succeeds
  }

  // A new draft named `name`, this tab's from now on (at once: what is
  // changed next is its own), written with `fields` ({text, history, place}).
  start(name, fields) {
    this.current = { id: newId(), revision: 0, name };
    this.change(fields, 0);
    return this.current;
  }

  // A stored draft this tab edits from now on.
  take(stored) {
    this.current = { id: stored.id, revision: stored.revision, name: stored.name };
    this.latest = null;
  }

  // The tab's draft changed to `fields`: written after `delay` ms (sooner
  // when the page asks, by flush).
  change(fields, delay = kSaveDelayMs) {
    if (!this.current) return;
    this.latest = fields;
    this.pending.set(this.current.id, { target: this.current, fields });
    clearTimeout(this.timer);
    if (delay <= 0) this.flush();
    else this.timer = setTimeout(() => this.flush(), delay);
  }

  // Writes every change not written yet; settles when they are (or failed).
  flush() {
    clearTimeout(this.timer);
    this.queue = this.queue.then(() => this.writePending());
    return this.queue;
  }

  async writePending() {
    while (this.pending.size > 0) {
      const [id, { target, fields }] = this.pending.entries().next().value;
      this.pending.delete(id);
      const saved = await this.drafts.save(target.id, target.revision, { ...fields, name: target.name });
      if (saved.outcome === 'saved') {
        target.revision = saved.revision;
        this.failure = null;
        this.clearJournal(target.id, fields.text);
        this.dispatchEvent(new CustomEvent('saved', { detail: { id: target.id } }));
      } else if (saved.outcome === 'failed') {
        // Kept to write again, unless a newer change of it came meanwhile.
        if (!this.pending.has(id)) this.pending.set(id, { target, fields });
        this.failure = saved.reason;
        this.dispatchEvent(new CustomEvent('failed', { detail: { reason: saved.reason } }));
        clearTimeout(this.timer);
        this.timer = setTimeout(() => this.flush(), kRetryMs);
        return;
      } else {
        this.fork(target, fields);
      }
    }
  }

  // Another tab wrote `target` first: this tab's work becomes a draft of
  // its own at once, and this tab goes on with it.
  fork(target, fields) {
    const name = `${target.name} (this tab)`;
    const forked = { id: newId(), revision: 0, name };
    if (this.current === target) this.current = forked;
    this.pending.set(forked.id, { target: forked, fields });
    this.dispatchEvent(new CustomEvent('forked', { detail: { from: target.id, to: forked.id, name } }));
  }

  // Synchronously, for a page going away: the tab's latest text into the
  // journal, then the write begun.
  journalNow() {
    const current = this.current;
    if (current && this.latest && this.journal) {
      const entry = { id: current.id, revision: current.revision, name: current.name, at: Date.now(),
                      text: this.latest.text, place: this.latest.place, history: this.latest.history };
      let json = JSON.stringify(entry);
      if (json.length > 2_000_000) json = JSON.stringify({ ...entry, history: null });
      try {
        this.journal.setItem(kJournal + current.id, json);
      } catch {
        try {
          this.journal.setItem(kJournal + current.id, JSON.stringify({ ...entry, history: null }));
        } catch {
          // No room: the write begun below is what is left.
        }
      }
    }
    this.flush();
  }

  clearJournal(id, text) {
    if (!this.journal) return;
    const json = this.journal.getItem(kJournal + id);
    if (!json) return;
    try {
      if (JSON.parse(json).text !== text) return;
    } catch {
      // A torn entry: nothing in it to keep.
    }
    this.journal.removeItem(kJournal + id);
  }

  // At start: each journal entry whose text the store does not hold is
  // written, onto its draft when nothing wrote that since, else as a draft
  // of its own ("NAME (recovered)"). `held(id)`: true for a draft another
  // tab has open now (its journal is that tab's). The drafts recovered.
  async reconcile(held = async () => false) {
    if (!this.journal) return [];
    const recovered = [];
    const keys = [];
    for (let k = 0; k < this.journal.length; ++k) {
      const key = this.journal.key(k);
      if (key?.startsWith(kJournal)) keys.push(key);
    }
    for (const key of keys) {
      let entry;
      try {
        entry = JSON.parse(this.journal.getItem(key));
      } catch {
        this.journal.removeItem(key);
        continue;
      }
      if (await held(entry.id)) continue;
      const stored = await this.drafts.get(entry.id);
      const fields = { text: entry.text, history: entry.history ?? null, place: entry.place ?? null };
      let saved = { outcome: 'saved' };
      if (!stored || stored.text !== entry.text) {
        if (!stored || stored.revision === entry.revision) {
          saved = await this.drafts.save(entry.id, stored?.revision ?? 0, { ...fields, name: entry.name });
          recovered.push(entry.id);
        } else {
          const made = await this.drafts.create({ ...fields, name: `${entry.name} (recovered)` });
          saved = made.id ? { outcome: 'saved' } : { outcome: 'failed' };
          if (made.id) recovered.push(made.id);
        }
      }
      if (saved.outcome === 'saved') this.journal.removeItem(key);
    }
    return recovered;
  }
}
