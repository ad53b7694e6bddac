// Starts the demo on the canvas. The query ?frames=N&size=WxH closes the
// window after N frames at a client area of W x H pixels, and leaves only the
// canvas on the page, unscaled, at its top-left corner: for tests, and for
// linking to one frame. ?fps=N sets the frame rate (0: one frame per
// refresh of the page) and ?stats writes the frame times to the console at
// the end.
'use strict';

var Module = (function () {
    const query = new URLSearchParams(location.search);
    const args = [];
    for (const name of ['frames', 'size', 'fps']) {
        if (query.has(name))
            args.push('--' + name, query.get(name));
    }
    if (query.has('frames') || query.has('size'))
        document.documentElement.classList.add('still');
    if (query.has('stats'))
        args.push('--stats');
    return {
        canvas: document.getElementById('screen'),
        arguments: args,
        print: text => console.log(text),
        printErr: text => console.warn(text),
    };
})();
