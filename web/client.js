// The page's side of its worker (worker.js). The page loads this module on its own,
// ahead of the others, so the worker starts and the results file is asked for while
// the rest of the page is still arriving; messages wait until the page listens.

const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const early = [];
let listener = null;
const deliver = (message) => (listener ? listener(message) : early.push(message));
worker.onmessage = ({ data }) => deliver(data);
worker.onerror = (event) => {
  event.preventDefault();
  deliver({ type: 'failed', reason: `the page could not start its reader (${event.message || 'no reason given'})`,
    hint: 'Reload the page; if that does not help, try a browser from 2024 or later.' });
};
worker.postMessage({ type: 'load' });

export function listen(onMessage) {
  listener = onMessage;
  for (const message of early.splice(0)) onMessage(message);
}

export function load() {
  worker.postMessage({ type: 'load' });
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
    if (question) worker.postMessage(question);
  }

  // Takes an answer of this kind; true when it is the newest.
  answered(message) {
    const newest = message.id === this.asked;
    if (newest) this.onAnswer(message);
    this.send();
    return newest;
  }
}
