// What the page's address keeps, in its fragment, so a link reopens the same view:
// q (search text), os, cpu (one processor, from its summary), sort (a column, "-"
// in front for descending), sel (the selected result's number, 1 for the file's
// first), and what it is compared with: vs (another result's number) or score (a
// typed-in score).
// The fragment never reaches the host, so this works on any static host.

export const COLUMNS = ['file', 'name', 'os', 'processor', 'score', 'rank', 'percentile'];

export function defaultState() {
  return {
    q: '', os: '', processor: '', sort: 'file', descending: false, selected: 0, versus: 0, score: '', withRow: false,
  };
}

function wholeNumber(text) {
  return /^[1-9]\d{0,9}$/.test(text ?? '') ? Number(text) : 0;
}

export function parseState(hash) {
  const params = new URLSearchParams(hash.replace(/^#/, ''));
  const state = defaultState();
  state.q = params.get('q') ?? '';
  state.os = params.get('os') ?? '';
  state.processor = params.get('cpu') ?? '';
  const sort = params.get('sort') ?? '';
  const column = sort.replace(/^-/, '');
  if (COLUMNS.includes(column)) {
    state.sort = column;
    state.descending = sort.startsWith('-');
  }
  state.selected = wholeNumber(params.get('sel'));
  state.versus = wholeNumber(params.get('vs'));
  state.score = params.get('score') ?? '';
  state.withRow = state.versus > 0;
  return state;
}

export function formatState(state) {
  const params = new URLSearchParams();
  if (state.q) params.set('q', state.q);
  if (state.os) params.set('os', state.os);
  if (state.processor) params.set('cpu', state.processor);
  if (state.sort !== 'file' || state.descending) params.set('sort', (state.descending ? '-' : '') + state.sort);
  if (state.selected) params.set('sel', String(state.selected));
  if (state.withRow && state.versus) params.set('vs', String(state.versus));
  if (!state.withRow && state.score) params.set('score', state.score);
  const text = params.toString();
  return text ? `#${text}` : '';
}
