// Heights and intensities of other durations, by the region's depth-duration
// law: a table by return period, a box for any duration, and the
// depth-duration-frequency chart on log-log axes. Without a law the section
// stays hidden, as the server offers no durations.
import { getJson } from './api.js';
import { createHyetograph } from './hyetograph.js';
import { PERIODS } from './periods.js';
import { loadUplot } from './uplot.js';
import './durations.css';

const DEFAULT_HOURS = [10 / 60, 15 / 60, 0.5, 1, 3, 6, 12, 24];
const TICKS = [10 / 60, 0.5, 1, 3, 6, 12, 24];
const PERIOD_COLOURS = ['#4e79a7', '#59a14f', '#edc948', '#f28e2b', '#e15759', '#b07aa1', '#76160e'];

const number1 = (value) => value.toLocaleString('it-IT', { minimumFractionDigits: 1, maximumFractionDigits: 1 });

// "10 min", "1 h", "1,5 h"
export function durationText(hours) {
  const minutes = Math.round(hours * 60 * 1e6) / 1e6;
  return hours < 1 ? `${String(minutes).replace('.', ',')} min` : `${String(hours).replace('.', ',')} h`;
}

// A typed duration as the API reads it: "45 min", "45min", "1,5", "2 h".
export function durationParameter(text) {
  const match = /^\s*([0-9]+(?:[.,][0-9]+)?)\s*(min|m|h|ore|ora)?\s*$/i.exec(text);
  if (!match) return null;
  const value = match[1].replace(',', '.');
  return /^m/i.test(match[2] ?? '') ? `${value}min` : value;
}

function parameterOf(hours) {
  const minutes = hours * 60;
  return hours < 1 && Number.isInteger(Math.round(minutes * 1e9) / 1e9) ? `${Math.round(minutes)}min` : String(hours);
}

function element(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

export function createDurations(section) {
  let law = null;
  let point = null;
  let hours = [];      // the table's durations
  let answer = null;   // the API's answer for the table
  let curve = null;    // the API's answer for the chart
  let plot = null;
  let request = 0;

  const title = element('h2', { textContent: 'Piogge per durata' });
  const depth = element('input', { type: 'radio', name: 'durations-unit', value: 'mm', checked: true, id: 'durations-mm' });
  const intensity = element('input', { type: 'radio', name: 'durations-unit', value: 'mmh', id: 'durations-mmh' });
  const unit = element('div', { className: 'durations-unit', role: 'radiogroup' },
    depth, element('label', { htmlFor: 'durations-mm', textContent: 'Altezza (mm)' }),
    intensity, element('label', { htmlFor: 'durations-mmh', textContent: 'Intensità (mm/h)' }));
  const table = element('table', { id: 'durations-table' });
  const box = element('input', { id: 'durations-box', placeholder: 'es. 45 min o 2 h', spellcheck: false });
  const form = element('form', { id: 'durations-add', autocomplete: 'off' },
    element('label', { htmlFor: 'durations-box', textContent: 'Durata' }), box,
    element('button', { type: 'submit', textContent: 'Aggiungi' }));
  const message = element('p', { className: 'message', role: 'alert' });
  const range = element('p', { className: 'durations-range' });
  const chart = element('div', { id: 'durations-chart' });
  const storm = element('div', { id: 'hyetograph' });
  section.append(title, range, unit, table, form, message, chart, storm);
  const hyetograph = createHyetograph(storm);

  const perHour = () => intensity.checked;

  function drawTable() {
    const head = element('tr', {}, element('th', { textContent: 'Durata' }),
      ...PERIODS.map((t) => element('th', { textContent: `T ${t}` })));
    const rows = answer.durations.map((d) => {
      const values = perHour() ? d.mmPerHour : d.mm;
      return element('tr', {}, element('th', { textContent: durationText(d.hours) }),
        ...values.map((v, i) => {
          const cell = element('td', { textContent: number1(v), title: `T = ${PERIODS[i]} anni: ${v}` });
          cell.dataset.value = String(v);
          return cell;
        }));
    });
    table.replaceChildren(element('caption', { textContent: perHour() ? 'Intensità (mm/h)' : 'Altezza h (mm)' }),
      element('thead', {}, head), element('tbody', {}, ...rows));
  }

  async function drawChart() {
    const uPlot = await loadUplot();
    plot?.destroy();
    const ticks = TICKS.filter((h) => h >= law.minHours - 1e-9 && h <= law.maxHours + 1e-9);
    const xs = curve.durations.map((d) => d.hours);
    const axis = { font: '12px system-ui, sans-serif', labelFont: 'bold 12px system-ui, sans-serif', stroke: '#333',
                   grid: { stroke: '#e3e3e3', width: 1 }, ticks: { stroke: '#bbb', width: 1 } };
    plot = new uPlot({
      width: Math.max(chart.clientWidth, 240), height: 300,
      cursor: { drag: { x: false, y: false } },
      legend: { show: true, live: false },
      scales: { x: { time: false, distr: 3, log: 10 }, y: { distr: 3, log: 10 } },
      axes: [
        { ...axis, label: 'Durata', labelSize: 20, splits: () => ticks, filter: (u, s) => s,
          values: (u, s) => s.map(durationText) },
        { ...axis, label: perHour() ? 'Intensità (mm/h)' : 'Altezza h (mm)', labelSize: 22, size: 50,
          values: (u, s) => s.map((v) => (v == null ? '' : v.toLocaleString('it-IT', { maximumFractionDigits: 1 }))) },
      ],
      series: [{ label: 'Durata', value: (u, v) => (v == null ? '' : durationText(v)) },
        ...PERIODS.map((t, i) => ({ label: `T ${t} anni`, stroke: PERIOD_COLOURS[i], width: 2 }))],
    }, [xs, ...PERIODS.map((t, i) => curve.durations.map((d) => (perHour() ? d.mmPerHour[i] : d.mm[i])))], chart);
  }

  async function draw() {
    if (!answer) return;
    drawTable();
    if (curve) await drawChart();
  }

  function redraw() {
    draw().catch((error) => { message.textContent = error.message; });
  }

  async function load() {
    const mine = ++request;
    const list = hours.map(parameterOf).join(',');
    const steps = 40;
    const ratio = Math.log(law.maxHours / law.minHours);
    const samples = Array.from({ length: steps + 1 }, (_, i) =>
      (i === 0 ? law.minHours : i === steps ? law.maxHours : law.minHours * Math.exp((ratio * i) / steps)));
    const at = (durations) => `api/v1/rain?east=${encodeURIComponent(point.east)}&north=${encodeURIComponent(point.north)}` +
      `&durate=${encodeURIComponent(durations)}`;
    try {
      // The chart's library with the numbers, so that the table and its chart
      // appear together and nothing moves under the pointer after.
      const [table, chartAnswer] = await Promise.all([getJson(at(list)), getJson(at(samples.join(','))),
                                                      loadUplot()]);
      if (mine !== request) return;
      answer = table;
      curve = chartAnswer;
      message.textContent = '';
      section.hidden = false;
      await draw();
    } catch (error) {
      if (mine === request) message.textContent = error.message;
    }
  }

  depth.addEventListener('change', redraw);
  intensity.addEventListener('change', redraw);
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const parameter = durationParameter(box.value);
    if (!parameter) {
      message.textContent = 'Scrivere una durata in minuti (es. 45 min) o in ore (es. 2).';
      return;
    }
    const value = parameter.endsWith('min') ? Number(parameter.slice(0, -3)) / 60 : Number(parameter);
    if (!(value >= law.minHours - 1e-12 && value <= law.maxHours + 1e-12)) {
      message.textContent = `La durata deve stare tra ${durationText(law.minHours)} e ${durationText(law.maxHours)}.`;
      return;
    }
    if (!hours.some((h) => Math.abs(h - value) < 1e-9)) hours = [...hours, value].sort((a, b) => a - b);
    box.value = '';
    if (point) load();
  });
  new ResizeObserver(() => plot?.setSize({ width: Math.max(chart.clientWidth, 240), height: 300 })).observe(chart);

  const ready = getJson('api/v1/law').then((found) => {
    law = found;
    hours = DEFAULT_HOURS.filter((h) => h >= law.minHours - 1e-9 && h <= law.maxHours + 1e-9);
    range.textContent = `Legge h(d) = h1 · d^a2, durate da ${durationText(law.minHours)} a ${durationText(law.maxHours)}` +
      (law.subhourExponent ? `; sotto l'ora esponente ${String(law.subhourExponent).replace('.', ',')}.` : '.');
    hyetograph.setLaw(law);
  }).catch(() => { law = null; });

  // The point whose durations the section shows: the newest answer's.
  return {
    async show(east, north) {
      await ready;
      if (!law) return;
      point = { east, north };
      hyetograph.show(east, north);
      load();
    },
  };
}
