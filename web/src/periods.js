// The seven return periods of every table and chart, in years: here, apart
// from the charts, so that a table needs no chart library to name them.
export const PERIODS = [2, 5, 10, 20, 50, 100, 200];
