// The page's decoder, order, filters, number format and address, on the files the
// C++ tests read. Run with: node --test tests/web
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { indexRecords, isHostErrorPage, rankScores, textAt } from '../../web/records.js';
import { barShares, formatScore, parseScore } from '../../web/format.js';
import { byteTables, filterOrder, queryBytes, sortOrder } from '../../web/view.js';
import { parseState, formatState, defaultState } from '../../web/state.js';

const root = new URL('../../', import.meta.url);
const read = (path) => new Uint8Array(readFileSync(new URL(path, root)));

// Node 20.18.3 and later decode windows-1252 as Latin-1 on their fast path
// (nodejs/node#60888); the streaming path goes through ICU and is right, as browsers are.
const icu = new TextDecoder('windows-1252');
const decoder = { decode: (bytes) => icu.decode(bytes, { stream: true }) };
const tables = byteTables(decoder);

function load(bytes) {
  const index = indexRecords(bytes, decoder);
  return { bytes, ...index, ...rankScores(index.scores) };
}

function rows(data) {
  return Array.from({ length: data.count }, (_, i) => [textAt(data.bytes, data.nameStart[i], decoder),
    data.osNames[data.os[i]], textAt(data.bytes, data.processorStart[i], decoder), data.scores[i]]);
}

const THREE = [
  ['José Müller', 'Win XP', 'Pentium® 4 – 2.4 GHz', 12345],
  ['€uro\u0081', 'Win 98', 'K6-2 “333”', 4711],
  ['easter egg', 'Win Blackcomb', 'Athlon XP', 987654321],
];

function record(name, os, processor, score, email = '') {
  const parts = [];
  for (const text of [name, email, os, processor]) {
    const bytes = Uint8Array.from(text, (c) => tables.byteOf.get(c));
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
  // The page's worker indexes with the default decoder: OS names are Windows-1252 there too.
  assert.deepEqual(indexRecords(record('Ann', 'Win Më', 'K6', 1)).osNames, ['Win Më']);
});

test('a cut anywhere keeps only the whole records before it, with a note unless it falls between records', () => {
  const file = read('tests/data/submit/three_records.bin');
  const ends = [0, 61, 121, 182];
  for (let cut = 0; cut <= file.length; cut++) {
    const data = load(file.subarray(0, cut));
    const whole = ends.filter((end) => end > 0 && end <= cut).length;
    assert.deepEqual(rows(data), THREE.slice(0, whole), `cut at ${cut}`);
    assert.equal(data.problem === null, ends.includes(cut), `note at ${cut}`);
    if (data.problem) assert.deepEqual([data.problem.record, data.problem.offset], [whole + 1, ends[whole]]);
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

test('sorting text ignores case and accents and keeps ties in file order; filters match name or processor', () => {
  const parts = [
    record('émile', 'Win XP', 'Athlon XP 2000+', 10),
    record('Bob', 'Win 98', 'Pentium III', 20),
    record('Emile', 'Win 98', 'Celeron', 30),
    record('alice', 'Win XP', 'PENTIUM 4 Extreme', 40),
    record('Emiles', 'Win ME', 'Duron', 50),
  ];
  const bytes = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  parts.reduce((at, p) => (bytes.set(p, at), at + p.length), 0);
  const data = load(bytes);

  assert.deepEqual([...sortOrder(data, 'name', false, tables)], [3, 1, 0, 2, 4]);
  assert.deepEqual([...sortOrder(data, 'name', true, tables)], [4, 0, 2, 1, 3]);
  assert.deepEqual([...sortOrder(data, 'os', false, tables)], [1, 2, 4, 0, 3]);
  assert.deepEqual([...sortOrder(data, 'processor', false, tables)], [0, 2, 4, 3, 1]);
  assert.deepEqual([...sortOrder(data, 'file', true, tables)], [4, 3, 2, 1, 0]);
  assert.deepEqual([...sortOrder(data, 'rank', false, tables)], [4, 3, 2, 1, 0]);

  const out = new Uint32Array(data.count);
  const all = sortOrder(data, 'file', false, tables);
  const filter = (q, os = -1) => [...filterOrder(data, all, queryBytes(q, tables), os, tables, out)];
  assert.deepEqual(filter('pentium'), [1, 3]);
  assert.deepEqual(filter('ÉMILE'), [0]);
  assert.deepEqual(filter('emile'), [2, 4]);
  assert.deepEqual(filter('', data.osNames.indexOf('Win XP')), [0, 3]);
  assert.deepEqual(filter('p', data.osNames.indexOf('Win 98')), [1]);
  assert.deepEqual(filter('Win'), []); // the OS is not searched
  assert.deepEqual(filter('Ω'), []); // no Windows-1252 byte for it
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
    [-5, 10, [0, 1]], [10, -5, [1, 0]], [NaN, 10, [0, 0]], [Infinity, 5, [1, 0]]];
  for (const [first, second, shares] of cases) assert.deepEqual(barShares(first, second), shares, `${first}/${second}`);
});

test('the address keeps filters, sort, selection and comparison', () => {
  const state = { ...defaultState(), q: 'K6 & “x”', os: 'Win 98', sort: 'score', descending: true, selected: 12,
    versus: 40, withRow: true };
  assert.deepEqual(parseState(formatState(state)), { ...state, score: '' });
  assert.equal(formatState(defaultState()), '');
  assert.deepEqual(parseState('#sort=bogus&sel=-1&vs=1e3&score=250'),
    { ...defaultState(), score: '250' });
});
