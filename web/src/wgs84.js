// Monte Mario / Italy zone 2, with the datum shift of "Monte Mario to WGS 84
// (4)", for the latitude and longitude of the read-out. A module of its own,
// loaded at the first move of the pointer: proj4 is a third of the page's
// script, and the map itself needs no conversion.
import proj4 from 'proj4';

proj4.defs('EPSG:3004', '+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=2520000 +y_0=0 +ellps=intl ' +
           '+towgs84=-104.1,-49.1,-9.9,0.971,-2.917,0.714,-11.68 +units=m +no_defs');

export const toWgs84 = proj4('EPSG:3004', 'EPSG:4326');
