// Keeping a score: across reloads in the browser's IndexedDB (any size the
// browser grants; local storage refuses a few megabytes), and in a link
// whose fragment holds the score compressed, which a fresh page opens.
(function () {
  "use strict";
  const page = (window.score2wavPage = window.score2wavPage || {});

  const databaseName = "score2wav";
  const storeName = "work";
  const recordKey = "score";
  // Set while the last text could not be kept: a reload then says that the
  // text it finds, if any, is older than the one last shown.
  const unkeptFlag = "score2wav.unkept";

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

  function setFlag(on) {
    try {
      if (on) localStorage.setItem(unkeptFlag, "1");
      else localStorage.removeItem(unkeptFlag);
    } catch (error) {
      // Without local storage the flag is not kept; the message on the page still says it.
    }
  }

  function flagSet() {
    try {
      return localStorage.getItem(unkeptFlag) === "1";
    } catch (error) {
      return false;
    }
  }

  // Returns {load() -> Promise of {record, older}, keep(record) -> Promise}.
  // record is {text, name, origin, bytes}; older says the last text shown
  // was not kept, so that this one is older. keep rejects with the reason
  // when the record could not be kept, after removing any older one.
  page.createKeeper = function () {
    let database = null;

    function open() {
      if (database === null) {
        const request = indexedDB.open(databaseName, 1);
        request.onupgradeneeded = () => request.result.createObjectStore(storeName);
        database = done(request).then((opened) => {
          opened.onversionchange = () => opened.close(); // another page deletes or upgrades it
          return opened;
        });
        database.catch(() => (database = null)); // a later call tries again
      }
      return database;
    }

    return {
      async load() {
        const older = flagSet();
        try {
          const store = (await open()).transaction(storeName).objectStore(storeName);
          const record = await done(store.get(recordKey));
          const usable = record && typeof record.text === "string" && typeof record.name === "string";
          return {record: usable ? record : null, older};
        } catch (error) {
          return {record: null, older, error};
        }
      },
      async keep(record) {
        try {
          const transaction = (await open()).transaction(storeName, "readwrite");
          transaction.objectStore(storeName).put(record, recordKey);
          await committed(transaction);
          setFlag(false);
        } catch (error) {
          setFlag(true);
          try { // an older text must not come back as if it were this one
            const transaction = (await open()).transaction(storeName, "readwrite");
            transaction.objectStore(storeName).delete(recordKey);
            await committed(transaction);
          } catch (ignored) {
            // The flag says it instead.
          }
          throw error;
        }
      },
    };
  };

  // Returns bytes as base64url (RFC 4648, without padding).
  function base64url(bytes) {
    let binary = "";
    for (let i = 0; i < bytes.length; i += 32768) binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
    return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
  }

  function fromBase64url(text) {
    const binary = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // Resolves to bytes passed through a compression or decompression stream.
  async function pipe(bytes, stream) {
    return new Uint8Array(await new Response(new Blob([bytes]).stream().pipeThrough(stream)).arrayBuffer());
  }

  // Resolves to the link of a score: the page's address with the name and
  // the score's bytes, deflated, in its fragment.
  page.linkOf = async function (bytes, name, address) {
    const packed = await pipe(bytes, new CompressionStream("deflate-raw"));
    return `${address.split("#")[0]}#name=${encodeURIComponent(name)}&score=${base64url(packed)}`;
  };

  // Resolves to {name, bytes} of a link's fragment; to null for a fragment
  // that holds no score; rejects for one whose score cannot be read (cut short).
  page.scoreOfLink = async function (fragment) {
    const fields = new URLSearchParams(fragment.replace(/^#/, ""));
    const packed = fields.get("score");
    if (packed === null) return null;
    const bytes = await pipe(fromBase64url(packed), new DecompressionStream("deflate-raw"));
    return {name: fields.get("name") || "", bytes};
  };
})();
