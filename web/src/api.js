// The server's JSON API. Paths are relative, so the page also works when a
// proxy serves it under a prefix.

export const NO_SERVER = 'Il server non risponde: riprova tra poco.';

// A failure of the API: its kind and its Italian words. Kind "Network" when
// no answer came at all.
export class ApiError extends Error {
  constructor(kind, italian, status) {
    super(italian);
    this.kind = kind;
    this.status = status;
  }
}

// Every answer tells the page that the server is there, so that the faults
// it said while it was not can go.
const listeners = new Set();
export function onServerAnswer(listener) {
  listeners.add(listener);
}

async function call(path, options) {
  let response;
  try {
    response = await fetch(path, options);
  } catch {
    throw new ApiError('Network', NO_SERVER, 0);
  }
  for (const listener of listeners) listener();
  if (response.ok) return response;
  let body = null;
  try {
    body = await response.json();
  } catch {
    // Not our JSON: a proxy's page, or a connection cut short.
  }
  const error = body?.error;
  throw new ApiError(error?.kind ?? 'Http', error?.it ?? `Il server ha risposto ${response.status}.`,
                     response.status);
}

export async function getJson(path) {
  return (await call(path, { headers: { Accept: 'application/json' } })).json();
}

// The answer with its headers, for the footer's date of the data.
export async function getJsonAndHeaders(path) {
  const response = await call(path, { headers: { Accept: 'application/json' } });
  return { json: await response.json(), headers: response.headers };
}

const query = (values) => Object.entries(values).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');

export function rain(east, north) {
  return getJson(`api/v1/rain?${query({ east, north })}`);
}

// A point in another reference system: x is East or the longitude.
export function rainIn(crs, x, y) {
  return getJson(`api/v1/rain?${query({ crs, east: x, north: y })}`);
}

// What is wrong with a point typed in a reference system, in the desktop's words.
export function typedFaults(crs, x, y) {
  return getJson(`api/v1/typed?${query({ crs, x, y })}`);
}

export function reportUrl(east, north, name) {
  return `api/v1/report?${query({ east, north, name })}`;
}

export function sheetUrl(east, north, name) {
  return `api/v1/sheet?${query({ east, north, name })}`;
}

export async function getBlob(path) {
  return (await call(path)).blob();
}

// The results file quorvel-batch writes for these points, as a Blob.
export async function batchCsv(points) {
  const body = 'id,East,North\n' + points.map((p) => `${p.id},${p.east},${p.north}\n`).join('');
  return (await call('api/v1/batch', { method: 'POST', body, headers: { 'Content-Type': 'text/csv' } })).blob();
}
