// The Italian spreadsheet of one answered point, as the desktop exports its
// results for Italian settings: ";" between fields, decimal comma, a byte
// order mark so that Excel reads UTF-8, the desktop's headers; and a last
// column saying whether the data are the synthetic sample.

const HEADERS = ['report', 'E', 'N', 'riga', 'colonna', 'centro_E', 'centro_N', 'a2', 'a1', 'cv',
                 'q2', 'q5', 'q10', 'q20', 'q50', 'q100', 'q200', 'dati'];

const SAMPLE_WORDS = 'esempio sintetico, non per la progettazione';

const comma = (value) => String(value).replace('.', ',');

// A field with ";" or a quote or a line break goes between quotes.
const field = (text) => (/[;"\r\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text);

export function italianCsv(name, answer, sample) {
  const values = [field(name), comma(answer.point.east), comma(answer.point.north), answer.cell.row,
                  answer.cell.column, comma(answer.centre.east), comma(answer.centre.north), comma(answer.a2),
                  comma(answer.a1), comma(answer.cv), ...answer.quantiles.map((q) => comma(q.mm)),
                  sample ? SAMPLE_WORDS : 'regione Tervania'];
  return new Blob(['\uFEFF' + HEADERS.join(';') + '\r\n' + values.join(';') + '\r\n'],
                  { type: 'text/csv;charset=utf-8' });
}

export function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
