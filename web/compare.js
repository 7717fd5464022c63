// The comparison panel: the selected result's details, its score as a bar beside
// another result's or the visitor's own, and where the visitor's score stands.

import { barShares, comparison, formatPercentile, formatScore } from './format.js';

const $ = (id) => document.getElementById(id);
const counts = new Intl.NumberFormat('en');

function describe(results, record) {
  return `${record + 1}: ${results.name(record)}, ${results.processor(record)}`;
}

// Fills the panel for record (-1: none). other is { score, label } or null;
// missing says why there is no record to show (a text) when record is -1.
export function showDetails(results, record, other, missing, asRow) {
  $('details').hidden = record < 0;
  $('keep').disabled = record < 0;
  if (record < 0) {
    $('compare-hint').textContent = missing || 'Select a result in the table to compare it.';
    $('graph').hidden = true;
    return;
  }
  $('compare-hint').textContent = asRow ? '' : `Result ${record + 1} is not among the rows shown: clear the search and filters to see it in the table.`;
  $('d-name').textContent = results.name(record);
  $('d-os').textContent = results.os(record);
  $('d-processor').textContent = results.processor(record);
  $('d-score').textContent = formatScore(results.score(record));
  const rank = results.rankOf(record);
  $('d-rank').textContent = rank ? `${counts.format(rank)} of ${counts.format(results.count)}` : 'counted once every result is in';
  $('d-percentile').textContent = rank ? `${formatPercentile(results.percentileOf(record))} %` : '…';

  const mine = results.score(record);
  $('graph').hidden = false;
  $('bar1-label').textContent = `Result ${describe(results, record)}`;
  $('bar1-value').textContent = formatScore(mine);
  $('bar2-row').hidden = !other;
  const [a, b] = other ? barShares(mine, other.score) : [1, 0];
  $('bar1').style.width = `${a * 100}%`;
  $('bar2').style.width = `${b * 100}%`;
  if (other) {
    $('bar2-label').textContent = other.record >= 0 ? `Result ${describe(results, other.record)}` : 'Your score';
    $('bar2-value').textContent = formatScore(other.score);
    $('graph-summary').textContent = comparison(mine, other.score, 'The selected result',
      other.record >= 0 ? 'The other result' : 'Your score');
  } else {
    $('graph-summary').textContent = $('with-row').checked
      ? 'Type the number of a result to compare with.' : 'Type your score to compare with.';
  }
}

// Where a typed score stands: { rank, atOrBelow, count } from the worker, or a
// reason there is none yet.
export function showStanding(answer, typed) {
  const stand = $('stand');
  if (!typed) {
    stand.textContent = 'Type your score to see where it stands among all.';
  } else if (!answer) {
    stand.textContent = typed === 'bad' ? 'That is not a number: type digits, with a "." or "," for a fraction.' : '';
  } else if (!answer.count) {
    stand.textContent = 'There are no results to compare it with yet.';
  } else {
    const share = (answer.atOrBelow / answer.count) * 100;
    stand.textContent = `It would rank ${counts.format(answer.rank)} of ${counts.format(answer.count + 1)}: `
      + `${formatPercentile(share)} % of all results are at or below it.`;
  }
}
