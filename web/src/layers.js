// The choice of what the map shows under the answers: the region's map, or a
// design-rainfall map over the relief, with its legend as the server draws it.
const CHOICES = [
  ['quorvel', 'Mappa della regione'],
  ...[2, 5, 10, 20, 50, 100, 200].map((t) => [`pioggia_T${t}`, `Pioggia 1 ora, T = ${t} anni`]),
  ['a2', 'Parametro a2'],
];

// setLayers receives the WMS layers to draw.
export function createLayerSwitch(target, setLayers) {
  const box = document.createElement('div');
  box.id = 'layer-switch';
  const label = document.createElement('label');
  label.textContent = 'Mostra';
  const select = document.createElement('select');
  select.id = 'layer-choice';
  label.htmlFor = select.id;
  for (const [name, title] of CHOICES) select.add(new Option(title, name));
  const legend = document.createElement('img');
  legend.alt = 'Legenda';
  legend.hidden = true;
  select.addEventListener('change', () => {
    const name = select.value;
    const rainfall = name !== 'quorvel';
    // The municipalities' outlines keep a rainfall map readable as a place.
    setLayers(rainfall ? `${name},comuni,province` : 'quorvel');
    legend.hidden = !rainfall;
    if (rainfall) legend.src = `wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetLegendGraphic&FORMAT=image/png&LAYER=${name}`;
  });
  box.append(label, select, legend);
  target.append(box);
}
