// The demo's stretch on the page's GPU (WebGL2). The program records each
// presentation instead of drawing it (a PM_SOFT_RECORDED window) and hands
// the record here: the view buffer as it is, its colours at 8 bits, and the
// software display's own column and row maps. Each frame uploads only the
// buffer (and the 256 colours when they change); the maps go into two small
// integer textures when they change, and every drawn pixel fetches the
// buffer pixel its column and row map name, so the picture is the software
// display's pixel for pixel. Pixels a stretch does not draw are black here
// (the canvas is cleared for every frame), where the software display keeps
// what they held; the demo draws every pixel of its window.
'use strict';

// Returns the stretcher for canvas, or null where WebGL2 is not offered;
// throws when its shaders are refused.
function makeGpuStretch(canvas) {
    const gl = canvas.getContext('webgl2', { alpha: false, antialias: false, depth: false, stencil: false,
                                             premultipliedAlpha: false, preserveDrawingBuffer: false });
    if (!gl)
        return null;

    // Maps longer than this wrap onto further rows of their texture.
    const mapWrap = 2048;
    const vertexShader = `#version 300 es
        // One triangle over the whole canvas; the scissor keeps the drawn pixels.
        void main() {
            gl_Position = vec4(float((gl_VertexID & 1) * 4 - 1), float((gl_VertexID >> 1) * 4 - 1), 0.0, 1.0);
        }`;
    // Pixel layouts as the software display reads them: 8 bits through the
    // colours; 5-6-5 fields widened by repeating their top bits; B, G, R.
    const fragmentShader = bits => `#version 300 es
        precision highp float;
        precision highp int;
        uniform highp usampler2D source;
        uniform highp isampler2D columns;
        uniform highp isampler2D rows;
        uniform highp sampler2D colours;
        uniform ivec2 origin;       // the first drawn pixel, from the top-left corner
        uniform int surfaceHeight;
        out vec4 colour;
        void main() {
            int x = int(gl_FragCoord.x) - origin.x;
            int y = surfaceHeight - 1 - int(gl_FragCoord.y) - origin.y;
            int column = texelFetch(columns, ivec2(x % ${mapWrap}, x / ${mapWrap}), 0).r;
            int row = texelFetch(rows, ivec2(y % ${mapWrap}, y / ${mapWrap}), 0).r;
            uvec4 pixel = texelFetch(source, ivec2(column, row), 0);
            ${bits === 8 ? 'colour = texelFetch(colours, ivec2(int(pixel.r), 0), 0);'
              : bits === 16 ? `uint value = pixel.r;
                uvec3 fields = uvec3(value >> 11, (value >> 5) & 63u, value & 31u);
                uvec3 wide = (fields << uvec3(3, 2, 3)) | (fields >> uvec3(2, 4, 2));
                colour = vec4(vec3(wide), 255.0) / 255.0;`
              : 'colour = vec4(float(pixel.b), float(pixel.g), float(pixel.r), 255.0) / 255.0;'}
        }`;
    // Per bit count: the source texture's format, and the typed view its
    // bytes are read through.
    const formats = {
        8: [gl.R8UI, gl.RED_INTEGER, gl.UNSIGNED_BYTE, 1],
        16: [gl.R16UI, gl.RED_INTEGER, gl.UNSIGNED_SHORT, 2],
        24: [gl.RGB8UI, gl.RGB_INTEGER, gl.UNSIGNED_BYTE, 1],
        32: [gl.RGBA8UI, gl.RGBA_INTEGER, gl.UNSIGNED_BYTE, 1],
    };

    function compile(kind, text) {
        const shader = gl.createShader(kind);
        gl.shaderSource(shader, text);
        gl.compileShader(shader);
        if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS))
            throw new Error('the stretch shader does not compile: ' + gl.getShaderInfoLog(shader));
        return shader;
    }
    function program(bits) {
        const made = gl.createProgram();
        gl.attachShader(made, compile(gl.VERTEX_SHADER, vertexShader));
        gl.attachShader(made, compile(gl.FRAGMENT_SHADER, fragmentShader(bits)));
        gl.linkProgram(made);
        if (!gl.getProgramParameter(made, gl.LINK_STATUS))
            throw new Error('the stretch shader does not link: ' + gl.getProgramInfoLog(made));
        gl.useProgram(made);
        gl.uniform1i(gl.getUniformLocation(made, 'source'), 0);
        gl.uniform1i(gl.getUniformLocation(made, 'columns'), 1);
        gl.uniform1i(gl.getUniformLocation(made, 'rows'), 2);
        gl.uniform1i(gl.getUniformLocation(made, 'colours'), 3);
        return { program: made, origin: gl.getUniformLocation(made, 'origin'),
                 surfaceHeight: gl.getUniformLocation(made, 'surfaceHeight') };
    }
    const programs = {};
    for (const bits of [8, 16, 24, 32])
        programs[bits] = program(bits);

    function texture(unit) {
        const made = gl.createTexture();
        gl.activeTexture(gl.TEXTURE0 + unit);
        gl.bindTexture(gl.TEXTURE_2D, made);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
        return made;
    }
    const textures = { source: texture(0), columns: texture(1), rows: texture(2), colours: texture(3) };
    gl.activeTexture(gl.TEXTURE3);
    gl.texStorage2D(gl.TEXTURE_2D, 1, gl.RGBA8, 256, 1);
    gl.bindVertexArray(gl.createVertexArray());
    gl.enable(gl.SCISSOR_TEST);
    // Bitmap rows are padded to 4 bytes, as unpacking expects by default.
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 4);
    const maxSide = Math.min(gl.getParameter(gl.MAX_TEXTURE_SIZE), ...gl.getParameter(gl.MAX_VIEWPORT_DIMS));

    let sourceShape = '';
    let mapsSerial = -1;
    let shownProgram = null;
    let place = '';
    const colours = new Uint32Array(256); // the colours last uploaded

    // A map of count entries at heap byte offset `at` into its texture.
    function uploadMap(unit, heap, at, count) {
        const lines = Math.ceil(count / mapWrap);
        const entries = new Int32Array(lines * mapWrap);
        entries.set(new Int32Array(heap.buffer, at, count));
        gl.activeTexture(gl.TEXTURE0 + unit);
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.R32I, Math.min(count, mapWrap), lines, 0, gl.RED_INTEGER, gl.INT,
                      entries);
    }

    return {
        // Makes the canvas width x height; false when the GPU cannot draw
        // that size (the page then shows it another way).
        resize(width, height) {
            if (canvas.width !== width || canvas.height !== height) {
                canvas.width = width;
                canvas.height = height;
                gl.viewport(0, 0, width, height);
            }
            return width <= maxSide && height <= maxSide && gl.drawingBufferWidth === width &&
                   gl.drawingBufferHeight === height;
        },

        // Draws one recorded stretch (see pm_soft_stretch) from the program's
        // memory `heap`.
        draw(heap, s) {
            const [internal, format, type, unitBytes] = formats[s.bitCount];
            const shown = programs[s.bitCount];
            if (shown !== shownProgram) {
                gl.useProgram(shown.program);
                shownProgram = shown;
                place = '';
            }
            gl.activeTexture(gl.TEXTURE0);
            const shape = `${s.bitmapWidth}x${s.bitmapHeight}x${s.bitCount}`;
            if (shape !== sourceShape) {
                gl.deleteTexture(textures.source);
                textures.source = texture(0);
                gl.texStorage2D(gl.TEXTURE_2D, 1, internal, s.bitmapWidth, s.bitmapHeight);
                sourceShape = shape;
            }
            const view = unitBytes === 2 ? new Uint16Array(heap.buffer) : heap;
            gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, s.bitmapWidth, s.bitmapHeight, format, type, view,
                             s.bits / unitBytes);
            if (s.bitCount === 8) {
                // Uploaded again only when they changed.
                const now = new Uint32Array(heap.buffer, s.colours, 256);
                let same = true;
                for (let i = 0; i < 256 && same; ++i)
                    same = now[i] === colours[i];
                if (!same) {
                    colours.set(now);
                    gl.activeTexture(gl.TEXTURE3);
                    gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, 256, 1, gl.RGBA, gl.UNSIGNED_BYTE, heap, s.colours);
                }
            }
            if (s.mapsSerial !== mapsSerial) {
                uploadMap(1, heap, s.columns, s.width);
                uploadMap(2, heap, s.rows, s.height);
                mapsSerial = s.mapsSerial;
            }
            const drawn = `${s.x},${s.y},${s.width},${s.height},${canvas.height}`;
            if (drawn !== place) {
                gl.uniform2i(shown.origin, s.x, s.y);
                gl.uniform1i(shown.surfaceHeight, canvas.height);
                gl.scissor(s.x, canvas.height - s.y - s.height, s.width, s.height);
                place = drawn;
            }
            gl.drawArrays(gl.TRIANGLES, 0, 3);
        },

        // True once the browser has taken the context away; nothing drawn
        // shows then.
        lost() {
            return gl.isContextLost();
        },

        // What the canvas shows now: its width, height and RGBA bytes, top
        // row first.
        read() {
            const width = canvas.width, height = canvas.height;
            const bottomUp = new Uint8Array(width * height * 4);
            gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, bottomUp);
            const pixels = new Uint8Array(bottomUp.length);
            for (let y = 0; y < height; ++y)
                pixels.set(bottomUp.subarray((height - 1 - y) * width * 4, (height - y) * width * 4), y * width * 4);
            return { width, height, rgba: pixels };
        },
    };
}
