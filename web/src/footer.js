// Where the answers come from: the program's version, the date of the data
// and the short SHA-256 of the three grids and the report template, as the
// register and the PDF sheet name them.

const short = (digest) => (digest ?? '').slice(0, 12);

export function showProvenance(where, health, lastModified) {
  const date = lastModified ? new Date(lastModified) : null;
  const day = date && !Number.isNaN(date.getTime())
    ? date.toLocaleDateString('it-IT', { day: 'numeric', month: 'long', year: 'numeric', timeZone: 'UTC' })
    : 'sconosciuta';
  const { sha256 = {} } = health;
  where.textContent = `Quorvel ${health.version} · dati del ${day}` +
    (health.sample ? ' (esempio sintetico)' : '') +
    ` · SHA-256 a2 ${short(sha256.a2)}, a1 ${short(sha256.a1)}, cv ${short(sha256.cv)}, ` +
    `modello del report ${short(sha256.template)}`;
}
