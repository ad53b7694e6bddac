// The npm package's decode() timed in Node on the bench's PCX pictures,
// beside the native pm_pcx_decode (RGBA8) of the same run's results and
// beside pcx-js, the registry's best-known PCX decoder, on the layouts that
// it reads. Where pcx-js's pixels differ from ours, the first such pixel is
// printed. Prints a Markdown table. Not a test: nothing here fails.
//
//   node bench/js_bench.mjs PACKAGE_DIR PCX_JS_DIR PICTURES_DIR RESULTS_JSON
import { readFileSync, readdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [packageDir, pcxJsDir, picturesDir, resultsFile] = process.argv.slice(2);
const { decode } = await import(pathToFileURL(join(packageDir, 'pixmora.js')).href);
let PCX = null;
try {
    PCX = createRequire(import.meta.url)(pcxJsDir);
} catch (error) {
    console.error(`pcx-js is not there (${pcxJsDir}); its column is left out`);
}

// The native pm_pcx_decode processor times of this run, by picture name, in ms.
const native = new Map();
if (resultsFile) {
    const results = JSON.parse(readFileSync(resultsFile, 'utf8'));
    for (const run of results.benchmarks) {
        const name = /^decode_([a-z0-9]+)_rgba\/pixmora$/.exec(run.run_name || run.name);
        if (name && (run.aggregate_name === 'median' || run.run_type !== 'aggregate'))
            native.set(name[1], run.cpu_time * { ns: 1e-6, us: 1e-3, ms: 1 }[run.time_unit]);
    }
}

// The processor time of a call in ms, the median over batches of calls that
// fill about 20 ms each, after a warm-up: processor time rather than the
// clock, so that a machine busy with other work shows the code's own cost,
// as the native rows' CPU time does.
async function median(call) {
    for (let i = 0; i < 5; ++i)
        await call();
    const cpu = () => {
        const { user, system } = process.cpuUsage();
        return (user + system) / 1000;
    };
    let batch = 1;
    for (let start = cpu(); cpu() - start < 5; batch *= 2)
        for (let i = 0; i < batch; ++i)
            await call();
    batch = Math.max(1, Math.round(batch * 4));
    const times = [];
    for (let round = 0; round < 15; ++round) {
        const start = cpu();
        for (let i = 0; i < batch; ++i)
            await call();
        times.push((cpu() - start) / batch);
    }
    times.sort((a, b) => a - b);
    return times[times.length >> 1];
}

function firstDifference(ours, theirs, width) {
    for (let i = 0; i < ours.length; i += 4) {
        if (ours[i] !== theirs[i] || ours[i + 1] !== theirs[i + 1] || ours[i + 2] !== theirs[i + 2]) {
            const hex = data => Array.from(data.subarray(i, i + 3), b => b.toString(16).padStart(2, '0')).join('');
            return `(${(i / 4) % width}, ${Math.floor(i / 4 / width)}): ours #${hex(ours)}, pcx-js #${hex(theirs)}`;
        }
    }
    return null;
}

const fixed = (value, digits) => value === undefined ? '' : value.toFixed(digits);
const rows = [];
for (const file of readdirSync(picturesDir).filter(name => /\.pcx$/i.test(name)).sort()) {
    const name = file.replace(/\.pcx$/i, '');
    // pcx-js takes a Node Buffer, as its README shows (given an ArrayBuffer
    // in Node it finds no header palette), and one of its own memory: it
    // reads the header palette from the start of the Buffer's ArrayBuffer,
    // which for a small file that readFileSync carves from Node's pool holds
    // other bytes.
    const bytes = new Uint8Array(readFileSync(join(picturesDir, file)));
    const buffer = Buffer.alloc(bytes.length);
    buffer.set(bytes);
    const ours = await decode(bytes).catch(() => null);
    if (ours === null)
        continue;
    const ms = await median(() => decode(bytes));
    const row = { name, size: `${ours.width} x ${ours.height}`, ms, native: native.get(name) };
    if (PCX) {
        try {
            const theirs = new PCX(buffer).decode();
            row.pcxJs = await median(() => new PCX(buffer).decode());
            row.pixels = theirs.width !== ours.width || theirs.height !== ours.height
                ? `${theirs.width} x ${theirs.height}`
                : firstDifference(ours.data, theirs.pixelArray, ours.width) ?? 'the same';
        } catch (error) {
            row.pixels = `not read: ${error.message || error}`;
        }
    }
    rows.push(row);
}

console.log('| picture | size | decode() in Node, ms of processor | native pm_pcx_decode, ms | Node / native | pcx-js, ms | ' +
            'pcx-js / decode() | pcx-js\'s pixels |');
console.log('|---|---|---|---|---|---|---|---|');
for (const row of rows) {
    console.log(`| ${row.name} | ${row.size} | ${fixed(row.ms, 3)} | ${fixed(row.native, 3)} | ` +
                `${row.native ? fixed(row.ms / row.native, 2) + 'x' : ''} | ${fixed(row.pcxJs, 3)} | ` +
                `${row.pcxJs ? fixed(row.pcxJs / row.ms, 1) + 'x' : ''} | ${row.pixels ?? ''} |`);
}
