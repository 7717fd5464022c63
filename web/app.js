// The results page: the worker (client.js) reads the shared results file beside the
// page and answers searches and sorts; this module keeps the address, the table,
// the comparison and the summaries in step with it. Record text reaches the page
// only through textContent.

import { Latest, listen, load } from './client.js';
import { formatPercentile, formatScore, parseScore } from './format.js';
import { formatState, parseState } from './state.js';
import { VirtualTable } from './table.js';
import { Results, csvOf } from './results.js';
import { RecordReader, isHostErrorPage } from './records.js';
import { showDetails, showStanding } from './compare.js';
import { Chart } from './chart.js';
import { Summaries } from './summaries.js';

const $ = (id) => document.getElementById(id);
const decoder = new TextDecoder('windows-1252');
const counts = new Intl.NumberFormat('en');
const DEFAULT_DESCENDING = new Set(['score', 'percentile']);
const SUBMIT_HOW = 'No results have been submitted yet. To add yours, run Vantrel 3, press "< Run Benchmark >" and '
  + 'then "Submit Results"; or, without a window: vantrel3-bench --submit --name NAME --os "Win XP" --processor "TEXT".';

let results = new Results(decoder);
let state = parseState(location.hash);
let phase = 'loading'; // loading, ready, missing, failed
let loadInfo = null; // { total, source } while loading; the outcome once done
let shown = new Uint32Array(0); // the records in the table, in its order
let revealWanted = true; // the selected row is to be scrolled into view once it can be
let standing = null;
let preview = ''; // where the rows shown before the worker's first batch came from: 'copy', 'download' or ''
const chart = new Chart();

const scoreWidth = { chars: 0 };
function fillRow(cells, record) {
  cells[0].firstChild.textContent = String(record + 1);
  cells[0].firstChild.setAttribute('aria-label', `Result ${record + 1}`);
  const name = results.name(record);
  const os = results.os(record);
  const processor = results.processor(record);
  const score = formatScore(results.score(record));
  const rank = results.rankOf(record);
  const percent = rank ? formatPercentile(results.percentileOf(record)) : '';
  twoLines(cells[1], name, `${os} · ${processor}`);
  cells[2].textContent = os;
  cells[3].textContent = processor;
  twoLines(cells[4], score, rank ? `#${counts.format(rank)} · ${percent} %` : '');
  cells[5].textContent = rank ? String(rank) : '…';
  cells[6].textContent = rank ? percent : '…';
  // The score column widens to the longest score shown so far, never cutting one off.
  if (score.length > scoreWidth.chars) {
    scoreWidth.chars = score.length;
    $('results').style.setProperty('--score-chars', String(Math.max(score.length, 7)));
  }
}

// A cell's main text and, shown on narrow screens only, the columns folded into it.
function twoLines(cell, main, more) {
  if (!cell.firstChild) cell.append(document.createElement('span'), document.createElement('span'));
  cell.firstChild.className = 'main';
  cell.firstChild.textContent = main;
  cell.lastChild.className = 'more';
  cell.lastChild.textContent = more;
}

const table = new VirtualTable($('scroller'), $('results'), fillRow, (record) => select(record + 1, true));
const summaries = new Summaries((kind, label) => {
  state[kind] = state[kind].toLowerCase() === label.toLowerCase() ? '' : label;
  showControls();
  saveAddress();
  refreshView(true);
});

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

// A link opened in this tab (typed, pasted, back or forward) shows its view and its row.
addEventListener('hashchange', () => {
  const before = state;
  state = parseState(location.hash);
  showControls();
  revealWanted = true;
  const sameView = ['q', 'os', 'processor', 'sort', 'descending'].every((key) => before[key] === state[key]);
  if (sameView) showSelection();
  else refreshView(true);
  askStanding();
});


function isPlainView() {
  return state.sort === 'file' && !state.descending && !state.q && !state.os && !state.processor;
}

// The first n records in file order, without an array of them.
function fileOrder(n) {
  return { length: n, at: (position) => position, indexOf: (record) => (record >= 0 && record < n ? record : -1) };
}

let busyTimer = 0;
const views = new Latest('view', (answer) => {
  if (answer.count !== results.count) {
    refreshView(false);
    return;
  }
  showOrder(answer.order, views.top);
}, (busy) => {
  clearTimeout(busyTimer);
  if (busy) {
    document.documentElement.dataset.busy = 'view';
    // Only a slow answer is worth a word.
    busyTimer = setTimeout(() => { $('status').textContent = state.q ? 'Searching…' : 'Sorting…'; }, 200);
  } else {
    delete document.documentElement.dataset.busy;
  }
});

// Shows the records the address asks for: at once for the file's own order, else
// the worker's answer when it comes.
function refreshView(top) {
  if (top && loadInfo) loadInfo.said = ''; // what the last load found is old news once the view changes
  showSortMarks();
  summaries.setPicked(state.processor, state.os);
  $('processor-filter').hidden = !state.processor;
  $('processor-name').textContent = state.processor;
  if (isPlainView() || !results.count) {
    views.drop();
    showOrder(fileOrder(results.count), top);
    return;
  }
  views.top = top;
  views.ask({ q: state.q, os: state.os, processor: state.processor, sort: state.sort, descending: state.descending });
}

function showOrder(order, top) {
  shown = order;
  table.setOrder(shown, top);
  showStatus();
  showSelection();
}

function showStatus() {
  const total = counts.format(results.count);
  let text;
  if (phase === 'loading') {
    const { total: size, loaded = 0, source } = loadInfo ?? {};
    const where = source === 'copy' ? 'Reading the copy this browser keeps' : 'Loading the results';
    text = !results.count ? `${where}…`
      : `${where}: ${total} so far${size ? ` (${Math.floor((loaded / size) * 100)} %)` : ''}…`;
    if (results.count && !isPlainView()) text += ` ${counts.format(shown.length)} of them match.`;
  } else if (phase === 'ready' && !results.count) {
    text = SUBMIT_HOW;
  } else if (phase === 'ready') {
    text = shown.length === results.count
      ? `${total} ${results.count === 1 ? 'result' : 'results'}.`
      : `${counts.format(shown.length)} of ${total} results match.`;
    if (loadInfo?.said) text += ` ${loadInfo.said}`;
  } else {
    return;
  }
  $('status').textContent = text;
}

function showSortMarks() {
  for (const head of $('results').tHead.rows[0].cells) {
    if (head.dataset.column === state.sort) head.setAttribute('aria-sort', state.descending ? 'descending' : 'ascending');
    else head.removeAttribute('aria-sort');
  }
}

$('results').tHead.addEventListener('click', (event) => {
  const head = event.target.closest('th');
  if (!head) return;
  const column = head.dataset.column;
  state.descending = column === state.sort ? !state.descending : DEFAULT_DESCENDING.has(column);
  state.sort = column;
  saveAddress();
  refreshView(true);
});

// Enter in the search box filters as every keystroke does; the form never goes anywhere.
$('filters').addEventListener('submit', (event) => event.preventDefault());

$('q').addEventListener('input', () => {
  state.q = $('q').value;
  refreshView(true);
  saveAddress();
});

$('os').addEventListener('change', () => {
  state.os = $('os').value;
  refreshView(true);
  saveAddress();
});

$('processor-clear').addEventListener('click', () => {
  state.processor = '';
  refreshView(true);
  saveAddress();
  $('q').focus();
});


function select(number, fromTable) {
  state.selected = number;
  revealWanted = !fromTable;
  showSelection();
  saveAddress();
  if (fromTable) bringCompareIntoView();
}

// On a narrow screen the comparison sits below the table: a selection scrolls to it.
function bringCompareIntoView() {
  const panel = $('compare');
  const box = panel.getBoundingClientRect();
  if (box.top < innerHeight * 0.75 && box.bottom > 0) return;
  const still = matchMedia('(prefers-reduced-motion: reduce)').matches;
  panel.scrollIntoView({ block: 'start', behavior: still ? 'auto' : 'smooth' });
}

function otherScore() {
  if (state.withRow) {
    const record = state.versus - 1;
    return record >= 0 && record < results.count ? { score: results.score(record), record } : null;
  }
  const score = parseScore(state.score);
  return score === null ? null : { score, record: -1 };
}

// The selected result's details and bars; its row scrolled into view when a link
// asked for it.
function showSelection() {
  const record = state.selected - 1;
  const known = record >= 0 && record < results.count;
  table.setSelected(known ? record : -1);
  let missing = '';
  if (state.selected && !known) {
    missing = phase === 'loading' ? `Result ${state.selected} is still loading…` : `There is no result ${state.selected}.`;
  }
  const inTable = known && !document.documentElement.dataset.busy && shown.indexOf(record) >= 0;
  showDetails(results, known ? record : -1, otherScore(), missing, !known || inTable || !!document.documentElement.dataset.busy);
  if (known && inTable && revealWanted) {
    table.reveal(record, table.body.contains(document.activeElement) || document.activeElement === table.scroller);
    revealWanted = false;
    const box = $('scroller').getBoundingClientRect();
    if (box.bottom < 0 || box.top > innerHeight) $('scroller').scrollIntoView({ block: 'nearest' });
  }
  markChart();
}

function markChart() {
  const record = state.selected - 1;
  const selected = record >= 0 && record < results.count ? results.score(record) : null;
  chart.mark(selected, parseScore(state.score), `Result ${state.selected}`);
}

const stands = new Latest('stand', (answer) => {
  standing = answer;
  showStanding(answer, state.score.trim() ? 'yes' : '');
});

function askStanding() {
  const score = parseScore(state.score);
  if (!state.score.trim()) showStanding(null, '');
  else if (score === null) showStanding(null, 'bad');
  else if (results.count) stands.ask({ score });
}

function compareSettingsChanged() {
  state.withRow = $('with-row').checked;
  state.score = $('score').value.trim();
  state.versus = Number($('versus').value) || 0;
  showSelection();
  askStanding();
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
  fillOsList();
  $('score').value = state.score;
  $('versus').value = state.versus ? String(state.versus) : '';
  $('with-row').checked = state.withRow;
  $('with-score').checked = !state.withRow;
}

let osLabels = [];
// The OS list: one entry per OS however it is spelt (the worker's groups), and the
// address's OS even when no result has it yet.
function fillOsList() {
  const list = $('os');
  const names = [...osLabels].sort((a, b) => a.localeCompare(b));
  const wanted = names.find((name) => name.toLowerCase() === state.os.toLowerCase()) ?? state.os;
  if (wanted && !names.includes(wanted)) names.push(wanted);
  const current = [...list.options].slice(1).map((option) => option.value);
  if (current.join('\n') !== names.join('\n')) {
    list.replaceChildren(new Option('Any', ''), ...names.map((name) => new Option(name, name)));
  }
  list.value = wanted;
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

// Forgets every result shown, for a new file or none.
function clearAll() {
  results = new Results(decoder);
  preview = '';
  scoreWidth.chars = 0;
  shown = new Uint32Array(0);
  views.drop();
  table.setOrder(shown, true);
  $('note').hidden = true;
  chart.setData(null, 0);
  summaries.setData(null, results);
  showSelection();
}

function setPhase(next) {
  phase = next;
  document.documentElement.dataset.state = next;
  if (next === 'loading') delete document.documentElement.dataset.kept;
  $('reload').disabled = next === 'loading';
  $('export').disabled = next !== 'ready';
}

// fn, run once in the next frame however often it is asked for before then.
function perFrame(fn) {
  let frame = 0;
  return () => {
    if (!frame) frame = requestAnimationFrame(() => { frame = 0; fn(); });
  };
}
const statusLater = perFrame(showStatus);
const rowsLater = perFrame(() => {
  if (isPlainView()) showOrder(fileOrder(results.count), false);
});

let lastAsked = 0;
const handlers = {
  // The first rows, read by the page itself while its worker starts (see client.js).
  preview({ bytes, source }) {
    if (results.count || phase !== 'loading' || !isPlainView() || isHostErrorPage(bytes)) return;
    const batch = new RecordReader(decoder).push(bytes);
    if (!batch) return;
    results.add(batch);
    preview = source;
    loadInfo = { total: 0, loaded: 0, source };
    showOrder(fileOrder(results.count), false);
  },
  reset({ total, source }) {
    // The rows shown stay until the worker's first batch when they come from the same bytes.
    if (preview !== source) clearAll();
    setPhase('loading');
    loadInfo = { wasShown: loadInfo?.wasShown, total, source, loaded: 0 };
    showStatus();
  },
  progress({ loaded, total }) {
    Object.assign(loadInfo, { loaded, total });
    statusLater();
  },
  batch({ batch, loaded, total, osLabels: labels }) {
    Object.assign(loadInfo, { loaded, total });
    if (preview) {
      results = new Results(decoder);
      preview = '';
    }
    results.add(batch);
    if (labels.length !== osLabels.length) {
      osLabels = labels;
      fillOsList();
    }
    // While the file is read, a search or sort is asked again now and then to take in the new rows.
    if (isPlainView()) {
      rowsLater();
    } else if (performance.now() - lastAsked > 500) {
      lastAsked = performance.now();
      refreshView(false);
    }
  },
  done({ count, rank, problem, histogram, how, added, moved }) {
    results.rank = rank;
    const said = {
      unchanged: 'No new results since the last look.',
      added: `${counts.format(added)} new ${added === 1 ? 'result' : 'results'} since the last look.`,
      download: loadInfo?.wasShown ? 'The results file on the host has changed: every result was read again.' : '',
    }[how] ?? '';
    loadInfo = { how, moved, said };
    setPhase('ready');
    const note = noteFor(problem);
    $('note').textContent = note;
    $('note').hidden = !note;
    chart.setData(histogram, count);
    refreshView(false);
    showStatus();
    askStanding();
    document.documentElement.dataset.loaded = String(count);
  },
  kept() {
    // For tests and the bench: the stored copy is written, a revisit may use it.
    document.documentElement.dataset.kept = String(results.count);
  },
  summaries(message) {
    summaries.setData(message, results);
  },
  missing() {
    clearAll();
    setPhase('missing');
    $('status').textContent = SUBMIT_HOW;
    document.documentElement.dataset.loaded = '0';
  },
  failed({ url, reason, hint }) {
    clearAll();
    setPhase('failed');
    $('status').textContent = `The results could not be loaded from ${url ?? 'the host'}: ${reason}. ${hint ?? ''}`.trim();
    document.documentElement.dataset.loaded = '0';
  },
  view(message) {
    views.answered(message);
  },
  stand(message) {
    stands.answered(message);
  },
};

$('reload').addEventListener('click', () => {
  const wasShown = results.count > 0;
  setPhase('loading');
  loadInfo = { wasShown, loaded: 0, total: 0 };
  $('status').textContent = 'Looking for new results…';
  load();
});

$('export').addEventListener('click', async () => {
  $('export').disabled = true;
  const order = shown;
  const blob = await csvOf(results, order, (done, all) => {
    $('status').textContent = `Preparing the CSV file: ${Math.floor((done / all) * 100)} %…`;
  });
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = 'vantrel3-results.csv';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
  $('export').disabled = phase !== 'ready';
  showStatus();
  $('status').textContent += ` The CSV file holds the ${counts.format(order.length)} ${order.length === 1 ? 'row' : 'rows'} shown.`;
});

setPhase('loading');
showControls();
refreshView(false);
listen((message) => handlers[message.type]?.(message));
