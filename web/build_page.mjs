// Builds the page as one file: the markup of index.html with the styles,
// the bundled script and the WebAssembly inside it, and a Content-Security-
// Policy that allows only those, by their hashes. The same sources give the
// same bytes: nothing here depends on the time or the folders it runs in.
// node build_page.mjs CORE_JS CORE_WASM OUT_HTML VERSION
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';

const [coreJs, coreWasm, out, version] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));

const bundle = await esbuild.build({
  entryPoints: [path.join(here, 'src/main.js')],
  bundle: true,
  format: 'iife',
  minify: true,
  write: false,
  logLevel: 'warning',
  legalComments: 'none',
  alias: { 'qelega-core-wasm': coreJs, 'qelega-core-binary': coreWasm },
  loader: { '.wasm': 'base64' },
  absWorkingDir: here,
  metafile: true,
});
// Inside <script>, "</script" would end the element early.
const script = bundle.outputFiles[0].text.replaceAll('</script', '<\\/script').trim();
const style = fs.readFileSync(path.join(here, 'style.css'), 'utf8').trim();

const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;
const policy = ["default-src 'none'", `script-src ${hash(script)} 'wasm-unsafe-eval'`, `style-src ${hash(style)}`,
  "img-src data:", "form-action 'none'", "base-uri 'none'"].join('; ');

// The libraries bundled into the page, each with its licence, as their
// licences ask of every copy.
function notices() {
  const packages = new Set(Object.keys(bundle.metafile.inputs)
    .map((input) => input.match(/node_modules\/((?:@[^/]+\/)?[^/]+)\//)?.[1]).filter(Boolean));
  const texts = [...packages].sort().map((name) => {
    const dir = path.join(here, 'node_modules', name);
    const { version, license } = JSON.parse(fs.readFileSync(path.join(dir, 'package.json'), 'utf8'));
    const file = fs.readdirSync(dir).find((f) => /^licen[cs]e/i.test(f));
    return `${name} ${version} (${license}):\n\n${fs.readFileSync(path.join(dir, file), 'utf8').trim()}`;
  });
  const head = 'qelega_shapes: the page as one file. Its own code is under the MIT licence of the project;\n'
    + 'the WebAssembly runtime and C library come from Emscripten (MIT). Bundled libraries:';
  return [head, ...texts].join('\n\n').replaceAll('--', '- -');
}

const markup = fs.readFileSync(path.join(here, 'index.html'), 'utf8');
const parts = {
  '<!-- notices -->': `<!--\n${notices()}\n-->`,
  '<!-- version -->': version,
  '<!-- policy -->': `<meta http-equiv="Content-Security-Policy" content="${policy}">`,
  '<!-- style -->': `<style>${style}</style>`,
  '<!-- script -->': `<script>${script}</script>`,
};
let page = markup;
for (const [mark, content] of Object.entries(parts)) {
  if (!page.includes(mark)) throw new Error(`index.html has no ${mark}`);
  page = page.replace(mark, () => content);
}
fs.mkdirSync(path.dirname(out), { recursive: true });
fs.writeFileSync(out, page);
