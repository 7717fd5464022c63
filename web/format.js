// Numbers as the desktop program writes them, and the two-bar arithmetic of its
// comparison graph.

// Whole numbers as plain digits; others with up to 15 significant digits, the
// exponent as "E+15" / "E-05" the way C's %.15g writes it. No digit grouping.
export function formatScore(value) {
  if (Number.isNaN(value)) return 'NaN';
  if (value === Infinity) return 'Infinity';
  if (value === -Infinity) return '-Infinity';
  if (value === 0) return '0';
  if (Number.isInteger(value) && Math.abs(value) < 1e15) return value.toFixed(0);
  const exponential = value.toExponential(14);
  const [mantissa, exponentText] = exponential.split('e');
  const exponent = Number(exponentText);
  if (exponent < -4 || exponent >= 15) {
    const digits = Math.abs(exponent).toString().padStart(2, '0');
    return `${trimZeros(mantissa)}E${exponent < 0 ? '-' : '+'}${digits}`;
  }
  return trimZeros(value.toFixed(14 - exponent));
}

function trimZeros(text) {
  return text.includes('.') ? text.replace(/\.?0+$/, '') : text;
}

// A typed-in score: digits with an optional "." or "," fraction and exponent,
// blanks ignored. null for anything else.
export function parseScore(text) {
  const compact = text.replace(/\s+/g, '').replace(',', '.');
  if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(compact)) return null;
  return Number(compact);
}

// Lengths of the two bars as shares of a full bar: the larger score fills it, the
// smaller gets its exact ratio. A share that comes out negative or not a number
// (scores no submission writes) is clamped to 0..1; with a NaN score there is
// nothing to compare and both bars are empty.
export function barShares(first, second) {
  if (Number.isNaN(first) || Number.isNaN(second)) return [0, 0];
  const clamp = (share) => (share >= 0 ? Math.min(share, 1) : 0);
  if (second > first) return [clamp(first / second), 1];
  if (second < first) return [1, clamp(second / first)];
  return [1, 1];
}

// Percent with one decimal, rounded down so that only the best reads "100".
export function formatPercentile(percent) {
  if (percent >= 100) return '100';
  return (Math.floor(percent * 10) / 10).toFixed(1);
}
