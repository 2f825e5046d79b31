import 'ol/ol.css';
import 'uplot/dist/uPlot.min.css';
import './style.css';

import { ApiError, batchCsv, getJson, rain, reportUrl } from './api.js';
import { createChart } from './chart.js';
import { createDurations } from './durations.js';
import { finderAnswer, matchingMunicipalities } from './finder.js';
import { createLayerSwitch } from './layers.js';
import { createMap, wholeMetres } from './map.js';
import { COORDINATE_MESSAGE, readCoordinate, typedPointFaults } from './typed.js';

// Okabe and Ito's colours that read well on white and on the relief, so that
// every reader tells the curves apart.
const COLOURS = ['#0072B2', '#D55E00', '#009E73', '#CC79A7', '#E69F00', '#56B4E9', '#000000'];

// The parameter grids' fixed geometry: the cell of a point, for the messages.
const GRID_WEST = 2310000;
const GRID_SOUTH = 5040000;
const GRID_ROWS = 260;
const CELL = 500;

const $ = (id) => document.getElementById(id);
const mm1 = (value) => value.toLocaleString('it-IT', { minimumFractionDigits: 1, maximumFractionDigits: 1 });
const exact = (value) => String(value).replace('.', ',');

const map = createMap($('map'), { gb: $('readout-gb'), ll: $('readout-ll') });
createLayerSwitch($('map'), (layers) => map.setLayers(layers));
const drawChart = createChart($('chart'));
const durations = createDurations($('durations'));

let gridArea = null;
let municipalities = [];

// ---- Results ----------------------------------------------------------------

const rows = [];  // newest first: { number, colour, east, north, answer, element, erase }
let rowsMade = 0;

function reportName(row) {
  return `Piogge_${wholeMetres(Number(row.east))}_${wholeMetres(Number(row.north))}`;
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

function element(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

function rowElement(row) {
  const { answer } = row;
  const name = reportName(row);
  const mark = element('td', { className: 'mark' }, element('span', { textContent: row.number }));
  mark.firstChild.style.background = row.colour;
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

  const report = element('a', { className: 'report', href: reportUrl(row.east, row.north, name),
                                download: `${name}.xls`, title: 'Scarica report (.xls)', textContent: 'Report .xls' });
  const csv = element('button', { type: 'button', className: 'csv', title: 'Scarica CSV', textContent: 'CSV' });
  csv.addEventListener('click', async () => {
    try {
      download(await batchCsv([{ id: name, east: row.east, north: row.north }]), `${name}.csv`);
    } catch (error) {
      say($('results-message'), `Impossibile scaricare il CSV: ${error.message}`);
    }
  });
  const remove = element('button', { type: 'button', className: 'remove', title: 'Togli il punto',
                                     textContent: '×' });
  remove.setAttribute('aria-label', `Togli il punto ${row.number}`);
  remove.addEventListener('click', () => removeRow(row));

  const tr = element('tr', {}, mark, element('td', {}, where), ...quantiles,
                     element('td', {}, report), element('td', {}, csv), element('td', {}, remove));
  tr.dataset.east = row.east;
  tr.dataset.north = row.north;
  return tr;
}

function showRows() {
  $('results-table').hidden = rows.length === 0;
  $('remove-all').hidden = rows.length < 2;
  $('results-hint').hidden = rows.length !== 0;
  $('results-table').tBodies[0].replaceChildren(...rows.map((row) => row.element));
}

function showChart() {
  drawChart([...rows].reverse().map((row) => ({
    colour: row.colour, label: String(row.number), mm: row.answer.quantiles.map((q) => q.mm) })));
}

function addRow(answer) {
  const east = String(answer.point.east);
  const north = String(answer.point.north);
  const known = rows.find((row) => row.east === east && row.north === north);
  if (known) {
    rows.splice(rows.indexOf(known), 1);
    rows.unshift(known);
  } else {
    // Seven colours, seven points: the oldest gives its place to the newest.
    if (rows.length === COLOURS.length) removeRow(rows[rows.length - 1], false);
    const used = new Set(rows.map((row) => row.colour));
    const row = { number: ++rowsMade, colour: COLOURS.find((c) => !used.has(c)), east, north, answer };
    row.element = rowElement(row);
    row.erase = map.drawCell([answer.centre.east, answer.centre.north], [answer.point.east, answer.point.north],
                             row.colour, row.number);
    rows.unshift(row);
  }
  showRows();
  showChart();
  durations.show(String(answer.point.east), String(answer.point.north));
}

function removeRow(row, redraw = true) {
  rows.splice(rows.indexOf(row), 1);
  row.erase();
  if (redraw) {
    showRows();
    showChart();
  }
}

$('remove-all').addEventListener('click', () => {
  for (const row of [...rows]) removeRow(row, false);
  showRows();
  showChart();
});

function say(where, text) {
  where.textContent = text;
}

// ---- Points -----------------------------------------------------------------

function cellText(east, north) {
  const column = Math.floor((east - GRID_WEST) / CELL) + 1;
  const row = GRID_ROWS - Math.floor((north - GRID_SOUTH) / CELL);
  return `(riga ${row}, colonna ${column})`;
}

// What the page says when a clicked point has no answer.
function pickFailure(error, east, north) {
  const point = `E ${east}, N ${north}`;
  if (!(error instanceof ApiError)) return 'Il server non risponde: riprovare tra poco.';
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
    say($('results-message'), pickFailure(error, east, north));
  }
});

$('typed').addEventListener('submit', async (event) => {
  event.preventDefault();
  const eastText = $('typed-east').value;
  const northText = $('typed-north').value;
  const message = $('typed-message');
  const faults = typedPointFaults(eastText, northText, gridArea);
  if (faults) {
    say(message, `${COORDINATE_MESSAGE}\n${faults}`);
    return;
  }
  say(message, '');
  try {
    const answer = await rain(readCoordinate(eastText).plain, readCoordinate(northText).plain);
    addRow(answer);
    map.showCell([answer.centre.east, answer.centre.north]);
  } catch (error) {
    say(message, error instanceof ApiError ? COORDINATE_MESSAGE : 'Il server non risponde: riprovare tra poco.');
  }
});

// ---- Municipality finder ----------------------------------------------------

const finderText = $('finder-text');
const finderList = $('finder-list');
let offered = [];
let highlighted = -1;

function offer(matches) {
  offered = matches;
  highlighted = -1;
  finderList.replaceChildren(...matches.map((m, i) => {
    const item = element('li', { role: 'option', id: `comune-${i}` }, m.name);
    item.addEventListener('mousedown', (event) => { event.preventDefault(); goTo(m); });
    return item;
  }));
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

function goTo(municipality) {
  finderText.value = municipality.name;
  offer([]);
  say($('finder-message'), '');
  const { xMin, yMin, xMax, yMax } = municipality.extent;
  map.fit([xMin, yMin, xMax, yMax]);
}

finderText.addEventListener('input', () => {
  say($('finder-message'), '');
  offer(matchingMunicipalities(municipalities, finderText.value));
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
$('finder').addEventListener('submit', (event) => {
  event.preventDefault();
  if (highlighted >= 0) {
    goTo(offered[highlighted]);
    return;
  }
  const answer = finderAnswer(municipalities, finderText.value);
  if (answer.kind === 'go') {
    goTo(answer.municipality);
  } else if (answer.kind === 'list') {
    offer(answer.matches);
  } else {
    offer([]);
    say($('finder-message'), answer.text);
  }
});

// ---- Start ------------------------------------------------------------------

getJson('api/v1/health').then((health) => {
  $('sample-band').hidden = !health.sample;
  gridArea = health.grid ?? null;
}).catch(() => {});

getJson('api/v1/comuni').then((list) => {
  municipalities = list;
  const extents = list.map((m) => m.extent);
  const region = [Math.min(...extents.map((e) => e.xMin)), Math.min(...extents.map((e) => e.yMin)),
                  Math.max(...extents.map((e) => e.xMax)), Math.max(...extents.map((e) => e.yMax))];
  map.addFullExtent(region);
  if (!map.linked) map.fit(region, 10);
}).catch((error) => {
  say($('finder-message'), `Elenco dei comuni non disponibile: ${error.message}`);
  const grid = gridArea ?? { west: GRID_WEST, south: GRID_SOUTH, east: GRID_WEST + 400 * CELL,
                             north: GRID_SOUTH + GRID_ROWS * CELL };
  if (!map.linked) map.fit([grid.west, grid.south, grid.east, grid.north], 10);
});
