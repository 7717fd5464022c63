// The results page: downloads the shared results file beside it, shows every whole
// record in a table and compares any two scores as bars. Record text reaches the
// page only through textContent.
import { percentile, textAt } from './records.js';
import { barShares, formatPercentile, formatScore, parseScore } from './format.js';
import { byteTables, filterOrder, queryBytes, sortOrder } from './view.js';
import { formatState, parseState } from './state.js';
import { VirtualTable } from './table.js';
import { loadResults, takeFirstLoad } from './download.js';

const $ = (id) => document.getElementById(id);
const decoder = new TextDecoder('windows-1252');
const counts = new Intl.NumberFormat('en');
const DEFAULT_DESCENDING = new Set(['score', 'percentile']);

let data = null;
let tables = null;
let state = parseState(location.hash);
let sorted = null; // every record in the current sort order
let shown = new Uint32Array(0); // the records that pass the filters, in that order
let shownBuffer = null;

const text = (start) => textAt(data.bytes, start, decoder);

function fillRow(cells, record) {
  cells[0].firstChild.textContent = String(record + 1);
  cells[0].firstChild.setAttribute('aria-label', `Result ${record + 1}`);
  cells[1].textContent = text(data.nameStart[record]);
  cells[2].textContent = data.osNames[data.os[record]];
  cells[3].textContent = text(data.processorStart[record]);
  cells[4].textContent = formatScore(data.scores[record]);
  cells[5].textContent = String(data.rank[record]);
  cells[6].textContent = formatPercentile(percentile(data.rank[record], data.count));
}

const table = new VirtualTable($('scroller'), $('results'), 7, fillRow, (record) => select(record + 1));


let addressTimer = 0;
function saveAddress() {
  clearTimeout(addressTimer);
  addressTimer = setTimeout(() => {
    const hash = formatState(state);
    if (hash !== location.hash && !(hash === '' && location.hash === '#')) {
      history.replaceState(null, '', hash || location.pathname + location.search);
    }
  }, 150);
}

addEventListener('hashchange', () => {
  state = parseState(location.hash);
  showControls();
  if (data) {
    sorted = null;
    update();
    showSelection(true);
  }
});


function update() {
  if (!sorted) sorted = sortOrder(data, state.sort, state.descending, tables);
  if (!shownBuffer) shownBuffer = new Uint32Array(data.count);
  const os = state.os ? data.osNames.indexOf(state.os) : -1;
  const query = queryBytes(state.q, tables);
  shown = state.os && os < 0 ? shownBuffer.subarray(0, 0) : filterOrder(data, sorted, query, os, tables, shownBuffer);
  table.setOrder(shown);
  const total = counts.format(data.count);
  $('status').textContent = shown.length === data.count
    ? `${total} ${data.count === 1 ? 'result' : 'results'}.`
    : `${counts.format(shown.length)} of ${total} results match.`;
  showSortMarks();
}

function showSortMarks() {
  for (const head of $('results').tHead.rows[0].cells) {
    const column = head.dataset.column;
    if (column === state.sort) head.setAttribute('aria-sort', state.descending ? 'descending' : 'ascending');
    else head.removeAttribute('aria-sort');
  }
}

$('results').tHead.addEventListener('click', (event) => {
  const head = event.target.closest('th');
  if (!head || !data) return;
  const column = head.dataset.column;
  state.descending = column === state.sort ? !state.descending : DEFAULT_DESCENDING.has(column);
  state.sort = column;
  sorted = null;
  saveAddress();
  // Sorting a million texts takes a moment: say so before the page stops to do it.
  if (data.count > 200000 && (column === 'name' || column === 'processor')) {
    $('status').textContent = 'Sorting…';
    requestAnimationFrame(() => setTimeout(update));
  } else {
    update();
  }
});

// Enter in the search box filters as every keystroke does; the form never goes anywhere.
$('filters').addEventListener('submit', (event) => event.preventDefault());

$('q').addEventListener('input', () => {
  state.q = $('q').value;
  if (data) update();
  saveAddress();
});

$('os').addEventListener('change', () => {
  state.os = $('os').value;
  if (data) update();
  saveAddress();
});


function select(number) {
  state.selected = number;
  showSelection(false);
  saveAddress();
}

function recordOf(number) {
  return number >= 1 && number <= data.count ? number - 1 : -1;
}

function describe(record) {
  return `${record + 1}: ${text(data.nameStart[record])}, ${text(data.processorStart[record])}`;
}

// Shows the selected result's details and the graph; scroll brings its row into view.
function showSelection(scroll) {
  const record = data ? recordOf(state.selected) : -1;
  table.setSelected(record);
  $('details').hidden = record < 0;
  $('keep').disabled = record < 0;
  if (record < 0) {
    $('compare-hint').textContent = state.selected && data
      ? `There is no result ${state.selected}.` : 'Select a result in the table to compare it.';
    $('graph').hidden = true;
    return;
  }
  $('compare-hint').textContent = '';
  $('d-name').textContent = text(data.nameStart[record]);
  $('d-os').textContent = data.osNames[data.os[record]];
  $('d-processor').textContent = text(data.processorStart[record]);
  $('d-score').textContent = formatScore(data.scores[record]);
  $('d-rank').textContent = `${counts.format(data.rank[record])} of ${counts.format(data.count)}`;
  $('d-percentile').textContent = `${formatPercentile(percentile(data.rank[record], data.count))} %`;
  showGraph(record);
  if (scroll) {
    const position = shown.indexOf(record);
    if (position >= 0) table.focusPosition(position, false);
  }
}

function showGraph(record) {
  let other = null;
  let otherLabel = '';
  if (state.withRow) {
    const second = recordOf(state.versus);
    if (second >= 0) {
      other = data.scores[second];
      otherLabel = `Result ${describe(second)}`;
    }
  } else {
    other = parseScore(state.score);
    otherLabel = 'The score typed in';
  }
  const mine = data.scores[record];
  $('graph').hidden = false;
  $('bar1-label').textContent = `Result ${describe(record)}`;
  $('bar1-value').textContent = formatScore(mine);
  const second = other !== null;
  $('bar2-row').hidden = !second;
  const [a, b] = second ? barShares(mine, other) : [1, 0];
  $('bar1').style.width = `${a * 100}%`;
  $('bar2').style.width = `${b * 100}%`;
  if (second) {
    $('bar2-label').textContent = otherLabel;
    $('bar2-value').textContent = formatScore(other);
  }
  $('graph-summary').textContent = second
    ? summary(mine, other)
    : (state.withRow ? 'Type the number of a result to compare with.' : 'Type a score to compare with.');
}

function summary(mine, other) {
  if (!(mine > 0 && other > 0) || !Number.isFinite(mine) || !Number.isFinite(other)) return '';
  if (mine === other) return 'Both scores are the same.';
  const ratio = mine > other ? mine / other : other / mine;
  return `The ${mine > other ? 'selected result' : 'other score'} is ${ratio.toFixed(2)} times as high.`;
}

function compareSettingsChanged() {
  state.withRow = $('with-row').checked;
  state.score = $('score').value.trim();
  state.versus = Number($('versus').value) || 0;
  if (data) showSelection(false);
  saveAddress();
}
for (const id of ['with-score', 'with-row', 'score', 'versus']) $(id).addEventListener('input', compareSettingsChanged);
$('score').addEventListener('focus', () => { $('with-score').checked = true; });
$('versus').addEventListener('focus', () => { $('with-row').checked = true; });

$('keep').addEventListener('click', () => {
  $('versus').value = String(state.selected);
  $('with-row').checked = true;
  compareSettingsChanged();
});

function showControls() {
  $('q').value = state.q;
  $('os').value = state.os;
  $('score').value = state.score;
  $('versus').value = state.versus ? String(state.versus) : '';
  $('with-row').checked = state.withRow;
  $('with-score').checked = !state.withRow;
}


function noteFor(problem) {
  if (!problem) return '';
  const where = `Result ${counts.format(problem.record)} (from byte ${counts.format(problem.offset)})`;
  const rest = `The last ${counts.format(problem.rest)} bytes of the file are not shown.`;
  if (problem.reason === 'cut') return `${where} is cut short by the end of the file. ${rest}`;
  if (problem.reason === 'negative') {
    return `${where} is damaged: its ${problem.field} length, ${problem.length}, is negative. ${rest}`;
  }
  return `${where} is cut short or damaged: its ${problem.field} length, ${counts.format(problem.length)}, `
    + `reaches past the end of the file. ${rest}`;
}

function fillOsList() {
  const list = $('os');
  const names = data.osNames.map((name, id) => ({ name, id })).sort((a, b) => a.name.localeCompare(b.name));
  list.replaceChildren(new Option('Any', ''), ...names.map(({ name }) => new Option(name, name)));
  if (state.os && !data.osNames.includes(state.os)) list.append(new Option(state.os, state.os));
  list.value = state.os;
}

function loaded(message) {
  $('reload').disabled = false;
  if (message.status === 'missing') {
    $('status').textContent = 'No results have been submitted yet.';
    return;
  }
  if (message.status === 'failed') {
    $('status').textContent = `The results could not be loaded: ${message.reason}.`;
    return;
  }
  data = message.data;
  tables = tables ?? byteTables(decoder);
  sorted = null;
  shownBuffer = null;
  fillOsList();
  const note = noteFor(data.problem);
  $('note').textContent = note;
  $('note').hidden = !note;
  update();
  showSelection(true);
  document.documentElement.dataset.loaded = String(data.count);
}

function onLoadMessage(message) {
  if (message.status === 'progress') {
    const percent = Math.floor((message.loaded / message.total) * 100);
    $('status').textContent = `Loading the results… ${percent} %`;
  } else {
    loaded(message);
  }
}

function load() {
  $('reload').disabled = true;
  $('status').textContent = 'Loading the results…';
  loadResults(onLoadMessage);
}

$('reload').addEventListener('click', load);
showControls();
takeFirstLoad(onLoadMessage);
