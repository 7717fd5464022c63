// The page's side of its worker (worker.js). The page loads this module on its own,
// ahead of the others, so the results file is asked for while the rest of the page
// is still arriving. The worker starts once the page listens: its own modules would
// otherwise hold up the page's on the few connections a browser opens to a host.
// Messages each way wait until then.

let worker = null;
const toWorker = []; // [message, transfer, instead]
const early = [];
let listener = null;
const deliver = (message) => (listener ? listener(message) : early.push(message));

// Posts to the worker; instead() runs when the message cannot go (a stream that this
// browser cannot hand over).
function post(message, transfer = [], instead = null) {
  if (!worker) {
    toWorker.push([message, transfer, instead]);
    return;
  }
  try {
    worker.postMessage(message, transfer);
  } catch (error) {
    if (!instead) throw error;
    instead();
  }
}

function startWorker() {
  worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  worker.onmessage = ({ data }) => {
    if (data.type === 'kept' || data.type === 'missing') note(data);
    deliver(data);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    deliver({ type: 'failed', reason: `the page could not start its reader (${event.message || 'no reason given'})`,
      hint: 'Reload the page; if that does not help, try a browser from 2024 or later.' });
  };
  for (const queued of toWorker.splice(0)) post(...queued);
}

// A note of the copy the worker keeps in IndexedDB (its size, first and last bytes),
// in localStorage, which answers at once: with it the worker asks the host for what is
// new while IndexedDB is still opening, the page shows the copy's first rows before
// the worker has started, and without it the worker need not wait for IndexedDB to
// say it holds nothing.
const NOTE = `vantrel3-copy ${new URL('./COMPARE.ZIP', import.meta.url).href}`;
// The page's own first rows come from this many bytes (as many as the worker's first piece).
const HEAD = 16 << 10;

const bytesOf = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const textOf = (bytes) => btoa(String.fromCharCode(...bytes));

function noted() {
  try {
    const note = JSON.parse(localStorage.getItem(NOTE) ?? 'null');
    if (!note) return null;
    return { size: note.size, tail: bytesOf(note.tail), head: note.head ? bytesOf(note.head) : null };
  } catch {
    return undefined; // no notes here: the worker looks for a copy itself
  }
}

function note({ size, tail, head }) {
  try {
    if (size) localStorage.setItem(NOTE, JSON.stringify({ size, tail: textOf(tail), head: textOf(head) }));
    else localStorage.removeItem(NOTE);
  } catch {
    // Without notes every visit looks in IndexedDB first.
  }
}

// The first HEAD bytes of stream (fewer if it is shorter), then lets it go; null on a failure.
async function headOf(stream) {
  const reader = stream.getReader();
  const head = new Uint8Array(HEAD);
  let length = 0;
  try {
    while (length < HEAD) {
      const { done, value } = await reader.read();
      if (done) break;
      const take = Math.min(value.length, HEAD - length);
      head.set(value.subarray(0, take), length);
      length += take;
    }
    return head.subarray(0, length);
  } catch {
    return null;
  } finally {
    reader.cancel().catch(() => {});
  }
}

// The first question to the host goes out from here at once, while the worker and
// its modules are still loading; the worker then takes the answer's body over. A
// browser that cannot hand a stream to a worker lets the worker ask again.
// Meanwhile the page shows the first rows itself ('preview'): the copy's, from the
// note, or the download's first bytes; the worker's first batch replaces them.
function askEarly(copy) {
  if (copy === undefined) return false;
  if (copy?.head) deliver({ type: 'preview', bytes: copy.head, source: 'copy' });
  const headers = copy ? { Range: `bytes=${copy.size - copy.tail.length}-` } : {};
  fetch(new URL('./COMPARE.ZIP', import.meta.url), { cache: 'no-store', headers }).then((answer) => {
    const head = { type: 'answer', status: answer.status, statusText: answer.statusText, headers: [...answer.headers] };
    let body = answer.body;
    let mine = null;
    if (body && answer.status === 200 && !copy) [mine, body] = body.tee();
    post({ ...head, body }, body ? [body] : [], () => {
      body.cancel();
      post({ type: 'answer', none: true });
    });
    if (mine) headOf(mine).then((bytes) => bytes?.length && deliver({ type: 'preview', bytes, source: 'download' }));
  }, () => post({ type: 'answer', failed: true }));
  return true;
}

const copy = noted();
post({ type: 'load', noted: copy, early: askEarly(copy) });

export function listen(onMessage) {
  listener = onMessage;
  for (const message of early.splice(0)) onMessage(message);
  startWorker();
}

export function load() {
  post({ type: 'load', noted: noted() });
}

// Questions of one kind ('view', 'stand') where only the newest matters: one is with
// the worker at a time, a newer one waits in place of any older waiting one, and an
// answer that a newer question has overtaken is dropped.
export class Latest {
  constructor(type, onAnswer, onBusy = () => {}) {
    this.type = type;
    this.onAnswer = onAnswer;
    this.onBusy = onBusy;
    this.asked = 0;
    this.waiting = null;
    this.out = false;
  }

  ask(question) {
    this.asked++;
    this.waiting = { ...question, type: this.type, id: this.asked };
    if (!this.out) this.send();
  }

  // Forgets the question waiting and drops the answer to the one out.
  drop() {
    this.asked++;
    this.waiting = null;
  }

  send() {
    const question = this.waiting;
    this.waiting = null;
    this.out = !!question;
    this.onBusy(this.out);
    if (question) post(question);
  }

  // Takes an answer of this kind; true when it is the newest.
  answered(message) {
    const newest = message.id === this.asked;
    if (newest) this.onAnswer(message);
    this.send();
    return newest;
  }
}
