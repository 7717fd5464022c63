// The page's decoder, order, filters, number format and address, on the files the
// C++ tests read. Run with: node --test tests/web
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { RecordReader, isHostErrorPage, rankScores } from '../../web/records.js';
import { barShares, comparison, formatScore, parseScore } from '../../web/format.js';
import { byteTables } from '../../web/fold.js';
import { Dataset } from '../../web/dataset.js';
import { Results } from '../../web/results.js';
import { sortOrder, viewOrder } from '../../web/search.js';
import { histogram, processorGroups, standing, summarize } from '../../web/summary.js';
import { parseState, formatState, defaultState } from '../../web/state.js';

const root = new URL('../../', import.meta.url);
const read = (path) => new Uint8Array(readFileSync(new URL(path, root)));

// Node 20.18.3 and later decode windows-1252 as Latin-1 on their fast path
// (nodejs/node#60888); the streaming path goes through ICU and is right, as browsers are.
const icu = new TextDecoder('windows-1252');
const decoder = { decode: (bytes) => icu.decode(bytes, { stream: true }) };
const tables = byteTables(decoder);
const byteOf = new Map(Array.from({ length: 256 }, (_, b) => [decoder.decode(Uint8Array.of(b)), b]));

// Reads bytes as the worker does, piece bytes at a time: the page's copy
// (results), the worker's (data) and why the reading stopped (problem).
function load(bytes, piece = bytes.length || 1) {
  const reader = new RecordReader(decoder);
  const results = new Results(decoder);
  const data = new Dataset(tables);
  for (let at = 0; at < bytes.length; at += piece) {
    const batch = reader.push(bytes.subarray(at, at + piece));
    if (batch) {
      data.append(batch);
      results.add(batch);
    }
  }
  return { results, data, count: results.count, problem: reader.check() };
}

function rows({ results }) {
  return Array.from({ length: results.count }, (_, i) =>
    [results.name(i), results.os(i), results.processor(i), results.score(i)]);
}

const THREE = [
  ['José Müller', 'Win XP', 'Pentium® 4 – 2.4 GHz', 12345],
  ['€uro\u0081', 'Win 98', 'K6-2 “333”', 4711],
  ['easter egg', 'Win Blackcomb', 'Athlon XP', 987654321],
];

function record(name, os, processor, score, email = '') {
  const parts = [];
  for (const text of [name, email, os, processor]) {
    const bytes = Uint8Array.from(text, (c) => byteOf.get(c));
    const length = new Uint8Array(4);
    new DataView(length.buffer).setInt32(0, bytes.length, true);
    parts.push(length, bytes);
  }
  const tail = new Uint8Array(8);
  new DataView(tail.buffer).setFloat64(0, score, true);
  parts.push(tail);
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  parts.reduce((at, p) => (out.set(p, at), at + p.length), 0);
  return out;
}

test('the golden files decode to the records the program holds', () => {
  assert.deepEqual(rows(load(read('tests/data/submit/example_record.bin'))), [['abc', 'Win 98', 'x', 1.5]]);
  const three = load(read('tests/data/submit/three_records.bin'));
  assert.deepEqual(rows(three), THREE);
  assert.equal(three.problem, null);
  // The worker reads with the default decoder: OS names are Windows-1252 there too.
  const reader = new RecordReader();
  reader.push(record('Ann', 'Win Më', 'K6', 1));
  assert.deepEqual(reader.osNames, ['Win Më']);
});

test('a cut anywhere keeps only the whole records before it, with a note unless it falls between records', () => {
  const file = read('tests/data/submit/three_records.bin');
  const ends = [0, 61, 121, 182];
  for (const piece of [1, 7, 64, file.length]) {
    for (let cut = 0; cut <= file.length; cut++) {
      const data = load(file.subarray(0, cut), piece);
      const whole = ends.filter((end) => end > 0 && end <= cut).length;
      assert.deepEqual(rows(data), THREE.slice(0, whole), `cut at ${cut} in pieces of ${piece}`);
      assert.equal(data.problem === null, ends.includes(cut), `note at ${cut}`);
      if (data.problem) {
        assert.deepEqual([data.problem.record, data.problem.offset, data.problem.rest], [whole + 1, ends[whole], cut - ends[whole]]);
      }
    }
  }
});

test('junk lengths and the host error page', () => {
  const cases = [
    // corpus file, whole records, reason, field
    ['fuzz/corpus/fuzz_whole_record_run/negative_length', 3, 'negative', 'name'],
    ['fuzz/corpus/fuzz_whole_record_run/length_past_end', 3, 'past-end', 'name'],
    ['fuzz/corpus/fuzz_whole_record_run/trailing_bytes', 3, 'cut', undefined],
    ['fuzz/corpus/fuzz_decode_result_records/negative_length', 0, 'negative', 'name'],
    ['fuzz/corpus/fuzz_whole_record_run/empty', 0, null],
  ];
  for (const [path, count, reason, field] of cases) {
    const data = load(read(path));
    assert.equal(data.count, count, path);
    assert.equal(data.problem?.reason ?? null, reason, path);
    assert.equal(data.problem?.field, field, path);
  }
  // A length of 2^31 - 1 is refused before anything is read.
  const huge = Uint8Array.of(0xff, 0xff, 0xff, 0x7f, 1, 2, 3);
  assert.equal(load(huge).problem.reason, 'past-end');

  assert.equal(isHostErrorPage(read('fuzz/corpus/fuzz_whole_record_run/host_error_page')), true);
  assert.equal(isHostErrorPage(new TextEncoder().encode('<html><head><title>')), false);
  assert.equal(isHostErrorPage(read('tests/data/submit/three_records.bin')), false);
});

test('scores rank highest first, ties share a rank and keep file order', () => {
  const { ascending, descending, rank } = rankScores(Float64Array.of(5, 7, 5, NaN, -0, 0, 7, -Infinity));
  assert.deepEqual([...rank], [3, 1, 3, 7, 5, 5, 1, 7]);
  assert.deepEqual([...descending], [1, 6, 0, 2, 4, 5, 3, 7]);
  assert.deepEqual([...ascending], [3, 7, 4, 5, 0, 2, 1, 6]);
});

function file(...records) {
  const bytes = new Uint8Array(records.reduce((n, p) => n + p.length, 0));
  records.reduce((at, p) => (bytes.set(p, at), at + p.length), 0);
  return bytes;
}

test('sorting and searching ignore case and accents and keep ties in file order', () => {
  const { data } = load(file(
    record('émile', 'Win XP', 'Athlon XP 2000+', 10),
    record('Bob', 'win me', 'Pentium III', 20),
    record('Emile', 'Win 98', 'Celeron', 30),
    record('alice', 'Win XP', 'PENTIUM 4 Extreme', 40),
    record('Emiles', 'Win ME', 'Duron', 50),
    record('Müller', 'Win 98', '', 60),
  ), 13);

  const sorted = (column, descending) => [...sortOrder(data, column, descending)];
  assert.deepEqual(sorted('name', false), [3, 1, 0, 2, 4, 5]);
  assert.deepEqual(sorted('name', true), [5, 4, 0, 2, 1, 3]);
  assert.deepEqual(sorted('os', false), [2, 5, 1, 4, 0, 3]); // "win me" and "Win ME" are one OS
  assert.deepEqual(sorted('processor', false), [5, 0, 2, 4, 3, 1]);
  assert.deepEqual(sorted('file', true), [5, 4, 3, 2, 1, 0]);
  assert.deepEqual(sorted('rank', false), [5, 4, 3, 2, 1, 0]);

  const all = sortOrder(data, 'file', false);
  const filter = (q, os = '', processor = '') => [...viewOrder(data, { q, os, processor }, all)];
  const cases = [
    ['pentium', '', '', [1, 3]],
    ['ÉMILE', '', '', [0, 2, 4]],
    ['miles', '', '', [4]],
    ['muller', '', '', [5]],
    ['', 'WIN ME', '', [1, 4]],
    ['p', 'Win 98', '', []],
    ['e', 'Win XP', '', [0, 3]],
    ['', '', 'pentium iii', [1]],
    ['', '', 'pentium', []], // the whole processor text
    ['Win', '', '', []], // the OS is not searched
    ['Ω', '', '', []], // no Windows-1252 byte for it
    ['', 'Win 3.1', '', []],
  ];
  for (const [q, os, processor, expected] of cases) assert.deepEqual(filter(q, os, processor), expected, `${q}|${os}|${processor}`);
  // A search keeps the order shown.
  assert.deepEqual([...viewOrder(data, { q: 'emile' }, sortOrder(data, 'name', true))], [4, 0, 2]);
});

test('summaries fold spellings together; the histogram and a typed score\'s standing count every result', () => {
  const { data } = load(file(
    record('a', 'Win XP', 'Athlon XP', 100),
    record('b', 'win xp', 'ATHLON xp', 300),
    record('c', 'Win 98', 'K6', 200),
    record('d', 'Win XP', 'Athlon XP', 400),
    record('e', 'Win 98', 'K6', -5),
  ), 16);
  const processors = processorGroups(data);
  const byProcessor = summarize(processors.group, processors.count, data.scores, data.highestFirst());
  const byOs = summarize(data.osGroup, data.osLabels.length, data.scores, data.highestFirst());
  const table = (s) => [...s.count].map((count, g) => [count, s.median[g], s.best[g]]);
  assert.deepEqual(table(byProcessor), [[3, 300, 400], [2, 97.5, 200]]);
  assert.deepEqual(data.osLabels, ['Win XP', 'Win 98']);
  assert.deepEqual(table(byOs), [[3, 300, 400], [2, 97.5, 200]]);

  const linear = histogram(data.scores, data.count);
  assert.deepEqual([linear.log, linear.from, linear.to, linear.below], [false, -5, 400, 0]);
  assert.deepEqual([linear.bins[0], linear.bins.at(-1), linear.bins.reduce((a, b) => a + b)], [1, 1, 5]);

  const three = load(read('tests/data/submit/three_records.bin')).data;
  const log = histogram(three.scores, three.count);
  assert.equal(log.log, true); // 4711 to 987654321: five decades
  assert.deepEqual([log.bins[0], log.bins.at(-1), log.bins.reduce((a, b) => a + b)], [1, 1, 3]);
  const stand = (score) => standing(three.scores, three.highestFirst(), score);
  assert.deepEqual([5000, 12345, 1e12, -1].map(stand), [
    { rank: 3, atOrBelow: 1 }, { rank: 2, atOrBelow: 2 }, { rank: 1, atOrBelow: 3 }, { rank: 4, atOrBelow: 0 }]);
});

test('scores are written as the program writes them', () => {
  const cases = [[0, '0'], [-0, '0'], [4779102, '4779102'], [-3, '-3'], [999999999999999, '999999999999999'],
    [1e15, '1E+15'], [1.5e20, '1.5E+20'], [2.5, '2.5'], [-1234.5, '-1234.5'], [0.1 + 0.2, '0.3'],
    [1 / 3, '0.333333333333333'], [(2 / 3) * 1000, '666.666666666667'], [0.0001, '0.0001'], [0.00001, '1E-05'],
    [Number.MIN_VALUE, '4.94065645841247E-324'], [Number.MAX_VALUE, '1.79769313486232E+308'],
    [9.999999999999999, '10'], [NaN, 'NaN'], [Infinity, 'Infinity'], [-Infinity, '-Infinity']];
  for (const [value, text] of cases) assert.equal(formatScore(value), text, String(value));
  assert.deepEqual(['1 234', '2,5', '1e3', 'abc', '', '1.2.3'].map(parseScore), [1234, 2.5, 1000, null, null, null]);
});

test('the larger score fills its bar, the smaller gets the ratio', () => {
  const cases = [[1000, 2000, [0.5, 1]], [2000, 1000, [1, 0.5]], [1000, 1000, [1, 1]], [1000, 0, [1, 0]],
    [-5, 10, [0, 1]], [10, -5, [1, 0]], [NaN, 10, [0, 0]], [Infinity, 5, [1, 0]], [0, -250.25, [0, 0]],
    [-0, -250.25, [0, 0]]];
  for (const [first, second, shares] of cases) assert.deepEqual(barShares(first, second), shares, `${first}/${second}`);
  const words = [[3000, 1000, 'A is 3.00 times as high.'], [12345, 0.1, 'A is 123,450 times as high.'],
    [Number.MAX_VALUE, 0.1, 'A is 1.80E+309 times as high.'], [0, -250.25, 'A is higher by 250.25.'],
    [1, 1, 'Both scores are the same.']];
  for (const [mine, other, text] of words) assert.equal(comparison(mine, other, 'A', 'B'), text);
});

test('the address keeps filters, sort, selection and comparison', () => {
  const state = { ...defaultState(), q: 'K6 & “x”', os: 'Win 98', processor: 'K6-2 350', sort: 'score',
    descending: true, selected: 12, versus: 40, withRow: true };
  assert.deepEqual(parseState(formatState(state)), { ...state, score: '' });
  assert.equal(formatState(defaultState()), '');
  assert.deepEqual(parseState('#sort=bogus&sel=-1&vs=1e3&score=250'),
    { ...defaultState(), score: '250' });
});
