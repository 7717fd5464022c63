// Downloads and indexes the results file off the page's thread, then hands every
// array over without copying.
import { indexRecords, isHostErrorPage, rankScores } from './records.js';

async function download(url) {
  const response = await fetch(url, { cache: 'no-cache' });
  if (response.status === 404) return { status: 'missing' };
  if (!response.ok) return { status: 'failed', reason: `the host answered ${response.status} ${response.statusText}`.trim() };
  const total = Number(response.headers.get('Content-Length')) || 0;
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
      self.postMessage({ status: 'progress', loaded, total });
    }
  }
  if (loaded < total) return { status: 'failed', reason: `the download stopped after ${loaded} of ${total} bytes` };
  return { status: 'ok', bytes: loaded === bytes.length ? bytes : bytes.slice(0, loaded) };
}

self.onmessage = async (event) => {
  let result;
  try {
    result = await download(event.data.url);
  } catch (error) {
    self.postMessage({ status: 'failed', reason: String(error.message || error) });
    return;
  }
  if (result.status !== 'ok') {
    self.postMessage(result);
    return;
  }
  const { bytes } = result;
  if (isHostErrorPage(bytes)) {
    self.postMessage({ status: 'missing' });
    return;
  }
  const index = indexRecords(bytes);
  const ranks = rankScores(index.scores);
  const data = { bytes, size: bytes.length, ...index, ...ranks };
  const arrays = [bytes, index.nameStart, index.processorStart, index.os, index.scores,
    ranks.ascending, ranks.descending, ranks.rank];
  self.postMessage({ status: 'ok', data }, arrays.map((a) => a.buffer));
};
