// The page's copy of the results: the batches the worker read, kept as they came
// (name and processor bytes, OS numbers, scores), and the ranks once every record is
// in. Text becomes a string only for the rows on screen and for an export.

import { formatPercentile, formatScore } from './format.js';
import { percentile } from './records.js';

export class Results {
  constructor(decoder = new TextDecoder('windows-1252')) {
    this.decoder = decoder;
    this.batches = [];
    this.count = 0;
    this.osNames = [];
    this.rank = null; // ranks of all records, once all are read
    this.last = null;
  }

  add(batch) {
    this.batches.push(batch);
    this.count += batch.count;
    this.osNames.push(...batch.osNames);
    this.rank = null;
  }

  batchOf(record) {
    const last = this.last;
    if (last && record >= last.first && record < last.first + last.count) return last;
    let lo = 0;
    let hi = this.batches.length - 1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (this.batches[mid].first <= record) lo = mid;
      else hi = mid - 1;
    }
    this.last = this.batches[lo];
    return this.last;
  }

  text(record, field) {
    const batch = this.batchOf(record);
    const k = 2 * (record - batch.first) + field;
    return this.decoder.decode(batch.texts.subarray(batch.bounds[k], batch.bounds[k + 1]));
  }

  name(record) { return this.text(record, 0); }

  processor(record) { return this.text(record, 1); }

  os(record) {
    const batch = this.batchOf(record);
    return this.osNames[batch.os[record - batch.first]];
  }

  score(record) {
    const batch = this.batchOf(record);
    return batch.scores[record - batch.first];
  }

  // The record's rank, 0 while it is not known yet.
  rankOf(record) {
    return this.rank ? this.rank[record] : 0;
  }

  percentileOf(record) {
    return this.rank ? percentile(this.rank[record], this.count) : NaN;
  }
}

const CSV_SLICE = 20000;

// A field as CSV: quoted when it must be; text that a spreadsheet would run as a
// formula (starting with =, +, -, @ or a tab) gets a ' in front.
function field(text) {
  const safe = /^[=+\-@\t\r]/.test(text) ? `'${text}` : text;
  return /[",\r\n]/.test(safe) ? `"${safe.replace(/"/g, '""')}"` : safe;
}

// The rows of order as CSV (UTF-8, no e-mail addresses, which the page never holds),
// built a slice at a time so the page keeps answering; onProgress(done, all).
export async function csvOf(results, order, onProgress) {
  const parts = ['\ufeffNumber,Name,OS,Processor,Score,Rank,Percentile\r\n'];
  for (let from = 0; from < order.length; from += CSV_SLICE) {
    let text = '';
    for (let k = from; k < Math.min(from + CSV_SLICE, order.length); k++) {
      const i = order.at(k);
      const rank = results.rankOf(i);
      text += `${i + 1},${field(results.name(i))},${field(results.os(i))},${field(results.processor(i))},`
        + `${formatScore(results.score(i))},${rank || ''},${rank ? formatPercentile(results.percentileOf(i)) : ''}\r\n`;
    }
    parts.push(text);
    onProgress(Math.min(from + CSV_SLICE, order.length), order.length);
    await new Promise((resolve) => setTimeout(resolve));
  }
  return new Blob(parts, { type: 'text/csv;charset=utf-8' });
}
