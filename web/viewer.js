// The PCX viewer's page: decodes a chosen or dropped file in the picture's
// own colours through the pixmora package (pixmora/pixmora.js), or into a
// library buffer of a chosen depth through the viewer program
// (pixmora-viewer.js), shows the decoded picture, its header fields and
// palette, or the library's result in words, and saves the picture as PNG or
// as PCX. Every PCX layout is read, and the pages of a DCX file, one at a
// time through the page selector. The query
// ?open=URL&depth=own|8|16|24|32&zoom=1|2|fit&page=N opens a picture from the
// web at start, for links. After each decoding #status carries data-result,
// data-width, data-height, data-checksum (SHA-256 of the RGB bytes, top row
// first), data-page and data-pages, and a count of decodings, data-loads.
'use strict';

const $ = id => document.getElementById(id);
const picture = $('picture');
const status = $('status');
let shown = { name: '', bytes: null };
let ready = false;
let broken = false;
// The picture shown in its own colours ({ width, height, data }), which the
// package saves as PCX; null when a library buffer holds it.
let ownPicture = null;
// Decodings started: one that ends after a later one has started shows nothing.
let decodings = 0;
// The codec: the pixmora package, the one JavaScript wrapper of the library's
// codec calls.
const codec = import('./pixmora/pixmora.js');
codec.catch(() => {}); // reported when a picture is decoded

var Module = {
    print: text => console.log(text),
    printErr: text => console.warn(text),
    onRuntimeInitialized: () => {
        ready = true;
        if (shown.bytes)
            decode();
    },
    onAbort: () => {
        broken = true;
        report('refused', 'The viewer stopped: the picture needs more memory than the page has. Reload to go on.');
    },
};

function report(kind, text) {
    status.textContent = text;
    status.className = kind;
}

// Anything that goes wrong unforeseen is said on the page, not only in the
// console; a stopped program has said why already (onAbort).
function reportFailure(error) {
    if (!broken)
        report('refused', `The viewer failed: ${error && error.message || error}.`);
}
window.addEventListener('error', event => reportFailure(event.error || event.message));
window.addEventListener('unhandledrejection', event => reportFailure(event.reason));

async function checksum(rgba) {
    const rgb = new Uint8Array(rgba.length / 4 * 3);
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
        rgb[j] = rgba[i];
        rgb[j + 1] = rgba[i + 1];
        rgb[j + 2] = rgba[i + 2];
    }
    const digest = await crypto.subtle.digest('SHA-256', rgb);
    return Array.from(new Uint8Array(digest), b => b.toString(16).padStart(2, '0')).join('');
}

function showFields(header) {
    const table = $('fields');
    const swatches = $('swatches');
    table.replaceChildren();
    swatches.replaceChildren();
    if (header === null)
        return;
    const rows = [
        ['Version', header.version],
        ['Encoding', header.encoding === 1 ? '1 (run-length)' : header.encoding],
        ['Bits per pixel', header.bitsPerPixel],
        ['Planes', header.planes],
        ['Window', `${header.xMin}, ${header.yMin} .. ${header.xMax}, ${header.yMax}` +
                   ` (${header.width} x ${header.height})`],
        ['BytesPerLine', header.bytesPerLine],
        ['Resolution', `${header.dpi[0]} x ${header.dpi[1]} dpi`],
        ['Palette', header.paletteKind],
        ['Pages', header.pageCount > 1 ? `${header.pageCount} (DCX), showing page ${header.page + 1}` : '1'],
    ];
    if (header.manufacturer !== 10)
        rows.unshift(['First byte', header.manufacturer + ' (a PCX file has 10)']);
    for (const [name, value] of rows) {
        const row = table.insertRow();
        const th = document.createElement('th');
        th.textContent = name;
        row.append(th);
        row.insertCell().textContent = value;
    }
    for (const colour of header.palette) {
        const swatch = document.createElement('span');
        swatch.style.background = colour;
        swatch.title = colour;
        swatches.append(swatch);
    }
}

// The page selector of a DCX file: one entry per page, shown only when there
// are several.
function showPages(count, page) {
    const select = $('page');
    if (select.options.length !== count) {
        select.replaceChildren();
        for (let i = 0; i < count; ++i)
            select.add(new Option(String(i + 1), String(i)));
    }
    select.value = String(page);
    $('page-count').textContent = `of ${count}`;
    $('pages').hidden = count < 2;
}

function applyZoom() {
    const zoom = document.querySelector('input[name=zoom]:checked').value;
    const width = picture.width;
    const height = picture.height;
    let scale = Number(zoom);
    if (zoom === 'fit') {
        const stage = $('stage');
        scale = Math.min((stage.clientWidth - 2) / width, (stage.clientHeight - 2) / height);
    }
    picture.style.width = (width * scale) + 'px';
    picture.style.height = (height * scale) + 'px';
}

// The picture in its own colours, decoded by the package; the viewer program
// gives the header fields and refuses pictures larger than the page shows.
async function decodeOwn(page) {
    const described = Module._viewer_describe(page);
    const said = { result: described, message: Module.UTF8ToString(Module._viewer_message()), picture: null };
    if (described !== 0)
        return said;
    const { decode, PcxError } = await codec;
    try {
        return { ...said, picture: await decode(shown.bytes, { page }) };
    } catch (error) {
        if (!(error instanceof PcxError))
            throw error;
        return { result: error.result, message: error.message, picture: null };
    }
}

// The picture in a library buffer of `depth` bits, by the viewer program.
function decodeInBuffer(depth, page) {
    const result = Module._viewer_open(depth, page);
    const width = Module._viewer_width();
    const height = Module._viewer_height();
    const picture = result !== 0 ? null : { width, height, data: new Uint8ClampedArray(
        Module.HEAPU8.buffer, Module._viewer_pixels(), width * height * 4).slice() };
    return { result, message: Module.UTF8ToString(Module._viewer_message()), picture };
}

async function decode() {
    if (!ready || broken || !shown.bytes)
        return;
    const ticket = ++decodings;
    const choice = $('depth').value;
    const depth = Number(choice);
    const page = shown.page || 0;
    let decoded;
    try {
        // Making room may grow the program's memory, which detaches every
        // view of it taken before: HEAPU8 is read after.
        const input = Module._viewer_input(shown.bytes.length);
        Module.HEAPU8.set(shown.bytes, input);
        decoded = choice === 'own' ? await decodeOwn(page) : decodeInBuffer(depth, page);
    } catch (error) {
        // A stopped viewer program has said why (onAbort); anything else,
        // such as a package that could not be loaded, is said here.
        reportFailure(error);
        return;
    }
    if (ticket !== decodings)
        return;
    const { result, message } = decoded;
    const header = JSON.parse(Module.UTF8ToString(Module._viewer_header()));
    showFields(header);
    showPages(header === null ? 1 : header.pageCount, page);
    const width = decoded.picture ? decoded.picture.width : 0;
    const height = decoded.picture ? decoded.picture.height : 0;
    ownPicture = choice === 'own' ? decoded.picture : null;
    let digest = '';
    if (result === 0) {
        const rgba = decoded.picture.data;
        picture.width = width;
        picture.height = height;
        picture.getContext('2d').putImageData(new ImageData(rgba, width, height), 0, 0);
        applyZoom();
        digest = await checksum(rgba);
        const colours = decoded.picture.palette ? `${decoded.picture.palette.length} colours` : '24-bit colour';
        report('', `${shown.name}: ${width} x ${height} pixels, ` +
                   (choice === 'own' ? `in its own colours (${colours}).` : `in a buffer of ${depth} bits.`));
    } else {
        picture.width = 0;
        picture.height = 0;
        const code = result >= 0 ? ` (result ${result})` : '';
        report('refused', `${shown.name} is refused${code}: ${message}.`);
    }
    $('save-png').disabled = result !== 0;
    $('save-pcx').disabled = result !== 0;
    Object.assign(status.dataset, { result, width, height, checksum: digest, message, page,
                                    pages: header === null ? 1 : header.pageCount,
                                    loads: Number(status.dataset.loads) + 1 });
}

function open(file) {
    file.arrayBuffer().then(buffer => {
        shown = { name: file.name, bytes: new Uint8Array(buffer) };
        decode();
    });
}

function download(blob, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

function baseName() {
    return shown.name.replace(/\.pcx$/i, '') || 'picture';
}

function openFromQuery() {
    const query = new URLSearchParams(location.search);
    if (['own', '8', '16', '24', '32'].includes(query.get('depth')))
        $('depth').value = query.get('depth');
    // Compared, never built into a selector: the query is anyone's text.
    for (const radio of document.querySelectorAll('input[name=zoom]'))
        if (radio.value === query.get('zoom'))
            radio.checked = true;
    const url = query.get('open');
    if (!url)
        return;
    const name = decodeURIComponent(url.split(/[?#]/)[0].split('/').pop()) || 'picture.pcx';
    fetch(url)
        .then(response => {
            if (!response.ok)
                throw new Error(`${response.status} ${response.statusText}`);
            return response.arrayBuffer();
        })
        .then(buffer => {
            shown = { name, bytes: new Uint8Array(buffer), page: Math.max(0, Number(query.get('page')) || 0) };
            decode();
        })
        .catch(error => report('refused', `${url} cannot be fetched: ${error.message}.`));
}
openFromQuery();

$('file').addEventListener('change', event => {
    if (event.target.files.length > 0)
        open(event.target.files[0]);
});
$('depth').addEventListener('change', decode);
$('page').addEventListener('change', () => {
    shown.page = Number($('page').value);
    decode();
});
for (const radio of document.querySelectorAll('input[name=zoom]'))
    radio.addEventListener('change', applyZoom);
window.addEventListener('resize', applyZoom);

const stage = $('stage');
document.addEventListener('dragover', event => {
    event.preventDefault();
    stage.classList.add('dropping');
});
document.addEventListener('dragleave', () => stage.classList.remove('dropping'));
document.addEventListener('drop', event => {
    event.preventDefault();
    stage.classList.remove('dropping');
    if (event.dataTransfer.files.length > 0)
        open(event.dataTransfer.files[0]);
});

$('save-png').addEventListener('click', () => picture.toBlob(blob => download(blob, baseName() + '.png'), 'image/png'));
$('save-pcx').addEventListener('click', async () => {
    if (ownPicture) {
        const { encode } = await codec;
        try {
            download(new Blob([await encode(ownPicture)], { type: 'image/x-pcx' }), baseName() + '.pcx');
        } catch (error) {
            report('refused', `The picture cannot be saved as PCX: ${error.message}.`);
        }
        return;
    }
    const result = Module._viewer_save_pcx();
    if (result !== 0) {
        report('refused', 'The picture cannot be saved as PCX: ' +
                          Module.UTF8ToString(Module._viewer_result_text(result)) + '.');
        return;
    }
    // The library wrote the picture into memory; the blob takes a copy.
    const saved = Module.HEAPU8.slice(Module._viewer_saved(), Module._viewer_saved() + Module._viewer_saved_size());
    download(new Blob([saved], { type: 'image/x-pcx' }), baseName() + '.pcx');
});
