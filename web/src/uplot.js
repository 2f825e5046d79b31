// The chart library comes with the first chart that needs it, not with the
// page: most visits draw no chart before the first click.
import { ApiError, NO_SERVER } from './api.js';

let loading = null;

export function loadUplot() {
  loading ??= import('uplot').then((module) => module.default, () => {
    // Asked again at the next chart, once the server may be back.
    loading = null;
    throw new ApiError('Network', NO_SERVER, 0);
  });
  return loading;
}
