// Starts the demo on the canvas. The query ?frames=N&size=WxH closes the
// window after N frames at a client area of W x H pixels, and leaves only the
// canvas on the page, unscaled, at its top-left corner: for tests, and for
// linking to one frame.
'use strict';

var Module = (function () {
    const query = new URLSearchParams(location.search);
    const args = [];
    for (const name of ['frames', 'size']) {
        if (query.has(name))
            args.push('--' + name, query.get(name));
    }
    if (args.length > 0)
        document.documentElement.classList.add('still');
    return {
        canvas: document.getElementById('screen'),
        arguments: args,
        print: text => console.log(text),
        printErr: text => console.warn(text),
    };
})();
