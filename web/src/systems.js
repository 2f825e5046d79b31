// The typed point's reference system: Gauss-Boaga East (the grids' own),
// WGS84 in decimal degrees or degrees, minutes and seconds, or ETRF2000 /
// UTM 32N and 33N. In WGS84 the latitude comes first, as people write it.

export const SYSTEMS = {
  gb: { name: 'Gauss-Boaga Fuso Est', first: ['E', 'Est (m)'], second: ['N', 'Nord (m)'] },
  wgs84: { name: 'WGS84', first: ['Lat', 'es. 46,05 o 46°03\'N'], second: ['Lon', 'es. 13,3 o 13°18\'E'],
           latitudeFirst: true },
  utm32: { name: 'ETRF2000 / UTM 32N', first: ['E', 'Est (m)'], second: ['N', 'Nord (m)'] },
  utm33: { name: 'ETRF2000 / UTM 33N', first: ['E', 'Est (m)'], second: ['N', 'Nord (m)'] },
};

// The two boxes as x (East or longitude) and y (North or latitude).
export function typedXY(system, firstText, secondText) {
  return SYSTEMS[system].latitudeFirst ? { x: secondText, y: firstText } : { x: firstText, y: secondText };
}

// Captions and hints of the boxes for the chosen system.
export function showSystem(system, labels, boxes) {
  const { first, second } = SYSTEMS[system];
  [[first, 0], [second, 1]].forEach(([[caption, hint], i]) => {
    labels[i].textContent = caption;
    boxes[i].placeholder = hint;
    boxes[i].inputMode = system === 'wgs84' ? 'text' : 'decimal';
  });
}

// Gauss-Boaga metres of this region have seven digits: numbers of at most
// three digits, or marks of degrees, minutes and seconds, are degrees.
export function looksLikeDegrees(eastText, northText) {
  const degree = (text) => /[°'"′″]/.test(text) ||
    (/^\s*[+-]?\d{1,3}([.,]\d*)?\s*[NSEWO]?\s*$/i.test(text) && text.trim() !== '');
  return degree(eastText) && degree(northText);
}

export const DEGREES_HINT = 'Sembrano gradi di latitudine e longitudine: scegli il sistema WGS84.';
