// The copy of the results file that this browser keeps between visits, in
// IndexedDB (Cache Storage would need a secure context, and results hosts are
// often plain http). The copy is a list of parts, so bringing it up to date stores
// only the new bytes; every change checks, in its transaction, that the copy is still
// the one it started from, so two tabs never append the same bytes twice.

const NAME = 'vantrel3-results';
const MAX_PARTS = 16;

function request(r) {
  return new Promise((resolve, reject) => {
    r.onsuccess = () => resolve(r.result);
    r.onerror = () => reject(r.error);
  });
}

function finished(transaction) {
  return new Promise((resolve, reject) => {
    transaction.oncomplete = () => resolve();
    transaction.onerror = () => reject(transaction.error);
    transaction.onabort = () => reject(transaction.error ?? new Error('the change was abandoned'));
  });
}

let opening = null;
function database() {
  opening ??= new Promise((resolve, reject) => {
    const open = indexedDB.open(NAME, 1);
    open.onupgradeneeded = () => {
      open.result.createObjectStore('copies'); // url -> { size, parts }
      open.result.createObjectStore('parts'); // [url, n] -> Blob
    };
    open.onsuccess = () => resolve(open.result);
    open.onerror = () => reject(open.error);
    open.onblocked = () => reject(new Error('another tab holds an older version of the stored copy'));
  });
  return opening;
}

const partsOf = (url, copy) => IDBKeyRange.bound([url, copy.first], [url, copy.first + copy.parts - 1]);

// The stored copy of url as { size, blob, parts }, or null.
export async function readCopy(url) {
  const db = await database();
  const transaction = db.transaction(['copies', 'parts']);
  const copy = await request(transaction.objectStore('copies').get(url));
  if (!copy) return null;
  const parts = await request(transaction.objectStore('parts').getAll(partsOf(url, copy)));
  const blob = new Blob(parts);
  return parts.length === copy.parts && blob.size === copy.size ? { size: copy.size, blob, parts: copy.parts } : null;
}

// Runs change(copy) on the copy's record ({ size, first, parts } or undefined) and
// stores the record it returns (null: none; undefined: leave it). Parts take ever
// higher numbers, so a new part never takes the key of one it replaces.
async function update(url, change) {
  const db = await database();
  const transaction = db.transaction(['copies', 'parts'], 'readwrite');
  const copies = transaction.objectStore('copies');
  const parts = transaction.objectStore('parts');
  const copy = await request(copies.get(url));
  const next = change(copy, parts);
  if (next) copies.put(next, url);
  else if (next === null) copies.delete(url);
  await finished(transaction);
}

function replaceParts(url, copy, parts, blob) {
  const first = copy ? copy.first + copy.parts : 0;
  if (copy) parts.delete(partsOf(url, copy));
  parts.put(blob, [url, first]);
  return { size: blob.size, first, parts: 1 };
}

// Adds bytes to the end of the copy when it is still size bytes long; resolves to
// whether it did.
export async function appendCopy(url, size, bytes) {
  let whole = null;
  let done = false;
  const known = await readCopy(url);
  if (!known || known.size !== size) return false;
  // Folded into one part now and then, so that reading the copy stays one file.
  if (known.parts >= MAX_PARTS) whole = new Blob([known.blob, bytes]);
  await update(url, (copy, parts) => {
    if (!copy || copy.size !== size) return undefined;
    done = true;
    if (whole) return replaceParts(url, copy, parts, whole);
    parts.put(new Blob([bytes]), [url, copy.first + copy.parts]);
    return { size: size + bytes.length, first: copy.first, parts: copy.parts + 1 };
  });
  return done;
}

// Keeps blob as the whole copy of url.
export function replaceCopy(url, blob) {
  return update(url, (copy, parts) => replaceParts(url, copy, parts, blob));
}

export function dropCopy(url) {
  return update(url, (copy, parts) => {
    if (copy) parts.delete(partsOf(url, copy));
    return null;
  });
}
