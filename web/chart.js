// The histogram of every score (bins from the worker, see summary.js), drawn as SVG
// with a mark for the selected result and one for the visitor's score.

const $ = (id) => document.getElementById(id);
const SVG = 'http://www.w3.org/2000/svg';
const WIDTH = 320;
const TOP = 18;
const HEIGHT = 100;
const counts = new Intl.NumberFormat('en');
const compact = new Intl.NumberFormat('en', { notation: 'compact', maximumSignificantDigits: 3 });

function element(name, attributes, className) {
  const node = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, String(value));
  if (className) node.setAttribute('class', className);
  return node;
}

// Scores as the scale writes them: three significant digits, 1.2K, 4.5M.
function short(value) {
  const size = Math.abs(value);
  return value && (size >= 1e15 || size < 1e-3) ? value.toExponential(1).replace('e', 'E') : compact.format(value);
}

export class Chart {
  constructor() {
    this.svg = $('chart');
    this.data = null;
  }

  // histogram: { log, from, to, bins, below, other }; null hides the chart.
  setData(histogram, total) {
    this.data = histogram;
    this.total = total;
    $('chart-figure').hidden = !histogram || !histogram.bins.length;
    this.marks = null;
    if (!histogram || !histogram.bins.length) return;
    const { bins, log, from, to } = histogram;
    const most = Math.max(...bins);
    const width = WIDTH / bins.length;
    const value = (x) => (log ? 10 ** x : x);
    const bars = [...bins].map((count, k) => {
      const height = count ? Math.max((count / most) * HEIGHT, 1) : 0;
      const bar = element('rect', { x: k * width + 0.5, y: TOP + HEIGHT - height, width: width - 1, height }, 'bin');
      const title = element('title', {});
      const low = from + ((to - from) * k) / bins.length;
      const high = from + ((to - from) * (k + 1)) / bins.length;
      title.textContent = `${counts.format(count)} ${count === 1 ? 'result' : 'results'} from ${short(value(low))} to ${short(value(high))}`;
      bar.append(title);
      return bar;
    });
    this.svg.replaceChildren(element('line', { x1: 0, x2: WIDTH, y1: TOP + HEIGHT + 0.5, y2: TOP + HEIGHT + 0.5 }, 'axis'), ...bars);
    $('chart-low').textContent = short(value(from));
    $('chart-high').textContent = short(value(to));
    $('chart-scale-name').textContent = log ? 'log scale' : '';
  }

  // selected and yours: scores to mark (null: none).
  mark(selected, yours, selectedLabel) {
    if (!this.data || !this.data.bins.length) return;
    for (const old of this.svg.querySelectorAll('.mark')) old.remove();
    const { log, from, to } = this.data;
    const x = (score) => {
      const at = log ? (score > 0 ? Math.log10(score) : -Infinity) : score;
      return Math.min(Math.max(((at - from) / (to - from)) * WIDTH, 1), WIDTH - 1);
    };
    const words = [];
    const draw = (score, className, text, anchorRight) => {
      if (score === null || !Number.isFinite(score)) return;
      const at = x(score);
      const group = element('g', {}, `mark ${className}`);
      group.append(element('line', { x1: at, x2: at, y1: TOP - 2, y2: TOP + HEIGHT }));
      const label = element('text', { x: at + (anchorRight ? -3 : 3), y: TOP - 6, 'text-anchor': anchorRight ? 'end' : 'start' });
      label.textContent = text;
      group.append(label);
      this.svg.append(group);
    };
    const both = selected !== null && yours !== null;
    const selectedLeft = both && x(selected) < x(yours);
    draw(selected, 'mark-selected', selectedLabel, both ? selectedLeft : x(selected) > WIDTH / 2);
    draw(yours, 'mark-yours', 'You', both ? !selectedLeft : x(yours) > WIDTH / 2);
    if (selected !== null) words.push(`the blue line is ${selectedLabel.toLowerCase()}`);
    if (yours !== null) words.push('the green line is your score');
    const { below, other } = this.data;
    const apart = [];
    if (below) apart.push(`${counts.format(below)} at or below 0`);
    if (other) apart.push(`${counts.format(other)} that are not finite numbers`);
    $('chart-caption').textContent = `All ${counts.format(this.total)} scores`
      + `${log ? ', on a log scale' : ''}${words.length ? `: ${words.join(', ')}` : ''}.`
      + `${apart.length ? ` Not drawn: ${apart.join(' and ')}.` : ''}`;
  }
}
