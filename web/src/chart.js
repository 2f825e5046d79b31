// The rainfall curves of the answered points against the return period, on a
// logarithmic axis with a tick at each of the seven periods.
import uPlot from 'uplot';

export const PERIODS = [2, 5, 10, 20, 50, 100, 200];

const millimetres = (value) => value.toLocaleString('it-IT', { maximumFractionDigits: 1 });

export function createChart(container) {
  let plot = null;

  const size = () => ({ width: Math.max(container.clientWidth, 240), height: 260 });

  new ResizeObserver(() => plot?.setSize(size())).observe(container);

  // rows: [{ colour, label, mm: [seven numbers] }], drawn oldest first.
  return function draw(rows) {
    plot?.destroy();
    plot = null;
    container.hidden = rows.length === 0;
    if (rows.length === 0) return;
    const font = '12px system-ui, sans-serif';
    const axis = { font, labelFont: 'bold 12px system-ui, sans-serif', stroke: '#333',
                   grid: { stroke: '#e3e3e3', width: 1 }, ticks: { stroke: '#bbb', width: 1 } };
    plot = new uPlot({
      ...size(),
      legend: { show: false },
      cursor: { drag: { x: false, y: false } },
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
      series: [{}, ...rows.map((row) => ({
        label: row.label, stroke: row.colour, width: 2,
        points: { show: true, size: 7, fill: row.colour, stroke: row.colour },
      }))],
    }, [PERIODS, ...rows.map((row) => row.mm)], container);
  };
}
