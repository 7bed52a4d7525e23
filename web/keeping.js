// Keeping the work: each tune (its name, text and when it was last edited)
// as a record of its own in the browser's IndexedDB (any size the browser
// grants; local storage refuses a few megabytes), the recent ones offered
// again; and a score in a link whose fragment holds it compressed, which a
// fresh page opens.

const databaseName = "score2wav";
const tuneStore = "tunes"; // {id, name, text, origin, bytes, edited (ms since 1970), tab}
const oldStore = "work"; // where earlier versions of the page kept one score
const oldKey = "score";
// Set while the last text could not be kept: a reload then says that the
// text it finds, if any, is older than the one last shown.
const unkeptFlag = "score2wav.unkept";
const tabTune = "score2wav.tune"; // this tab's tune, across its reloads (session storage)

// Resolves to the request's result, or rejects with its error.
function done(request) {
  return new Promise((resolve, reject) => {
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

// Resolves when a transaction has written everything, or rejects.
function committed(transaction) {
  return new Promise((resolve, reject) => {
    transaction.oncomplete = () => resolve();
    transaction.onerror = transaction.onabort = () => reject(transaction.error || new Error("the write was abandoned"));
  });
}

// Returns a storage's value for key, or null where it has none or refuses.
function stored(storage, key) {
  try {
    return window[storage].getItem(key);
  } catch (error) {
    return null;
  }
}

// Sets (or, for null, removes) a storage's value; a refusal leaves it.
function store(storage, key, value) {
  try {
    if (value === null) window[storage].removeItem(key);
    else window[storage].setItem(key, value);
  } catch (error) {
    // Not kept: the page still says what it must.
  }
}

// Returns a new tune's id: random, so that tabs never pick the same one.
export function newTuneId() {
  const bits = crypto.getRandomValues(new Uint32Array(2));
  return bits[0].toString(36) + bits[1].toString(36);
}

// Makes the tunes' store, and moves the one score earlier versions kept into it.
function upgrade(request) {
  const database = request.result;
  const tunes = database.createObjectStore(tuneStore, {keyPath: "id"});
  tunes.createIndex("edited", "edited");
  if (!database.objectStoreNames.contains(oldStore)) return;
  const old = request.transaction.objectStore(oldStore);
  old.get(oldKey).onsuccess = (event) => {
    const record = event.target.result;
    if (record && typeof record.text === "string" && typeof record.name === "string") {
      tunes.put(Object.assign({}, record, {id: newTuneId(), edited: Date.now(), tab: ""}));
    }
    database.deleteObjectStore(oldStore);
  };
}

// True for a record that is a tune this page can open.
function usable(record) {
  return Boolean(record) && typeof record.text === "string" && typeof record.name === "string" &&
         typeof record.id === "string";
}

// Returns the keeper of this tab's tunes:
//   load() -> Promise of {record, older}: this tab's tune after a reload,
//     else the tune edited last (null for none); older says the last text
//     shown was not kept, so that this one is older.
//   keep(id, record) -> Promise: keeps {text, name, origin, bytes} as tune
//     id; rejects with the reason when the browser refuses, and the copy
//     kept before stays. Where another tab changed the tune since this one
//     saw it, that version is kept as a tune of its own first.
//   open(id) -> Promise of the tune, or null.
//   recent(count) -> Promise of [{id, name, edited}], the last edited first.
//   onElsewhere(listener): listener(id) when another tab keeps tune id.
export function createKeeper() {
  const tab = newTuneId();
  const seen = new Map(); // tune id -> its edited time when this tab last read or wrote it
  const listeners = [];
  const channel = typeof BroadcastChannel === "function" ? new BroadcastChannel("score2wav-tunes") : null;
  if (channel !== null) {
    channel.onmessage = (event) => {
      if (event.data && event.data.tab !== tab) listeners.forEach((listener) => listener(event.data.id));
    };
  }
  let database = null;

  function open() {
    if (database === null) {
      const request = indexedDB.open(databaseName, 2);
      request.onupgradeneeded = () => upgrade(request);
      database = done(request).then((opened) => {
        opened.onversionchange = () => opened.close(); // another page deletes or upgrades it
        return opened;
      });
      database.catch(() => (database = null)); // a later call tries again
    }
    return database;
  }

  async function tune(id) {
    const transaction = (await open()).transaction(tuneStore);
    const record = await done(transaction.objectStore(tuneStore).get(id));
    if (!usable(record)) return null;
    seen.set(id, record.edited);
    return record;
  }

  async function lastEdited() {
    const index = (await open()).transaction(tuneStore).objectStore(tuneStore).index("edited");
    const cursor = await done(index.openCursor(null, "prev"));
    return cursor === null ? null : tune(cursor.value.id);
  }

  // Writes the tune in one transaction, keeping first a version another tab wrote.
  async function write(id, record) {
    const edited = Math.max(Date.now(), (seen.get(id) || 0) + 1);
    const transaction = (await open()).transaction(tuneStore, "readwrite");
    const tunes = transaction.objectStore(tuneStore);
    tunes.get(id).onsuccess = (event) => {
      const before = event.target.result;
      if (usable(before) && before.tab !== tab && before.edited !== seen.get(id)) {
        tunes.put(Object.assign({}, before, {id: newTuneId()}));
      }
      tunes.put(Object.assign({}, record, {id, edited, tab}));
    };
    await committed(transaction);
    seen.set(id, edited);
    if (channel !== null) channel.postMessage({id, tab});
  }

  return {
    async load() {
      const older = stored("localStorage", unkeptFlag) === "1";
      try {
        const mine = stored("sessionStorage", tabTune);
        const record = (mine !== null && (await tune(mine))) || (await lastEdited());
        return {record, older};
      } catch (error) {
        return {record: null, older, error};
      }
    },
    async keep(id, record) {
      store("sessionStorage", tabTune, id);
      try {
        await write(id, record);
        store("localStorage", unkeptFlag, null);
      } catch (error) {
        store("localStorage", unkeptFlag, "1");
        throw error;
      }
    },
    open: (id) => tune(id).catch(() => null),
    async recent(count) {
      try {
        const index = (await open()).transaction(tuneStore).objectStore(tuneStore).index("edited");
        const list = [];
        await new Promise((resolve, reject) => {
          const request = index.openCursor(null, "prev");
          request.onerror = () => reject(request.error);
          request.onsuccess = () => {
            const cursor = request.result;
            if (cursor === null || list.length === count) return resolve();
            if (usable(cursor.value)) list.push({id: cursor.value.id, name: cursor.value.name, edited: cursor.value.edited});
            cursor.continue();
          };
        });
        return list;
      } catch (error) {
        return [];
      }
    },
    onElsewhere(listener) {
      listeners.push(listener);
    },
  };
}

// Returns bytes as base64url (RFC 4648, without padding).
function base64url(bytes) {
  let binary = "";
  for (let i = 0; i < bytes.length; i += 32768) binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// Resolves to bytes passed through a compression or decompression stream.
async function pipe(bytes, stream) {
  return new Uint8Array(await new Response(new Blob([bytes]).stream().pipeThrough(stream)).arrayBuffer());
}

// Resolves to the link of a score: the page's address with the name and
// the score's bytes, deflated, in its fragment.
export async function linkOf(bytes, name, address) {
  const packed = await pipe(bytes, new CompressionStream("deflate-raw"));
  return `${address.split("#")[0]}#name=${encodeURIComponent(name)}&score=${base64url(packed)}`;
}

// The largest score a link may hold, inflated: a short link may inflate
// to gigabytes, which would hold the page and push out the work kept.
export const linkLimit = 64 * 1024 * 1024;

// Returns an Error whose reason is one of those scoreOfLink names.
function linkError(reason) {
  const error = new Error("the link's score cannot be opened: " + reason);
  error.reason = reason;
  return error;
}

// Resolves to {name, bytes} of a link's fragment; to null for a fragment
// that holds no score. inflate(packedText, limit) resolves to {bytes} or
// {error} (the worker's inflation, off the page's thread). Rejects with
// an Error whose reason is "name" (the name holds a NUL), "cut" (the
// score cannot be read: the link was cut short) or "large" (it inflates
// past linkLimit).
export async function scoreOfLink(fragment, inflate) {
  const fields = new URLSearchParams(fragment.replace(/^#/, ""));
  const packed = fields.get("score");
  if (packed === null) return null;
  const name = fields.get("name") || "";
  if (name.includes("\0")) throw linkError("name");
  const answer = await inflate(packed, linkLimit);
  if (answer === null || !(answer.bytes instanceof Uint8Array)) throw linkError(answer && answer.error === "large" ? "large" : "cut");
  return {name, bytes: answer.bytes};
}
