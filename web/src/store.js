// Keeps the work (the tile file, its undo history, the scene and the
// options) in IndexedDB, so a reload or a closed tab loses nothing. One
// session, the latest, is kept.
const DATABASE = 'qelega_shapes';
const STORE = 'sessions';
const KEY = 'current';

function open() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open(DATABASE, 1);
    request.onupgradeneeded = () => request.result.createObjectStore(STORE);
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

async function transact(mode, use) {
  const database = await open();
  try {
    return await new Promise((resolve, reject) => {
      const transaction = database.transaction(STORE, mode);
      const request = use(transaction.objectStore(STORE));
      transaction.oncomplete = () => resolve(request.result);
      transaction.onerror = () => reject(transaction.error);
    });
  } finally {
    database.close();
  }
}

export const loadSession = () => transact('readonly', (store) => store.get(KEY));
export const saveSession = (session) => transact('readwrite', (store) => store.put(session, KEY));
