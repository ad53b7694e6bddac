#!/usr/bin/env python3
"""The npm package as its users get it, against the native tools.

Installs the packed tarball (make npm) into a fresh folder with
`npm install --offline` and an empty cache, so that nothing can come from
the network, and there:

- runs a five-line script that imports decode from 'pixmora' and prints a
  picture's size and first pixel, which must be pixmora-convert's;
- runs the package's `node --test` files, against pixmora-convert's PNG
  output of the test pictures (../shared/pcx-samples, the fuzz corpus's
  pictures and DCX pages, the demo's pictures, and samples cut short);
- checks a TypeScript program against the package's types with
  `tsc --noEmit`;
- opens a page in headless Chromium through the browser harness
  (tests/web/web_test.py --package) that imports the installed package
  through an import map and decodes a picture onto a canvas;

and prints the package's size.

usage: js_test.py --tarball dist/pixmora-VERSION.tgz --native build --work build-js/test [--samples DIR]
"""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PACKAGE_FILES = {'package.json', 'README.md', 'LICENSE', 'pixmora.js', 'pixmora.d.ts', 'pixmora.wasm'}


def run(command, cwd, **kwargs):
    print('+ ' + ' '.join(command), flush=True)
    return subprocess.run(command, cwd=cwd, check=True, **kwargs)


def converted(convert, picture, page, out):
    """pixmora-convert's PNG of page `page`, or its refusal: a plan entry."""
    entry = {'name': os.path.basename(picture), 'file': picture, 'page': page}
    command = [convert, picture, out] + (['--page', str(page)] if page > 0 else [])
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode == 0:
        entry['png'] = out
        return entry
    said = re.search(r'result (\d+): ', done.stderr)
    if done.returncode != 1 or not said:
        raise RuntimeError('pixmora-convert failed on %s: %s' % (picture, done.stderr))
    entry.update(result=int(said.group(1)), said=done.stderr.strip())
    # The converter also refuses a picture whose data could not fill the
    # pixels its header claims, so that a small file cannot make it hold a
    # huge picture; the library itself repeats the last scanline, and so
    # decodes it.
    if 'bytes after it can decode to' in entry['said']:
        entry['decodes'] = True
    return entry


def test_pictures(args, work):
    """The pictures and pages to decode, with the converter's view of each."""
    cut = os.path.join(work, 'cut')
    os.makedirs(cut)
    samples = sorted(glob.glob(os.path.join(args.samples, '*.pcx')))
    # The larger samples cut after half and after a fifth of their bytes.
    for sample in sorted(samples, key=os.path.getsize)[-3:]:
        with open(sample, 'rb') as f:
            data = f.read()
        for fraction in (2, 5):
            name = os.path.join(cut, '%s-cut-%d.pcx' % (os.path.basename(sample)[:-4], fraction))
            with open(name, 'wb') as f:
                f.write(data[:len(data) // fraction])
    pictures = (samples + sorted(glob.glob(os.path.join(ROOT, 'fuzz', 'corpus', 'pcx', '*'))) +
                sorted(glob.glob(os.path.join(args.native, 'demo', '*.pcx'))) +
                sorted(glob.glob(os.path.join(cut, '*.pcx'))))
    convert = os.path.join(args.native, 'tools', 'convert', 'pixmora-convert')
    expected = os.path.join(work, 'expected')
    os.makedirs(expected)
    plan = []
    for i, picture in enumerate(pictures):
        for page in range(1024):
            entry = converted(convert, picture, page, os.path.join(expected, '%d-%d.png' % (i, page)))
            plan.append(entry)
            if not picture.lower().endswith('.dcx') or entry.get('result') == 6:
                break
    short = os.path.join(work, 'short.pcx')
    with open(short, 'wb') as f:
        f.write(bytes(100))
    invalid = converted(convert, short, 0, os.path.join(work, 'short.png'))
    text = re.search(r'result 2: ([^()\n]*[^()\n ])', invalid.get('said', ''))
    if not text:
        sys.exit('js_test: pixmora-convert takes 100 zero bytes: %s' % invalid)
    return plan, text.group(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--tarball', required=True)
    parser.add_argument('--native', required=True, help='the native build folder (pixmora-convert)')
    parser.add_argument('--work', required=True, help='a folder to use, emptied first')
    parser.add_argument('--samples', default=os.path.join(ROOT, '..', 'shared', 'pcx-samples'))
    args = parser.parse_args()
    args.native = os.path.abspath(args.native)
    args.samples = os.path.abspath(args.samples)
    tarball = os.path.abspath(args.tarball)
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    with tarfile.open(tarball) as packed:
        names = {name[len('package/'):] for name in packed.getnames()}
    if names != PACKAGE_FILES:
        sys.exit('js_test: the package holds %s, not %s' % (sorted(names), sorted(PACKAGE_FILES)))

    # A fresh folder, an empty cache, and npm told not to reach the network.
    project = os.path.join(work, 'project')
    os.makedirs(project)
    env = dict(os.environ, npm_config_cache=os.path.join(work, 'npm-cache'), npm_config_update_notifier='false')
    run(['npm', 'install', '--offline', '--no-audit', '--no-fund', tarball], project, env=env)
    installed = os.path.join(project, 'node_modules', 'pixmora')
    with open(os.path.join(installed, 'package.json')) as f:
        manifest = json.load(f)
    modules = sorted(name for name in os.listdir(os.path.join(project, 'node_modules')) if not name.startswith('.'))
    if manifest.get('dependencies') or modules != ['pixmora']:
        sys.exit('js_test: the package brings dependencies: %s' % modules)

    plan, invalid_text = test_pictures(args, work)
    for name in ('first-pixel.mjs', 'support.mjs', 'codec.test.mjs', 'memory.test.mjs', 'example.mts',
                 'tsconfig.json'):
        shutil.copy(os.path.join(HERE, name), project)

    # The five-line script, on the first sample the converter decodes.
    first = next(entry for entry in plan if 'png' in entry and entry['page'] == 0)
    printed = run(['node', 'first-pixel.mjs', first['file']], project, capture_output=True, text=True).stdout
    width, height, pixel = png_first_pixel(first['png'])
    want = '%d x %d, first pixel %d %d %d 255' % (width, height, *pixel)
    print(printed.strip())
    if printed.strip() != want:
        sys.exit('js_test: the five-line script printed "%s", not "%s"' % (printed.strip(), want))

    with open(os.path.join(work, 'plan.json'), 'w') as f:
        json.dump({'pictures': plan, 'regressions': os.path.join(ROOT, 'fuzz', 'regressions'),
                   'invalidText': invalid_text}, f)
    # Each of the three runs whatever the others gave.
    steps = [
        (['node', '--test', 'codec.test.mjs', 'memory.test.mjs'], project,
         dict(os.environ, PIXMORA_JS_PLAN=os.path.join(work, 'plan.json'))),
        (['tsc', '--noEmit', '-p', 'tsconfig.json'], project, None),
        ([sys.executable, os.path.join(ROOT, 'tests', 'web', 'web_test.py'), '--package', installed,
          '--native', args.native, '--samples', args.samples], ROOT, None),
    ]
    failed = []
    for command, cwd, step_env in steps:
        print('+ ' + ' '.join(command), flush=True)
        if subprocess.run(command, cwd=cwd, env=step_env).returncode != 0:
            failed.append(' '.join(command[:2]) if command[0] != sys.executable else 'web_test.py --package')

    unpacked = sum(os.path.getsize(os.path.join(installed, name)) for name in PACKAGE_FILES)
    print('pixmora package: %d bytes gzipped (%s), %d bytes unpacked, of which pixmora.wasm %d'
          % (os.path.getsize(tarball), os.path.basename(tarball), unpacked,
             os.path.getsize(os.path.join(installed, 'pixmora.wasm'))))
    if failed:
        print('js_test: failed: ' + ', '.join(failed))
        return 1
    print('js_test: the package passes')
    return 0


def png_first_pixel(path):
    """Width, height and the first pixel's RGB of an 8-bit RGB PNG."""
    import struct
    import zlib
    with open(path, 'rb') as f:
        data = f.read()
    width, height = struct.unpack('>II', data[16:24])
    idat, offset = b'', 8
    while offset < len(data):
        length, kind = struct.unpack('>I4s', data[offset:offset + 8])
        if kind == b'IDAT':
            idat += data[offset + 8:offset + 8 + length]
        offset += 12 + length
    # Every filter predicts the top-left pixel from zeroes: its bytes are
    # stored as they are.
    row = zlib.decompress(idat)
    return width, height, tuple(row[1:4])


if __name__ == '__main__':
    sys.exit(main())
