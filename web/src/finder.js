// The municipality finder's matching: any part of the name, whatever the case
// and the accents of either side.

// "Santa Marìne" and "SANTA MARINE" both become "santa marine".
export function foldForMatching(name) {
  return name.normalize('NFD').replace(/\p{Mn}/gu, '').toLowerCase();
}

// The municipalities whose name contains the typed text, in list order.
export function matchingMunicipalities(municipalities, typed) {
  const folded = foldForMatching(typed.trim());
  if (folded === '') return [];
  return municipalities.filter((m) => foldForMatching(m.name).includes(folded));
}

// What Enter does with the typed text: go to the one municipality it names
// (the only one containing it, or the one it spells out whole), offer the
// list when several contain it, or say that none does.
export function finderAnswer(municipalities, typed) {
  if (typed.trim() === '') return { kind: 'message', text: 'Scrivere o scegliere il nome di un comune.' };
  const matches = matchingMunicipalities(municipalities, typed);
  const folded = foldForMatching(typed.trim());
  const whole = matches.filter((m) => foldForMatching(m.name) === folded);
  if (matches.length === 1) return { kind: 'go', municipality: matches[0] };
  if (whole.length === 1) return { kind: 'go', municipality: whole[0] };
  if (matches.length > 1) return { kind: 'list', matches };
  return { kind: 'message', text: `Comune "${typed.trim()}" non trovato: sceglierlo dall'elenco.` };
}
