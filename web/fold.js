// Text compared the way people read it: per Windows-1252 byte, a weight that
// ignores case and accents ("é", "E" and "e" weigh the same), 1..255, in the order
// of the letters' code points. Sorting and searching both go through it, so a
// search for "muller" finds "Müller" and "win me" sorts beside "Win ME".

export function byteTables(decoder = new TextDecoder('windows-1252')) {
  const chars = [];
  for (let b = 0; b < 256; b++) chars.push(decoder.decode(Uint8Array.of(b)));
  const base = (c) => c.toLowerCase().normalize('NFD')[0] ?? c;
  const bases = chars.map(base);
  const order = [...new Set(bases)].sort((a, b) => a.codePointAt(0) - b.codePointAt(0));
  const weight = new Uint8Array(256);
  for (let b = 0; b < 256; b++) weight[b] = order.indexOf(bases[b]) + 1;
  const weightOf = new Map(order.map((c, i) => [c, i + 1]));
  return { weight, weightOf, base };
}

// A typed text as weights; null when it holds a letter no Windows-1252 byte
// matches (then no record can contain it).
export function foldText(text, tables) {
  const out = [];
  for (const c of text.normalize('NFC')) {
    const weight = tables.weightOf.get(tables.base(c));
    if (weight === undefined) return null;
    out.push(weight);
  }
  return Uint8Array.from(out);
}
