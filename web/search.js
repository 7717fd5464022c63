// Searching and sorting the worker's data set (dataset.js). Orders are permutations
// of record numbers (Uint32Array); ties always stay in file order. A search reads
// each distinct text once, as one run of bytes, then takes the records whose name or
// processor matched, in the order being shown.

import { foldText } from './fold.js';

// One flag per distinct text (dataset.js) that holds query (already folded).
function matchTexts(texts, query, frequency) {
  const flags = new Uint8Array(texts.count);
  const { keys, starts } = texts;
  const m = query.length;
  const end = texts.size;
  // Look for the query's rarest weight: the native indexOf skips most of the bytes.
  let anchor = 0;
  for (let j = 1; j < m; j++) if (frequency[query[j]] < frequency[query[anchor]]) anchor = j;
  const wanted = query[anchor];
  let text = 0;
  let from = anchor;
  while (from < end) {
    const found = keys.indexOf(wanted, from);
    if (found < 0 || found >= end) break;
    const start = found - anchor;
    while (starts[text + 1] <= start) text++;
    let j = 0;
    if (start + m <= starts[text + 1]) while (j < m && keys[start + j] === query[j]) j++;
    if (j === m) {
      flags[text] = 1;
      from = starts[text + 1] + anchor; // one match is enough: on to the next text
    } else {
      from = found + 1;
    }
  }
  return flags;
}

// One flag per record whose name or processor holds query (already folded).
export function matchRecords(data, query) {
  const textFlags = matchTexts(data.texts, query, data.frequency ?? countWeights(data));
  const [names, processors] = data.ids;
  const flags = new Uint8Array(data.count);
  for (let i = 0; i < data.count; i++) flags[i] = textFlags[names[i]] | textFlags[processors[i]];
  return flags;
}

function countWeights(data) {
  const frequency = new Uint32Array(256);
  const { keys } = data.texts;
  for (let i = 0, end = data.texts.size; i < end; i++) frequency[keys[i]]++;
  data.frequency = frequency;
  return frequency;
}

// The records of order whose flag is set, in that order.
function keep(order, flags) {
  let n = 0;
  for (let k = 0; k < order.length; k++) if (flags[order[k]]) n++;
  const out = new Uint32Array(n);
  n = 0;
  for (let k = 0; k < order.length; k++) if (flags[order[k]]) out[n++] = order[k];
  return out;
}

// Stable orders of all records by one column. "file" is the records' own order;
// "rank" and "percentile" follow the score.
export function sortOrder(data, column, descending) {
  const n = data.count;
  if (column === 'file') {
    const order = new Uint32Array(n);
    for (let i = 0; i < n; i++) order[i] = descending ? n - 1 - i : i;
    return order;
  }
  if (column === 'score' || column === 'rank' || column === 'percentile') {
    const highestFirst = column === 'rank' ? !descending : descending;
    const { scores } = data;
    return highestFirst ? data.highestFirst()
      : backwards(data.highestFirst(), (a, b) => scores[a] === scores[b] || (scores[a] !== scores[a] && scores[b] !== scores[b]));
  }
  if (column === 'os') return sortByGroup(data.osGroup, n, osGroupOrder(data, descending));
  return sortByText(data, column === 'name' ? 0 : 1, descending);
}

// order taken backwards run by run: records that tie (same(a, b)) keep their order.
function backwards(order, same) {
  const n = order.length;
  const out = new Uint32Array(n);
  let at = 0;
  for (let end = n; end > 0;) {
    let start = end - 1;
    while (start > 0 && same(order[start - 1], order[end - 1])) start--;
    for (let k = start; k < end; k++) out[at++] = order[k];
    end = start;
  }
  return out;
}

// Each distinct text's place among all in sorted order, made once for the data set.
export function textRanks(data) {
  if (!data.textRank) {
    const { texts } = data;
    const order = sortTexts(texts.keys, texts.starts, texts.count);
    const rank = new Uint32Array(texts.count);
    for (let k = 0; k < order.length; k++) rank[order[k]] = k;
    data.textRank = rank;
  }
  return data.textRank;
}

// The records by name (field 0) or processor (1): a counting sort by their texts'
// places, so records whose texts fold alike keep file order, in either direction.
function sortByText(data, field, descending) {
  const rank = textRanks(data);
  const ids = data.ids[field];
  const n = data.count;
  const last = rank.length - 1;
  const starts = new Uint32Array(rank.length + 1);
  const key = (i) => (descending ? last - rank[ids[i]] : rank[ids[i]]);
  for (let i = 0; i < n; i++) starts[key(i) + 1]++;
  for (let k = 1; k < starts.length; k++) starts[k] += starts[k - 1];
  const order = new Uint32Array(n);
  for (let i = 0; i < n; i++) order[starts[key(i)]++] = i;
  return order;
}

// The OS groups by their folded spelling.
function osGroupOrder(data, descending) {
  const folded = data.osGroups.texts;
  const ids = folded.map((_, id) => id);
  ids.sort((a, b) => compareBytes(folded[a], folded[b]) * (descending ? -1 : 1));
  return ids;
}

function compareBytes(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] - b[i];
  return a.length - b.length;
}

// A counting sort by a small number per record, groups in the order given.
function sortByGroup(groupOf, n, groups) {
  const slot = new Uint32Array(groups.length);
  groups.forEach((group, position) => { slot[group] = position; });
  const starts = new Uint32Array(groups.length + 1);
  for (let i = 0; i < n; i++) starts[slot[groupOf[i]] + 1]++;
  for (let p = 1; p <= groups.length; p++) starts[p] += starts[p - 1];
  const order = new Uint32Array(n);
  for (let i = 0; i < n; i++) order[starts[slot[groupOf[i]]]++] = i;
  return order;
}

const SMALL = 32;

// The n texts of keys (text t is keys[starts[t], starts[t + 1])) in order: a
// most-significant-byte radix sort, where each bucket of texts that agree so far is
// spread by its next weight (0 once a text has ended, so it comes first); small
// buckets are sorted by insertion. Each text's start, end and next four weights move
// along with the order, so most passes read no text at all.
function sortTexts(keys, starts, n) {
  const order = new Uint32Array(n);
  const start = new Uint32Array(n);
  const end = new Uint32Array(n);
  const word = new Uint32Array(n);
  for (let i = 0; i < n; i++) {
    order[i] = i;
    start[i] = starts[i];
    end[i] = starts[i + 1];
  }
  const spare = [new Uint32Array(n), new Uint32Array(n), new Uint32Array(n), new Uint32Array(n)];
  const digit = new Uint8Array(n);
  const counts = new Uint32Array(256);
  const next = new Uint32Array(256);
  const stack = [0, n, 0];
  while (stack.length) {
    const depth = stack.pop();
    const to = stack.pop();
    const from = stack.pop();
    if (to - from <= SMALL) {
      insertionSort(keys, order, start, end, from, to, depth);
      continue;
    }
    const shift = 24 - 8 * (depth & 3);
    if (shift === 24) {
      for (let k = from; k < to; k++) {
        const at = start[k] + depth;
        const left = end[k] - at;
        word[k] = left >= 4 ? ((keys[at] << 24) | (keys[at + 1] << 16) | (keys[at + 2] << 8) | keys[at + 3]) >>> 0
          : left <= 0 ? 0 : ((keys[at] << 24) | (left > 1 ? keys[at + 1] << 16 : 0) | (left > 2 ? keys[at + 2] << 8 : 0)) >>> 0;
      }
    }
    counts.fill(0);
    for (let k = from; k < to; k++) {
      const w = (word[k] >>> shift) & 255;
      digit[k] = w;
      counts[w]++;
    }
    if (counts[0] === to - from) continue; // every text has ended: all equal
    let single = 0;
    for (let w = 1; w < 256 && !single; w++) if (counts[w] === to - from) single = w;
    if (single) {
      stack.push(from, to, depth + 1);
      continue;
    }
    let sum = from;
    for (let w = 0; w < 256; w++) {
      next[w] = sum;
      if (w && counts[w] > 1) stack.push(sum, sum + counts[w], depth + 1);
      sum += counts[w];
    }
    const [spareOrder, spareStart, spareEnd, spareWord] = spare;
    for (let k = from; k < to; k++) {
      const at = next[digit[k]]++;
      spareOrder[at] = order[k];
      spareStart[at] = start[k];
      spareEnd[at] = end[k];
      spareWord[at] = word[k];
    }
    order.set(spareOrder.subarray(from, to), from);
    start.set(spareStart.subarray(from, to), from);
    end.set(spareEnd.subarray(from, to), from);
    word.set(spareWord.subarray(from, to), from);
  }
  return order;
}

function insertionSort(keys, order, start, end, from, to, depth) {
  for (let k = from + 1; k < to; k++) {
    const i = order[k];
    const s = start[k];
    const e = end[k];
    let j = k;
    while (j > from && compareFrom(keys, start[j - 1], end[j - 1], s, e, depth) > 0) {
      order[j] = order[j - 1];
      start[j] = start[j - 1];
      end[j] = end[j - 1];
      j--;
    }
    order[j] = i;
    start[j] = s;
    end[j] = e;
  }
}

// Compares two texts from depth on; a text that ends first is the smaller.
function compareFrom(keys, aStart, aEnd, bStart, bEnd, depth) {
  let a = aStart + depth;
  let b = bStart + depth;
  for (; a < aEnd && b < bEnd; a++, b++) if (keys[a] !== keys[b]) return keys[a] - keys[b];
  return (aEnd - a) - (bEnd - b);
}

// The records to show: those matching q (name or processor), os (an OS group's
// spelling, any case) and processor (a whole processor text, any case), in the
// order of sort. sorted is the cached order to reuse.
export function viewOrder(data, { q, os, processor }, sorted) {
  let flags = null;
  const narrow = (test) => {
    flags ??= new Uint8Array(data.count).fill(1);
    for (let i = 0; i < data.count; i++) if (flags[i] && !test(i)) flags[i] = 0;
  };
  if (q) {
    const query = foldText(q, data.tables);
    if (!query) return new Uint32Array(0);
    flags = matchRecords(data, query);
  }
  if (os) {
    const folded = foldText(os, data.tables);
    const group = folded ? data.osGroups.find(folded) : -1;
    if (group < 0) return new Uint32Array(0);
    narrow((i) => data.osGroup[i] === group);
  }
  if (processor) {
    const folded = foldText(processor, data.tables);
    const text = folded ? data.texts.find(folded) : -1;
    if (text < 0) return new Uint32Array(0);
    const processors = data.ids[1];
    narrow((i) => processors[i] === text);
  }
  return flags ? keep(sorted, flags) : sorted.slice();
}
