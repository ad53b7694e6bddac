// Drives the real pages in a frame, as a person would: chooses and drops
// files into the viewer, switches its depth and a DCX file's page, saves,
// and opens the demo at fixed sizes and frame counts; or opens the npm
// package's own page (package.html). What the pages show is
// sent back to the test server (web_test.py), which compares it with the
// native tools' output.
'use strict';

const frame = document.getElementById('page');

function until(test, what, seconds = 60, every = 20) {
    return new Promise((resolve, reject) => {
        const started = performance.now();
        const poll = () => {
            let value = false;
            try {
                value = test();
            } catch (error) {
                // the frame's document may not be there yet
            }
            if (value)
                resolve(value);
            else if (performance.now() - started > seconds * 1000)
                reject(new Error('timed out waiting for ' + what));
            else
                setTimeout(poll, every);
        };
        poll();
    });
}

async function open(url) {
    frame.src = 'about:blank';
    await until(() => frame.contentDocument.URL === 'about:blank', 'a blank frame');
    frame.src = url;
    await until(() => frame.contentDocument.URL.endsWith(url) && frame.contentDocument.readyState === 'complete',
                url);
    return frame.contentWindow;
}

function rgbOf(rgba) {
    const rgb = new Uint8Array(rgba.length / 4 * 3);
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
        rgb[j] = rgba[i];
        rgb[j + 1] = rgba[i + 1];
        rgb[j + 2] = rgba[i + 2];
    }
    return rgb;
}

function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
}

// One decoding: waits until the viewer has counted one more and returns
// what its status says.
async function decoded(page, start) {
    const status = page.document.getElementById('status');
    const before = Number(status.dataset.loads);
    start();
    await until(() => Number(status.dataset.loads) > before, 'a decoding').catch(error => {
        throw new Error(`${error.message}; the page says "${status.textContent}"`);
    });
    const { result, width, height, checksum, message } = status.dataset;
    return { result: Number(result), width: Number(width), height: Number(height), checksum, message,
             text: status.textContent };
}

function choose(page, name, bytes) {
    const files = new page.DataTransfer();
    files.items.add(new page.File([bytes], name));
    const input = page.document.getElementById('file');
    input.files = files.files;
    input.dispatchEvent(new page.Event('change'));
}

function drop(page, name, bytes) {
    const files = new page.DataTransfer();
    files.items.add(new page.File([bytes], name));
    page.document.getElementById('stage').dispatchEvent(
        new page.DragEvent('drop', { dataTransfer: files, bubbles: true, cancelable: true }));
}

function setDepth(page, depth, announce) {
    const select = page.document.getElementById('depth');
    select.value = String(depth);
    if (announce)
        select.dispatchEvent(new page.Event('change'));
}

// Clicks a save button and returns the file the page hands to the browser.
async function saved(page, button) {
    let blob = null;
    const create = page.URL.createObjectURL;
    page.URL.createObjectURL = object => {
        blob = object;
        return create.call(page.URL, object);
    };
    page.document.getElementById(button).click();
    await until(() => blob, 'a saved file');
    page.URL.createObjectURL = create;
    return blob;
}

async function pngChecksum(page, blob) {
    const bitmap = await createImageBitmap(blob);
    const canvas = document.createElement('canvas');
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
    const context = canvas.getContext('2d');
    context.drawImage(bitmap, 0, 0);
    const rgb = rgbOf(context.getImageData(0, 0, bitmap.width, bitmap.height).data);
    const digest = await crypto.subtle.digest('SHA-256', rgb);
    return Array.from(new Uint8Array(digest), b => b.toString(16).padStart(2, '0')).join('');
}

async function viewerCases(plan, report) {
    const page = await open('/viewer.html');
    for (const file of plan.files) {
        const bytes = await (await fetch(file.url)).arrayBuffer();
        // Every picture at 32 bits chosen through the file input, then at 8
        // bits through the selector; refused files are dropped on the page.
        setDepth(page, 32, false);
        const add = (depth, how, seen) => report.viewer.push({ name: file.name, depth, how, ...seen });
        if (file.drop) {
            add(32, 'drop', await decoded(page, () => drop(page, file.name, bytes)));
        } else {
            add(32, 'choose', await decoded(page, () => choose(page, file.name, bytes)));
        }
        add(8, 'depth', await decoded(page, () => setDepth(page, 8, true)));
        // Depth 0: the picture's own colours, through the package.
        add(0, 'depth', await decoded(page, () => setDepth(page, 'own', true)));
    }

    // Saving: the first sample at 32 bits, as PNG and as PCX; the PCX is then
    // opened again.
    const first = plan.files[0];
    const bytes = await (await fetch(first.url)).arrayBuffer();
    setDepth(page, 32, false);
    const shown = await decoded(page, () => choose(page, first.name, bytes));
    const png = await saved(page, 'save-png');
    const pcx = await saved(page, 'save-pcx');
    const reopened = await decoded(page, () => choose(page, 'saved.pcx', pcx));
    report.saving = { name: first.name, shown: shown.checksum, pngType: png.type,
                      png: await pngChecksum(page, png), pcxType: pcx.type, pcx: reopened.checksum };
    // In its own colours the package saves the picture.
    setDepth(page, 'own', false);
    const own = await decoded(page, () => choose(page, first.name, bytes));
    const ownPcx = await saved(page, 'save-pcx');
    const ownReopened = await decoded(page, () => choose(page, 'saved.pcx', ownPcx));
    report.savingOwn = { shown: own.checksum, pcx: ownReopened.checksum, pcxType: ownPcx.type };
}

// A DCX file in the viewer: opened at page 1 by its query, then the last
// page chosen in the page selector. For each, the page count the page
// shows and the canvas's pixels go to the server.
async function dcxCases(plan, report) {
    const page = await open(`/viewer.html?open=${plan.dcx}&page=1`);
    const status = page.document.getElementById('status');
    await until(() => Number(status.dataset.loads) >= 1, 'the DCX file opened by the query');
    const seen = async how => {
        const select = page.document.getElementById('page');
        const canvas = page.document.getElementById('picture');
        const rgba = canvas.width > 0 ? canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data
                                      : new Uint8Array(0);
        return { how, page: Number(status.dataset.page), pages: Number(status.dataset.pages),
                 result: Number(status.dataset.result), selected: Number(select.value),
                 options: select.options.length, hidden: page.document.getElementById('pages').hidden,
                 count: page.document.getElementById('page-count').textContent,
                 width: canvas.width, height: canvas.height, rgb: base64(rgbOf(rgba)) };
    };
    report.dcx = [await seen('query')];
    const select = page.document.getElementById('page');
    await decoded(page, () => {
        select.value = String(select.options.length - 1);
        select.dispatchEvent(new page.Event('change'));
    });
    report.dcx.push(await seen('selector'));
}

// A fresh viewer whose query holds a zoom no radio button has (a quote, once
// built into a selector) is given an empty file, dropped, and then through
// the file input a picture large enough to grow the program's memory.
async function freshViewerCase(plan, report) {
    const page = await open('/viewer.html?zoom=%22');
    const [empty, growing] = plan.fresh;
    const files = [];
    const emptyBytes = await (await fetch(empty.url)).arrayBuffer();
    files.push({ name: empty.name, ...await decoded(page, () => drop(page, empty.name, emptyBytes)) });
    const growingBytes = await (await fetch(growing.url)).arrayBuffer();
    files.push({ name: growing.name, ...await decoded(page, () => choose(page, growing.name, growingBytes)) });
    report.fresh = { files, zoom: page.document.querySelector('input[name=zoom]:checked').value };
}

// The demo on the GPU loses its WebGL context (WEBGL_lose_context), draws on
// the software path while it is gone, and returns to the GPU once it is
// restored. A frame of each stage goes to the server with the path it was
// drawn on.
async function lostContextCase(plan, report) {
    const page = await open(`/index.html?size=${plan.lossSize}`);
    const screen = () => page.document.getElementById('screen');
    const frames = () => Number(screen().dataset.frames);
    const path = () => screen().dataset.path;
    const framesOn = async (wanted, what) => {
        await until(() => path() === wanted, what);
        const from = frames();
        await until(() => path() === wanted && frames() > from + 2, 'frames ' + what);
    };
    const shown = async how => {
        let rgba;
        if (path() === 'webgl2') {
            page.Module.lastFrame = null;
            page.Module.readNextFrame = true;
            rgba = (await until(() => page.Module.lastFrame, 'a frame read back from the GPU')).rgba;
        } else {
            rgba = screen().getContext('2d').getImageData(0, 0, screen().width, screen().height).data;
        }
        return { how, path: path(), width: screen().width, height: screen().height, rgb: base64(rgbOf(rgba)) };
    };
    report.lost = [];
    await framesOn('webgl2', 'on the GPU');
    report.lost.push(await shown('before'));
    const lose = screen().getContext('webgl2').getExtension('WEBGL_lose_context');
    lose.loseContext();
    await framesOn('canvas2d', 'on the software path once the context was lost');
    report.lost.push(await shown('during'));
    lose.restoreContext();
    await framesOn('webgl2', 'on the GPU once the context was restored');
    report.lost.push(await shown('after'));
    await open('about:blank');
}

// What the demo's canvas shows at its end, RGBA top row first: read back
// from the GPU by the page itself (before the frame left the drawing
// buffer), or from the canvas's ImageData.
function endPixels(page, canvas) {
    if (canvas.dataset.path === 'webgl2')
        return page.Module.lastFrame.rgba;
    return canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
}

// Runs the demo page with `query` to its end; with `marks`, tells the
// server when the frames from the tenth on begin and end, so that it can
// read the browser's processor time around them.
async function runDemo(query, frames, marks = null) {
    const page = await open(`/index.html?${query}`);
    const started = performance.now();
    const canvas = () => page.document.getElementById('screen');
    const ended = () => page.document.body.classList.contains('ended');
    let marked = null;
    if (marks) {
        await until(() => ended() || Number(canvas().dataset.frames) >= 10, 'the tenth frame', 60 + frames);
        marked = { from: Number(canvas().dataset.frames), begin: await mark(`${marks} begins`) };
    }
    // Measured frames share the page's main thread with this polling: it
    // looks seldom then.
    // (On the processor, WebGL2 may draw a few frames a second only.)
    await until(ended, `the demo to end after ${frames} frames`, 60 + frames, marks ? 250 : 20);
    if (marked)
        marked = { ...marked, end: await mark(`${marks} ends`), to: Number(canvas().dataset.frames) };
    return { page, canvas: canvas(), seconds: (performance.now() - started) / 1000, marked };
}

async function mark(label) {
    return await (await fetch('/mark', { method: 'POST', body: JSON.stringify({ label }) })).json();
}

async function demoCases(plan, report, size = plan.demoSize, query = '') {
    for (const frames of plan.demoFrames) {
        const label = plan.measure ? `${size}${query}` : null;
        const { page, canvas, seconds, marked } = await runDemo(`frames=${frames}&size=${size}${query}`, frames,
                                                                label);
        const box = canvas.getBoundingClientRect();
        report.demo.push({ frames, exitCode: Number(page.document.body.dataset.exitCode),
                           shown: Number(canvas.dataset.frames), width: canvas.width, height: canvas.height,
                           path: canvas.dataset.path, box: [box.left, box.top, box.width, box.height],
                           rgb: plan.measure ? '' : base64(rgbOf(endPixels(page, canvas))),
                           frameMeanMs: Number(canvas.dataset.frameMeanMs),
                           frameWorstMs: Number(canvas.dataset.frameWorstMs),
                           putMeanMs: Number(canvas.dataset.putMeanMs), seconds, marked });
    }
}

async function sha256(bytes) {
    const digest = await crypto.subtle.digest('SHA-256', bytes);
    return Array.from(new Uint8Array(digest), b => b.toString(16).padStart(2, '0')).join('');
}

// Every size of the table at every depth, a few frames into the demo, on
// both paths: the software display's surface through ImageData, and the
// page's own choice (the GPU where WebGL2 is offered). The two pictures are
// compared here byte for byte; the software one's checksum goes to the
// server, which compares it with demo-snapshot's at 8 bits.
async function sizeTable(plan, report) {
    report.sizes = [];
    for (const depth of plan.tableDepths) {
        for (const size of plan.tableSizes) {
            const query = `frames=${plan.tableFrames}&size=${size}&depth=${depth}`;
            const soft = await runDemo(query + '&gpu=0', plan.tableFrames);
            const reference = new Uint8Array(endPixels(soft.page, soft.canvas));
            const softPath = soft.canvas.dataset.path;
            const chosen = await runDemo(query, plan.tableFrames);
            const shown = new Uint8Array(endPixels(chosen.page, chosen.canvas));
            let difference = null;
            if (shown.length !== reference.length) {
                difference = `${shown.length} bytes, the software display's ${reference.length}`;
            } else {
                for (let i = 0; i < shown.length; ++i) {
                    if (shown[i] !== reference[i]) {
                        const pixel = i >> 2, width = soft.canvas.width;
                        difference = `first at (${pixel % width}, ${Math.floor(pixel / width)}), byte ${i & 3}: ` +
                                     `${shown[i]}, the software display's ${reference[i]}`;
                        break;
                    }
                }
            }
            report.sizes.push({ size, depth, softPath, path: chosen.canvas.dataset.path, difference,
                                exitCodes: [soft.page.document.body.dataset.exitCode,
                                            chosen.page.document.body.dataset.exitCode].map(Number),
                                rgb: await sha256(rgbOf(reference)) });
        }
    }
}

// The viewer's load of one picture at 32 bits, timed by the page around
// pm_load_pcx alone, `times` times over.
async function viewerLoadTimes(plan, report) {
    const page = await open('/viewer.html');
    const bytes = new Uint8Array(await (await fetch(plan.loadPicture)).arrayBuffer());
    await until(() => page.Module && page.Module._viewer_open, 'the viewer to start');
    const module = page.Module;
    report.loads = [];
    for (let i = 0; i < plan.loadTimes; ++i) {
        const input = module._viewer_input(bytes.length); // may grow memory: HEAPU8 after
        module.HEAPU8.set(bytes, input);
        const result = module._viewer_open(32);
        if (result !== 0)
            throw new Error(`the viewer refused ${plan.loadPicture}: ${result}`);
        report.loads.push(module._viewer_load_ms());
    }
}

// The demo without a query follows its canvas, which fills the page: the
// frame is resized while it runs.
async function followingCase(report) {
    frame.style.width = '480px';
    frame.style.height = '300px';
    const page = await open('/index.html');
    const canvas = page.document.getElementById('screen');
    const shows = (width, height) => canvas.width === width && canvas.height === height &&
                                     Number(canvas.dataset.frames) > 0;
    await until(() => shows(480, 300), 'the demo at 480 x 300');
    frame.style.width = '560px';
    frame.style.height = '320px';
    await until(() => shows(560, 320), 'the demo to follow the page to 560 x 320');
    const before = Number(canvas.dataset.frames);
    await until(() => Number(canvas.dataset.frames) > before + 2, 'frames after the resize');
    // The GPU's drawing is gone once the page shows it: the page keeps its
    // next frame when asked.
    let pixels;
    if (canvas.dataset.path === 'webgl2') {
        page.Module.lastFrame = null;
        page.Module.readNextFrame = true;
        pixels = (await until(() => page.Module.lastFrame, 'a frame read back from the GPU')).rgba;
    } else {
        pixels = canvas.getContext('2d').getImageData(0, 0, 560, 320).data;
    }
    report.following = { width: canvas.width, height: canvas.height, path: canvas.dataset.path,
                         rgb: base64(rgbOf(pixels)) };
    await open('about:blank');
    frame.style.width = '1024px';
    frame.style.height = '640px';
}

// The npm package in a page of its own, which imports it by name through an
// import map and decodes a picture onto its canvas.
async function packageCase(plan, report) {
    const page = await open(`/test/package.html?picture=${plan.package.picture}`);
    const body = page.document.body;
    await until(() => body.dataset.done, 'the package page to decode');
    const canvas = page.document.getElementById('picture');
    const rgba = canvas.width > 0 ? canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data
                                  : new Uint8Array(0);
    report.package = { width: canvas.width, height: canvas.height, rgb: base64(rgbOf(rgba)),
                       error: body.dataset.error || '', sameAsDecoded: body.dataset.sameAsDecoded === 'true' };
}

async function send(report) {
    await fetch('/report', { method: 'POST', body: JSON.stringify(report) });
}

(async () => {
    const report = { viewer: [], demo: [], isolated: self.crossOriginIsolated };
    try {
        const plan = await (await fetch('/plan.json')).json();
        if (plan.package) {
            await packageCase(plan, report);
        } else if (plan.measure) {
            for (const query of plan.demoFrames[0] > 0 ? ['', '&gpu=0'] : [])
                for (const size of plan.demoSizes)
                    await demoCases(plan, report, size, query);
            await viewerLoadTimes(plan, report);
        } else {
            await viewerCases(plan, report);
            await freshViewerCase(plan, report);
            await dcxCases(plan, report);
            await lostContextCase(plan, report);
            await demoCases(plan, report);
            await followingCase(report);
            await sizeTable(plan, report);
        }
    } catch (error) {
        report.error = String(error && error.stack || error);
    }
    await send(report);
})();
