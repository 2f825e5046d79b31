// The server's JSON API. Paths are relative, so the page also works when a
// proxy serves it under a prefix.

// A failure of the API: its kind and its Italian words.
export class ApiError extends Error {
  constructor(kind, italian, status) {
    super(italian);
    this.kind = kind;
    this.status = status;
  }
}

async function answer(response) {
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
  return (await answer(await fetch(path, { headers: { Accept: 'application/json' } }))).json();
}

export function rain(east, north) {
  return getJson(`api/v1/rain?east=${encodeURIComponent(east)}&north=${encodeURIComponent(north)}`);
}

export function reportUrl(east, north, name) {
  return `api/v1/report?east=${encodeURIComponent(east)}&north=${encodeURIComponent(north)}` +
         `&name=${encodeURIComponent(name)}`;
}

// The results file quorvel-batch writes for these points, as a Blob.
export async function batchCsv(points) {
  const body = 'id,East,North\n' + points.map((p) => `${p.id},${p.east},${p.north}\n`).join('');
  const response = await fetch('api/v1/batch', { method: 'POST', body,
                                                 headers: { 'Content-Type': 'text/csv' } });
  return (await answer(response)).blob();
}
