import 'ol/ol.css';
import 'uplot/dist/uPlot.min.css';
import './style.css';

import { addressPoints, pointsFromAddress } from './address.js';
import { ApiError, NO_SERVER, batchCsv, getBlob, getJson, getJsonAndHeaders, onServerAnswer, rain, rainIn,
         reportUrl, sheetUrl, typedFaults } from './api.js';
import { createChart } from './chart.js';
import { download, italianCsv } from './downloads.js';
import { createDurations } from './durations.js';
import { finderAnswer, finderEntries, matchingEntries } from './finder.js';
import { showProvenance } from './footer.js';
import { createLayerSwitch } from './layers.js';
import { createMap, wholeMetres } from './map.js';
import { DEGREES_HINT, looksLikeDegrees, showSystem, typedXY } from './systems.js';
import { COORDINATE_MESSAGE, readCoordinate, typedPointFaults } from './typed.js';

// Okabe and Ito's colours that read well on white and on the relief, so that
// every reader tells the curves apart; each with the ink its row number
// needs to stand out at 4.5:1.
const COLOURS = ['#0072B2', '#D55E00', '#009E73', '#CC79A7', '#E69F00', '#56B4E9', '#000000'];
const BADGE_INK = { '#0072B2': '#fff', '#D55E00': '#fff', '#000000': '#fff' };

// The parameter grids' fixed geometry: the cell of a point, for the messages.
const GRID_WEST = 2310000;
const GRID_SOUTH = 5040000;
const GRID_ROWS = 260;
const CELL = 500;

const $ = (id) => document.getElementById(id);
const mm1 = (value) => value.toLocaleString('it-IT', { minimumFractionDigits: 1, maximumFractionDigits: 1 });
const exact = (value) => String(value).replace('.', ',');

const map = createMap($('map'), { gb: $('readout-gb'), ll: $('readout-ll') }, $('map-message'));
createLayerSwitch($('map'), (layers) => map.setLayers(layers));
const durations = createDurations($('durations'));

const drawChart = createChart($('chart-box'), $('chart'), $('chart-legend'));

let gridArea = null;
let sample = false;

// ---- Faults -----------------------------------------------------------------

// Messages said because the server did not answer: they go once it answers
// again, which a probe every few seconds finds out.
const serverFaults = new Set();
let probe = null;

function say(where, text, serverFault = false) {
  where.textContent = text;
  if (serverFault && text) serverFaults.add(where);
  else serverFaults.delete(where);
  if (serverFault && !probe) probe = setInterval(() => getJson('api/v1/health').catch(() => {}), 3000);
}

// What to say of a failure that is not the point's own: the server gone.
const isServerGone = (error) => !(error instanceof ApiError) || error.kind === 'Network';

onServerAnswer(() => {
  for (const where of serverFaults) where.textContent = '';
  serverFaults.clear();
  clearInterval(probe);
  probe = null;
  map.refresh();
});
$('map').addEventListener('quorvel-map-fault', () => {
  if (!probe) probe = setInterval(() => getJson('api/v1/health').catch(() => {}), 3000);
});

// ---- Results ----------------------------------------------------------------

const MAX_ROWS = COLOURS.length;
const rows = [];  // newest first: { number, colour, east, north, answer, element, erase }
let rowsMade = 0;

function reportName(row) {
  return `Piogge_${wholeMetres(Number(row.east))}_${wholeMetres(Number(row.north))}`;
}

function element(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

// A download the page fetches itself, so that a failure is said in words.
function downloadButton(className, text, title, what, fetchBlob, fileName) {
  const button = element('button', { type: 'button', className, title, textContent: text });
  button.addEventListener('click', async () => {
    try {
      download(await fetchBlob(), fileName);
      say($('results-message'), '');
    } catch (error) {
      say($('results-message'), `Impossibile scaricare ${what}: ${error.message}`, isServerGone(error));
    }
  });
  return button;
}

function rowElement(row) {
  const { answer } = row;
  const name = reportName(row);
  const mark = element('td', { className: 'mark' }, element('span', { textContent: row.number }));
  mark.firstChild.style.background = row.colour;
  mark.firstChild.style.color = BADGE_INK[row.colour] ?? '#000';
  const where = element('button', {
    type: 'button', className: 'point',
    title: `Cella riga ${answer.cell.row}, colonna ${answer.cell.column}; centro E ${answer.centre.east}, ` +
           `N ${answer.centre.north}\na2 = ${exact(answer.a2)}, a1 = ${exact(answer.a1)}, ` +
           `cv = ${exact(answer.cv)}\nClic: mostra la cella sulla mappa`,
  }, `E ${exact(row.east)}`, element('br'), `N ${exact(row.north)}`);
  where.addEventListener('click', () => map.showCell([answer.centre.east, answer.centre.north]));
  const quantiles = answer.quantiles.map((q) =>
    element('td', { className: 'mm', textContent: mm1(q.mm), title: `T = ${q.T} anni: ${exact(q.mm)} mm` }));
  answer.quantiles.forEach((q, i) => { quantiles[i].dataset.mm = String(q.mm); quantiles[i].dataset.t = q.T; });

  const marked = sample ? ' (dati di esempio sintetici)' : '';
  const menu = element('div', { className: 'menu' },
    downloadButton('report', 'Report .xls', `Scarica il report Excel${marked}`, 'il report',
                   () => getBlob(reportUrl(row.east, row.north, name)), `${name}.xls`),
    downloadButton('csv', 'CSV', `Scarica il CSV di quorvel-batch${marked}`, 'il CSV',
                   () => batchCsv([{ id: name, east: row.east, north: row.north }]), `${name}.csv`),
    downloadButton('csv-it', 'CSV per Excel italiano', `Scarica il CSV con ";" e virgola decimale${marked}`,
                   'il CSV', async () => italianCsv(name, answer, sample), `${name}_it.csv`),
    downloadButton('sheet', 'Scheda PDF', `Scarica la scheda PDF di una pagina${marked}`, 'la scheda PDF',
                   () => getBlob(sheetUrl(row.east, row.north, name)), `${name}.pdf`));
  const downloads = element('details', { className: 'downloads' }, element('summary', { textContent: 'Scarica' }),
                            menu);
  const remove = element('button', { type: 'button', className: 'remove', title: 'Rimuovi il punto',
                                     textContent: '×' });
  remove.setAttribute('aria-label', `Rimuovi il punto ${row.number}`);
  remove.addEventListener('click', () => removeRow(row));

  const tr = element('tr', {}, mark, element('td', { className: 'where' }, where), ...quantiles,
                     element('td', { className: 'actions' }, downloads, remove));
  tr.dataset.east = row.east;
  tr.dataset.north = row.north;
  return tr;
}

function showRows() {
  $('results-table').hidden = rows.length === 0;
  $('remove-all').hidden = rows.length < 2;
  $('results-hint').hidden = rows.length !== 0;
  $('results-table').tBodies[0].replaceChildren(...rows.map((row) => row.element));
  drawChart([...rows].reverse().map((row) => ({
    number: row.number, colour: row.colour, label: `E ${exact(row.east)}, N ${exact(row.north)}`,
    mm: row.answer.quantiles.map((q) => q.mm) }))).catch((error) => {
    say($('results-message'), `Impossibile disegnare il grafico: ${error.message}`, isServerGone(error));
  });
}

function recordPoints() {
  addressPoints([...rows].reverse());
}

function makeRow(answer, number) {
  const used = new Set(rows.map((row) => row.colour));
  const row = { number, colour: COLOURS.find((c) => !used.has(c)), east: String(answer.point.east),
                north: String(answer.point.north), answer };
  row.element = rowElement(row);
  row.erase = map.drawCell([answer.centre.east, answer.centre.north], [answer.point.east, answer.point.north],
                           row.colour, row.number);
  return row;
}

function sayNotice(text, undo) {
  const notice = $('results-notice');
  notice.replaceChildren(text);
  if (undo) {
    const button = element('button', { type: 'button', textContent: 'Annulla' });
    button.addEventListener('click', undo);
    notice.append(' ', button);
  }
}

function addRow(answer) {
  const east = String(answer.point.east);
  const north = String(answer.point.north);
  const known = rows.find((row) => row.east === east && row.north === north);
  sayNotice('');
  if (known) {
    rows.splice(rows.indexOf(known), 1);
    rows.unshift(known);
  } else {
    // Seven colours, seven points: the oldest gives its place to the newest,
    // and the page says so, with a way back.
    let dropped = null;
    if (rows.length === MAX_ROWS) {
      dropped = rows[rows.length - 1];
      removeRow(dropped, false);
    }
    const row = makeRow(answer, ++rowsMade);
    rows.unshift(row);
    if (dropped) {
      sayNotice(`Si tengono al massimo ${MAX_ROWS} punti: il punto ${dropped.number} è stato rimosso.`, () => {
        removeRow(row, false);
        const back = makeRow(dropped.answer, dropped.number);
        rows.push(back);
        sayNotice('');
        showRows();
        recordPoints();
      });
    }
  }
  showRows();
  durations.show(String(answer.point.east), String(answer.point.north));
  recordPoints();
}

function removeRow(row, redraw = true) {
  rows.splice(rows.indexOf(row), 1);
  row.erase();
  if (redraw) {
    sayNotice('');
    showRows();
    recordPoints();
  }
}

$('remove-all').addEventListener('click', () => {
  for (const row of [...rows]) removeRow(row, false);
  sayNotice('');
  showRows();
  recordPoints();
});

// The rows the address names, oldest first: those shown stay as they are,
// the others are asked again. A reload, Back or a link shows the same answers.
async function rowsFromAddress() {
  const key = (p) => `${p.east},${p.north}`;
  const wanted = pointsFromAddress(MAX_ROWS);
  const shown = new Map(rows.map((row) => [key(row), row]));
  if (wanted.map(key).join(';') === [...rows].reverse().map(key).join(';')) return;
  for (const row of [...rows]) if (!wanted.some((p) => key(p) === key(row))) removeRow(row, false);
  try {
    const answers = await Promise.all(wanted.map((p) => shown.get(key(p))?.answer ?? rain(p.east, p.north)));
    const next = answers.map((answer, i) => {
      let row = shown.get(key(wanted[i]));
      if (!row || !rows.includes(row)) {
        // Made one by one, each taking a colour no other row has.
        row = makeRow(answer, ++rowsMade);
        rows.push(row);
      }
      return row;
    });
    rows.splice(0, rows.length, ...next.reverse());
    say($('results-message'), '');
  } catch (error) {
    say($('results-message'), `Impossibile mostrare i punti dell'indirizzo: ${error.message}`, isServerGone(error));
  }
  sayNotice('');
  showRows();
}

window.addEventListener('popstate', rowsFromAddress);

// ---- Points -----------------------------------------------------------------

function cellText(east, north) {
  const column = Math.floor((east - GRID_WEST) / CELL) + 1;
  const row = GRID_ROWS - Math.floor((north - GRID_SOUTH) / CELL);
  return `(riga ${row}, colonna ${column})`;
}

// What the page says when a point has no answer.
function pickFailure(error, east, north) {
  const point = `E ${east}, N ${north}`;
  if (isServerGone(error)) return NO_SERVER;
  switch (error.kind) {
  case 'SubscriptOutOfRange':
    return `Il punto ${point} si trova fuori dalla griglia dei parametri.`;
  case 'NoValidData':
    return `La cella ${cellText(east, north)} del punto ${point} non contiene dati validi.`;
  case 'Overflow':
  case 'FloatingPoint':
    return `I parametri della cella ${cellText(east, north)} del punto ${point} non danno una pioggia valida.`;
  default:
    return `Impossibile calcolare le piogge del punto.\n${error.message}`;
  }
}

let clicks = 0;

map.onPick(async (x, y, time) => {
  const click = `quorvel-click-${++clicks}`;
  performance.mark(click, { startTime: time });
  const east = String(wholeMetres(x));
  const north = String(wholeMetres(y));
  say($('results-message'), '');
  try {
    addRow(await rain(east, north));
    // The frame that paints the new table: how long the user waited for it.
    requestAnimationFrame(() => performance.measure('quorvel-click-to-table', click));
  } catch (error) {
    say($('results-message'), pickFailure(error, east, north), isServerGone(error));
  }
});

const typedBoxes = [$('typed-east'), $('typed-north')];
$('typed-system').addEventListener('change', () => {
  showSystem($('typed-system').value, [$('typed-east-label'), $('typed-north-label')], typedBoxes);
  say($('typed-message'), '');
});

// A point typed in Gauss-Boaga is judged here, as the desktop's dialog judges
// it; one in another system by the server, which converts it.
async function typedAnswer(system, first, second, message) {
  if (system === 'gb') {
    const hint = looksLikeDegrees(first, second) ? `\n${DEGREES_HINT}` : '';
    const faults = typedPointFaults(first, second, gridArea);
    if (faults) {
      say(message, `${COORDINATE_MESSAGE}\n${faults}${hint}`);
      return null;
    }
    const east = readCoordinate(first).plain;
    const north = readCoordinate(second).plain;
    try {
      return await rain(east, north);
    } catch (error) {
      say(message, pickFailure(error, east, north) + hint, isServerGone(error));
      return null;
    }
  }
  const { x, y } = typedXY(system, first, second);
  let check;
  try {
    check = await typedFaults(system, x, y);
    if (check.faults) {
      say(message, `${COORDINATE_MESSAGE} (${check.system})\n${check.faults}`);
      return null;
    }
    return await rainIn(system, x, y);
  } catch (error) {
    say(message, pickFailure(error, wholeMetres(check?.east), wholeMetres(check?.north)), isServerGone(error));
    return null;
  }
}

$('typed').addEventListener('submit', async (event) => {
  event.preventDefault();
  const message = $('typed-message');
  say(message, '');
  const answer = await typedAnswer($('typed-system').value, typedBoxes[0].value, typedBoxes[1].value, message);
  if (!answer) return;
  addRow(answer);
  map.showCell([answer.centre.east, answer.centre.north]);
});

// ---- Finder: municipalities and places ---------------------------------------

const finderText = $('finder-text');
const finderList = $('finder-list');
const MAX_OFFERED = 200;
let municipalities = [];
let entries = [];
let places = null;
let offered = [];
let highlighted = -1;

// The places are many: asked for when the finder is first used.
function loadPlaces() {
  places ??= getJson('api/v1/places').then((list) => {
    entries = finderEntries(municipalities, list);
  }).catch((error) => {
    places = null;
    say($('finder-message'), `Elenco delle località non disponibile: ${error.message}`, isServerGone(error));
  });
  return places;
}

function offer(matches) {
  offered = matches.slice(0, MAX_OFFERED);
  highlighted = -1;
  finderList.replaceChildren(...offered.map((entry, i) => {
    const item = element('li', { role: 'option', id: `comune-${i}` }, entry.label);
    item.addEventListener('mousedown', (event) => { event.preventDefault(); goTo(entry); });
    return item;
  }));
  if (matches.length > offered.length)
    finderList.append(element('li', { className: 'more', textContent: `… e altri ${matches.length - offered.length}` }));
  finderList.hidden = matches.length === 0;
  finderText.setAttribute('aria-expanded', String(matches.length !== 0));
}

function highlight(index) {
  highlighted = index;
  [...finderList.children].forEach((item, i) => item.setAttribute('aria-selected', String(i === index)));
  if (index >= 0) {
    finderList.children[index].scrollIntoView({ block: 'nearest' });
    finderText.setAttribute('aria-activedescendant', `comune-${index}`);
  }
}

async function outlineMunicipality(name) {
  map.outline([]);
  if (!name) return;
  try {
    map.outline((await getJson(`api/v1/outline?comune=${encodeURIComponent(name)}`)).rings);
  } catch {
    // The outline only adorns the view the finder has already given.
  }
}

// A municipality fills the view, outlined; a place is shown in a 5 km view
// around it, its municipality outlined.
function goTo(entry) {
  finderText.value = entry.label;
  offer([]);
  say($('finder-message'), '');
  if (entry.municipality) {
    const { xMin, yMin, xMax, yMax } = entry.municipality.extent;
    map.fit([xMin, yMin, xMax, yMax]);
    outlineMunicipality(entry.name);
  } else {
    const { x, y, comune } = entry.place;
    map.fit([x - 2500, y - 2500, x + 2500, y + 2500], 0);
    outlineMunicipality(comune);
  }
}

finderText.addEventListener('focus', loadPlaces);
finderText.addEventListener('input', () => {
  say($('finder-message'), '');
  offer(matchingEntries(entries, finderText.value));
});
finderText.addEventListener('keydown', (event) => {
  if (event.key === 'ArrowDown' && offered.length) {
    event.preventDefault();
    highlight(Math.min(highlighted + 1, offered.length - 1));
  } else if (event.key === 'ArrowUp' && offered.length) {
    event.preventDefault();
    highlight(Math.max(highlighted - 1, 0));
  } else if (event.key === 'Escape') {
    offer([]);
  }
});
finderText.addEventListener('blur', () => offer([]));
$('finder').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (highlighted >= 0) {
    goTo(offered[highlighted]);
    return;
  }
  await loadPlaces();
  const answer = finderAnswer(entries, finderText.value);
  if (answer.kind === 'go') {
    goTo(answer.entry);
  } else if (answer.kind === 'list') {
    offer(answer.matches);
  } else {
    offer([]);
    say($('finder-message'), answer.text);
  }
});

// ---- Start ------------------------------------------------------------------

const health = getJsonAndHeaders('api/v1/health').then(({ json, headers }) => {
  $('sample-band').hidden = !json.sample;
  sample = json.sample;
  gridArea = json.grid ?? null;
  showProvenance($('provenance-data'), json, headers.get('Last-Modified'));
}).catch((error) => {
  say($('provenance-data'), `Provenienza dei dati non disponibile: ${error.message}`, isServerGone(error));
});

// The map is first drawn once the sample band has taken its room, so that
// each visit asks the same picture, which the browser then keeps.
getJson('api/v1/comuni').then(async (list) => {
  await health;
  municipalities = list;
  entries = finderEntries(municipalities);
  const extents = list.map((m) => m.extent);
  const region = [Math.min(...extents.map((e) => e.xMin)), Math.min(...extents.map((e) => e.yMin)),
                  Math.max(...extents.map((e) => e.xMax)), Math.max(...extents.map((e) => e.yMax))];
  map.addFullExtent(region);
  if (!map.linked) map.fit(region, 10);
}).catch(async (error) => {
  await health;
  say($('finder-message'), `Elenco dei comuni non disponibile: ${error.message}`, isServerGone(error));
  const grid = gridArea ?? { west: GRID_WEST, south: GRID_SOUTH, east: GRID_WEST + 400 * CELL,
                             north: GRID_SOUTH + GRID_ROWS * CELL };
  if (!map.linked) map.fit([grid.west, grid.south, grid.east, grid.north], 10);
});

// The rows are made once the sample flag is known, which their downloads say.
health.finally(rowsFromAddress);
