// Pixmora's PCX and DCX codec for JavaScript: the library's codec calls
// compiled to WebAssembly (pixmora.wasm, beside this file), wrapped as four
// promise-returning functions. Every call copies its input into the
// module's memory, calls the library once or twice and copies the result
// out, freeing what it took before it returns, so that the module's memory
// stays as large as the largest picture seen. Arguments of the wrong type or
// shape reject with a TypeError before the module is touched; whatever the
// library refuses rejects with a PcxError carrying its result and words.

const wasmUrl = new URL('./pixmora.wasm', import.meta.url);

// The library's values (pixmora.h) that this wrapper passes or tests.
const OK = 0;
const NO_MEMORY = 4;
const NO_PAGE = 6;
const BAD_ARGUMENT = 8;
const ALL_LAYOUTS = 16;
const RGBA8 = 3;
const LAYOUTS = ['auto', 'mono', 'cga4', 'packed16', 'vga256', 'planes4', 'planes8', 'ega16', 'rgb24'];
const MAX_PAGES = 1023;

// Sizes and offsets of the C records, pinned by static_asserts in codec.cpp.
const PICTURE_BYTES = 832;
const PICTURE_COLOURS = 12;
const PICTURE_PALETTE = 28;
const INFO_BYTES = 944;
const INFO_PAGE_COUNT = 8;
const SINK_BYTES = 16;

/** A picture or call the library refuses: `result` is its PM_PCX_ number,
 * the message its text. */
export class PcxError extends Error {
    constructor(result, message) {
        super(message);
        this.name = 'PcxError';
        this.result = result;
    }
}

// ---- the module ------------------------------------------------------------

const inNode = typeof process === 'object' && typeof process.versions === 'object' &&
               typeof process.versions.node === 'string';

async function compile() {
    if (inNode && wasmUrl.protocol === 'file:') {
        // Hidden from bundlers, which would otherwise look for the file
        // system in the browser.
        const fs = await import(/* webpackIgnore: true */ /* @vite-ignore */ 'node:fs/promises');
        return WebAssembly.compile(await fs.readFile(wasmUrl));
    }
    if (typeof WebAssembly.compileStreaming === 'function') {
        try {
            return await WebAssembly.compileStreaming(fetch(wasmUrl));
        } catch (error) {
            // A server that sends another type than application/wasm: compile
            // from the bytes below.
        }
    }
    const response = await fetch(wasmUrl);
    if (!response.ok)
        throw new Error(`pixmora: ${wasmUrl} cannot be fetched: ${response.status} ${response.statusText}`);
    return WebAssembly.compile(await response.arrayBuffer());
}

// The module's imports: what its C library asks of the system. A codec call
// reaches no file and no clock, so the module is given a system of no
// files and an empty environment, and ending the program is a trap.
function imports(module, memory) {
    const given = {};
    const answers = {
        emscripten_notify_memory_growth: () => {},
        proc_exit: code => { throw new WebAssembly.RuntimeError(`pixmora: the module exited (${code})`); },
        environ_sizes_get: (count, size) => {
            new DataView(memory().buffer).setUint32(count, 0, true);
            new DataView(memory().buffer).setUint32(size, 0, true);
            return 0;
        },
        environ_get: () => 0,
    };
    for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
        if (kind !== 'function')
            throw new Error(`pixmora: pixmora.wasm imports a ${kind}, ${from}.${name}`);
        given[from] ??= {};
        given[from][name] = answers[name] ?? (() => 52); // ENOSYS: no such call here
    }
    return given;
}

let loading = null;

async function instantiate() {
    const module = await compile();
    let instance = null;
    instance = await WebAssembly.instantiate(module, imports(module, () => instance.exports.memory));
    instance.exports._initialize();
    return instance.exports;
}

// The module, instantiated once; after a trap a new instance is made, so
// that memory a broken call left behind is never used again.
async function exports() {
    loading ??= instantiate().catch(error => {
        loading = null;
        throw error;
    });
    return loading;
}

// Runs work(memory) against the module, freeing every allocation it made.
async function withModule(work) {
    const wasm = await exports();
    const taken = [];
    const memory = {
        wasm,
        bytes: () => new Uint8Array(wasm.memory.buffer),
        view: () => new DataView(wasm.memory.buffer),
        // Room for size bytes, or a PcxError for running out of memory.
        allocate(size) {
            const address = size > 0xFFFFFFFF ? 0 : wasm.malloc(Math.max(1, size)) >>> 0;
            if (address === 0)
                memory.fail(NO_MEMORY);
            taken.push(address);
            return address;
        },
        // A C record of size bytes, all zero.
        record(size) {
            const address = memory.allocate(size);
            memory.bytes().fill(0, address, address + size);
            return address;
        },
        copyIn(bytes) {
            const address = memory.allocate(bytes.length);
            memory.bytes().set(bytes, address);
            return address;
        },
        // The library's words: a static C string.
        textAt(start) {
            const bytes = memory.bytes();
            let end = start;
            while (bytes[end] !== 0)
                ++end;
            return new TextDecoder().decode(bytes.subarray(start, end));
        },
        // The library's refusal as an error: what it calls a bad argument is
        // a TypeError (with its result too), anything else a PcxError.
        fail(result) {
            const text = memory.textAt(wasm.pm_pcx_result_text(result) >>> 0);
            if (result !== BAD_ARGUMENT)
                throw new PcxError(result, text);
            throw Object.assign(new TypeError(text), { result });
        },
    };
    let trapped = false;
    try {
        return work(memory);
    } catch (error) {
        trapped = error instanceof WebAssembly.RuntimeError;
        if (trapped)
            loading = null;
        throw error;
    } finally {
        if (!trapped)
            for (const address of taken)
                wasm.free(address);
    }
}

// ---- arguments -------------------------------------------------------------

function bytesOf(value, what) {
    // Also an ArrayBuffer of another realm (a frame's, a vm context's).
    if (value instanceof ArrayBuffer || Object.prototype.toString.call(value) === '[object ArrayBuffer]')
        return new Uint8Array(value);
    if (ArrayBuffer.isView(value))
        return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
    throw new TypeError(`${what}: the bytes must be a Uint8Array, an ArrayBuffer or a Buffer`);
}

function optionsOf(value, what) {
    if (value === undefined)
        return {};
    if (value === null || typeof value !== 'object')
        throw new TypeError(`${what}: the options must be an object`);
    return value;
}

function pageOf(options, what) {
    const page = options.page ?? 0;
    if (!Number.isInteger(page) || page < 0)
        throw new TypeError(`${what}: page must be an integer from 0`);
    return page;
}

function flagsOf(options, what) {
    const allLayouts = options.allLayouts ?? true;
    if (typeof allLayouts !== 'boolean')
        throw new TypeError(`${what}: allLayouts must be true or false`);
    return allLayouts ? ALL_LAYOUTS : 0;
}

function layoutOf(options, what) {
    const layout = options.layout ?? 'auto';
    const number = LAYOUTS.indexOf(layout);
    if (number < 0)
        throw new TypeError(`${what}: layout must be one of ${LAYOUTS.join(', ')}`);
    return number;
}

function pictureOf(value, what) {
    if (value === null || typeof value !== 'object')
        throw new TypeError(`${what}: a picture is an object { width, height, data }`);
    const { width, height, data } = value;
    for (const [name, side] of [['width', width], ['height', height]]) {
        if (!Number.isInteger(side) || side < 1 || side > 65536)
            throw new TypeError(`${what}: ${name} must be an integer from 1 to 65536`);
    }
    if (!ArrayBuffer.isView(data) || data.byteLength !== width * height * 4)
        throw new TypeError(`${what}: data must hold width x height x 4 bytes of RGBA`);
    return { width, height, data: new Uint8Array(data.buffer, data.byteOffset, data.byteLength) };
}

// ---- the calls -------------------------------------------------------------

function triples(bytes, count) {
    const colours = [];
    for (let i = 0; i < count; ++i)
        colours.push([bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]]);
    return colours;
}

// pm_pcx_inspect_memory's record read into an object, for a buffer of 32 bits.
function describe(memory, input, size, flags, page) {
    const info = memory.record(INFO_BYTES);
    if (memory.wasm.pm_pcx_inspect_memory(input, size, flags, page, 32, info) !== OK)
        memory.fail(NO_PAGE);
    const view = memory.view();
    const u8 = offset => view.getUint8(info + offset);
    const u16 = offset => view.getUint16(info + offset, true);
    const i32 = offset => view.getInt32(info + offset, true);
    const u64 = offset => Number(view.getBigUint64(info + offset, true));
    const bytes = memory.bytes();
    const reason = i32(904);
    return {
        size: u64(0), pageCount: i32(8), page: i32(12), pageOffset: u64(16), headerPresent: i32(24),
        manufacturer: u8(28), version: u8(29), encoding: u8(30), bitsPerPixel: u8(31),
        xMin: u16(32), yMin: u16(34), xMax: u16(36), yMax: u16(38), hDpi: u16(40), vDpi: u16(42),
        planes: u8(44), reservedByte: u8(45), bytesPerLine: u16(46), paletteInfo: u16(48),
        hScreenSize: u16(50), vScreenSize: u16(52), colormap: triples(bytes.subarray(info + 54), 16),
        width: i32(104), height: i32(108), colours: i32(112), trailerPresent: i32(116),
        paletteKind: i32(120), paletteCount: i32(124), palette: triples(bytes.subarray(info + 128), i32(124)),
        depth: i32(896), verdict: i32(900), reason,
        reasonText: memory.textAt(memory.wasm.pm_pcx_reason_text(reason) >>> 0),
    };
}

/** Describes picture `page` of a PCX or DCX file without decoding it. */
export async function inspect(bytes, options) {
    const input = bytesOf(bytes, 'inspect');
    options = optionsOf(options, 'inspect');
    const page = pageOf(options, 'inspect');
    const flags = flagsOf(options, 'inspect');
    return withModule(memory => describe(memory, memory.copyIn(input), input.length, flags, page));
}

/** Decodes picture `page` of a PCX or DCX file into RGBA, top row first. */
export async function decode(bytes, options) {
    const input = bytesOf(bytes, 'decode');
    options = optionsOf(options, 'decode');
    const page = pageOf(options, 'decode');
    const flags = flagsOf(options, 'decode');
    return withModule(memory => {
        const { wasm } = memory;
        const data = memory.copyIn(input);
        const info = memory.record(INFO_BYTES);
        if (wasm.pm_pcx_inspect_memory(data, input.length, flags, page, 32, info) !== OK)
            memory.fail(NO_PAGE);
        const picture = memory.record(PICTURE_BYTES);
        memory.view().setInt32(picture + 8, RGBA8, true);
        let result = wasm.pmjs_decode(data, input.length, flags, page, picture);
        if (result !== OK)
            memory.fail(result);
        const width = memory.view().getInt32(picture, true);
        const height = memory.view().getInt32(picture + 4, true);
        const pixels = memory.allocate(width * height * 4);
        memory.view().setUint32(picture + 24, pixels, true);
        result = wasm.pmjs_decode(data, input.length, flags, page, picture);
        if (result !== OK)
            memory.fail(result);
        // An indexed picture's colours, as the codec gives them.
        const view = memory.view();
        const colours = view.getInt32(picture + PICTURE_COLOURS, true);
        const palette = colours > 0 ? triples(memory.bytes().subarray(picture + PICTURE_PALETTE), colours) : null;
        const rgba = new Uint8ClampedArray(wasm.memory.buffer.slice(pixels, pixels + width * height * 4));
        return { width, height, data: rgba, page, pageCount: view.getInt32(info + INFO_PAGE_COUNT, true),
                 colours, palette };
    });
}

// Copies pictures into the module as consecutive pm_picture records of RGBA.
function placePictures(memory, pictures) {
    const records = memory.record(PICTURE_BYTES * pictures.length);
    pictures.forEach(({ width, height, data }, i) => {
        const pixels = memory.copyIn(data);
        const view = memory.view();
        const record = records + PICTURE_BYTES * i;
        view.setInt32(record, width, true);
        view.setInt32(record + 4, height, true);
        view.setInt32(record + 8, RGBA8, true);
        view.setUint32(record + 24, pixels, true);
    });
    return records;
}

function encoded(memory, sink, result) {
    if (result !== OK)
        memory.fail(result);
    const view = memory.view();
    const start = view.getUint32(sink, true);
    const size = view.getUint32(sink + 4, true);
    const file = memory.bytes().slice(start, start + size);
    memory.wasm.free(start);
    return file;
}

/** Encodes an RGBA picture ({ width, height, data }, as ImageData) as a PCX
 * file in a layout of the converter's --layout, or 'auto'. */
export async function encode(picture, options) {
    const source = pictureOf(picture, 'encode');
    options = optionsOf(options, 'encode');
    const layout = layoutOf(options, 'encode');
    return withModule(memory => {
        const records = placePictures(memory, [source]);
        const sink = memory.record(SINK_BYTES);
        return encoded(memory, sink, memory.wasm.pmjs_pcx_encode(records, layout, sink));
    });
}

/** Encodes 1 to 1023 RGBA pictures as the pages of a DCX file, each in the
 * layout given. */
export async function encodeDcx(pictures, options) {
    if (!Array.isArray(pictures) || pictures.length < 1 || pictures.length > MAX_PAGES)
        throw new TypeError(`encodeDcx: pictures must be an array of 1 to ${MAX_PAGES} pictures`);
    const sources = pictures.map(picture => pictureOf(picture, 'encodeDcx'));
    options = optionsOf(options, 'encodeDcx');
    const layout = layoutOf(options, 'encodeDcx');
    return withModule(memory => {
        const records = placePictures(memory, sources);
        const sink = memory.record(SINK_BYTES);
        return encoded(memory, sink, memory.wasm.pmjs_dcx_encode(records, sources.length, layout, sink));
    });
}
