// Drafts: every song edited on the page, kept in the browser (IndexedDB)
// with its undo history, so that a reload, a closed tab or a crash loses
// nothing. A draft is {id, name, text, history, place, revision, updated}.
//
// Two tabs never overwrite each other's work: a save goes through only when
// the draft's revision is still the one the tab last read or wrote (checked
// and written in one transaction); otherwise the tab is told that another
// tab changed the song. Each tab holds a Web Lock on its draft, so that a
// duplicated tab (which inherits the same draft) can tell and take a copy.

const kDatabase = 'fenk';
const kStore = 'drafts';
export const kRecentDrafts = 30;

function request(req) {
  return new Promise((resolve, reject) => {
    req.onsuccess = () => resolve(req.result);
    req.onerror = () => reject(req.error);
  });
}

export class Drafts extends EventTarget {
  static async open() {
    const opening = indexedDB.open(kDatabase, 1);
    opening.onupgradeneeded = () => {
      opening.result.createObjectStore(kStore, { keyPath: 'id' }).createIndex('updated', 'updated');
    };
    return new Drafts(await request(opening));
  }

  constructor(db) {
    super();
    this.db = db;
    this.current = null;     // {id, revision} of this tab's draft
    this.release = null;     // ends this tab's lock on it
    this.channel = typeof BroadcastChannel === 'function' ? new BroadcastChannel('fenk-drafts') : null;
    // Another tab saved: if it is this tab's draft, say so ('conflict').
    if (this.channel) {
      this.channel.onmessage = ({ data }) => {
        if (this.current && data.id === this.current.id && data.revision > this.current.revision) {
          this.dispatchEvent(new CustomEvent('conflict', { detail: data }));
        }
      };
    }
  }

  store(mode) { return this.db.transaction(kStore, mode).objectStore(kStore); }

  get(id) { return request(this.store('readonly').get(id)); }

  // The drafts, the latest changed first (at most kRecentDrafts).
  async list() {
    const all = await request(this.store('readonly').index('updated').getAll());
    return all.reverse().slice(0, kRecentDrafts);
  }

  async remove(id) {
    await request(this.store('readwrite').delete(id));
  }

  async rename(id, name) {
    const store = this.store('readwrite');
    const draft = await request(store.get(id));
    if (!draft) return;
    draft.name = name;
    await request(store.put(draft));
  }

  // True when no other tab holds draft `id` (then this tab does, until it
  // takes another one). Without Web Locks, always true.
  async claim(id) {
    this.release?.();
    this.release = null;
    if (!navigator.locks) return true;
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

  // Makes a new draft of `fields` ({name, text, history, place}) this
  // tab's own; its id.
  async create(fields) {
    const draft = { ...fields, id: newId(), revision: 1, updated: Date.now() };
    await request(this.store('readwrite').add(draft));
    await this.claim(draft.id);
    this.take(draft);
    return draft.id;
  }

  // This tab edits `draft` (as read) from now on.
  take(draft) {
    this.current = { id: draft.id, revision: draft.revision };
    sessionStorage.setItem('fenk-draft', draft.id);
  }

  // Saves this tab's draft: 'saved', or 'conflict' when another tab saved
  // it since this tab read it (then nothing is written).
  save(fields) {
    const current = this.current;
    if (!current) return Promise.resolve('none');
    return new Promise((resolve, reject) => {
      const transaction = this.db.transaction(kStore, 'readwrite');
      const store = transaction.objectStore(kStore);
      let outcome = 'saved';
      store.get(current.id).onsuccess = (event) => {
        const stored = event.target.result;
        if (stored && stored.revision !== current.revision) {
          outcome = 'conflict';
          return;
        }
        const revision = current.revision + 1;
        store.put({ ...stored, ...fields, id: current.id, revision, updated: Date.now() });
        current.revision = revision;
      };
      transaction.oncomplete = () => {
        if (outcome === 'saved') this.channel?.postMessage({ id: current.id, revision: current.revision });
        resolve(outcome);
      };
      transaction.onerror = () => reject(transaction.error);
    });
  }
}

function newId() {
  return globalThis.crypto?.randomUUID?.() ?? `${Date.now()}-${Math.random().toString(16).slice(2)}`;
}
