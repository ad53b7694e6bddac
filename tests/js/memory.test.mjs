// The package's memory: many decodes in a row leave the module's memory as
// it was after the first, and a picture larger than the module may hold is
// refused with the library's result for running out of memory, after which
// the module decodes as before. The memory is watched through the instance
// the package makes, seen as it is instantiated.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decode, encode, PcxError } from 'pixmora';
import { firstDifference, randomPicture } from './support.mjs';

let memory = null;
const instantiate = WebAssembly.instantiate;
WebAssembly.instantiate = async (...args) => {
    const made = await instantiate.apply(WebAssembly, args);
    memory = (made.instance ?? made).exports.memory;
    return made;
};

const DECODES = 10000;

// A 256-colour PCX header for a width x height picture with no data after it.
function headerOnly(width, height) {
    const header = new Uint8Array(128);
    const view = new DataView(header.buffer);
    header.set([0x0A, 5, 1, 8]);
    view.setUint16(8, width - 1, true);
    view.setUint16(10, height - 1, true);
    header[65] = 1;
    view.setUint16(66, width, true);
    return header;
}

test(`${DECODES} decodes of a 1 MiB picture leave the memory at most one picture larger than the first`, async () => {
    const picture = randomPicture(11, 512, 512, 256);
    const file = await encode(picture, { layout: 'vga256' });
    const first = await decode(file);
    assert.equal(firstDifference(first, picture), null);
    assert.ok(memory !== null, 'the module was not seen');
    const after = memory.buffer.byteLength;
    for (let i = 1; i < DECODES; ++i)
        await decode(file);
    const grown = memory.buffer.byteLength - after;
    assert.ok(grown <= picture.data.length, `the memory grew by ${grown} bytes after the first decode`);
});

test('a picture larger than the memory is refused as out of memory, and the module goes on', async () => {
    const picture = randomPicture(12, 64, 64, 200);
    const file = await encode(picture);
    // 16384 x 16384 RGBA is 1 GiB, more than the module's memory holds beside
    // its input; 65535 x 65535 is more than the library's 2^28 pixels.
    for (const [side, result] of [[16384, 4], [65535, 2]]) {
        await assert.rejects(decode(headerOnly(side, side)), error => {
            assert.ok(error instanceof PcxError, String(error));
            assert.equal(error.result, result, `${side} x ${side}: ${error.message}`);
            return true;
        });
        assert.equal(firstDifference(await decode(file), picture), null, `after ${side} x ${side}`);
    }
});
