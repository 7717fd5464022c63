// Brings the results file up to date, moving only what is new, as the program does:
// the file only grows at its end, so a copy of its start is still good when the
// host's bytes from 512 before the copy's end match the copy's last 512. Then only
// the bytes after it come over the wire. Anything else (a file restored on the host,
// another file, a host that ignores Range) downloads the file whole.

import { isHostErrorPage } from './records.js';
import { appendCopy, dropCopy, readCopy, replaceCopy } from './store.js';
import { MAX_FILE_BYTES } from './dataset.js';

export const OVERLAP = 512;
// The first piece is small, so the first rows come soon (reading is slow until the
// code has warmed up); later ones are large, so each batch costs the page one message.
export const FIRST_PIECE = 16 << 10;
const PIECE = 2 << 20;

class Failure extends Error {
  constructor(reason, hint) {
    super(reason);
    this.hint = hint;
  }
}

const noAnswer = () => new Failure('the host did not answer',
  'Check that the results host is running and that this address is right, then press Reload.');
const cutOff = (loaded, total) => new Failure(`the download stopped after ${loaded} of ${total} bytes`,
  'The connection was cut: press Reload to try again.');

function refused(answer) {
  const reason = `the host answered ${answer.status} ${answer.statusText}`.trim();
  return new Failure(reason, answer.status >= 500
    ? 'The host is in trouble or busy: press Reload in a moment.'
    : 'The results file should be beside this page on the host: check the address.');
}

async function ask(url, headers = {}) {
  try {
    return await fetch(url, { cache: 'no-store', headers });
  } catch {
    throw noAnswer();
  }
}

// Feeds sink the bytes of url that it does not hold yet. known is { size, tail } of
// what sink holds already (null: nothing, then the browser's stored copy is tried);
// noted is the page's note of that copy (the same, null for none, undefined when the
// page cannot keep notes). early, when given, is the page's answer to the first
// question this would ask (see client.js).
// sink.reset(total) says the file comes again from its start; sink.piece(bytes)
// takes the next bytes. Resolves to { status: 'ok', how, moved, keep } (how:
// 'unchanged', 'added', 'copy' or 'download'; moved: bytes of the file that came over
// the wire; keep() stores what came, for the next visit, and resolves to whether the
// stored copy is now the file), { status: 'missing' } or
// { status: 'failed', reason, hint }.
export async function update(url, known, noted, sink, early = null) {
  try {
    return await bringUpToDate(url, known, noted, sink, early);
  } catch (error) {
    if (error instanceof Failure) return { status: 'failed', reason: error.message, hint: error.hint };
    return { status: 'failed', reason: String(error.message || error), hint: 'Press Reload to try again.' };
  }
}

// The stored copy with its last bytes, when it is the one noted (if a note is given).
async function storedCopy(url, noted) {
  const stored = await readCopy(url);
  if (!stored) return null;
  const tail = new Uint8Array(await stored.blob.slice(Math.max(stored.size - OVERLAP, 0)).arrayBuffer());
  const same = !noted || (noted.size === stored.size && noted.tail.length === tail.length && startsWith(tail, noted.tail));
  return same ? { ...stored, tail } : null;
}

// The page's answer as a Response, null when the page could not pass it on.
async function answerFrom(early) {
  const message = await early;
  if (message.failed) throw noAnswer();
  if (message.none) return null;
  return new Response(message.body, { status: message.status, statusText: message.statusText, headers: message.headers });
}

async function bringUpToDate(url, known, noted, sink, early) {
  const askFirst = async (headers) => {
    const answer = early && (await answerFrom(early));
    early = null;
    return answer ?? ask(url, headers);
  };
  let base = known;
  let stored = null;
  let opening = null;
  if (!base && noted !== null) {
    // With the page's note the host is asked while IndexedDB opens, which can take
    // longer than the answer; the copy must then be the one noted.
    opening = storedCopy(url, noted).catch(() => null);
    base = noted ?? (stored = await opening);
  }
  if (!base || !base.size) return download(url, await askFirst({}), sink);

  const from = base.size - base.tail.length;
  const answer = await askFirst({ Range: `bytes=${from}-` });
  if (answer.status === 200) return download(url, answer, sink); // the host sent it whole anyway
  if (answer.status === 206) {
    const range = /^bytes (\d+)-\d+\/(\d+|\*)$/.exec(answer.headers.get('Content-Range') ?? '');
    const body = await bytesOf(answer);
    const fresh = body.subarray(base.tail.length);
    if (range && Number(range[1]) === from && startsWith(body, base.tail)) {
      if (!known) {
        stored ??= await opening;
        if (!stored || !(await feedCopy(stored, fresh.length, sink))) return download(url, await ask(url), sink);
      }
      if (fresh.length) sink.piece(fresh);
      const keep = () => (fresh.length ? appendCopy(url, base.size, fresh).catch(() => false) : true);
      return { status: 'ok', how: known ? (fresh.length ? 'added' : 'unchanged') : 'copy', moved: body.length, keep };
    }
  } else if (answer.status === 404) {
    await dropCopy(url).catch(() => {});
    return { status: 'missing' };
  } else if (answer.status !== 416) {
    throw refused(answer);
  }
  // Shorter than the copy (416) or not its continuation: only the whole file can tell.
  return download(url, await ask(url), sink);
}

async function bytesOf(answer) {
  try {
    return new Uint8Array(await answer.arrayBuffer());
  } catch {
    throw new Failure('the connection was cut during the download', 'Press Reload to try again.');
  }
}

function startsWith(bytes, start) {
  if (bytes.length < start.length) return false;
  for (let i = 0; i < start.length; i++) if (bytes[i] !== start[i]) return false;
  return true;
}

// The stored copy, in pieces; false when it cannot be read after all. A stream reads
// ahead while a piece is worked on, and is several times quicker than slices.
async function feedCopy(stored, more, sink) {
  sink.reset(stored.size + more, 'copy');
  try {
    await feedStream(stored.blob.slice(0, FIRST_PIECE).stream().getReader(), sink);
    await feedStream(stored.blob.slice(FIRST_PIECE).stream().getReader(), sink);
    return true;
  } catch {
    return false;
  }
}

// Everything reader yields, PIECE bytes at a time.
async function feedStream(reader, sink) {
  let pending = [];
  let pendingLength = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (!done) {
      pending.push(value);
      pendingLength += value.length;
    }
    if (pendingLength && (done || pendingLength >= PIECE)) {
      sink.piece(join(pending, pendingLength));
      pending = [];
      pendingLength = 0;
    }
    if (done) return;
  }
}

async function download(url, answer, sink) {
  if (answer.status === 404) {
    await dropCopy(url).catch(() => {});
    return { status: 'missing' };
  }
  if (!answer.ok) throw refused(answer);
  // A compressed answer's length says nothing about the bytes that come out of it.
  const total = answer.headers.has('Content-Encoding') ? 0 : Number(answer.headers.get('Content-Length')) || 0;
  if (total > MAX_FILE_BYTES) {
    throw new Failure(`the file is ${total} bytes long, more than a results file can be`,
      'Check that this page is on the results host.');
  }
  sink.reset(total, 'download');
  const reader = answer.body.getReader();
  const kept = []; // what came, for the stored copy (made into a Blob after the load)
  let pending = []; // what came and is not fed yet
  let pendingLength = 0;
  let loaded = 0;
  const feed = () => {
    const bytes = join(pending, pendingLength);
    const first = loaded === pendingLength;
    pending = [];
    pendingLength = 0;
    if (first && isHostErrorPage(bytes)) return false;
    kept.push(bytes);
    if (first && bytes.length > FIRST_PIECE) {
      sink.piece(bytes.subarray(0, FIRST_PIECE));
      sink.piece(bytes.subarray(FIRST_PIECE));
    } else {
      sink.piece(bytes);
    }
    return true;
  };
  for (;;) {
    let chunk;
    try {
      chunk = await reader.read();
    } catch {
      throw cutOff(loaded, total || 'an unknown number of');
    }
    if (chunk.done) break;
    const piece = chunk.value;
    loaded += piece.length;
    if (loaded > MAX_FILE_BYTES) {
      throw new Failure('the file is larger than a results file can be', 'Check that this page is on the results host.');
    }
    pending.push(piece);
    pendingLength += piece.length;
    if (pendingLength >= (loaded === pendingLength ? FIRST_PIECE : PIECE) && !feed()) return missing(url);
  }
  if (pendingLength && !feed()) return missing(url);
  if (total && loaded < total) throw cutOff(loaded, total);
  const keep = () => (loaded ? replaceCopy(url, new Blob(kept)) : dropCopy(url)).then(() => true, () => false);
  return { status: 'ok', how: 'download', moved: loaded, keep };
}

async function missing(url) {
  await dropCopy(url).catch(() => {});
  return { status: 'missing' };
}

function join(pieces, length) {
  if (pieces.length === 1) return pieces[0];
  const out = new Uint8Array(length);
  let at = 0;
  for (const piece of pieces) {
    out.set(piece, at);
    at += piece.length;
  }
  return out;
}
