// The shared results file: records back to back, each four texts (a little-endian
// int32 length, then that many Windows-1252 bytes: name, e-mail, OS, processor) and
// a little-endian float64 score. The file arrives in pieces; each piece's whole
// records come out as a batch that keeps only what the page shows (name and
// processor bytes, the OS as a number, the score), so e-mails never leave here and
// a million records cost a few typed arrays rather than a million objects.

export const FIELDS = ['name', 'e-mail', 'OS', 'processor'];
const HOST_ERROR_MARKER = '<HTML><HEAD><TITLE>';

// True when a download is the host's "no such file" page rather than the file.
export function isHostErrorPage(bytes) {
  if (bytes.length < HOST_ERROR_MARKER.length) return false;
  for (let i = 0; i < HOST_ERROR_MARKER.length; i++) {
    if (bytes[i] !== HOST_ERROR_MARKER.charCodeAt(i)) return false;
  }
  return true;
}

function hashOf(bytes, start, length) {
  let hash = 0x811c9dc5;
  for (let i = start; i < start + length; i++) hash = Math.imul(hash ^ bytes[i], 0x01000193);
  return hash;
}

// Short texts to numbers without making a string per record: a hash table over the
// bytes, so even a file where every OS differs stays linear. Each distinct text
// keeps its own copy, since the pieces it came from are dropped.
export class TextInterner {
  constructor() {
    this.texts = [];
    this.slots = new Int32Array(64).fill(-1);
  }

  // The text's number, or -1 when it is new.
  find(bytes, start = 0, length = bytes.length) {
    const mask = this.slots.length - 1;
    let slot = hashOf(bytes, start, length) & mask;
    for (;;) {
      const id = this.slots[slot];
      if (id < 0 || sameBytes(this.texts[id], bytes, start, length)) return id;
      slot = (slot + 1) & mask;
    }
  }

  idOf(bytes, start, length) {
    const known = this.find(bytes, start, length);
    if (known >= 0) return known;
    const mask = this.slots.length - 1;
    let slot = hashOf(bytes, start, length) & mask;
    while (this.slots[slot] >= 0) slot = (slot + 1) & mask;
    const id = this.texts.length;
    this.texts.push(bytes.slice(start, start + length));
    this.slots[slot] = id;
    if (this.texts.length * 2 > this.slots.length) this.grow();
    return id;
  }

  grow() {
    const slots = new Int32Array(this.slots.length * 2).fill(-1);
    const mask = slots.length - 1;
    this.texts.forEach((text, id) => {
      let slot = hashOf(text, 0, text.length) & mask;
      while (slots[slot] >= 0) slot = (slot + 1) & mask;
      slots[slot] = id;
    });
    this.slots = slots;
  }
}

function sameBytes(text, bytes, start, length) {
  if (text.length !== length) return false;
  for (let i = 0; i < length; i++) if (text[i] !== bytes[start + i]) return false;
  return true;
}

// Reads the records of a file that arrives in pieces. push() returns the records
// that a piece completes (null when none). Reading stops for good at a length that
// is negative; a record cut short, or a length that runs past what has arrived, may
// still be completed by more data. check() says why the data so far does not end
// after a whole record: { reason: 'cut' | 'negative' | 'past-end', field, length,
// record, offset, rest }, or null.
export class RecordReader {
  constructor(decoder = new TextDecoder('windows-1252')) {
    this.decoder = decoder;
    this.count = 0; // whole records read
    this.end = 0; // where they end in the file
    this.size = 0; // bytes pushed
    this.held = []; // bytes after the last whole record, waiting for the rest of it
    this.heldLength = 0;
    this.need = 0; // bytes the held record needs before reading it again can get further
    this.stopped = null; // the negative length that ended reading
    this.interner = new TextInterner();
    this.osNames = [];
  }

  push(piece) {
    this.size += piece.length;
    if (this.stopped) return null;
    if (this.heldLength) {
      this.held.push(piece);
      this.heldLength += piece.length;
      if (this.heldLength < this.need) return null;
      piece = this.takeHeld();
    }
    const { count, textBytes, stop, problem } = this.scan(piece);
    const batch = count ? this.collect(piece, count, textBytes) : null;
    if (problem?.reason === 'negative') {
      this.stopped = problem;
    } else if (stop < piece.length) {
      this.held = [piece.slice(stop)];
      this.heldLength = piece.length - stop;
      this.need = problem.need;
    }
    return batch;
  }

  check() {
    let problem = this.stopped;
    if (!problem && this.heldLength) {
      const length = this.heldLength;
      this.held = [this.takeHeld()];
      this.heldLength = length;
      problem = this.scan(this.held[0]).problem;
    }
    if (!problem) return null;
    const { need, ...why } = problem;
    return { ...why, record: this.count + 1, offset: this.end, rest: this.size - this.end };
  }

  takeHeld() {
    const bytes = concat(this.held, this.heldLength);
    this.held = [];
    this.heldLength = 0;
    return bytes;
  }

  // Where the whole records at the start of bytes end, how many there are and how many
  // name and processor bytes they hold, and what stops the record after them.
  scan(bytes) {
    const size = bytes.length;
    const view = new DataView(bytes.buffer, bytes.byteOffset, size);
    let at = 0;
    let count = 0;
    let textBytes = 0;
    while (at < size) {
      let pos = at;
      let kept = 0;
      let problem = null;
      for (let f = 0; f < 4; f++) {
        if (size - pos < 4) {
          problem = { reason: 'cut', need: pos + 4 - at };
          break;
        }
        const length = view.getInt32(pos, true);
        pos += 4;
        if (length < 0) {
          problem = { reason: 'negative', field: FIELDS[f], length };
          break;
        }
        if (length > size - pos) {
          problem = { reason: 'past-end', field: FIELDS[f], length, need: pos + length - at };
          break;
        }
        if (f === 0 || f === 3) kept += length;
        pos += length;
      }
      if (!problem && size - pos < 8) problem = { reason: 'cut', need: pos + 8 - at };
      if (problem) return { count, textBytes, stop: at, problem };
      textBytes += kept;
      at = pos + 8;
      count++;
    }
    return { count, textBytes, stop: at, problem: null };
  }

  collect(bytes, count, textBytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
    const texts = new Uint8Array(textBytes);
    const bounds = new Uint32Array(2 * count + 1);
    const os = new Uint32Array(count);
    const scores = new Float64Array(count);
    const knownOs = this.osNames.length;
    let at = 0;
    let used = 0;
    // Byte loops rather than set(subarray()): two short copies a record, and no objects.
    for (let i = 0; i < count; i++) {
      const nameLength = view.getInt32(at, true);
      bounds[2 * i] = used;
      for (let k = at + 4, e = at + 4 + nameLength; k < e; k++) texts[used++] = bytes[k];
      at += 4 + nameLength;
      at += 4 + view.getInt32(at, true); // the e-mail stays behind
      const osLength = view.getInt32(at, true);
      os[i] = this.interner.idOf(bytes, at + 4, osLength);
      at += 4 + osLength;
      const processorLength = view.getInt32(at, true);
      bounds[2 * i + 1] = used;
      for (let k = at + 4, e = at + 4 + processorLength; k < e; k++) texts[used++] = bytes[k];
      at += 4 + processorLength;
      scores[i] = view.getFloat64(at, true);
      at += 8;
    }
    bounds[2 * count] = used;
    for (let id = knownOs; id < this.interner.texts.length; id++) {
      this.osNames.push(this.decoder.decode(this.interner.texts[id]));
    }
    // Few OS names (the usual case) take a byte a record.
    const most = this.osNames.length;
    const osIds = most <= 256 ? Uint8Array.from(os) : most <= 65536 ? Uint16Array.from(os) : os;
    const batch = { first: this.count, count, texts, bounds, os: osIds, scores, osNames: this.osNames.slice(knownOs) };
    this.count += count;
    this.end += at;
    return batch;
  }
}

function concat(pieces, length) {
  if (pieces.length === 1) return pieces[0];
  const out = new Uint8Array(length);
  let at = 0;
  for (const piece of pieces) {
    out.set(piece, at);
    at += piece.length;
  }
  return out;
}

// Orders and ranks by score without a comparison callback, fast for a million: a
// stable radix sort on the scores' bits, so equal scores keep file order. NaN counts
// as the lowest score, -0 as 0. rank is 1 for the highest score; equal scores share
// a rank ("1, 2, 2, 4").
export function rankScores(scores) {
  const n = scores.length;
  // Each score as a 64-bit key whose unsigned order is the numbers' order.
  const bits = new Uint32Array(2);
  const number = new Float64Array(bits.buffer);
  let high = new Uint32Array(n);
  let low = new Uint32Array(n);
  let order = new Uint32Array(n);
  for (let i = 0; i < n; i++) {
    const s = scores[i];
    number[0] = s !== s ? -Infinity : s + 0;
    const negative = bits[1] >>> 31;
    high[i] = negative ? ~bits[1] >>> 0 : (bits[1] | 0x80000000) >>> 0;
    low[i] = negative ? ~bits[0] >>> 0 : bits[0];
    order[i] = i;
  }
  let nextHigh = new Uint32Array(n);
  let nextLow = new Uint32Array(n);
  let nextOrder = new Uint32Array(n);
  const counts = new Uint32Array(65536);
  for (let pass = 0; pass < 4; pass++) {
    const word = pass < 2 ? low : high;
    const shift = pass % 2 ? 16 : 0;
    counts.fill(0);
    for (let i = 0; i < n; i++) counts[(word[i] >>> shift) & 0xffff]++;
    if (n === 0 || counts[(word[0] >>> shift) & 0xffff] === n) continue; // one digit: nothing moves
    let sum = 0;
    for (let d = 0; d < 65536; d++) {
      const c = counts[d];
      counts[d] = sum;
      sum += c;
    }
    for (let i = 0; i < n; i++) {
      const at = counts[(word[i] >>> shift) & 0xffff]++;
      nextHigh[at] = high[i];
      nextLow[at] = low[i];
      nextOrder[at] = order[i];
    }
    [high, nextHigh] = [nextHigh, high];
    [low, nextLow] = [nextLow, low];
    [order, nextOrder] = [nextOrder, order];
  }
  // Runs of equal keys: ascending keeps them, descending takes the runs backwards,
  // each still in file order.
  const descending = nextOrder;
  const rank = nextHigh;
  let end = n;
  while (end > 0) {
    let start = end - 1;
    while (start > 0 && high[start - 1] === high[end - 1] && low[start - 1] === low[end - 1]) start--;
    const at = n - end;
    for (let k = start; k < end; k++) {
      descending[at + k - start] = order[k];
      rank[order[k]] = at + 1;
    }
    end = start;
  }
  return { ascending: order, descending, rank };
}

// Share of all results at or below a rank's score, in percent: 100 for the best.
export function percentile(rank, count) {
  return ((count - rank + 1) / count) * 100;
}
