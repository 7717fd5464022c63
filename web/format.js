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
// smaller gets its exact ratio. A score at or below 0 gets an empty bar (so two of
// them draw nothing), and with a NaN score there is nothing to compare.
export function barShares(first, second) {
  if (Number.isNaN(first) || Number.isNaN(second)) return [0, 0];
  const top = Math.max(first, second);
  if (!(top > 0)) return [0, 0];
  const share = (score) => (score === top ? 1 : score > 0 ? Math.min(score / top, 1) : 0);
  return [share(first), share(second)];
}

// How two scores compare, in words: a ratio when both are above 0 (with a power of
// ten once it is too large to write out), else the difference.
export function comparison(mine, other, mineName, otherName) {
  if (!Number.isFinite(mine) || !Number.isFinite(other)) return '';
  if (mine === other) return 'Both scores are the same.';
  const [high, low, highName] = mine > other ? [mine, other, mineName] : [other, mine, otherName];
  if (low > 0) {
    const ratio = high / low;
    let times;
    if (ratio < 100) times = ratio.toFixed(2);
    else if (ratio < 1e15) times = Math.round(ratio).toLocaleString('en');
    else {
      const power = Math.log10(high) - Math.log10(low);
      const exponent = Math.floor(power);
      times = `${(10 ** (power - exponent)).toFixed(2)}E+${exponent}`;
    }
    return `${highName} is ${times} times as high.`;
  }
  const gap = high - low;
  return Number.isFinite(gap) ? `${highName} is higher by ${formatScore(gap)}.` : `${highName} is far higher.`;
}

// Percent with one decimal, rounded down so that only the best reads "100".
export function formatPercentile(percent) {
  if (percent >= 100) return '100';
  return (Math.floor(percent * 10) / 10).toFixed(1);
}
