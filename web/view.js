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

function sortByText(data, starts, descending, tables) {
  const { bytes } = data;
  const weight = tables.weight;
  const n = data.count;
  // The first four weights packed in one number settle most comparisons.
  const prefix = new Uint32Array(n);
  for (let i = 0; i < n; i++) {
    const start = starts[i];
    const length = textLength(bytes, start);
    let key = 0;
    for (let k = 0; k < 4; k++) key = key * 256 + (k < length ? weight[bytes[start + k]] : 0);
    prefix[i] = key;
  }
  const rest = (a, b) => {
    const sa = starts[a] + 4;
    const sb = starts[b] + 4;
    const la = textLength(bytes, starts[a]) - 4;
    const lb = textLength(bytes, starts[b]) - 4;
    const m = Math.min(la, lb);
    for (let k = 0; k < m; k++) {
      const d = weight[bytes[sa + k]] - weight[bytes[sb + k]];
      if (d) return d;
    }
    return la - lb;
  };
  const sign = descending ? -1 : 1;
  const order = new Uint32Array(n);
  for (let i = 0; i < n; i++) order[i] = i;
  order.sort((a, b) => {
    const d = prefix[a] - prefix[b];
    if (d) return sign * d;
    return (prefix[a] & 0xff ? sign * rest(a, b) : 0) || a - b;
  });
  return order;
}
