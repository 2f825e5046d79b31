// The address holds the view and the answered points, so that a reload, Back,
// a bookmark or a link sent to a colleague shows the same map and rows:
// "#E,N,metres per pixel" then "&punti=E,N;E,N" oldest first.

function parts() {
  const [view, ...rest] = decodeURIComponent(location.hash.slice(1)).split('&');
  const named = Object.fromEntries(rest.map((part) => {
    const equals = part.indexOf('=');
    return equals < 0 ? [part, ''] : [part.slice(0, equals), part.slice(equals + 1)];
  }));
  return { view, named };
}

function write(view, named) {
  const extra = Object.entries(named).filter(([, value]) => value !== '').map(([key, value]) => `&${key}=${value}`);
  return `#${view}${extra.join('')}`;
}

// { center, resolution } or null.
export function viewFromAddress() {
  const numbers = parts().view.split(',').map(Number);
  if (numbers.length !== 3 || !numbers.every(Number.isFinite) || numbers[2] <= 0) return null;
  return { center: [numbers[0], numbers[1]], resolution: numbers[2] };
}

// [{ east, north }] as texts, oldest first; at most `limit`.
export function pointsFromAddress(limit) {
  const text = parts().named.punti ?? '';
  const points = text.split(';').map((pair) => pair.split(','))
    .filter((pair) => pair.length === 2 && pair.every((value) => /^-?\d+(\.\d+)?$/.test(value)))
    .map(([east, north]) => ({ east, north }));
  return points.slice(-limit);
}

// A new view replaces the entry: moving the map is not a step Back undoes.
export function addressView(east, north, resolution) {
  const { named } = parts();
  history.replaceState(history.state, '', write(`${Math.round(east)},${Math.round(north)},${resolution}`, named));
}

// A new set of points is a step of its own, which Back undoes.
export function addressPoints(points) {
  const { view, named } = parts();
  const next = write(view, { ...named, punti: points.map((p) => `${p.east},${p.north}`).join(';') });
  if (next !== location.hash) history.pushState(history.state, '', next);
}
