// Indexes the results file off the page's thread, then hands every array back
// without copying.
import { indexRecords, isHostErrorPage, rankScores } from './records.js';

self.onmessage = ({ data: bytes }) => {
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
