// The rainfall curves of the answered points against the return period, on a
// logarithmic axis with a tick at each of the seven periods; a legend naming
// each row, and the values under the pointer in a tooltip. A curve lying on
// another (two points in one cell) is dashed, and the legend says so.
import { PERIODS } from './periods.js';
import { loadUplot } from './uplot.js';

const millimetres = (value) => value.toLocaleString('it-IT', { maximumFractionDigits: 1 });
const DASHES = [[], [8, 5], [2, 4], [12, 4, 2, 4]];

function element(tag, properties = {}, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

export function createChart(box, container, legend) {
  let plot = null;
  let drawn = 0;
  const tooltip = element('div', { className: 'chart-tooltip', hidden: true });
  tooltip.setAttribute('aria-hidden', 'true');

  // Floored: a width rounded up would overflow the panel by a pixel.
  const size = () => ({ width: Math.max(Math.floor(container.getBoundingClientRect().width), 240), height: 260 });

  new ResizeObserver(() => plot?.setSize(size())).observe(container);

  function showTooltip(u, rows) {
    const index = u.cursor.idx;
    if (index == null || u.cursor.left < 0) {
      tooltip.hidden = true;
      return;
    }
    tooltip.replaceChildren(element('strong', { textContent: `T = ${PERIODS[index]} anni` }),
      ...rows.map((row) => element('div', {}, element('span', { className: 'swatch' }),
                                   `${row.number}: ${millimetres(row.mm[index])} mm`)));
    [...tooltip.querySelectorAll('.swatch')].forEach((swatch, i) => { swatch.style.background = rows[i].colour; });
    tooltip.hidden = false;
    const left = u.valToPos(PERIODS[index], 'x');
    const flip = left > u.over.clientWidth / 2;
    tooltip.style.left = flip ? '' : `${left + 12}px`;
    tooltip.style.right = flip ? `${u.over.clientWidth - left + 12}px` : '';
    tooltip.style.top = `${Math.max(0, u.cursor.top - 20)}px`;
  }

  // rows: [{ number, colour, label, mm: [seven numbers] }], drawn oldest first.
  // The library comes with the first rows, not with the page.
  return async function draw(rows) {
    const mine = ++drawn;
    const uPlot = rows.length ? await loadUplot() : null;
    if (mine !== drawn) return;
    plot?.destroy();
    plot = null;
    box.hidden = rows.length === 0;
    legend.replaceChildren();
    if (rows.length === 0) return;
    const same = (a, b) => a.mm.every((value, k) => value === b.mm[k]);
    // The earlier row whose curve each row's lies on.
    const sameAs = rows.map((row, i) => rows.slice(0, i).find((other) => same(other, row)));
    const dashOf = rows.map((row, i) => DASHES[rows.slice(0, i).filter((other) => same(other, row)).length %
                                               DASHES.length]);
    const font = '12px system-ui, sans-serif';
    const axis = { font, labelFont: 'bold 12px system-ui, sans-serif', stroke: '#333',
                   grid: { stroke: '#e3e3e3', width: 1 }, ticks: { stroke: '#bbb', width: 1 } };
    plot = new uPlot({
      ...size(),
      legend: { show: false },
      cursor: { drag: { x: false, y: false }, points: { size: 9 } },
      scales: {
        x: { time: false, distr: 3, log: 10, range: () => [1.8, 220] },
        y: { range: (u, min, max) => [0, uPlot.rangeNum(0, max, 0.1, true)[1]] },
      },
      axes: [
        { ...axis, label: 'Tempo di ritorno T (anni)', labelSize: 20,
          splits: () => PERIODS, filter: (u, splits) => splits, values: (u, splits) => splits.map(String) },
        { ...axis, label: 'h 1 ora (mm)', labelSize: 22, size: 44,
          values: (u, splits) => splits.map(millimetres) },
      ],
      series: [{}, ...rows.map((row, i) => ({
        label: row.label, stroke: row.colour, width: sameAs[i] ? 2.5 : 2, dash: dashOf[i],
        points: { show: true, size: sameAs[i] ? 11 : 7, fill: sameAs[i] ? '#fff' : row.colour, stroke: row.colour },
      }))],
      hooks: { setCursor: [(u) => showTooltip(u, rows)] },
    }, [PERIODS, ...rows.map((row) => row.mm)], container);
    plot.over.append(tooltip);
    // The legend below may bring the panel's scroll bar, narrowing the chart's room.
    requestAnimationFrame(() => {
      const room = size();
      if (plot && room.width !== plot.width) plot.setSize(room);
    });
    plot.over.addEventListener('mouseleave', () => { tooltip.hidden = true; });
    legend.replaceChildren(...rows.map((row, i) => {
      const line = element('span', { className: 'line' });
      line.style.borderTopColor = row.colour;
      line.style.borderTopStyle = dashOf[i].length ? 'dashed' : 'solid';
      return element('li', {}, line, `${row.number} – ${row.label}` +
                     (sameAs[i] ? ` (stessa curva del punto ${sameAs[i].number}: stessa cella)` : ''));
    }));
  };
}
