/* The codec calls of the Pixmora library for Python: bytes in, pixels out.
 *
 * Only the stable ABI of Python 3.9 is used, so one build serves every later
 * Python. That ABI has no buffer protocol, so the pictures come in as bytes
 * (the Python side makes them) and go out as bytearrays that numpy wraps
 * without a copy. Each call returns the library's result beside its output
 * and leaves raising PcxError to the Python side; only a bad argument or
 * running out of memory raises here. The GIL is released while the library
 * decodes and encodes, which touches no state shared between threads. */
#define Py_LIMITED_API 0x03090000
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <pixmora/pixmora.h>

/* Bytes per pixel of a pm_picture format; 0 for an unknown one. */
static int pixel_bytes(int format)
{
    switch (format) {
    case PM_PIXELS_INDEX8: return 1;
    case PM_PIXELS_RGB8: return 3;
    case PM_PIXELS_RGBA8: return 4;
    default: return 0;
    }
}

/* decode(data: bytes, flags, page, format) ->
 *     (result, width, height, colours, pixels: bytearray | None, palette: bytes)
 * Rows are packed, top row first. */
static PyObject *codec_decode(PyObject *self, PyObject *args)
{
    (void)self;
    PyObject *data;
    int flags, page, format;
    if (!PyArg_ParseTuple(args, "O!iii", &PyBytes_Type, &data, &flags, &page, &format))
        return NULL;
    const int bytes_per_pixel = pixel_bytes(format);
    if (bytes_per_pixel == 0)
        return PyErr_Format(PyExc_ValueError, "unknown pixel format %d", format);
    char *bytes;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0)
        return NULL;

    pm_picture *picture = calloc(1, sizeof *picture);
    if (picture == NULL)
        return PyErr_NoMemory();
    picture->format = format;
    int32_t result;
    /* The first call fills only the size; the second, the pixels. The bytes
     * object is immutable and held by the caller, so it may be read without
     * the GIL. */
    Py_BEGIN_ALLOW_THREADS
    result = pm_pcx_decode(bytes, (uint64_t)size, flags, page, picture);
    Py_END_ALLOW_THREADS
    PyObject *pixels = NULL;
    if (result == PM_PCX_OK) {
        const uint64_t row = (uint64_t)picture->width * (uint64_t)bytes_per_pixel;
        if (picture->width <= 0 || picture->height <= 0 || row > (uint64_t)PY_SSIZE_T_MAX / (uint64_t)picture->height) {
            free(picture);
            return PyErr_NoMemory();
        }
        pixels = PyByteArray_FromStringAndSize(NULL, (Py_ssize_t)(row * (uint64_t)picture->height));
        if (pixels == NULL) {
            free(picture);
            return NULL;
        }
        picture->pixels = PyByteArray_AsString(pixels);
        picture->stride = row;
        Py_BEGIN_ALLOW_THREADS
        result = pm_pcx_decode(bytes, (uint64_t)size, flags, page, picture);
        Py_END_ALLOW_THREADS
        if (result != PM_PCX_OK)
            Py_CLEAR(pixels);
    }
    if (result == PM_PCX_NO_MEMORY) {
        free(picture);
        return PyErr_NoMemory();
    }
    if (pixels == NULL) {
        pixels = Py_None;
        Py_INCREF(pixels);
    }
    const int colours = picture->colours > 0 && picture->colours <= 256 ? picture->colours : 0;
    PyObject *answer = Py_BuildValue("(iiiiNy#)", result, picture->width, picture->height, picture->colours, pixels,
                                     (const char *)picture->palette, (Py_ssize_t)(3 * colours));
    free(picture);
    return answer;
}

/* The bytes that an encoder writes, gathered in memory without the GIL. */
typedef struct output {
    char *bytes;
    size_t size, capacity;
    int out_of_memory;
} output;

static int32_t output_write(void *context, const void *bytes, uint32_t size)
{
    output *out = context;
    if (out->capacity - out->size < size) {
        size_t capacity = out->capacity ? out->capacity : 4096;
        while (capacity - out->size < size) {
            if (capacity > SIZE_MAX / 2) {
                out->out_of_memory = 1;
                return 1;
            }
            capacity *= 2;
        }
        char *grown = realloc(out->bytes, capacity);
        if (grown == NULL) {
            out->out_of_memory = 1;
            return 1;
        }
        out->bytes = grown;
        out->capacity = capacity;
    }
    memcpy(out->bytes + out->size, bytes, size);
    out->size += size;
    return 0;
}

/* Fills a picture from (width, height, format, pixels: bytes, palette: bytes);
 * the pixels are packed rows, top row first, and stay owned by the tuple.
 * Returns 0 and raises on a bad picture. */
static int picture_from_tuple(PyObject *item, pm_picture *picture)
{
    int width, height, format;
    PyObject *pixels, *palette;
    if (!PyArg_ParseTuple(item, "iiiO!O!", &width, &height, &format, &PyBytes_Type, &pixels, &PyBytes_Type, &palette))
        return 0;
    const int bytes_per_pixel = pixel_bytes(format);
    if (bytes_per_pixel == 0) {
        PyErr_Format(PyExc_ValueError, "unknown pixel format %d", format);
        return 0;
    }
    char *pixel_data;
    Py_ssize_t pixel_size, palette_size;
    char *palette_bytes;
    if (PyBytes_AsStringAndSize(pixels, &pixel_data, &pixel_size) < 0 ||
        PyBytes_AsStringAndSize(palette, &palette_bytes, &palette_size) < 0)
        return 0;
    if (width <= 0 || height <= 0 ||
        (uint64_t)pixel_size != (uint64_t)width * (uint64_t)height * (uint64_t)bytes_per_pixel) {
        PyErr_SetString(PyExc_ValueError, "the pixels do not fill the picture's width and height");
        return 0;
    }
    if (palette_size % 3 != 0 || palette_size > 768) {
        PyErr_SetString(PyExc_ValueError, "a palette holds at most 256 RGB triples");
        return 0;
    }
    memset(picture, 0, sizeof *picture);
    picture->width = width;
    picture->height = height;
    picture->format = format;
    picture->colours = (int32_t)(palette_size / 3);
    picture->stride = 0;
    picture->pixels = pixel_data;
    memcpy(picture->palette, palette_bytes, (size_t)palette_size);
    return 1;
}

/* encode(pages: list of picture tuples, layout, dcx: bool) -> (result, bytes | None)
 * One page and dcx false: a PCX file; otherwise a DCX file of the pages. */
static PyObject *codec_encode(PyObject *self, PyObject *args)
{
    (void)self;
    PyObject *list;
    int layout, dcx;
    if (!PyArg_ParseTuple(args, "O!ip", &PyList_Type, &list, &layout, &dcx))
        return NULL;
    const Py_ssize_t count = PyList_Size(list);
    if (count < 1 || (!dcx && count != 1) || count > 1023)
        return PyErr_Format(PyExc_ValueError, "a DCX file holds 1 to 1023 pages, not %zd", count);
    pm_picture *pages = calloc((size_t)count, sizeof *pages);
    if (pages == NULL)
        return PyErr_NoMemory();
    for (Py_ssize_t i = 0; i < count; ++i)
        if (!picture_from_tuple(PyList_GetItem(list, i), &pages[i])) {
            free(pages);
            return NULL;
        }
    /* The list's tuples keep their bytes alive while the GIL is released;
     * the caller made the list and hands it to no one else. */
    output out = {NULL, 0, 0, 0};
    int32_t result;
    Py_BEGIN_ALLOW_THREADS
    if (dcx)
        result = pm_dcx_encode(pages, (int32_t)count, layout, output_write, &out);
    else
        result = pm_pcx_encode(pages, layout, output_write, &out);
    Py_END_ALLOW_THREADS
    free(pages);
    if (out.out_of_memory || result == PM_PCX_NO_MEMORY) {
        free(out.bytes);
        return PyErr_NoMemory();
    }
    PyObject *bytes;
    if (result == PM_PCX_OK) {
        bytes = PyBytes_FromStringAndSize(out.bytes, (Py_ssize_t)out.size);
        if (bytes == NULL) {
            free(out.bytes);
            return NULL;
        }
    } else {
        bytes = Py_None;
        Py_INCREF(bytes);
    }
    free(out.bytes);
    return Py_BuildValue("(iN)", result, bytes);
}

/* Adds an integer field to a dictionary; 0 when that fails. */
static int put(PyObject *dict, const char *key, long long value)
{
    PyObject *number = PyLong_FromLongLong(value);
    const int done = number != NULL && PyDict_SetItemString(dict, key, number) == 0;
    Py_XDECREF(number);
    return done;
}

static int put_bytes(PyObject *dict, const char *key, const uint8_t *bytes, Py_ssize_t size)
{
    PyObject *value = PyBytes_FromStringAndSize((const char *)bytes, size);
    const int done = value != NULL && PyDict_SetItemString(dict, key, value) == 0;
    Py_XDECREF(value);
    return done;
}

/* inspect(data: bytes, flags, page, depth) -> (result, dict of pm_pcx_info's fields) */
static PyObject *codec_inspect(PyObject *self, PyObject *args)
{
    (void)self;
    PyObject *data;
    int flags, page, depth;
    if (!PyArg_ParseTuple(args, "O!iii", &PyBytes_Type, &data, &flags, &page, &depth))
        return NULL;
    char *bytes;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0)
        return NULL;
    if ((uint64_t)size > UINT32_MAX)
        return PyErr_Format(PyExc_ValueError, "%zd bytes: inspection reads at most 4 GiB", size);
    pm_pcx_info info;
    memset(&info, 0, sizeof info);
    const int32_t result = pm_pcx_inspect_memory(bytes, (uint32_t)size, flags, page, depth, &info);
    PyObject *dict = PyDict_New();
    if (dict == NULL)
        return NULL;
    const int palette_count = info.palette_count >= 0 && info.palette_count <= 256 ? info.palette_count : 0;
    const int done =
        put(dict, "size", (long long)info.size) && put(dict, "page_count", info.page_count) &&
        put(dict, "page", info.page) && put(dict, "page_offset", (long long)info.page_offset) &&
        put(dict, "header_present", info.header_present) && put(dict, "manufacturer", info.manufacturer) &&
        put(dict, "version", info.version) && put(dict, "encoding", info.encoding) &&
        put(dict, "bits_per_pixel", info.bits_per_pixel) && put(dict, "x_min", info.x_min) &&
        put(dict, "y_min", info.y_min) && put(dict, "x_max", info.x_max) && put(dict, "y_max", info.y_max) &&
        put(dict, "h_dpi", info.h_dpi) && put(dict, "v_dpi", info.v_dpi) && put(dict, "planes", info.planes) &&
        put(dict, "reserved_byte", info.reserved_byte) && put(dict, "bytes_per_line", info.bytes_per_line) &&
        put(dict, "palette_info", info.palette_info) && put(dict, "h_screen_size", info.h_screen_size) &&
        put(dict, "v_screen_size", info.v_screen_size) && put_bytes(dict, "colormap", info.colormap, 48) &&
        put(dict, "width", info.width) && put(dict, "height", info.height) && put(dict, "colours", info.colours) &&
        put(dict, "trailer_present", info.trailer_present) && put(dict, "palette_kind", info.palette_kind) &&
        put(dict, "palette_count", info.palette_count) &&
        put_bytes(dict, "palette", info.palette, 3 * palette_count) && put(dict, "depth", info.depth) &&
        put(dict, "verdict", info.verdict) && put(dict, "reason", info.reason);
    if (!done) {
        Py_DECREF(dict);
        return NULL;
    }
    return Py_BuildValue("(iN)", result, dict);
}

static PyObject *codec_result_text(PyObject *self, PyObject *args)
{
    (void)self;
    int result;
    if (!PyArg_ParseTuple(args, "i", &result))
        return NULL;
    return PyUnicode_FromString(pm_pcx_result_text(result));
}

static PyObject *codec_reason_text(PyObject *self, PyObject *args)
{
    (void)self;
    int reason;
    if (!PyArg_ParseTuple(args, "i", &reason))
        return NULL;
    return PyUnicode_FromString(pm_pcx_reason_text(reason));
}

static PyMethodDef codec_methods[] = {
    {"decode", codec_decode, METH_VARARGS, "decode(data, flags, page, format) -> (result, width, height, colours, pixels, palette)"},
    {"encode", codec_encode, METH_VARARGS, "encode(pages, layout, dcx) -> (result, bytes)"},
    {"inspect", codec_inspect, METH_VARARGS, "inspect(data, flags, page, depth) -> (result, info)"},
    {"result_text", codec_result_text, METH_VARARGS, "the library's text for a result"},
    {"reason_text", codec_reason_text, METH_VARARGS, "the library's text for a refusal reason"},
    {NULL, NULL, 0, NULL},
};

static int codec_exec(PyObject *module)
{
    static const struct {
        const char *name;
        int value;
    } constants[] = {
        {"PIXELS_INDEX8", PM_PIXELS_INDEX8},
        {"PIXELS_RGB8", PM_PIXELS_RGB8},
        {"PIXELS_RGBA8", PM_PIXELS_RGBA8},
        {"ALL_LAYOUTS", pcx_all_layouts},
        {"OK", PM_PCX_OK},
        {"INVALID", PM_PCX_INVALID},
        {"UNSUPPORTED", PM_PCX_UNSUPPORTED},
        {"NO_PAGE", PM_PCX_NO_PAGE},
        {"TOO_MANY_COLOURS", PM_PCX_TOO_MANY_COLOURS},
        {"BAD_ARGUMENT", PM_PCX_BAD_ARGUMENT},
        {"PALETTE_GREY", PM_PCX_PALETTE_GREY},
        {"LAYOUT_AUTO", pcx_layout_auto},
        {"LAYOUT_MONO", pcx_layout_mono},
        {"LAYOUT_CGA4", pcx_layout_cga4},
        {"LAYOUT_PACKED16", pcx_layout_packed16},
        {"LAYOUT_VGA256", pcx_layout_vga256},
        {"LAYOUT_PLANES4", pcx_layout_planes4},
        {"LAYOUT_PLANES8", pcx_layout_planes8},
        {"LAYOUT_EGA16", pcx_layout_ega16},
        {"LAYOUT_RGB24", pcx_layout_rgb24},
    };
    for (size_t i = 0; i < sizeof constants / sizeof constants[0]; ++i)
        if (PyModule_AddIntConstant(module, constants[i].name, constants[i].value) < 0)
            return -1;
    return 0;
}

static PyModuleDef_Slot codec_slots[] = {
    {Py_mod_exec, (void *)codec_exec},
    {0, NULL},
};

static struct PyModuleDef codec_module = {
    PyModuleDef_HEAD_INIT, "pixmora._pixmora", "The Pixmora library's codec calls.", 0, codec_methods, codec_slots,
    NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__pixmora(void)
{
    return PyModuleDef_Init(&codec_module);
}
