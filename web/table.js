// A semantic table that holds only the rows in view (plus a few), between two
// spacer rows that keep the scroll height. aria-rowcount and aria-rowindex tell
// screen readers where they are in the whole list. Keyboard: one row's button is in
// the tab order; arrows, Page Up/Down, Home and End move between rows. Row elements
// are reused as the list scrolls, so focus is kept with the record, not the element:
// when its row scrolls away, focus waits on the scroller and comes back with it.

// Browsers cap an element's height (Firefox near 17.9 million pixels); past this
// the scroll position maps onto the rows proportionally.
const MAX_HEIGHT = 8_000_000;
const OVERSCAN = 4;

export class VirtualTable {
  // fill(cells, record) writes one row; onSelect(record) runs on a click or Enter.
  constructor(scroller, table, fill, onSelect) {
    this.scroller = scroller;
    this.table = table;
    this.body = table.tBodies[0];
    this.columns = table.tHead.rows[0].cells.length;
    this.fill = fill;
    this.onSelect = onSelect;
    this.order = new Uint32Array(0);
    this.selected = -1;
    this.active = -1; // the record whose button is in the tab order
    this.focused = -1; // the record that has (or, scrolled away, is owed) the focus
    this.owed = false;
    this.rowHeight = 0;
    this.pool = [];
    this.top = this.spacer();
    this.bottom = this.spacer();
    this.body.replaceChildren(this.top, this.bottom);
    this.frame = 0;
    scroller.addEventListener('scroll', () => this.schedule(), { passive: true });
    new ResizeObserver(() => {
      this.rowHeight = 0; // the layout may have changed with the width
      this.schedule();
    }).observe(scroller);
    this.body.addEventListener('click', (event) => this.clicked(event));
    this.body.addEventListener('keydown', (event) => this.key(event));
    this.body.addEventListener('focusin', (event) => {
      const row = event.target.closest('tr');
      if (row?.dataset.record) this.focused = this.active = Number(row.dataset.record);
      this.owed = false;
    });
    scroller.addEventListener('focusout', (event) => {
      if (event.target === scroller) this.owed = false;
    });
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

  // order: the record numbers to show, in the order to show them (a Uint32Array, or
  // anything with its length, at() and indexOf()); top: back to the first.
  setOrder(order, top = false) {
    this.order = order;
    this.table.setAttribute('aria-rowcount', String(order.length + 1));
    if (top) this.scroller.scrollTop = 0;
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
    this.rowHeight = probe.getBoundingClientRect().height;
    probe.remove();
    this.headHeight = this.table.tHead.getBoundingClientRect().height;
  }

  // Where the rows start for the current scroll position: the first row shown and
  // the pixel offset at which it sits.
  window() {
    const count = this.order.length;
    const h = this.rowHeight || 32;
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
    if (!this.rowHeight) return; // not laid out (hidden): the resize observer calls again
    const count = this.order.length;
    const { first, offset, height, view } = this.window();
    const shown = Math.max(Math.min(Math.ceil(view / this.rowHeight) + OVERSCAN, count - first), 0);
    while (this.pool.length < shown) this.pool.push(this.makeRow());
    const rows = this.pool.slice(0, shown);
    const focus = document.activeElement;
    const hadFocus = this.body.contains(focus) || (focus === this.scroller && this.owed);
    let tabRow = rows[0];
    let focusRow = null;
    rows.forEach((row, k) => {
      const position = first + k;
      const record = this.order.at(position);
      row.dataset.position = String(position);
      row.dataset.record = String(record);
      row.setAttribute('aria-rowindex', String(position + 2));
      const selected = record === this.selected;
      row.classList.toggle('selected', selected);
      row.cells[0].firstChild.setAttribute('aria-pressed', String(selected));
      row.cells[0].firstChild.tabIndex = -1;
      if (record === this.active) tabRow = row;
      if (record === this.focused) focusRow = row;
      this.fill(row.cells, record);
    });
    if (tabRow) tabRow.cells[0].firstChild.tabIndex = 0;
    // Touch the DOM only where the set of rows changed.
    const current = [...this.body.children].slice(1, -1);
    if (current.length !== rows.length || current.some((row, k) => row !== rows[k])) {
      this.body.replaceChildren(this.top, ...rows, this.bottom);
    }
    this.top.style.height = `${offset}px`;
    this.bottom.style.height = `${Math.max(height - offset - rows.length * this.rowHeight, 0)}px`;
    if (hadFocus && focusRow) {
      const button = focusRow.cells[0].firstChild;
      if (document.activeElement !== button) button.focus({ preventScroll: true });
    } else if (hadFocus && document.activeElement !== this.scroller) {
      this.scroller.focus({ preventScroll: true });
      this.owed = true;
    }
  }

  clicked(event) {
    const row = event.target.closest('tr');
    if (!row || !row.dataset.record) return;
    this.active = Number(row.dataset.record);
    this.onSelect(this.active);
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
    to = Math.max(0, Math.min(to, this.order.length - 1));
    this.focused = this.active = this.order.at(to);
    this.scrollTo(to);
    this.render();
  }

  // Scrolls record's row into view and puts it in the tab order (focused too when
  // focus is true); false when the record is not in the list.
  reveal(record, focus = false) {
    const position = this.order.indexOf(record);
    if (position < 0) return false;
    this.active = record;
    if (focus) {
      this.focused = record;
      this.owed = true;
      if (!this.body.contains(document.activeElement)) this.scroller.focus({ preventScroll: true });
    }
    this.scrollTo(position);
    this.render();
    return true;
  }

  scrollTo(position) {
    this.measure();
    const { first, view } = this.window();
    const h = this.rowHeight || 32;
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
