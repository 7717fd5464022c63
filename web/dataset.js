// The worker's copy of the results, for searching, sorting and summing up: every
// name and processor as weights (see fold.js) back to back, where each record's two
// texts start and end, its score and its OS group. The arrays grow by doubling while
// batches arrive and are cut to size when the file has been read (typed arrays over
// resizable buffers would grow in place, but V8 reads them a few times slower).

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

export class Dataset {
  constructor(tables) {
    this.tables = tables;
    this.count = 0;
    this.keys = new Uint8Array(0);
    this.bounds = new Uint32Array(1); // record i: name [2i, 2i+1), processor [2i+1, 2i+2)
    this.scores = new Float64Array(0);
    this.osGroup = new Uint8Array(0); // wider once there are more groups
    this.groupOfOs = []; // the reader's OS number to its group: spellings that fold alike
    this.osGroups = new TextInterner();
    this.osLabels = []; // each group's first spelling
    // Made when first asked for, and forgotten when records are added:
    this.frequency = null; // how often each weight occurs, to search by the rarest (search.js)
    this.byText = [null, null]; // the records by name and by processor (search.js)
    this.descending = null; // the records by score (highestFirst)
  }

  append(batch) {
    const { weight } = this.tables;
    const n = this.count + batch.count;
    const keyStart = this.bounds[2 * this.count];
    const textLength = batch.texts.length;
    this.keys = ensure(this.keys, keyStart, keyStart + textLength);
    const keys = this.keys;
    const texts = batch.texts;
    for (let i = 0; i < textLength; i++) keys[keyStart + i] = weight[texts[i]];
    this.bounds = ensure(this.bounds, 2 * this.count + 1, 2 * n + 1);
    const bounds = this.bounds;
    for (let k = 1; k <= 2 * batch.count; k++) bounds[2 * this.count + k] = keyStart + batch.bounds[k];
    this.scores = ensure(this.scores, this.count, n);
    this.scores.set(batch.scores, this.count);
    for (const name of batch.osNames) {
      const folded = Uint8Array.from(name, (c) => this.tables.weightOf.get(this.tables.base(c)) ?? 0);
      const group = this.osGroups.idOf(folded, 0, folded.length);
      if (group === this.osLabels.length) this.osLabels.push(name);
      this.groupOfOs.push(group);
    }
    const Wide = this.osLabels.length > 65536 ? Uint32Array : this.osLabels.length > 256 ? Uint16Array : Uint8Array;
    if (!(this.osGroup instanceof Wide)) this.osGroup = Wide.from(this.osGroup);
    this.osGroup = ensure(this.osGroup, this.count, n);
    for (let i = 0; i < batch.count; i++) this.osGroup[this.count + i] = this.groupOfOs[batch.os[i]];
    this.count = n;
    this.frequency = null;
    this.byText = [null, null];
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
    const cut = (array, length) => (array.length > length ? array.slice(0, length) : array);
    this.keys = cut(this.keys, this.bounds[2 * n]);
    this.bounds = cut(this.bounds, 2 * n + 1);
    this.scores = cut(this.scores, n);
    this.osGroup = cut(this.osGroup, n);
  }

  // The weights of record i's name (field 0) or processor (field 1).
  text(i, field) {
    return this.keys.subarray(this.bounds[2 * i + field], this.bounds[2 * i + field + 1]);
  }
}
