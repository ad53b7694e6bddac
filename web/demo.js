// Starts the demo on the canvas. The query ?frames=N&size=WxH closes the
// window after N frames at a client area of W x H pixels, and leaves only the
// canvas on the page, unscaled, at its top-left corner: for tests, and for
// linking to one frame. ?fps=N sets the frame rate (0: one frame per
// refresh of the page) and ?stats writes the frame times to the console at
// the end. ?depth=N makes the demo's buffers N bits deep (8, 16, 24 or 32),
// and ?gpu=0 shows the software display's surface even where WebGL2 could
// stretch the picture on the GPU (web/stretch.js).
'use strict';

var Module = (function () {
    const query = new URLSearchParams(location.search);
    const args = [];
    for (const name of ['frames', 'size', 'fps', 'depth']) {
        if (query.has(name))
            args.push('--' + name, query.get(name));
    }
    if (query.has('frames') || query.has('size'))
        document.documentElement.classList.add('still');
    if (query.has('stats'))
        args.push('--stats');
    return {
        canvas: document.getElementById('screen'),
        noGpu: query.get('gpu') === '0',
        arguments: args,
        print: text => console.log(text),
        printErr: text => console.warn(text),
    };
})();
