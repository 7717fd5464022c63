// A semantic table that holds only the rows in view (plus a few), between two
// spacer rows that keep the scroll height. aria-rowcount and aria-rowindex tell
// screen readers where they are in the whole list. Keyboard: one row's button is
// in the tab order; arrows, Page Up/Down, Home and End move between rows.

// Browsers cap an element's height (Firefox near 17.9 million pixels); past this
// the scroll position maps onto the rows proportionally.
const MAX_HEIGHT = 8_000_000;
const OVERSCAN = 4;

export class VirtualTable {
  // fill(cells, record) writes one row; onSelect(record) runs on a click or Enter.
  constructor(scroller, table, columns, fill, onSelect) {
    this.scroller = scroller;
    this.table = table;
    this.body = table.tBodies[0];
    this.columns = columns;
    this.fill = fill;
    this.onSelect = onSelect;
    this.order = new Uint32Array(0);
    this.selected = -1;
    this.active = 0;
    this.rowHeight = 0;
    this.pool = [];
    this.top = this.spacer();
    this.bottom = this.spacer();
    this.body.replaceChildren(this.top, this.bottom);
    this.frame = 0;
    scroller.addEventListener('scroll', () => this.schedule(), { passive: true });
    new ResizeObserver(() => this.schedule()).observe(scroller);
    this.body.addEventListener('click', (event) => this.clicked(event));
    this.body.addEventListener('keydown', (event) => this.key(event));
  }

  spacer() {
    const row = document.createElement('tr');
    row.className = 'spacer';
    row.setAttribute('aria-hidden', 'true');
    const cell = document.createElement('td');
    cell.colSpan = this.columns;
    row.append(cell);
    return row;
  }

  makeRow() {
    const row = document.createElement('tr');
    const head = document.createElement('th');
    head.scope = 'row';
    const button = document.createElement('button');
    button.type = 'button';
    button.tabIndex = -1;
    head.append(button);
    row.append(head);
    for (let c = 1; c < this.columns; c++) row.append(document.createElement('td'));
    return row;
  }

  // order: the record numbers to show, in the order to show them.
  setOrder(order) {
    this.order = order;
    this.table.setAttribute('aria-rowcount', String(order.length + 1));
    this.active = Math.min(this.active, Math.max(order.length - 1, 0));
    this.render();
  }

  setSelected(record) {
    this.selected = record;
    this.render();
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => { this.frame = 0; this.render(); });
  }

  measure() {
    if (this.rowHeight) return;
    const probe = this.makeRow();
    probe.cells[1].textContent = 'M';
    this.body.append(probe);
    this.rowHeight = probe.getBoundingClientRect().height || 32;
    probe.remove();
    this.headHeight = this.table.tHead.getBoundingClientRect().height;
  }

  // Where the rows start for the current scroll position: the first row shown and
  // the pixel offset at which it sits.
  window() {
    const count = this.order.length;
    const h = this.rowHeight;
    const view = Math.max(this.scroller.clientHeight - this.headHeight, h);
    const full = count * h;
    const scrollTop = this.scroller.scrollTop;
    if (full <= MAX_HEIGHT) {
      const first = Math.min(Math.floor(scrollTop / h), Math.max(count - 1, 0));
      return { first, offset: first * h, height: full, view };
    }
    const range = Math.max(MAX_HEIGHT - view, 1);
    const exact = (Math.min(scrollTop, range) / range) * Math.max(count - view / h, 0);
    const first = Math.floor(exact);
    return { first, offset: scrollTop - (exact - first) * h, height: MAX_HEIGHT, view };
  }

  render() {
    this.measure();
    const count = this.order.length;
    const { first, offset, height, view } = this.window();
    const shown = Math.min(Math.ceil(view / this.rowHeight) + OVERSCAN, count - first);
    while (this.pool.length < shown) this.pool.push(this.makeRow());
    const rows = this.pool.slice(0, Math.max(shown, 0));
    let focusAt = this.active >= first && this.active < first + shown ? this.active : first;
    rows.forEach((row, k) => {
      const position = first + k;
      const record = this.order[position];
      row.dataset.position = String(position);
      row.setAttribute('aria-rowindex', String(position + 2));
      const selected = record === this.selected;
      row.classList.toggle('selected', selected);
      const button = row.cells[0].firstChild;
      button.setAttribute('aria-pressed', String(selected));
      button.tabIndex = position === focusAt ? 0 : -1;
      this.fill(row.cells, record);
    });
    // Touch the DOM only where the set of rows changed.
    const current = [...this.body.children].slice(1, -1);
    if (current.length !== rows.length || current.some((row, k) => row !== rows[k])) {
      this.body.replaceChildren(this.top, ...rows, this.bottom);
    }
    this.top.style.height = `${offset}px`;
    this.bottom.style.height = `${Math.max(height - offset - rows.length * this.rowHeight, 0)}px`;
  }

  clicked(event) {
    const row = event.target.closest('tr');
    if (!row || !row.dataset.position) return;
    this.active = Number(row.dataset.position);
    this.onSelect(this.order[this.active]);
  }

  key(event) {
    const row = event.target.closest('tr');
    if (!row || !row.dataset.position) return;
    const page = Math.max(Math.floor(this.scroller.clientHeight / this.rowHeight) - 2, 1);
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
    const from = Number(row.dataset.position);
    let to;
    if (event.key in moves) to = from + moves[event.key];
    else if (event.key === 'Home') to = 0;
    else if (event.key === 'End') to = this.order.length - 1;
    else return;
    event.preventDefault();
    this.focusPosition(Math.max(0, Math.min(to, this.order.length - 1)));
  }

  // Scrolls the row at position into view, puts it in the tab order and focuses it.
  focusPosition(position, focus = true) {
    this.active = position;
    this.scrollTo(position);
    this.render();
    const row = this.pool.find((r) => r.isConnected && Number(r.dataset.position) === position);
    if (row && focus) row.cells[0].firstChild.focus({ preventScroll: true });
  }

  scrollTo(position) {
    this.measure();
    const { first, view } = this.window();
    const h = this.rowHeight;
    const visibleRows = Math.max(Math.floor(view / h), 1);
    if (position >= first && position < first + visibleRows) return;
    const target = position < first ? position : position - visibleRows + 1;
    const full = this.order.length * h;
    if (full <= MAX_HEIGHT) {
      this.scroller.scrollTop = target * h;
    } else {
      const range = Math.max(MAX_HEIGHT - view, 1);
      this.scroller.scrollTop = (target / Math.max(this.order.length - view / h, 1)) * range;
    }
  }
}
