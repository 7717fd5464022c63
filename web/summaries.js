// Results per processor and per OS (count, median, best, from the worker), as a
// sortable table; picking a group filters the results table to it.

import { formatScore } from './format.js';
import { VirtualTable } from './table.js';

const $ = (id) => document.getElementById(id);
const counts = new Intl.NumberFormat('en');
const KINDS = { processor: ['Processor', 'processors'], os: ['OS', 'OS names'] };

export class Summaries {
  // onPick(kind, label) runs when a group is picked.
  constructor(onPick) {
    this.onPick = onPick;
    this.kind = 'processor';
    this.column = 'count';
    this.descending = true;
    this.data = null;
    this.results = null;
    this.picked = { processor: '', os: '' };
    this.table = new VirtualTable($('summary-scroller'), $('summary'), (cells, group) => this.fill(cells, group),
      (group) => this.onPick(this.kind, this.label(group)));
    for (const kind of Object.keys(KINDS)) $(`by-${kind}`).addEventListener('click', () => this.show(kind));
    $('summary').tHead.addEventListener('click', (event) => {
      const head = event.target.closest('th');
      if (!head || !this.data) return;
      const column = head.dataset.column;
      this.descending = column === this.column ? !this.descending : column !== 'name';
      this.column = column;
      this.render(true);
    });
    document.querySelector('.tabs').addEventListener('keydown', (event) => {
      if (event.key !== 'ArrowLeft' && event.key !== 'ArrowRight') return;
      const next = this.kind === 'processor' ? 'os' : 'processor';
      this.show(next);
      $(`by-${next}`).focus();
    });
  }

  label(group) {
    const summary = this.data[this.kind];
    return this.kind === 'os' ? summary.labels[group] : this.results.processor(summary.first[group]);
  }

  fill(cells, group) {
    const summary = this.data[this.kind];
    const label = this.label(group);
    cells[0].firstChild.textContent = label;
    cells[1].textContent = counts.format(summary.count[group]);
    cells[2].textContent = formatScore(summary.median[group]);
    cells[3].textContent = formatScore(summary.best[group]);
  }

  // summaries: { processor, os } from the worker, null while they are not known.
  setData(summaries, results) {
    this.data = summaries;
    this.results = results;
    this.render(true);
  }

  // The groups the results table is filtered to ('' for none).
  setPicked(processor, os) {
    this.picked = { processor, os };
    this.markPicked();
  }

  show(kind) {
    this.kind = kind;
    for (const other of Object.keys(KINDS)) {
      const tab = $(`by-${other}`);
      tab.setAttribute('aria-selected', String(other === kind));
      tab.tabIndex = other === kind ? 0 : -1;
    }
    $('summary-panel').setAttribute('aria-labelledby', `by-${kind}`);
    $('group-head').textContent = KINDS[kind][0];
    this.render(true);
  }

  render(top) {
    for (const head of $('summary').tHead.rows[0].cells) {
      if (head.dataset.column === this.column) head.setAttribute('aria-sort', this.descending ? 'descending' : 'ascending');
      else head.removeAttribute('aria-sort');
    }
    if (!this.data) {
      $('summary-status').textContent = 'The summaries come once every result is in.';
      this.table.setOrder(new Uint32Array(0), true);
      return;
    }
    const summary = this.data[this.kind];
    let order = summary.byName.slice();
    if (this.column === 'name') {
      if (this.descending) order.reverse();
    } else {
      const values = summary[this.column];
      const sign = this.descending ? -1 : 1;
      // Stable, so equal values stay in name order.
      order = order.sort((a, b) => sign * (values[a] - values[b]) || 0);
    }
    const groups = summary.count.length;
    $('summary-status').textContent = `${counts.format(groups)} ${groups === 1 ? KINDS[this.kind][0] : KINDS[this.kind][1]}`
      + ' among all results. Pick one to see only its results.';
    this.table.setOrder(order, top);
    this.markPicked();
  }

  markPicked() {
    if (!this.data) return;
    const wanted = this.picked[this.kind].toLowerCase();
    const summary = this.data[this.kind];
    let group = -1;
    if (wanted) {
      for (let g = 0; g < summary.count.length && group < 0; g++) if (this.label(g).toLowerCase() === wanted) group = g;
    }
    this.table.setSelected(group);
  }
}
