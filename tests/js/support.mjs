// What the package's tests share: a PNG reader for pixmora-convert's output,
// the first pixel where two pictures differ, and seeded pictures.
import { readFileSync } from 'node:fs';
import { inflateSync } from 'node:zlib';

// { width, height, data: RGBA } of an 8-bit RGB or RGBA PNG without
// interlacing, as pixmora-convert writes them.
export function readPng(path) {
    const file = readFileSync(path);
    let offset = 8;
    let width = 0, height = 0, channels = 0;
    const compressed = [];
    while (offset < file.length) {
        const length = file.readUInt32BE(offset);
        const kind = file.toString('latin1', offset + 4, offset + 8);
        const body = file.subarray(offset + 8, offset + 8 + length);
        if (kind === 'IHDR') {
            width = body.readUInt32BE(0);
            height = body.readUInt32BE(4);
            if (body[8] !== 8 || (body[9] !== 2 && body[9] !== 6) || body[12] !== 0)
                throw new Error(`${path}: not an 8-bit RGB or RGBA PNG without interlacing`);
            channels = body[9] === 2 ? 3 : 4;
        } else if (kind === 'IDAT') {
            compressed.push(body);
        }
        offset += 12 + length;
    }
    const raw = inflateSync(Buffer.concat(compressed));
    const stride = width * channels;
    const rows = new Uint8Array(stride * height);
    for (let y = 0; y < height; ++y) {
        const filter = raw[y * (stride + 1)];
        const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
        const row = rows.subarray(y * stride, (y + 1) * stride);
        const up = y > 0 ? rows.subarray((y - 1) * stride, y * stride) : new Uint8Array(stride);
        for (let x = 0; x < stride; ++x) {
            const a = x >= channels ? row[x - channels] : 0;
            const b = up[x];
            const c = x >= channels ? up[x - channels] : 0;
            let predicted = 0;
            if (filter === 1) predicted = a;
            else if (filter === 2) predicted = b;
            else if (filter === 3) predicted = (a + b) >> 1;
            else if (filter === 4) {
                const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            row[x] = (line[x] + predicted) & 0xFF;
        }
    }
    const data = new Uint8Array(width * height * 4);
    for (let i = 0, j = 0; i < data.length; i += 4, j += channels) {
        data.set(rows.subarray(j, j + 3), i);
        data[i + 3] = 0xFF;
    }
    return { width, height, data };
}

// Where two RGBA pictures' colours first differ, in words; null when they
// do not. Alpha is compared only in got, which must be opaque.
export function firstDifference(got, want) {
    if (got.width !== want.width || got.height !== want.height)
        return `${got.width} x ${got.height}, not ${want.width} x ${want.height}`;
    const hex = (data, i) => Array.from(data.subarray(i, i + 4), b => b.toString(16).padStart(2, '0')).join('');
    for (let i = 0; i < got.data.length; i += 4) {
        if (got.data[i] !== want.data[i] || got.data[i + 1] !== want.data[i + 1] ||
            got.data[i + 2] !== want.data[i + 2] || got.data[i + 3] !== 0xFF) {
            const pixel = i / 4;
            return `first at (${pixel % got.width}, ${Math.floor(pixel / got.width)}): #${hex(got.data, i)}, ` +
                   `expected #${hex(want.data, i)}`;
        }
    }
    return null;
}

// A width x height RGBA picture of `colours` distinct colours (every one of
// them used when there are pixels enough), seeded.
export function randomPicture(seed, width, height, colours) {
    let state = seed >>> 0 || 1;
    const next = () => {
        state ^= state << 13;
        state ^= state >>> 17;
        state ^= state << 5;
        return state >>> 0;
    };
    const palette = new Set();
    while (palette.size < colours)
        palette.add(next() & 0xFFFFFF);
    const list = [...palette];
    const data = new Uint8ClampedArray(width * height * 4);
    for (let i = 0; i < width * height; ++i) {
        const colour = list[i < list.length ? i : next() % list.length];
        data[4 * i] = colour >> 16;
        data[4 * i + 1] = (colour >> 8) & 0xFF;
        data[4 * i + 2] = colour & 0xFF;
        data[4 * i + 3] = 0xFF;
    }
    return { width, height, data };
}
