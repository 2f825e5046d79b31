// Typed Gauss-Boaga coordinates, read and judged as the desktop's coordinate
// dialog reads and judges them, so that the page says the same words.

export const COORDINATE_MESSAGE = 'Inserisci coordinate valide per la regione Tervania';

// A coordinate text to the nearest single-precision value. Blanks around, an
// optional sign, digits with at most one decimal separator ("," or ".") and
// digits on at least one side of it; no grouping, no exponent. `plain` is the
// same number written with "." for the server.
export function readCoordinate(text) {
  const trimmed = text.replace(/^[ \t]+|[ \t]+$/g, '');
  if (trimmed === '') return { status: 'empty' };
  const parts = /^([+-]?)([0-9]*)(?:[.,]([0-9]*))?$/.exec(trimmed);
  if (!parts || (parts[2] === '' && (parts[3] ?? '') === '')) return { status: 'nan' };
  const [, sign, whole, fraction] = parts;
  const plain = (sign === '-' ? '-' : '') + (whole || '0') + (fraction ? '.' + fraction : '');
  const value = Math.fround(Number(plain));
  if (!Number.isFinite(value)) return { status: 'range' };
  return { status: 'ok', value, plain };
}

function quoted(text) {
  const trimmed = [...text.replace(/^[ \t]+|[ \t]+$/g, '')];
  // A whole paragraph pasted into a box need not come back in full.
  return trimmed.length > 24 ? trimmed.slice(0, 24).join('') + '...' : trimmed.join('');
}

const metres = (value) => String(Math.round(value));
const range = (from, to) => `da ${metres(from)} a ${metres(to)} m`;
const inside = (value, from, to) => value >= from && value < to;

// What is wrong with a typed point: one line for each box that is empty,
// holds no number or lies outside the grid's area, or one line saying that
// the two values seem exchanged. Empty when the texts are fine. `area`
// ({west, east, south, north} in metres) may be null when it is not known.
export function typedPointFaults(eastText, northText, area) {
  const east = { letter: 'E', axis: 'Est', text: quoted(eastText), ...readCoordinate(eastText),
                 from: area?.west, to: area?.east };
  const north = { letter: 'N', axis: 'Nord', text: quoted(northText), ...readCoordinate(northText),
                  from: area?.south, to: area?.north };

  if (area && east.status === 'ok' && north.status === 'ok' &&
      !inside(east.value, east.from, east.to) && !inside(north.value, north.from, north.to) &&
      inside(north.value, east.from, east.to) && inside(east.value, north.from, north.to))
    return `I valori di E e N sembrano scambiati: Est va ${range(east.from, east.to)}, ` +
           `Nord ${range(north.from, north.to)}.`;

  const lines = [];
  for (const box of [east, north]) {
    const name = `Casella ${box.letter}`;
    const outside = box.status === 'range' ||
                    (area && box.status === 'ok' && !inside(box.value, box.from, box.to));
    if (box.status === 'empty')
      lines.push(`${name} vuota: inserisci la coordinata ${box.axis} in metri.`);
    else if (box.status === 'nan')
      lines.push(`${name}: "${box.text}" non è un numero (solo cifre, con "," o "." per i decimali).`);
    else if (outside)
      lines.push(`${name}: ${box.text} è fuori dalla griglia` +
                 (area ? ` (${box.axis} ${range(box.from, box.to)}).` : '.'));
  }
  return lines.join('\n');
}
