// The finder's matching: any part of the name, whatever the case and the
// accents of either side. Its entries are the municipalities, in list order,
// then the places of the name layers, each written "Località (Comune)".

// "Santa Marìne" and "SANTA MARINE" both become "santa marine".
export function foldForMatching(name) {
  return name.normalize('NFD').replace(/\p{Mn}/gu, '').toLowerCase();
}

// The finder's entries: { name, label, folded, municipality } or { ..., place }.
// A place named as a municipality is that municipality's own label, and is
// left out.
export function finderEntries(municipalities, places = []) {
  const entries = municipalities.map((m) => ({ name: m.name, label: m.name, folded: foldForMatching(m.name),
                                               municipality: m }));
  const known = new Set(entries.map((e) => e.folded));
  for (const place of places) {
    const folded = foldForMatching(place.name.trim());
    if (folded === '' || known.has(folded)) continue;
    entries.push({ name: place.name, label: place.comune ? `${place.name} (${place.comune})` : place.name,
                   folded, place });
  }
  return entries;
}

// The entries whose name contains the typed text, in list order.
export function matchingEntries(entries, typed) {
  const folded = foldForMatching(typed.trim());
  if (folded === '') return [];
  return entries.filter((e) => e.folded.includes(folded));
}

// What Enter does with the typed text: go to the one entry it names (the only
// one containing it, or the one it spells out whole, or "Località (Comune)"
// as the list writes it), offer the list when several contain it, or say
// that none does.
export function finderAnswer(entries, typed) {
  const text = typed.trim();
  if (text === '') return { kind: 'message', text: 'Scrivi o scegli il nome di un comune o di una località.' };
  const folded = foldForMatching(text);
  const labelled = entries.filter((e) => foldForMatching(e.label) === folded);
  if (labelled.length === 1) return { kind: 'go', entry: labelled[0] };
  const matches = matchingEntries(entries, text);
  const whole = matches.filter((e) => e.folded === folded);
  if (matches.length === 1) return { kind: 'go', entry: matches[0] };
  if (whole.length === 1) return { kind: 'go', entry: whole[0] };
  if (matches.length > 1) return { kind: 'list', matches };
  return { kind: 'message', text: `Nessun comune o località "${text}": scegli dall'elenco.` };
}
