// The region's map: the server's WMS in Gauss-Boaga East (EPSG:3004), the
// cells of the answered points, the scale bar and the coordinate read-out.
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import Feature from 'ol/Feature.js';
import ImageLayer from 'ol/layer/Image.js';
import VectorLayer from 'ol/layer/Vector.js';
import ImageWMS from 'ol/source/ImageWMS.js';
import VectorSource from 'ol/source/Vector.js';
import Point from 'ol/geom/Point.js';
import Polygon from 'ol/geom/Polygon.js';
import { Circle, Fill, Stroke, Style, Text } from 'ol/style.js';
import ScaleLine from 'ol/control/ScaleLine.js';
import ZoomToExtent from 'ol/control/ZoomToExtent.js';
import { defaults as defaultControls } from 'ol/control/defaults.js';
import { defaults as defaultInteractions } from 'ol/interaction/defaults.js';
import Projection from 'ol/proj/Projection.js';
import { addProjection } from 'ol/proj.js';

import { addressView, viewFromAddress } from './address.js';

// Gauss-Boaga East is the map's only system: the map service draws in it and
// the answers come in it, so OpenLayers needs its name and unit only.
addProjection(new Projection({ code: 'EPSG:3004', units: 'm' }));
let toWgs84 = null;
let loadingWgs84 = null;

// The parameter grids' cells are 500 m squares.
const HALF_CELL = 250;

// Whole metres as the desktop shows them: halves go to the even neighbour.
export function wholeMetres(value) {
  const floor = Math.floor(value);
  const rest = value - floor;
  if (rest !== 0.5) return Math.round(value);
  return floor % 2 === 0 ? floor : floor + 1;
}

const degrees = (value, positive, negative) =>
  `${Math.abs(value).toLocaleString('it-IT', { minimumFractionDigits: 5, maximumFractionDigits: 5 })}° ` +
  (value >= 0 ? positive : negative);

export function createMap(target, readout, message) {
  const linked = viewFromAddress();
  const cells = new VectorSource();
  const outline = new VectorSource();
  const source = new ImageWMS({
    url: 'wms',
    // The only picture under the answers: opaque, a quarter smaller to send.
    params: { LAYERS: 'quorvel', FORMAT: 'image/jpeg', VERSION: '1.3.0', TRANSPARENT: false },
    projection: 'EPSG:3004',
    ratio: 1,
    // Asked at the screen's pixel ratio, so that a phone's map is sharp; of
    // what this server type adds, the map service reads the size, and the
    // DPI, which lets it send a dense screen's picture lighter.
    serverType: 'qgis',
    hidpi: true,
  });
  const picture = new ImageLayer({ source });
  // A picture that could not be refreshed is not shown stretched: the map
  // says so instead, until a picture comes again.
  source.on('imageloaderror', () => {
    picture.setOpacity(0);
    message.textContent = 'Impossibile aggiornare la mappa: il server non risponde.';
    target.dispatchEvent(new Event('quorvel-map-fault'));
  });
  source.on('imageloadend', () => {
    picture.setOpacity(1);
    message.textContent = '';
  });
  // Double clicks would pick the point twice: the wheel, the buttons and
  // shift-drag zoom instead.
  const map = new Map({
    target,
    controls: defaultControls({ attribution: false, rotate: false,
                                zoomOptions: { zoomInTipLabel: 'Ingrandisci', zoomOutTipLabel: 'Riduci' } })
      .extend([new ScaleLine({ minWidth: 90 })]),
    interactions: defaultInteractions({ doubleClickZoom: false }),
    layers: [
      picture,
      new VectorLayer({ source: outline, style: new Style({ stroke: new Stroke({ color: '#1f2328', width: 3,
                                                                                   lineDash: [8, 5] }) }) }),
      new VectorLayer({ source: cells, updateWhileInteracting: true }),
    ],
    // The view's centre stays near the region, so that the map cannot be lost.
    // Without a view from the address, none until the region's extent is
    // known: a map drawn meanwhile would be sent for nothing.
    view: new View({ projection: 'EPSG:3004', minResolution: 0.5, maxResolution: 2000, ...linked,
                     extent: [2250000, 4980000, 2560000, 5230000], constrainOnlyCenter: true }),
  });

  map.on('moveend', () => {
    const view = map.getView();
    const [east, north] = view.getCenter();
    addressView(east, north, +view.getResolution().toPrecision(4));
  });

  map.on('pointermove', (event) => {
    if (event.dragging || !event.coordinate) return;
    const [east, north] = event.coordinate;
    readout.gb.textContent = `E ${wholeMetres(east)}   N ${wholeMetres(north)}`;
    loadingWgs84 ??= import('./wgs84.js').then((module) => { toWgs84 = module.toWgs84; });
    if (!toWgs84) return;
    const [lon, lat] = toWgs84.forward([east, north]);
    readout.ll.textContent = `${degrees(lat, 'N', 'S')}   ${degrees(lon, 'E', 'O')}`;
  });

  return {
    // Called with the clicked point in metres and the time of the click.
    onPick(handler) {
      map.on('click', (event) => {
        if (event.coordinate) handler(event.coordinate[0], event.coordinate[1], event.originalEvent.timeStamp);
      });
    },
    // The view the address gave, if any.
    linked: linked !== null,
    fit(extent, padding = 40) {
      // The page above may just have changed the map's room.
      map.updateSize();
      map.getView().fit(extent, { padding: [padding, padding, padding, padding] });
    },
    // The button that brings the whole of this extent back into view.
    addFullExtent(extent) {
      map.addControl(new ZoomToExtent({ extent, label: '⤢', tipLabel: "Zoom sull'intera regione" }));
    },
    // The answered point, marked with its row's number, and its cell, in the
    // row's colour; returns a function that removes them.
    drawCell(centre, point, colour, number) {
      const [e, n] = centre;
      const cell = new Feature(new Polygon([[
        [e - HALF_CELL, n - HALF_CELL], [e + HALF_CELL, n - HALF_CELL], [e + HALF_CELL, n + HALF_CELL],
        [e - HALF_CELL, n + HALF_CELL], [e - HALF_CELL, n - HALF_CELL]]]));
      cell.setStyle(new Style({ stroke: new Stroke({ color: colour, width: 2.5 }),
                                fill: new Fill({ color: colour + '33' }) }));
      const dot = new Feature(new Point(point));
      // The number floats just above the point, leaving the point and its cell in sight.
      dot.setStyle([
        new Style({ image: new Circle({ radius: 3.5, fill: new Fill({ color: colour }),
                                        stroke: new Stroke({ color: '#fff', width: 1.5 }) }) }),
        new Style({
          image: new Circle({ radius: 9, displacement: [0, 15], fill: new Fill({ color: colour }),
                              stroke: new Stroke({ color: '#fff', width: 1.5 }) }),
          text: new Text({ text: String(number), offsetY: -15, font: 'bold 11px system-ui, sans-serif',
                           fill: new Fill({ color: '#fff' }) }),
        }),
      ]);
      cells.addFeatures([cell, dot]);
      return () => { cells.removeFeature(cell); cells.removeFeature(dot); };
    },
    // The WMS layers drawn under the answers.
    setLayers(layers) {
      source.updateParams({ LAYERS: layers });
    },
    // Asks the map's picture again, once the server is back.
    refresh() {
      if (message.textContent) source.refresh();
    },
    // A municipality's outline, [[[x, y], ...], ...]; none for an empty list.
    outline(rings) {
      outline.clear();
      if (rings.length) outline.addFeature(new Feature(new Polygon(rings)));
    },
    // Brings a cell into view, close enough to see it among its neighbours.
    showCell(centre) {
      const view = map.getView();
      view.animate({ center: centre, resolution: Math.min(view.getResolution(), 20), duration: 300 });
    },
  };
}
