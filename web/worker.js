// The page's worker: it loads the results file (loader.js), keeps what searching,
// sorting and summing up need (dataset.js), and answers the page's questions, so the
// page itself never stops to work through a million records. Each batch of records
// goes to the page as it is read: the page holds the texts it shows, this worker
// their folded weights.

import { byteTables } from './fold.js';
import { Dataset } from './dataset.js';
import { FIRST_PIECE, OVERLAP, update } from './loader.js';
import { RecordReader, rankScores } from './records.js';

// Not needed to start reading: loaded meanwhile.
const searching = import('./search.js');
const summing = import('./summary.js');

const RESULTS_URL = new URL('./COMPARE.ZIP', self.location).href;
const tables = byteTables();
let data = new Dataset(tables);
let reader = new RecordReader();
let tail = new Uint8Array(0); // the last bytes read, to check the host's file still continues them
let head = new Uint8Array(0); // the first bytes, for the page to show before this worker starts next time
let total = 0;
let loading = null;
let sorted = null; // the last sort asked for, kept for the next search

function fresh() {
  data = new Dataset(tables);
  reader = new RecordReader();
  tail = new Uint8Array(0);
  head = new Uint8Array(0);
  sorted = null;
}

const sink = {
  reset(size, source) {
    fresh();
    total = size;
    self.postMessage({ type: 'reset', total, source, url: RESULTS_URL });
  },
  piece(bytes) {
    const joined = new Uint8Array(Math.min(tail.length + bytes.length, OVERLAP));
    const fromBytes = Math.min(bytes.length, OVERLAP);
    joined.set(tail.subarray(tail.length - (joined.length - fromBytes)));
    joined.set(bytes.subarray(bytes.length - fromBytes), joined.length - fromBytes);
    tail = joined;
    if (head.length < FIRST_PIECE) {
      const more = new Uint8Array(Math.min(head.length + bytes.length, FIRST_PIECE));
      more.set(head);
      more.set(bytes.subarray(0, more.length - head.length), head.length);
      head = more;
    }
    const batch = reader.push(bytes);
    const progress = { loaded: reader.size, total: Math.max(total, reader.size) };
    if (!batch) {
      self.postMessage({ type: 'progress', ...progress });
      return;
    }
    data.append(batch);
    self.postMessage({ type: 'batch', ...progress, batch, osLabels: data.osLabels, groupOfOs: data.groupOfOs },
      [batch.texts.buffer, batch.bounds.buffer, batch.os.buffer, batch.scores.buffer]);
  },
};

async function load(noted, early) {
  const before = data.count;
  const known = reader.size ? { size: reader.size, tail } : null;
  const outcome = await update(RESULTS_URL, known, noted, sink, early);
  if (outcome.status !== 'ok') {
    fresh();
    self.postMessage({ ...outcome, type: outcome.status, url: RESULTS_URL });
    return;
  }
  data.trim();
  const { histogram } = await summing;
  const { descending, rank } = rankScores(data.scores.subarray(0, data.count));
  data.descending = descending;
  self.postMessage({
    type: 'done',
    url: RESULTS_URL,
    how: outcome.how,
    moved: outcome.moved,
    count: data.count,
    added: known ? data.count - before : data.count,
    problem: reader.check(),
    rank,
    histogram: histogram(data.scores, data.count),
  }, [rank.buffer]);
  self.postMessage({ type: 'summaries', ...summaries(await summing) });
  // The texts' order, ready before anyone sorts by name or processor; a question in between is answered first.
  const { textRanks } = await searching;
  await new Promise((resolve) => setTimeout(resolve));
  textRanks(data);
  const kept = await outcome.keep();
  self.postMessage({ type: 'kept', url: RESULTS_URL, size: kept ? reader.size : 0, tail, head });
}

// Results per processor and per OS, and each kind's groups in the order of their
// names (folded, as the table sorts them).
function summaries({ processorGroups, summarize }) {
  const processors = processorGroups(data);
  const byProcessor = summarize(processors.group, processors.count, data.scores, data.highestFirst());
  const names = [...processors.first.keys()].sort((a, b) =>
    compare(data.text(processors.first[a], 1), data.text(processors.first[b], 1)));
  const os = data.osLabels.length;
  const byOs = summarize(data.osGroup, os, data.scores, data.highestFirst());
  const osNames = [...data.osLabels.keys()].sort((a, b) => compare(data.osGroups.texts[a], data.osGroups.texts[b]));
  return {
    processor: { ...byProcessor, first: processors.first, byName: Uint32Array.from(names) },
    os: { ...byOs, labels: data.osLabels, byName: Uint32Array.from(osNames) },
  };
}

function compare(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] - b[i];
  return a.length - b.length;
}

async function view({ id, q, os, processor, sort, descending }) {
  const { sortOrder, viewOrder } = await searching;
  const key = `${sort}:${descending}`;
  if (!sorted || sorted.key !== key || sorted.count !== data.count) {
    sorted = { key, count: data.count, order: sortOrder(data, sort, descending) };
  }
  const order = viewOrder(data, { q, os, processor }, sorted.order);
  self.postMessage({ type: 'view', id, count: data.count, order }, [order.buffer]);
}

async function stand({ id, score }) {
  const { standing } = await summing;
  self.postMessage({ type: 'stand', id, score, count: data.count, ...standing(data.scores, data.highestFirst(), score) });
}

let answered = null; // takes the page's answer to the first question (see client.js)

self.onmessage = ({ data: message }) => {
  if (message.type === 'load') {
    const first = message.early ? new Promise((resolve) => { answered = resolve; }) : null;
    // One load at a time: a second asks again once the first is done.
    loading = (loading ?? Promise.resolve()).then(() => load(message.noted, first)).catch((error) => {
      fresh();
      self.postMessage({ type: 'failed', url: RESULTS_URL, reason: String(error.message || error), hint: 'Press Reload to try again.' });
    });
  } else if (message.type === 'answer') {
    answered(message);
  } else if (message.type === 'view') {
    view(message);
  } else if (message.type === 'stand') {
    stand(message);
  }
};
