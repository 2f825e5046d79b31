// After esbuild: names the bundle's content-hashed files in index.html,
// removes the files of earlier bundles and writes a gzip copy of each file
// the server sends compressed.
//   node publish.mjs METAFILE INDEX_HTML OUTPUT_FOLDER
import { readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { constants, gzipSync } from 'node:zlib';

const [metafile, html, folder] = process.argv.slice(2);
const outputs = Object.entries(JSON.parse(readFileSync(metafile, 'utf8')).outputs);
const bundle = outputs.map(([path]) => basename(path));
// The entry's script and style sheet; the other scripts are parts it loads when needed.
const [entry, { cssBundle }] = outputs.find(([, output]) => output.entryPoint);
const script = basename(entry);
const style = basename(cssBundle);
const page = readFileSync(html, 'utf8').replace('"quorvel.js"', `"${script}"`).replace('"quorvel.css"', `"${style}"`);
writeFileSync(join(folder, 'index.html'), page);

for (const name of readdirSync(folder))
  if (/^quorvel-[A-Z0-9]{8}\.(js|css)(\.gz)?$/.test(name) && !bundle.includes(name.replace(/\.gz$/, '')))
    rmSync(join(folder, name));
for (const name of ['index.html', ...bundle]) {
  const bytes = readFileSync(join(folder, name));
  writeFileSync(join(folder, `${name}.gz`), gzipSync(bytes, { level: constants.Z_BEST_COMPRESSION }));
}
