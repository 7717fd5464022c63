// Fetches the results file and has a worker index it. The page loads this module on
// its own, ahead of the others, so the download and the worker start while the rest
// of the page is still arriving; the page then takes over the messages.

export const RESULTS_URL = new URL('./COMPARE.ZIP', document.baseURI).href;

async function download(url, onMessage) {
  const response = await fetch(url, { cache: 'no-cache' });
  if (response.status === 404) return { status: 'missing' };
  if (!response.ok) return { status: 'failed', reason: `the host answered ${response.status} ${response.statusText}`.trim() };
  // A compressed answer's length says nothing about the bytes that come out of it.
  const total = response.headers.has('Content-Encoding') ? 0 : Number(response.headers.get('Content-Length')) || 0;
  if (!total || !response.body) return { status: 'ok', bytes: new Uint8Array(await response.arrayBuffer()) };

  // With the size known, fill one buffer as the data arrives and report progress.
  let bytes = new Uint8Array(total);
  let loaded = 0;
  let reported = 0;
  const reader = response.body.getReader();
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    if (loaded + value.length > bytes.length) {
      const bigger = new Uint8Array(Math.max(bytes.length * 2, loaded + value.length));
      bigger.set(bytes.subarray(0, loaded));
      bytes = bigger;
    }
    bytes.set(value, loaded);
    loaded += value.length;
    if (loaded - reported > 4 << 20) {
      reported = loaded;
      onMessage({ status: 'progress', loaded, total });
    }
  }
  if (loaded < total) return { status: 'failed', reason: `the download stopped after ${loaded} of ${total} bytes` };
  return { status: 'ok', bytes: loaded === bytes.length ? bytes : bytes.slice(0, loaded) };
}

// Calls onMessage with progress ({ status: 'progress', loaded, total }) and then once
// with the outcome: 'missing', 'failed' (with reason) or 'ok' (with data).
export function loadResults(onMessage, url = RESULTS_URL) {
  const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  const finish = (message) => {
    worker.terminate();
    onMessage(message);
  };
  worker.onmessage = ({ data }) => finish(data);
  worker.onerror = (event) => finish({ status: 'failed', reason: event.message || 'the page could not start its reader' });
  download(url, onMessage).then((result) => {
    if (result.status === 'ok') worker.postMessage(result.bytes, [result.bytes.buffer]);
    else finish(result);
  }, (error) => finish({ status: 'failed', reason: String(error.message || error) }));
}

// The first load starts as soon as this module runs; messages wait until the page
// asks for them.
const early = [];
let earlyHandler = null;
loadResults((message) => (earlyHandler ? earlyHandler(message) : early.push(message)));

export function takeFirstLoad(onMessage) {
  earlyHandler = onMessage;
  for (const message of early.splice(0)) onMessage(message);
}
