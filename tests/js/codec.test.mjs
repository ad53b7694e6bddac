// The npm package as its users get it (installed from the packed tarball by
// js_test.py): its pictures against pixmora-convert's PNG output, every
// layout and a DCX file written and read back, its refusals and errors, and
// the fuzz regressions, none of which may leave the module unable to go on.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { decode, encode, encodeDcx, inspect, PcxError } from 'pixmora';
import { readPng, firstDifference, randomPicture } from './support.mjs';

const plan = JSON.parse(readFileSync(process.env.PIXMORA_JS_PLAN, 'utf8'));

test('decodes every test picture as pixmora-convert does, or refuses it as it does', async () => {
    assert.ok(plan.pictures.length >= 20, 'too few test pictures');
    for (const [i, picture] of plan.pictures.entries()) {
        const file = readFileSync(picture.file);
        // A Buffer, an ArrayBuffer and a plain Uint8Array in turn.
        const bytes = [file, file.buffer.slice(file.byteOffset, file.byteOffset + file.length),
                       new Uint8Array(file)][i % 3];
        const label = `${picture.name} page ${picture.page}`;
        if (picture.decodes) {
            const got = await decode(bytes, { page: picture.page });
            const info = await inspect(bytes, { page: picture.page });
            assert.deepEqual([got.width, got.height, got.data.length], [info.width, info.height,
                             info.width * info.height * 4], label);
            continue;
        }
        if (picture.png === undefined) {
            await assert.rejects(decode(bytes, { page: picture.page }), error => {
                assert.ok(error instanceof PcxError && error instanceof Error, label);
                assert.equal(error.name, 'PcxError');
                assert.equal(error.result, picture.result, `${label}: ${error.message}; ${picture.said}`);
                assert.ok(picture.said.includes(`result ${error.result}: ${error.message}`),
                          `${label}: "${error.message}"; pixmora-convert says "${picture.said}"`);
                return true;
            });
            continue;
        }
        const got = await decode(bytes, { page: picture.page });
        const want = readPng(picture.png);
        assert.deepEqual([got.width, got.height], [want.width, want.height], label);
        assert.ok(got.data instanceof Uint8ClampedArray, label);
        const difference = firstDifference(got, want);
        assert.equal(difference, null, `${label}: ${difference}`);
        const info = await inspect(bytes, { page: picture.page });
        assert.equal(got.pageCount, info.pageCount, label);
        assert.equal(got.page, picture.page, label);
        // The palette, when there is one, holds every colour shown.
        if (got.palette !== null) {
            assert.ok(got.palette.length === got.colours && got.colours <= 256, label);
            const colours = new Set(got.palette.map(([r, g, b]) => (r << 16) | (g << 8) | b));
            for (let p = 0; p < got.data.length; p += 4) {
                const colour = (got.data[p] << 16) | (got.data[p + 1] << 8) | got.data[p + 2];
                assert.ok(colours.has(colour), `${label}: pixel ${p / 4} is not in the palette`);
            }
        } else {
            assert.equal(info.bitsPerPixel * info.planes >= 24, true, `${label}: no palette`);
        }
    }
});

// Each layout with as many colours as it holds reads back the same pixels;
// one colour more is refused before any byte.
const LAYOUTS = [['mono', 2, 1, 1], ['cga4', 4, 2, 1], ['packed16', 16, 4, 1], ['vga256', 256, 8, 1],
                 ['planes4', 4, 1, 2], ['planes8', 8, 1, 3], ['ega16', 16, 1, 4], ['rgb24', 0, 8, 3]];

test('encodes every layout and reads it back', async () => {
    for (const [seed, [layout, colours, bits, planes]] of LAYOUTS.entries()) {
        const picture = randomPicture(seed + 1, 37 + seed, 23 + 2 * seed, colours || 4096);
        const file = await encode(picture, { layout });
        assert.ok(file instanceof Uint8Array, layout);
        const info = await inspect(file);
        assert.deepEqual([info.bitsPerPixel, info.planes, info.verdict], [bits, planes, 0], layout);
        const back = await decode(file);
        assert.equal(firstDifference(back, picture), null, `${layout}: ${firstDifference(back, picture)}`);
        if (colours > 0) {
            const tooMany = randomPicture(seed + 100, 40, 20, colours + 1);
            await assert.rejects(encode(tooMany, { layout }),
                                 error => error instanceof PcxError && error.result === 7, layout);
        }
    }
    // 'auto', the default, takes any picture.
    const picture = randomPicture(99, 50, 30, 100000);
    assert.equal(firstDifference(await decode(await encode(picture)), picture), null);
    assert.equal(firstDifference(await decode(await encode(picture, { layout: 'auto' })), picture), null);
});

test('writes a DCX file of three pages and reads each back', async () => {
    const pages = [randomPicture(7, 31, 17, 2), randomPicture(8, 5, 40, 16), randomPicture(9, 64, 9, 5000)];
    for (const layout of [undefined, 'rgb24']) {
        const file = await encodeDcx(pages, layout && { layout });
        assert.equal((await inspect(file)).pageCount, 3);
        for (const [page, picture] of pages.entries()) {
            const back = await decode(file, { page });
            assert.deepEqual([back.page, back.pageCount], [page, 3]);
            assert.equal(firstDifference(back, picture), null, `page ${page}: ${firstDifference(back, picture)}`);
        }
        await assert.rejects(decode(file, { page: 3 }), error => error instanceof PcxError && error.result === 6);
    }
});

test('rejects arguments of the wrong kind with a TypeError, and refusals with a PcxError', async () => {
    const good = randomPicture(3, 4, 4, 2);
    const wrong = [
        () => decode('not bytes'), () => decode(), () => decode(new Uint8Array(200), { page: -1 }),
        () => decode(new Uint8Array(200), { page: 1.5 }), () => decode(new Uint8Array(200), { allLayouts: 1 }),
        () => decode(new Uint8Array(200), 'page 2'), () => inspect([10, 5, 1, 8]),
        () => encode({ ...good, width: 0 }), () => encode({ ...good, data: good.data.subarray(4) }),
        () => encode({ ...good, data: Array.from(good.data) }), () => encode(good, { layout: 'jpeg' }),
        () => encode(null), () => encodeDcx([]), () => encodeDcx(good), () => encodeDcx(Array(1024).fill(good)),
        () => encodeDcx([good, { width: 1 }]), () => encode(randomPicture(1, 65535, 1, 2)),
    ];
    for (const call of wrong) {
        const promise = call();
        assert.ok(promise instanceof Promise, `${call} throws rather than rejects`);
        await assert.rejects(promise, TypeError, String(call));
    }
    // Too short for a header: invalid, in the library's words.
    await assert.rejects(decode(new Uint8Array(100)), error => {
        assert.ok(error instanceof PcxError);
        assert.deepEqual([error.name, error.result, error.message], ['PcxError', 2, plan.invalidText]);
        return true;
    });
    const info = await inspect(new Uint8Array(100));
    assert.deepEqual([info.size, info.headerPresent, info.verdict], [100, 0, 2]);
    await assert.rejects(inspect(await encode(good), { page: 1 }), error => error.result === 6);
    await assert.rejects(encode(randomPicture(5, 9, 9, 3), { layout: 'mono' }), error => error.result === 7);
});

test('every fuzz regression is refused or decoded, and the next call decodes as before', async () => {
    const files = [];
    const walk = dir => {
        for (const name of readdirSync(dir).sort()) {
            const path = join(dir, name);
            if (statSync(path).isDirectory())
                walk(path);
            else if (name !== 'README.md')
                files.push(path);
        }
    };
    walk(plan.regressions);
    assert.ok(files.length >= 10, 'too few fuzz regressions');
    const reference = readFileSync(plan.pictures.find(p => p.png !== undefined).file);
    const before = await decode(reference);
    for (const path of files) {
        const bytes = readFileSync(path);
        const { pageCount } = await inspect(bytes);
        for (let page = 0; page < Math.min(pageCount, 4) + 1; ++page) {
            try {
                const picture = await decode(bytes, { page });
                assert.equal(picture.data.length, picture.width * picture.height * 4, path);
            } catch (error) {
                assert.ok(error instanceof PcxError, `${path} page ${page}: ${error}`);
            }
        }
        const after = await decode(reference);
        assert.equal(firstDifference(after, before), null, `after ${path}`);
    }
});
