#!/usr/bin/env python3
"""The browser pages in headless Chromium, against the native tools.

Serves the built pages (make web) on 127.0.0.1 with the harness page beside
them, opens the harness in headless Chromium and checks what it reports:

- the viewer decodes every sample in ../shared/pcx-samples exactly as
  pixmora-convert does, at 32 and at 8 bits and in the picture's own
  colours (through the npm package; the converter without --depth), by
  SHA-256 of the RGB pixels, or refuses it with the converter's result and
  text;
- a truncated, a malformed and two oversized files are refused with the
  right result in words;
- in a fresh viewer whose query's zoom matches no button, an empty file is
  refused as the converter refuses it, and then a picture large enough to
  grow the viewer's memory shows on its first load;
- saving as PNG and as PCX gives the shown picture back, in a buffer and in
  the picture's own colours;
- a DCX file made of three samples shows its page count, and the page asked
  in the query and then the one chosen in the page selector show exactly
  the pixels of `pixmora-convert --page N`;
- the demo page at ?frames=N&size=640x400, drawn on the GPU, equals
  `demo-snapshot --frames N --size 640x400` pixel for pixel, shows only the
  canvas, unscaled, at the top-left corner, and ends with code 0;
- without a query the demo follows its page's size, and shows there one of
  the frames demo-snapshot makes for that size;
- the demo on the GPU whose WebGL context is lost draws on the software
  path, and back on the GPU once the context is restored, each frame one of
  demo-snapshot's;
- at every size of TABLE_SIZES (odd ones, 1 x 1, longer than 4096 one way)
  and buffers of 8, 16, 24 and 32 bits, the page's own path (the stretch on
  the GPU, where WebGL2 is offered) shows the software display's picture
  byte for byte, and at 8 bits that picture is demo-snapshot's.

With --package DIR only the npm package installed in DIR is tried: a page
imports it through an import map, as a browser would, decodes a sample onto
a canvas, and what the canvas shows must be pixmora-convert's picture.

Chromium draws WebGL2 here with SwiftShader, on the processor.

usage: web_test.py --site build-web --native build [--samples DIR] [--demo-shot OUT.png]
       web_test.py --package node_modules/pixmora --native build [--samples DIR]
       web_test.py --site build-web --native build --measure FRAMES [--load-picture PCX]

--demo-shot writes what the demo page shows after 40 frames (the README's
screenshot). --measure checks nothing: it runs the demo page for FRAMES frames
at 640 x 400 and 1920 x 1080, on the GPU and on the canvas's ImageData, and
prints per frame the time the frame took on the page's main thread, the
processor time of that thread (the renderers' main threads: the frame, the
page's refresh and the program's waiting), and the processor time of all of
Chromium's processes together, read from /proc from the tenth frame to the
last; then the viewer's loads of a picture (--load-picture). --measure 0
times the viewer's loads only.
"""
import argparse
import base64
import hashlib
import http.server
import json
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DEMO_FRAMES = [1, 40, 161]  # the first frame, one with the first logo large, one past a whole cycle
DEMO_SIZE = (640, 400)
# --measure: the demo page timed at these client sizes, and the viewer's load
# of the demo's sky this many times.
MEASURE_SIZES = ['640x400', '1920x1080']
LOAD_TIMES = 200
# The sizes at which both paths are compared, at each depth, after a few frames.
TABLE_SIZES = ['1x1', '2x1', '1x2', '3x5', '7x3', '17x11', '160x100', '319x199', '320x200', '321x201', '333x777',
               '640x400', '641x401', '799x599', '1023x767', '1366x768', '1920x1080', '2561x3', '4097x5', '5x4099',
               '6000x2', '8192x1', '1x8192']
TABLE_DEPTHS = [8, 16, 24, 32]
# The demo's size while its WebGL context is lost and restored.
LOSS_SIZE = (320, 200)
TABLE_FRAMES = 3
CHROMIUM = ['chromium', '--headless=new', '--no-sandbox', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--no-first-run',
            # WebGL2 on the processor: SwiftShader, which Chromium asks to be chosen by name.
            '--use-angle=swiftshader', '--enable-unsafe-swiftshader']


def read_ppm(path):
    """(width, height, RGB bytes) of a binary PPM with maxval 255."""
    with open(path, 'rb') as f:
        data = f.read()
    fields = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
    if not fields:
        raise ValueError(path + ' is not a binary PPM')
    width, height = int(fields.group(1)), int(fields.group(2))
    return width, height, data[fields.end():fields.end() + width * height * 3]


def write_png(path, width, height, rgb):
    rows = b''.join(b'\0' + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))


def convert(tools, picture, depth, work):
    """What pixmora-convert makes of picture (at a buffer depth, or None for
    the picture's own colours): ('pixels', sha256) or ('refused', result, what it said)."""
    out = os.path.join(work, 'converted.ppm')
    run = subprocess.run([tools['convert'], picture, out] + (['--depth', str(depth)] if depth else []),
                         capture_output=True, text=True)
    if run.returncode == 0:
        return ('pixels', hashlib.sha256(read_ppm(out)[2]).hexdigest())
    said = re.search(r'result (\d+): ', run.stderr)
    if run.returncode != 1 or not said:
        raise RuntimeError('pixmora-convert failed on %s: %s' % (picture, run.stderr))
    return ('refused', int(said.group(1)), run.stderr.strip())


def header(width, height, bits, planes, bytes_per_line, version=5):
    data = bytearray(128)
    data[0:4] = bytes([0x0A, version, 1, bits])
    struct.pack_into('<4H', data, 4, 0, 0, width - 1, height - 1)
    data[65] = planes
    struct.pack_into('<H', data, 66, bytes_per_line)
    return bytes(data)


def hostile_files(samples, work):
    """Files named after their defect, made from a real sample."""
    first = sorted(f for f in os.listdir(samples) if f.lower().endswith('.pcx'))[0]
    with open(os.path.join(samples, first), 'rb') as f:
        good = f.read()
    files = {
        'truncated-header.pcx': good[:100],
        'first-byte-not-0x0A.pcx': b'\x0B' + good[1:],
        'bytes-per-line-0.pcx': good[:66] + b'\0\0' + good[68:],
        'window-65535-square.pcx': header(65535, 65535, 8, 1, 65535) + b'\xC1\x05' * 64,
        'window-8192-square.pcx': header(8192, 8192, 8, 1, 8192) + b'\xC1\x05' * 64,
    }
    for name, data in files.items():
        with open(os.path.join(work, name), 'wb') as f:
            f.write(data)
    return sorted(files)


def fresh_viewer_files(work):
    """An empty file, and a 4096 x 4096 picture of 256 colours in 16 MiB of
    data (every byte a literal), larger than the viewer's memory at start."""
    literal = bytes(i % 0xC0 for i in range(256))
    data = random.Random(12).randbytes(4096 * 4096).translate(literal)
    trailer = b'\x0C' + bytes(random.Random(13).randbytes(768))
    files = {'empty.pcx': b'', 'large-4096-square.pcx': header(4096, 4096, 8, 1, 4096) + data + trailer}
    for name, content in files.items():
        with open(os.path.join(work, name), 'wb') as f:
            f.write(content)
    return [os.path.join(work, name) for name in files]


def dcx_file(samples, expected, work):
    """A DCX file of the first three samples the converter decodes to different
    pictures, one a page, written to work/pages.dcx: after the magic number the
    directory lists the pages' offsets and ends with 0."""
    pages, seen = [], set()
    for (name, depth), want in sorted(expected.items()):
        if depth == 32 and want[0] == 'pixels' and want[1] not in seen and len(pages) < 3:
            seen.add(want[1])
            with open(os.path.join(samples, name), 'rb') as f:
                pages.append(f.read())
    if len(pages) < 3:
        sys.exit('web_test: fewer than three samples the converter decodes to different pictures')
    offset = 4 + 4 * (len(pages) + 1)
    directory = struct.pack('<I', 0x3ADE68B1)
    for page in pages:
        directory += struct.pack('<I', offset)
        offset += len(page)
    path = os.path.join(work, 'pages.dcx')
    with open(path, 'wb') as f:
        f.write(directory + struct.pack('<I', 0) + b''.join(pages))
    return path, len(pages)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def process_tree(root):
    """The processes descending from root (itself included)."""
    children = {}
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                with open('/proc/%s/stat' % entry) as f:
                    fields = f.read().rsplit(')', 1)[1].split()
            except OSError:
                continue
            children.setdefault(int(fields[1]), []).append(int(entry))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def stat_times(path):
    """utime + stime of a /proc stat file, in seconds; 0 when it is gone."""
    try:
        with open(path) as f:
            fields = f.read().rsplit(')', 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def processor_times(root):
    """Processor time of root's whole tree, and of the renderers' main threads."""
    total = main = 0.0
    for pid in process_tree(root):
        total += stat_times('/proc/%d/stat' % pid)
        try:
            with open('/proc/%d/cmdline' % pid, 'rb') as f:
                renderer = b'--type=renderer' in f.read()
        except OSError:
            continue
        if renderer:
            main += stat_times('/proc/%d/task/%d/stat' % (pid, pid))
    return total, main


def make_handler(routes, plan, reports, browser):
    class Handler(http.server.SimpleHTTPRequestHandler):
        extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                          '.wasm': 'application/wasm', '.js': 'text/javascript'}

        def translate_path(self, path):
            path = path.split('?', 1)[0].split('#', 1)[0]
            for prefix, folder in routes:
                if path.startswith(prefix):
                    relative = path[len(prefix):]
                    if '..' in relative.split('/'):
                        return os.path.join(folder, '-')
                    return os.path.join(folder, relative)
            return os.path.join(routes[-1][1], '-')

        def end_headers(self):
            # Isolated, the pages' clock ticks in microseconds rather than in
            # tenths of a millisecond.
            self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
            self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
            super().end_headers()

        def do_GET(self):
            if self.path == '/plan.json':
                body = json.dumps(plan).encode()
                self.send_response(200)
                self.send_header('Content-Type', 'application/json')
                self.send_header('Content-Length', str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            super().do_GET()

        def do_POST(self):
            length = int(self.headers.get('Content-Length', 0))
            body = json.loads(self.rfile.read(length))
            if self.path == '/mark':
                # The browser's processor time now, for a measured run of frames.
                total, main = processor_times(browser['pid']) if browser.get('pid') else (0.0, 0.0)
                answer = json.dumps({'cpu': total, 'mainCpu': main, 'at': time.monotonic()}).encode()
                self.send_response(200)
                self.send_header('Content-Type', 'application/json')
                self.send_header('Content-Length', str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)
                return
            reports.append(body)
            self.send_response(204)
            self.end_headers()

        def log_message(self, *args):
            pass

    return Handler


def run_chromium(url, work, seconds, reports, started):
    profile = os.path.join(work, 'profile')
    command = CHROMIUM + ['--user-data-dir=' + profile, '--window-size=1024,700', url]
    log = open(os.path.join(work, 'chromium.log'), 'wb')
    browser = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    started['pid'] = browser.pid
    try:
        deadline = time.monotonic() + seconds
        while not reports and time.monotonic() < deadline and browser.poll() is None:
            time.sleep(0.1)
    finally:
        # Chromium's helpers share the group it was started in.
        try:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait(timeout=10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            try:
                os.killpg(browser.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        log.close()
    if not reports:
        with open(os.path.join(work, 'chromium.log'), errors='replace') as f:
            sys.stderr.write(f.read()[-3000:])
        raise RuntimeError('headless Chromium sent no report within %d s' % seconds)
    return reports[0]


class Checks:
    def __init__(self):
        self.failures = []
        self.passed = 0

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
            print('FAIL ' + what)


def check_viewer(report, expected, checks):
    seen = {(case['name'], case['depth']): case for case in report['viewer']}
    for key, want in sorted(expected.items()):
        name, depth = key
        got = seen.get(key)
        label = '%s at %d bits' % (name, depth) if depth else '%s in its own colours' % name
        if got is None:
            checks.expect(False, label + ': not decoded by the page')
        elif want[0] == 'pixels':
            checks.expect(got['result'] == 0 and got['checksum'] == want[1],
                          '%s: the page shows result %s, checksum %s; pixmora-convert gives %s'
                          % (label, got['result'], got['checksum'], want[1]))
        elif want[0] == 'refused':
            # The converter names the result in the same words.
            said = 'result %s: %s' % (got['result'], got['message'])
            checks.expect(got['result'] == want[1] and said in want[2] and got['message'] in got['text'],
                          '%s: the page says "%s"; pixmora-convert says "%s"' % (label, said, want[2]))
        else:  # refused by the viewer itself before decoding
            checks.expect(got['result'] == want[1] and want[2] in got['message'],
                          '%s: the page says result %s "%s"; expected %d "...%s..."'
                          % (label, got['result'], got['message'], want[1], want[2]))


def check_saving(report, checks):
    saving = report.get('saving')
    if not saving:
        checks.expect(False, 'saving was not tried')
        return
    checks.expect(saving['pngType'] == 'image/png' and saving['png'] == saving['shown'],
                  'saving %s as PNG does not give the shown pixels back' % saving['name'])
    checks.expect(saving['pcx'] == saving['shown'],
                  'saving %s as PCX and opening it again does not give the shown pixels back' % saving['name'])
    own = report.get('savingOwn') or {}
    checks.expect(own.get('pcx') == own.get('shown') and own.get('pcxType') == 'image/x-pcx' and own.get('shown'),
                  'saving %s in its own colours as PCX and opening it again does not give the shown pixels back'
                  % saving['name'])


def check_fresh_viewer(report, want, checks):
    fresh = report.get('fresh')
    if not fresh or len(fresh['files']) != 2:
        checks.expect(False, 'the files for a fresh viewer were not tried')
        return
    empty, growing = fresh['files']
    said = 'result %s: %s' % (empty['result'], empty['message'])
    checks.expect(want[0][0] == 'refused' and empty['result'] == want[0][1] and said in want[0][2],
                  'an empty file first: the page says "%s"; pixmora-convert says %s' % (empty['text'], want[0]))
    checks.expect(want[1][0] == 'pixels' and growing['result'] == 0 and growing['checksum'] == want[1][1],
                  '%s, the first picture: the page shows result %s, checksum %s ("%s"); pixmora-convert gives %s'
                  % (growing['name'], growing['result'], growing['checksum'], growing['text'], want[1]))
    checks.expect(fresh['zoom'] == '1', 'a zoom of a quote in the query left zoom %s chosen, not 1' % fresh['zoom'])


def matches_snapshot(tools, work, width, height, rgb):
    """'' when the picture is one of demo-snapshot's frames at its size, else what demo-snapshot said."""
    shot = os.path.join(work, 'frame.png')
    write_png(shot, width, height, rgb)
    match = subprocess.run([tools['snapshot'], '--size', '%dx%d' % (width, height), '--match', shot,
                            '--tolerance', '0'], capture_output=True, text=True)
    return '' if match.returncode == 0 else (match.stdout + match.stderr).strip() or 'no match'


def check_lost_context(report, tools, work, checks):
    """The demo's frames before its WebGL context was lost, while it was, and
    after it was restored: on the GPU, on the software path, on the GPU, each
    exactly a frame of demo-snapshot."""
    seen = report.get('lost') or []
    checks.expect([(c['how'], c['path']) for c in seen] ==
                  [('before', 'webgl2'), ('during', 'canvas2d'), ('after', 'webgl2')],
                  'the demo through a lost WebGL context went %s' % [(c['how'], c['path']) for c in seen])
    for case in seen:
        label = 'the demo ' + {'before': 'before its WebGL context was lost', 'during': 'while it was lost',
                               'after': 'after it was restored'}[case['how']]
        checks.expect((case['width'], case['height']) == LOSS_SIZE, '%s: %dx%d, not %dx%d' % (
            label, case['width'], case['height'], LOSS_SIZE[0], LOSS_SIZE[1]))
        said = matches_snapshot(tools, work, case['width'], case['height'], base64.b64decode(case['rgb']))
        checks.expect(said == '', '%s shows no frame of demo-snapshot: %s' % (label, said))


def check_dcx(report, tools, dcx, work, checks):
    """The viewer on each page it showed of the DCX file, against
    `pixmora-convert --page N` of the same file, byte for byte."""
    path, count = dcx
    shown = report.get('dcx')
    checks.expect(bool(shown) and len(shown) == 2, 'the DCX file was not shown at two pages: %s' % shown)
    for case in shown or []:
        label = 'DCX page %s (%s)' % (case['page'], case['how'])
        checks.expect(case['pages'] == count and case['options'] == count and not case['hidden'] and
                      case['count'] == 'of %d' % count,
                      '%s: the page shows %s pages, %s in the selector (hidden: %s, "%s"); the file has %d'
                      % (label, case['pages'], case['options'], case['hidden'], case['count'], count))
        out = os.path.join(work, 'page.ppm')
        run = subprocess.run([tools['convert'], '--page', str(case['page']), '--depth', '32', path, out],
                             capture_output=True, text=True)
        if run.returncode != 0:
            checks.expect(False, '%s: pixmora-convert fails: %s' % (label, run.stderr.strip()))
            continue
        width, height, want = read_ppm(out)
        got = base64.b64decode(case['rgb'])
        checks.expect(case['result'] == 0 and case['selected'] == case['page'] and
                      (case['width'], case['height']) == (width, height) and got == want,
                      '%s: the page shows result %s, %sx%s with page %s selected; pixmora-convert gives %dx%d: %s'
                      % (label, case['result'], case['width'], case['height'], case['selected'], width, height,
                         'same pixels' if got == want else first_difference(got, want, width)))
    checks.expect(sorted(c['page'] for c in shown or []) == [1, count - 1],
                  'the DCX file was shown at pages %s, not 1 and %d' % ([c['page'] for c in shown or []], count - 1))


def first_difference(got, want, width):
    for i in range(0, min(len(got), len(want)), 3):
        if got[i:i + 3] != want[i:i + 3]:
            pixel = i // 3
            return 'first at (%d, %d): page #%s, the native tool #%s' % (
                pixel % width, pixel // width, got[i:i + 3].hex(), want[i:i + 3].hex())
    return 'sizes differ: %d and %d bytes' % (len(got), len(want))


def check_demo(report, tools, work, checks):
    width, height = DEMO_SIZE
    for case in report['demo']:
        frames = case['frames']
        out = os.path.join(work, 'snapshot-%d.ppm' % frames)
        subprocess.run([tools['snapshot'], '--frames', str(frames), '--size', '%dx%d' % DEMO_SIZE, '-o', out],
                       check=True)
        want = read_ppm(out)[2]
        got = base64.b64decode(case['rgb'])
        label = 'demo page after %d frames' % frames
        checks.expect(case['exitCode'] == 0 and case['shown'] == frames,
                      '%s: exit code %s after %s frames' % (label, case['exitCode'], case['shown']))
        checks.expect((case['width'], case['height']) == DEMO_SIZE and case['box'] == [0, 0, width, height],
                      '%s: canvas %dx%d shown at %s, not 640x400 unscaled at the top left'
                      % (label, case['width'], case['height'], case['box']))
        checks.expect(got == want, '%s differs from demo-snapshot: %s' % (label, first_difference(got, want, width)))
    checks.expect(sorted(c['frames'] for c in report['demo']) == sorted(DEMO_FRAMES),
                  'the demo ran for %s frames, not %s' % ([c['frames'] for c in report['demo']], DEMO_FRAMES))


def check_following(report, tools, work, checks):
    case = report.get('following')
    if not case:
        checks.expect(False, 'the demo was not tried at the page\'s size')
        return
    shot = os.path.join(work, 'following.png')
    write_png(shot, case['width'], case['height'], base64.b64decode(case['rgb']))
    match = subprocess.run([tools['snapshot'], '--size', '%dx%d' % (case['width'], case['height']),
                            '--match', shot, '--tolerance', '0'], capture_output=True, text=True)
    checks.expect(match.returncode == 0, 'the demo at its page\'s size, %dx%d, shows no frame of demo-snapshot: %s'
                  % (case['width'], case['height'], match.stdout + match.stderr))


def check_sizes(report, tools, work, checks):
    """Both paths alike at every size and depth, and at 8 bits as demo-snapshot."""
    seen = {(case['size'], case['depth']): case for case in report.get('sizes', [])}
    for depth in TABLE_DEPTHS:
        for size in TABLE_SIZES:
            case = seen.get((size, depth))
            label = '%s at %d bits' % (size, depth)
            if case is None:
                checks.expect(False, label + ': not shown')
                continue
            checks.expect(case['exitCodes'] == [0, 0] and case['softPath'] == 'canvas2d',
                          '%s: exit codes %s, software path %s' % (label, case['exitCodes'], case['softPath']))
            checks.expect(case['path'] == 'webgl2',
                          '%s: the page did not stretch on the GPU (%s)' % (label, case['path']))
            checks.expect(case['difference'] is None, '%s: the GPU differs from the software display: %s'
                          % (label, case['difference']))
            if depth == 8:
                out = os.path.join(work, 'table.ppm')
                subprocess.run([tools['snapshot'], '--frames', str(TABLE_FRAMES), '--size', size, '-o', out],
                               check=True)
                want = hashlib.sha256(read_ppm(out)[2]).hexdigest()
                checks.expect(case['rgb'] == want, '%s: the page\'s software display differs from demo-snapshot'
                              % label)


def print_measures(report):
    for case in report['demo']:
        marked = case.get('marked') or {}
        frames = marked.get('to', 0) - marked.get('from', 0)
        per_frame = (lambda key: 1e3 * (marked['end'][key] - marked['begin'][key]) / frames) if frames > 0 else None
        path = 'GPU' if case['path'] == 'webgl2' else 'ImageData'
        print('demo page, %s, %d frames at %dx%d in %.2f s: %.1f frames/s; frame mean %.3f ms (putting it on the '
              'canvas %.3f ms), worst %.3f ms'
              % (path, case['frames'], case['width'], case['height'], case['seconds'],
                 case['frames'] / case['seconds'], case['frameMeanMs'], case['putMeanMs'], case['frameWorstMs']))
        if per_frame:
            print('    per frame over frames %d..%d: main thread %.3f ms of processor time, all of Chromium %.3f ms'
                  % (marked['from'], marked['to'], per_frame('mainCpu'), per_frame('cpu')))


def check_package(report, tools, picture, work, checks):
    """The package's page against pixmora-convert's picture, byte for byte."""
    case = report.get('package')
    if not case:
        checks.expect(False, 'the package page was not tried')
        return
    out = os.path.join(work, 'package.ppm')
    subprocess.run([tools['convert'], picture, out], check=True, capture_output=True)
    width, height, want = read_ppm(out)
    got = base64.b64decode(case['rgb'])
    checks.expect(case['error'] == '' and (case['width'], case['height']) == (width, height) and got == want,
                  'the package page shows %s x %s (%s); pixmora-convert gives %d x %d: %s'
                  % (case['width'], case['height'], case['error'] or 'decoded', width, height,
                     'same pixels' if got == want else first_difference(got, want, width)))
    checks.expect(case['sameAsDecoded'], 'the canvas does not give back the pixels decode gave')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--site', help='the folder make web writes')
    parser.add_argument('--package', help='only the package page, with the npm package installed in this folder')
    parser.add_argument('--native', required=True, help='the native build folder (pixmora-convert, demo-snapshot)')
    parser.add_argument('--samples', default=os.path.join(ROOT, '..', 'shared', 'pcx-samples'))
    parser.add_argument('--timeout', type=int, help='seconds the browser may take (300; 1800 with --measure)')
    parser.add_argument('--demo-shot', help='write the demo page after 40 frames here, as PNG')
    parser.add_argument('--measure', type=int, metavar='FRAMES', help='only time the demo page for FRAMES frames')
    parser.add_argument('--load-picture', metavar='PCX', help='--measure: the picture the viewer loads (by default '
                        'the demo\'s Sky.pcx), for example one that pixmora_bench writes to PIXMORA_BENCH_PCX_DIR')
    args = parser.parse_args()
    if not args.site and not args.package:
        parser.error('--site or --package is needed')
    site = os.path.abspath(args.site or HERE)
    tools = {'convert': os.path.join(args.native, 'tools', 'convert', 'pixmora-convert'),
             'snapshot': os.path.join(args.native, 'tools', 'snapshot', 'demo-snapshot')}
    for name, tool in tools.items():
        if not os.access(tool, os.X_OK) and not (args.package and name == 'snapshot'):
            sys.exit('web_test: %s is not built' % tool)
    samples = os.path.abspath(args.samples)
    load_picture = os.path.abspath(args.load_picture or os.path.join(args.native, 'demo', 'Sky.pcx'))

    work = tempfile.mkdtemp(prefix='pixmora-web-')
    if args.package:
        try:
            return package_page(args, tools, samples, work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    try:
        cases = os.path.join(work, 'cases')
        os.mkdir(cases)
        expected = {}
        files = []
        for name in sorted(f for f in os.listdir(samples) if f.lower().endswith('.pcx')):
            files.append({'name': name, 'url': '/samples/' + name})
            for depth in (32, 8, 0):
                expected[(name, depth)] = convert(tools, os.path.join(samples, name), depth, work)
        for name in hostile_files(samples, cases):
            files.append({'name': name, 'url': '/cases/' + name, 'drop': True})
            for depth in (32, 8, 0):
                if name.startswith('window-8192'):
                    expected[(name, depth)] = ('viewer', -1, 'more than the viewer shows')
                else:
                    expected[(name, depth)] = convert(tools, os.path.join(cases, name), depth, work)
        refused = [k for k, v in expected.items() if v[0] != 'pixels' and not k[0].startswith('window')]
        if not any(k[0] in ('truncated-header.pcx', 'first-byte-not-0x0A.pcx') for k in refused):
            sys.exit('web_test: the converter takes the broken files')
        dcx = dcx_file(samples, expected, cases)
        empty, growing = fresh_viewer_files(cases)
        fresh_want = [convert(tools, empty, 32, work), convert(tools, growing, 32, work)]

        plan = {'files': files, 'demoFrames': DEMO_FRAMES, 'demoSize': '%dx%d' % DEMO_SIZE,
                'dcx': '/cases/' + os.path.basename(dcx[0]), 'tableSizes': TABLE_SIZES, 'tableDepths': TABLE_DEPTHS,
                'tableFrames': TABLE_FRAMES, 'lossSize': '%dx%d' % LOSS_SIZE,
                'fresh': [{'name': os.path.basename(f), 'url': '/cases/' + os.path.basename(f)}
                          for f in (empty, growing)]}
        if args.measure is not None:
            plan.update(measure=True, demoFrames=[args.measure], demoSizes=MEASURE_SIZES,
                        loadPicture='/load/' + os.path.basename(load_picture), loadTimes=LOAD_TIMES)
        reports = []
        routes = [('/test/', HERE), ('/samples/', samples), ('/cases/', cases),
                  ('/load/', os.path.dirname(load_picture)),
                  ('/', site)]
        browser = {}
        server = Server(('127.0.0.1', 0), make_handler(routes, plan, reports, browser))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            url = 'http://127.0.0.1:%d/test/harness.html' % server.server_address[1]
            started = time.monotonic()
            seconds = args.timeout or (1800 if args.measure is not None else 300)
            report = run_chromium(url, work, seconds, reports, browser)
            elapsed = time.monotonic() - started
        finally:
            server.shutdown()
            server.server_close()

        if args.measure is not None:
            print_measures(report)
            if not report.get('isolated'):
                print('(the page was not cross-origin isolated: its clock ticks in 0.1 ms)')
            if report.get('loads'):
                loads = sorted(report['loads'])
                # Isolated, the page's clock ticks in 5 microseconds; the
                # median of many loads says more than any one.
                print('viewer, %s at 32 bits, %d loads: pm_load_pcx mean %.3f ms, fastest %.3f ms, median %.3f ms, '
                      'nine in ten within %.3f ms; the first five %s ms'
                      % (os.path.basename(load_picture), len(loads), sum(loads) / len(loads), loads[0],
                         loads[len(loads) // 2], loads[len(loads) * 9 // 10],
                         ', '.join('%.3f' % t for t in report['loads'][:5])))
            if report.get('error'):
                sys.stderr.write('web_test: ' + report['error'] + '\n')
            return 1 if report.get('error') else 0

        checks = Checks()
        if report.get('error'):
            checks.expect(False, 'the harness page failed: ' + report['error'])
        check_viewer(report, expected, checks)
        check_saving(report, checks)
        check_fresh_viewer(report, fresh_want, checks)
        check_dcx(report, tools, dcx, work, checks)
        check_lost_context(report, tools, work, checks)
        check_demo(report, tools, work, checks)
        check_following(report, tools, work, checks)
        check_sizes(report, tools, work, checks)
        for case in report['demo']:
            if args.demo_shot and case['frames'] == 40:
                write_png(args.demo_shot, case['width'], case['height'], base64.b64decode(case['rgb']))
            print('demo page, %d frames at %dx%d: mean frame %.3f ms, worst %.3f ms' % (
                case['frames'], case['width'], case['height'], case['frameMeanMs'], case['frameWorstMs']))
        print('%d checks passed, %d failed, %.1f s in the browser' % (checks.passed, len(checks.failures), elapsed))
        return 1 if checks.failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def package_page(args, tools, samples, work):
    """The package page alone, on the largest sample the converter decodes."""
    names = sorted((f for f in os.listdir(samples) if f.lower().endswith('.pcx')),
                   key=lambda f: -os.path.getsize(os.path.join(samples, f)))
    name = next(f for f in names if convert(tools, os.path.join(samples, f), None, work)[0] == 'pixels')
    plan = {'package': {'picture': '/samples/' + name}}
    reports = []
    routes = [('/test/', HERE), ('/samples/', samples), ('/pixmora/', os.path.abspath(args.package)), ('/', HERE)]
    server = Server(('127.0.0.1', 0), make_handler(routes, plan, reports, {}))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        url = 'http://127.0.0.1:%d/test/harness.html' % server.server_address[1]
        report = run_chromium(url, work, args.timeout or 120, reports, {})
    finally:
        server.shutdown()
        server.server_close()
    checks = Checks()
    if report.get('error'):
        checks.expect(False, 'the harness page failed: ' + report['error'])
    check_package(report, tools, os.path.join(samples, name), work, checks)
    print('package page, %s: %d checks passed, %d failed' % (name, checks.passed, len(checks.failures)))
    return 1 if checks.failures else 0


if __name__ == '__main__':
    sys.exit(main())
