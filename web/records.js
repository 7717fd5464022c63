// The shared results file: records back to back, each four texts (a little-endian
// int32 length, then that many Windows-1252 bytes: name, e-mail, OS, processor) and
// a little-endian float64 score. The texts stay in the file's bytes; only offsets,
// scores and OS numbers are taken out, so a million records cost a few typed arrays
// rather than a million objects.

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

// Walks the records from the start. Calls onRecord(at, textStarts) for each whole
// one, where textStarts holds the byte offset of each text (its length sits in the
// four bytes before it). Returns { count, end, problem }: problem is null when the
// data ends exactly after a record, else where and why reading stopped.
function walk(bytes, onRecord) {
  const size = bytes.length;
  const data = new DataView(bytes.buffer, bytes.byteOffset, size);
  const starts = [0, 0, 0, 0];
  let at = 0;
  let count = 0;
  while (at < size) {
    let pos = at;
    let problem = null;
    for (let f = 0; f < 4; f++) {
      if (size - pos < 4) {
        problem = { reason: 'cut' };
        break;
      }
      const length = data.getInt32(pos, true);
      pos += 4;
      if (length < 0) {
        problem = { reason: 'negative', field: FIELDS[f], length };
        break;
      }
      if (length > size - pos) {
        problem = { reason: 'past-end', field: FIELDS[f], length };
        break;
      }
      starts[f] = pos;
      pos += length;
    }
    if (!problem && size - pos < 8) problem = { reason: 'cut' };
    if (problem) {
      return { count, end: at, problem: { ...problem, record: count + 1, offset: at, rest: size - at } };
    }
    if (onRecord) onRecord(at, starts, data.getFloat64(pos, true));
    at = pos + 8;
    count++;
  }
  return { count, end: at, problem: null };
}

// Short texts to numbers without making a string per record: a hash table over the
// bytes, so even a file where every OS differs stays linear.
class TextInterner {
  constructor(bytes) {
    this.bytes = bytes;
    this.starts = [];
    this.lengths = [];
    this.slots = new Int32Array(64).fill(-1);
  }

  idOf(start, length) {
    const bytes = this.bytes;
    let hash = 0x811c9dc5;
    for (let i = start; i < start + length; i++) hash = Math.imul(hash ^ bytes[i], 0x01000193);
    let mask = this.slots.length - 1;
    let slot = hash & mask;
    for (;;) {
      const id = this.slots[slot];
      if (id < 0) break;
      if (this.lengths[id] === length && sameBytes(bytes, this.starts[id], start, length)) return id;
      slot = (slot + 1) & mask;
    }
    const id = this.starts.length;
    this.starts.push(start);
    this.lengths.push(length);
    this.slots[slot] = id;
    if (this.starts.length * 2 > this.slots.length) this.grow();
    return id;
  }

  grow() {
    const slots = new Int32Array(this.slots.length * 2).fill(-1);
    const mask = slots.length - 1;
    const bytes = this.bytes;
    for (let id = 0; id < this.starts.length; id++) {
      let hash = 0x811c9dc5;
      for (let i = this.starts[id]; i < this.starts[id] + this.lengths[id]; i++) {
        hash = Math.imul(hash ^ bytes[i], 0x01000193);
      }
      let slot = hash & mask;
      while (slots[slot] >= 0) slot = (slot + 1) & mask;
      slots[slot] = id;
    }
    this.slots = slots;
  }
}

function sameBytes(bytes, a, b, length) {
  for (let i = 0; i < length; i++) if (bytes[a + i] !== bytes[b + i]) return false;
  return true;
}

// Indexes every whole record: where its name and processor start, its OS as a number
// into osNames, its score. A cut last record or a bad length ends the index there;
// problem says why (null for a clean file).
export function indexRecords(bytes, decoder = new TextDecoder('windows-1252')) {
  const { count } = walk(bytes, null);
  const nameStart = new Uint32Array(count);
  const processorStart = new Uint32Array(count);
  const os = new Uint32Array(count);
  const scores = new Float64Array(count);
  const interner = new TextInterner(bytes);
  let i = 0;
  const result = walk(bytes, (at, starts, score) => {
    nameStart[i] = starts[0];
    processorStart[i] = starts[3];
    os[i] = interner.idOf(starts[2], textLength(bytes, starts[2]));
    scores[i] = score;
    i++;
  });
  const osNames = interner.starts.map((start, id) =>
    decoder.decode(bytes.subarray(start, start + interner.lengths[id])));
  return { count, nameStart, processorStart, os, osNames, scores, problem: result.problem };
}

// The length of the text that starts at start (stored in the four bytes before it).
export function textLength(bytes, start) {
  return (bytes[start - 4] | (bytes[start - 3] << 8) | (bytes[start - 2] << 16) | (bytes[start - 1] << 24)) >>> 0;
}

export function textAt(bytes, start, decoder) {
  return decoder.decode(bytes.subarray(start, start + textLength(bytes, start)));
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
