// The design hyetograph of the shown point: Chicago or alternating blocks, a
// bar chart of intensity against time, its total and peak, and its CSV and
// EPA SWMM downloads, all from the server's /api/v1/ietogramma.
import { getJson } from './api.js';
import { PERIODS } from './periods.js';
import { loadUplot } from './uplot.js';

const STEPS = [1, 5, 10, 15, 30, 60];
const number1 = (value) => value.toLocaleString('it-IT', { minimumFractionDigits: 1, maximumFractionDigits: 1 });

function element(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

function select(id, options, chosen) {
  return element('select', { id }, ...options.map(([value, text]) =>
    element('option', { value, textContent: text, selected: String(value) === String(chosen) })));
}

function field(label, control) {
  return element('label', { className: 'storm-field' }, element('span', { textContent: label }), control);
}

export function createHyetograph(container) {
  let point = null;
  let plot = null;
  let request = 0;

  const period = select('storm-T', PERIODS.map((t) => [t, `${t} anni`]), 100);
  const duration = element('input', { id: 'storm-duration', value: '1', size: 6, title: 'Ore, o minuti con "min"' });
  const step = select('storm-step', STEPS.map((s) => [s, `${s} min`]), 5);
  const method = select('storm-method', [['chicago', 'Chicago'], ['alternating-blocks', 'Blocchi alternati']], 'chicago');
  const peak = element('input', { id: 'storm-peak', type: 'number', min: 0, max: 1, step: 0.05, value: 0.4 });
  const start = element('input', { id: 'storm-start', type: 'datetime-local', value: '2000-01-01T00:00' });
  const form = element('form', { id: 'storm-form', autocomplete: 'off' },
    field('Tempo di ritorno', period), field('Durata', duration), field('Passo', step), field('Metodo', method),
    field('Posizione del picco', peak), field('Inizio (file SWMM)', start),
    element('button', { type: 'submit', textContent: 'Calcola' }));
  const message = element('p', { className: 'message', role: 'alert' });
  const summary = element('p', { id: 'storm-summary' });
  const chart = element('div', { id: 'storm-chart' });
  const links = element('p', { id: 'storm-downloads' });
  container.append(element('h2', { textContent: 'Ietogramma di progetto' }), form, message, summary, chart, links);
  container.hidden = true;

  method.addEventListener('change', () => { peak.disabled = method.value !== 'chicago'; });

  function query(format) {
    const durationText = duration.value.trim().replace(',', '.').replace(/\s*min$/i, 'min').replace(/\s*h$/i, '');
    const parameters = { east: point.east, north: point.north, T: period.value, durata: durationText,
                         passo: step.value, metodo: method.value, picco: peak.value, formato: format,
                         inizio: start.value || '2000-01-01T00:00', nome: 'Quorvel' };
    return 'api/v1/ietogramma?' + new URLSearchParams(parameters).toString();
  }

  async function draw(storm) {
    const uPlot = await loadUplot();
    plot?.destroy();
    const times = storm.mmPerHour.map((_, i) => i * storm.stepMinutes);
    const axis = { font: '12px system-ui, sans-serif', labelFont: 'bold 12px system-ui, sans-serif', stroke: '#333',
                   grid: { stroke: '#e3e3e3', width: 1 }, ticks: { stroke: '#bbb', width: 1 } };
    plot = new uPlot({
      width: Math.max(chart.clientWidth, 240), height: 240,
      legend: { show: false },
      cursor: { drag: { x: false, y: false } },
      scales: { x: { time: false, range: () => [0, storm.hours * 60] },
                y: { range: (u, min, max) => [0, uPlot.rangeNum(0, max, 0.1, true)[1]] } },
      axes: [{ ...axis, label: 'Tempo dall\'inizio (min)', labelSize: 20 },
             { ...axis, label: 'Intensità (mm/h)', labelSize: 22, size: 50 }],
      series: [{}, { label: 'Intensità (mm/h)', stroke: '#0b5cad', fill: 'rgba(11, 92, 173, 0.55)', width: 1,
                     paths: uPlot.paths.bars({ align: 1, size: [1, Infinity], gap: 0 }), points: { show: false } }],
    }, [times, storm.mmPerHour], chart);
  }

  async function load() {
    const mine = ++request;
    try {
      const storm = await getJson(query('json'));
      if (mine !== request) return;
      message.textContent = '';
      summary.textContent = `Altezza totale h(D, T): ${number1(storm.totalMm)} mm · ` +
        `Intensità di picco: ${number1(storm.peakMmPerHour)} mm/h`;
      summary.dataset.total = String(storm.totalMm);
      summary.dataset.peak = String(storm.peakMmPerHour);
      await draw(storm);
      if (mine !== request) return;
      links.replaceChildren('Scarica: ',
        element('a', { className: 'report', href: query('csv'), download: '', textContent: 'CSV' }), ' ',
        element('a', { className: 'report', id: 'storm-swmm', href: query('swmm'), download: '',
                       textContent: 'SWMM [TIMESERIES]' }), ' ',
        element('a', { className: 'report', href: query('rain'), download: '',
                       textContent: 'SWMM file pluviometro' }));
    } catch (error) {
      if (mine === request) {
        message.textContent = error.message;
        summary.textContent = '';
        links.replaceChildren();
        plot?.destroy();
        plot = null;
      }
    }
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    if (point) load();
  });
  new ResizeObserver(() => plot?.setSize({ width: Math.max(chart.clientWidth, 240), height: 240 })).observe(chart);

  return {
    setLaw(law) {
      duration.title = `Da ${law.minHours * 60} min a ${law.maxHours} h: ore, o minuti con "min"`;
    },
    show(east, north) {
      point = { east, north };
      container.hidden = false;
      load();
    },
  };
}
