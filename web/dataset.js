// The worker's copy of the results, for searching, sorting and summing up. Names and
// processors repeat (a processor model, a visitor who submits again), so each distinct
// text is kept once, folded to weights (see fold.js), and each record holds the
// numbers of its two texts: a search reads every distinct text once and a text sort
// orders them once. Besides: each record's score and OS group. The arrays grow by
// doubling while batches arrive and are cut to size when the file has been read
// (typed arrays over resizable buffers would grow in place, but V8 reads them a few
// times slower).

import { TextInterner, rankScores } from './records.js';

// The program refuses a shared file larger than this too.
export const MAX_FILE_BYTES = 512 * 2 ** 20;

// array, or a copy of its first used elements in one at least length long.
function ensure(array, used, length) {
  if (array.length >= length) return array;
  if (length > MAX_FILE_BYTES) throw new RangeError('the results file is larger than 512 MiB');
  const bigger = new array.constructor(Math.max(length, 2 * array.length, 1024));
  bigger.set(array.subarray(0, used));
  return bigger;
}

const cut = (array, length) => (array.length > length ? array.slice(0, length) : array);

function hashOf(bytes, start, length) {
  let hash = 0x811c9dc5;
  for (let i = start; i < start + length; i++) hash = Math.imul(hash ^ bytes[i], 0x01000193);
  return hash;
}

// Distinct texts back to back in one array: text t is keys[starts[t], starts[t + 1]).
// A hash table over them gives a text's number without a string or an array per text.
export class FoldedTexts {
  constructor() {
    this.count = 0;
    this.keys = new Uint8Array(0);
    this.starts = new Uint32Array(1);
    this.slots = new Int32Array(1024).fill(-1);
  }

  get size() {
    return this.starts[this.count];
  }

  text(id) {
    return this.keys.subarray(this.starts[id], this.starts[id + 1]);
  }

  // The number of bytes[start, start + length), or -1 when it is not here.
  find(bytes, start = 0, length = bytes.length) {
    const slot = this.slotOf(bytes, start, length);
    return this.slots[slot];
  }

  idOf(bytes, start, length) {
    const slot = this.slotOf(bytes, start, length);
    if (this.slots[slot] >= 0) return this.slots[slot];
    const id = this.count;
    const at = this.size;
    this.keys = ensure(this.keys, at, at + length);
    for (let i = 0; i < length; i++) this.keys[at + i] = bytes[start + i];
    this.starts = ensure(this.starts, id + 1, id + 2);
    this.starts[id + 1] = at + length;
    this.count++;
    this.slots[slot] = id;
    if (this.count * 2 > this.slots.length) this.grow();
    return id;
  }

  // The slot that holds the text, or the empty one where it would go.
  slotOf(bytes, start, length) {
    const { keys, starts, slots } = this;
    const mask = slots.length - 1;
    for (let slot = hashOf(bytes, start, length) & mask; ; slot = (slot + 1) & mask) {
      const id = slots[slot];
      if (id < 0) return slot;
      const from = starts[id];
      if (starts[id + 1] - from !== length) continue;
      let i = 0;
      while (i < length && keys[from + i] === bytes[start + i]) i++;
      if (i === length) return slot;
    }
  }

  grow() {
    const slots = new Int32Array(this.slots.length * 2).fill(-1);
    const mask = slots.length - 1;
    for (let id = 0; id < this.count; id++) {
      const from = this.starts[id];
      let slot = hashOf(this.keys, from, this.starts[id + 1] - from) & mask;
      while (slots[slot] >= 0) slot = (slot + 1) & mask;
      slots[slot] = id;
    }
    this.slots = slots;
  }

  trim() {
    this.keys = cut(this.keys, this.size);
    this.starts = cut(this.starts, this.count + 1);
  }
}

export class Dataset {
  constructor(tables) {
    this.tables = tables;
    this.count = 0;
    this.texts = new FoldedTexts(); // every distinct name and processor
    this.ids = [new Uint32Array(0), new Uint32Array(0)]; // each record's name (0) and processor (1) text
    this.scores = new Float64Array(0);
    this.osGroup = new Uint8Array(0); // wider once there are more groups
    this.groupOfOs = []; // the reader's OS number to its group: spellings that fold alike
    this.osGroups = new TextInterner();
    this.osLabels = []; // each group's first spelling
    this.folded = new Uint8Array(0); // room to fold a batch's texts in
    // Made when first asked for, and forgotten when records are added:
    this.frequency = null; // how often each weight occurs, to search by the rarest (search.js)
    this.textRank = null; // each text's place among all in sorted order (search.js)
    this.descending = null; // the records by score (highestFirst)
  }

  append(batch) {
    const { weight } = this.tables;
    const n = this.count + batch.count;
    const { texts, bounds } = batch;
    this.folded = ensure(this.folded, 0, texts.length);
    const folded = this.folded;
    for (let i = 0; i < texts.length; i++) folded[i] = weight[texts[i]];
    for (const field of [0, 1]) {
      const ids = ensure(this.ids[field], this.count, n);
      for (let k = 0; k < batch.count; k++) {
        const start = bounds[2 * k + field];
        ids[this.count + k] = this.texts.idOf(folded, start, bounds[2 * k + field + 1] - start);
      }
      this.ids[field] = ids;
    }
    this.scores = ensure(this.scores, this.count, n);
    this.scores.set(batch.scores, this.count);
    for (const name of batch.osNames) {
      const os = Uint8Array.from(name, (c) => this.tables.weightOf.get(this.tables.base(c)) ?? 0);
      const group = this.osGroups.idOf(os, 0, os.length);
      if (group === this.osLabels.length) this.osLabels.push(name);
      this.groupOfOs.push(group);
    }
    const Wide = this.osLabels.length > 65536 ? Uint32Array : this.osLabels.length > 256 ? Uint16Array : Uint8Array;
    if (!(this.osGroup instanceof Wide)) this.osGroup = Wide.from(this.osGroup);
    this.osGroup = ensure(this.osGroup, this.count, n);
    for (let i = 0; i < batch.count; i++) this.osGroup[this.count + i] = this.groupOfOs[batch.os[i]];
    this.count = n;
    this.frequency = null;
    this.textRank = null;
    this.descending = null;
  }

  // The records by score, the highest first, ties in file order (rankScores).
  highestFirst() {
    this.descending ??= rankScores(this.scores.subarray(0, this.count)).descending;
    return this.descending;
  }

  // Drops the room kept for growing, once the whole file is in.
  trim() {
    const n = this.count;
    this.texts.trim();
    this.ids = this.ids.map((ids) => cut(ids, n));
    this.scores = cut(this.scores, n);
    this.osGroup = cut(this.osGroup, n);
    this.folded = new Uint8Array(0);
  }

  // The weights of record i's name (field 0) or processor (field 1).
  text(i, field) {
    return this.texts.text(this.ids[field][i]);
  }
}
