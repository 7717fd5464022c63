// Sorting and filtering straight on the file's bytes: orders are permutations of
// record numbers (Uint32Array), text is compared through per-byte tables built
// from the browser's own Windows-1252 decoder, so no record text becomes a string
// until its row is on screen.

import { textLength } from './records.js';

// Per byte: the byte of its lower-case form (for matching), and a sort weight
// that ignores case and accents ("é", "E" and "e" weigh the same), 1..255.
export function byteTables(decoder = new TextDecoder('windows-1252')) {
  const chars = [];
  for (let b = 0; b < 256; b++) chars.push(decoder.decode(Uint8Array.of(b)));
  const byteOf = new Map(chars.map((c, b) => [c, b]));
  const fold = new Uint8Array(256);
  const bases = [];
  for (let b = 0; b < 256; b++) {
    const lower = chars[b].toLowerCase();
    fold[b] = byteOf.has(lower) ? byteOf.get(lower) : b;
    bases.push(lower.normalize('NFD')[0] ?? lower);
  }
  const order = [...new Set(bases)].sort((a, b) => a.codePointAt(0) - b.codePointAt(0));
  const weight = new Uint8Array(256);
  for (let b = 0; b < 256; b++) weight[b] = order.indexOf(bases[b]) + 1;
  return { fold, weight, byteOf };
}

// The query as folded Windows-1252 bytes; null when it holds a character the code
// page has no byte for (then no record can contain it).
export function queryBytes(query, tables) {
  const out = new Uint8Array(query.length);
  let i = 0;
  for (const c of query.toLowerCase()) {
    const b = tables.byteOf.get(c);
    if (b === undefined) return null;
    out[i++] = tables.fold[b];
  }
  return out.subarray(0, i);
}

function contains(bytes, start, length, query, fold) {
  const m = query.length;
  const last = start + length - m;
  const first = query[0];
  for (let i = start; i <= last; i++) {
    if (fold[bytes[i]] !== first) continue;
    let j = 1;
    while (j < m && fold[bytes[i + j]] === query[j]) j++;
    if (j === m) return true;
  }
  return false;
}

// Keeps, in the given order, the records whose name or processor holds the query
// (any case) and whose OS is os (-1: any). Writes into out and returns the part used.
export function filterOrder(data, order, query, os, tables, out) {
  const { bytes, nameStart, processorStart } = data;
  const osOf = data.os;
  const fold = tables.fold;
  let n = 0;
  if (query === null) return out.subarray(0, 0);
  const anyText = query.length === 0;
  for (let k = 0; k < order.length; k++) {
    const i = order[k];
    if (os >= 0 && osOf[i] !== os) continue;
    if (!anyText) {
      const name = nameStart[i];
      const processor = processorStart[i];
      if (!contains(bytes, name, textLength(bytes, name), query, fold)
        && !contains(bytes, processor, textLength(bytes, processor), query, fold)) continue;
    }
    out[n++] = i;
  }
  return out.subarray(0, n);
}

// Stable orders of all records by one column, ties in file order. "file" is the
// records' own order; "rank" and "percentile" follow the score.
export function sortOrder(data, column, descending, tables) {
  const n = data.count;
  if (column === 'file') {
    const order = new Uint32Array(n);
    for (let i = 0; i < n; i++) order[i] = descending ? n - 1 - i : i;
    return order;
  }
  if (column === 'score') return descending ? data.descending : data.ascending;
  if (column === 'rank') return descending ? data.ascending : data.descending;
  if (column === 'percentile') return descending ? data.descending : data.ascending;
  if (column === 'os') return sortByOs(data, descending, tables);
  return sortByText(data, column === 'name' ? data.nameStart : data.processorStart, descending, tables);
}

function sortByOs(data, descending, tables) {
  // Few distinct values: order the names, then a counting sort keeps file order.
  const ids = data.osNames.map((_, id) => id);
  const keys = data.osNames.map((name) => [...name].map((c) => tables.weight[tables.byteOf.get(c) ?? 255]));
  ids.sort((a, b) => compareArrays(keys[a], keys[b]) * (descending ? -1 : 1) || a - b);
  const slot = new Uint32Array(ids.length + 1);
  ids.forEach((id, position) => { slot[id] = position; });
  const counts = new Uint32Array(ids.length + 1);
  for (let i = 0; i < data.count; i++) counts[slot[data.os[i]] + 1]++;
  for (let p = 1; p <= ids.length; p++) counts[p] += counts[p - 1];
  const order = new Uint32Array(data.count);
  for (let i = 0; i < data.count; i++) order[counts[slot[data.os[i]]]++] = i;
  return order;
}

function compareArrays(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] - b[i];
  return a.length - b.length;
}

// Sort weights of a text, size of them from byte size * level on, packed so that a
// text that ends sorts first; 0 for a text that ended before.
function chunk(bytes, start, level, size, weight) {
  const length = textLength(bytes, start);
  let key = 0;
  for (let k = size * level; k < size * (level + 1); k++) key = key * 256 + (k < length ? weight[bytes[start + k]] : 0);
  return key;
}

// A few bytes at a time: each round sorts every run of texts that agree so far by
// their next weights, natively on doubles that hold the weights and the record
// number, so ties stay in file order without a comparison callback. Four bytes a
// round leave room for 2^21 record numbers in a double's 53 bits, three for 2^29.
function sortByText(data, starts, descending, tables, size = data.count <= 2 ** 21 ? 4 : 3) {
  const { bytes } = data;
  const weight = tables.weight;
  const n = data.count;
  const span = 2 ** (53 - 8 * size);
  const top = 2 ** (8 * size) - 1;
  const order = new Uint32Array(n);
  for (let i = 0; i < n; i++) order[i] = i;
  const keys = new Float64Array(n);
  let runs = [0, n];
  for (let level = 0; runs.length; level++) {
    const next = [];
    for (let r = 0; r < runs.length; r += 2) {
      const from = runs[r];
      const to = runs[r + 1];
      for (let k = from; k < to; k++) {
        const i = order[k];
        const key = chunk(bytes, starts[i], level, size, weight);
        keys[k] = (descending ? top - key : key) * span + i;
      }
      const run = keys.subarray(from, to).sort();
      let same = from;
      let key = Math.floor(run[0] / span);
      for (let k = from; k < to; k++) {
        order[k] = run[k - from] % span;
        const nextKey = k + 1 < to ? Math.floor(run[k + 1 - from] / span) : -1;
        if (nextKey === key) continue;
        // Texts that agree on these weights and go on need the next round.
        const ended = (descending ? top - key : key) % 256 === 0;
        if (k > same && !ended) next.push(same, k + 1);
        same = k + 1;
        key = nextKey;
      }
    }
    runs = next;
  }
  return order;
}
