// Where scores stand among all: results per processor and per OS (count, median,
// best), the histogram of every score, and the rank a typed score would get.
// All on the worker's data set (dataset.js), after rankScores.

// Each record's processor group: texts that fold alike (any case, any accents) are
// one processor. first holds each group's first record, for its label.
export function processorGroups(data) {
  const groupOf = new Int32Array(data.texts.count).fill(-1);
  const processors = data.ids[1];
  const group = new Uint32Array(data.count);
  const first = [];
  for (let i = 0; i < data.count; i++) {
    const text = processors[i];
    if (groupOf[text] < 0) {
      groupOf[text] = first.length;
      first.push(i);
    }
    group[i] = groupOf[text];
  }
  return { group, first: Uint32Array.from(first), count: first.length };
}

// Count, median and best score of each group, walking the scores from the highest
// down: a group's best is the first of its records met, its median the middle one
// (or the mean of the middle two).
export function summarize(groupOf, groups, scores, descending) {
  const count = new Uint32Array(groups);
  for (let k = 0; k < descending.length; k++) count[groupOf[descending[k]]]++;
  const seen = new Uint32Array(groups);
  const best = new Float64Array(groups);
  const median = new Float64Array(groups);
  for (let k = 0; k < descending.length; k++) {
    const i = descending[k];
    const g = groupOf[i];
    const s = scores[i];
    const at = seen[g]++;
    if (at === 0) best[g] = s;
    const c = count[g];
    if (at === (c - 1) >> 1) median[g] = s;
    if (at === c >> 1 && c % 2 === 0) median[g] = (median[g] + s) / 2;
  }
  return { count, median, best };
}

const BINS = 40;

// Bins of equal width over the finite scores, in log space when the positive ones
// span more than two decades (then scores at or below 0 are counted apart). Scores
// that are not finite are counted apart too.
export function histogram(scores, n) {
  let low = Infinity;
  let high = -Infinity;
  let lowPositive = Infinity;
  for (let i = 0; i < n; i++) {
    const s = scores[i];
    if (!Number.isFinite(s)) continue;
    if (s < low) low = s;
    if (s > high) high = s;
    if (s > 0 && s < lowPositive) lowPositive = s;
  }
  const log = high > 0 && high / lowPositive > 100;
  let from = log ? Math.log10(lowPositive) : low;
  const to = log ? Math.log10(high) : high;
  let width = (to - from) / BINS;
  if (!(width > 0)) {
    // One value (or none): it goes in the middle.
    width = Math.max(Math.abs(from), 1) / BINS;
    from -= (width * BINS) / 2;
  }
  const bins = new Uint32Array(low <= high ? BINS : 0);
  let below = 0;
  let other = 0;
  for (let i = 0; i < n; i++) {
    const s = scores[i];
    if (!Number.isFinite(s)) other++;
    else if (log && s <= 0) below++;
    else bins[Math.min(Math.floor(((log ? Math.log10(s) : s) - from) / width), BINS - 1)]++;
  }
  return { log, from, to: from + width * bins.length, bins, below, other };
}

// The rank a score would get among all (1 + the number above it) and how many are
// at or below it; descending is rankScores' order, NaN scores last.
export function standing(scores, descending, score) {
  let lo = 0;
  let hi = descending.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (scores[descending[mid]] > score) lo = mid + 1;
    else hi = mid;
  }
  const above = lo;
  // NaN is neither above nor at or below.
  let nan = 0;
  for (let k = descending.length - 1; k >= 0 && Number.isNaN(scores[descending[k]]); k--) nan++;
  return { rank: above + 1, atOrBelow: descending.length - above - nan };
}
