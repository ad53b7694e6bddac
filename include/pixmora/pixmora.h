/**
 * @file
 * Pixmora: a small 2D raster graphics library.
 *
 * The library is a set of plain functions over one process-wide record,
 * `pm_state`. No operation takes a context argument; calls must not overlap
 * (the library is single-threaded and not reentrant).
 *
 * Coordinates: x counts columns from the left, y counts rows from the top.
 * Buffers store their rows bottom-up, so pixel (x, y) of the active buffer
 * starts at active_bits + (active_max_y - y) * active_stride + x * bytes per
 * pixel. Rectangles are inclusive bounds given as min x, max x, min y, max y.
 *
 * Pixel formats: 8 bits, a palette index; 16 bits, a little-endian 5-6-5 value
 * with red in the top bits; 24 bits, the bytes blue, green, red; 32 bits, the
 * bytes blue, green, red, 0.
 *
 * This header is usable from C (C11) and C++.
 */
#ifndef PIXMORA_H
#define PIXMORA_H

#include <stdint.h>

#include <pixmora/export.h>
#include <pixmora/version.h>

/** Aligns a member to n bytes, as C and C++ each spell it. */
#ifdef __cplusplus
#define PM_ALIGNAS(n) alignas(n)
#else
#define PM_ALIGNAS(n) _Alignas(n)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Platform handles. They are opaque: only the platform layer knows what they
 * point at (on Windows they are the GDI/KERNEL32 handles themselves). */
typedef void *pm_hdc;      /**< device context */
typedef void *pm_hgdiobj;  /**< any graphics object: bitmap, font, palette */
typedef void *pm_hbitmap;  /**< bitmap section */
typedef void *pm_hpalette; /**< palette object */
typedef void *pm_hglobal;  /**< global memory block */
typedef void *pm_hmodule;  /**< loaded library */
typedef void *pm_hfile;    /**< open file; null when none is open */

/** One palette entry as the platform's palette manager takes it. */
typedef struct pm_paletteentry {
    uint8_t peRed;   /**< red, 0 to 255 */
    uint8_t peGreen; /**< green, 0 to 255 */
    uint8_t peBlue;  /**< blue, 0 to 255 */
    uint8_t peFlags; /**< 0x01 (PC_RESERVED) for every entry the library fills */
} pm_paletteentry;

/** A 256-entry logical palette, laid out exactly as the platform expects. */
typedef struct pm_logpalette {
    uint16_t palVersion;    /**< 0x0300 */
    uint16_t palNumEntries; /**< 256 */
    pm_paletteentry palPalEntry[256]; /**< the entries, by palette index */
} pm_logpalette;

/** One colour of a bitmap's colour table, blue first. */
typedef struct pm_rgbquad {
    uint8_t rgbBlue;     /**< blue, 0 to 255 */
    uint8_t rgbGreen;    /**< green, 0 to 255 */
    uint8_t rgbRed;      /**< red, 0 to 255 */
    uint8_t rgbReserved; /**< always 0 */
} pm_rgbquad;

/** The 40-byte bitmap header that starts every buffer's header block. */
typedef struct pm_bitmapinfoheader {
    uint32_t biSize;          /**< bytes of this header: 40, or 108 for the larger header */
    int32_t biWidth;          /**< width in pixels */
    int32_t biHeight;         /**< positive: rows are stored bottom-up */
    uint16_t biPlanes;        /**< 1 */
    uint16_t biBitCount;      /**< bits per pixel: 8, 16, 24 or 32 */
    uint32_t biCompression;   /**< 0 (BI_RGB), or 3 (BI_BITFIELDS), with the colour masks after the header */
    uint32_t biSizeImage;     /**< 0: the pixels are not compressed */
    int32_t biXPelsPerMeter;  /**< 0: no resolution given */
    int32_t biYPelsPerMeter;  /**< 0: no resolution given */
    uint32_t biClrUsed;       /**< 0: a colour table as long as the depth allows */
    uint32_t biClrImportant;  /**< 0: every colour matters */
} pm_bitmapinfoheader;

/** A video-file entry point resolved at start-up (none is ever called). */
typedef struct pm_entry_point {
    void *address;    /**< null when not resolved */
    const char *name; /**< zero-terminated export name */
} pm_entry_point;

enum {
    PM_SLOTS = 256,            /**< buffer slots, and so buffers at most */
    PM_SCRATCH_SIZE = 4100,    /**< bytes of scratch_area and y_step_mask */
    PM_READ_BUFFER_SIZE = 4096 /**< bytes of read_buffer */
};

/** Results of pm_load_pcx, pm_load_pcx_page, pm_save_pcx and the pm_file_replace_ calls. */
enum {
    PM_PCX_OK = 0,          /**< done */
    PM_PCX_OPEN_FAILED = 1, /**< the file cannot be opened (save: created, or it may not be written) */
    PM_PCX_INVALID = 2,     /**< load: not a readable picture; save: no active buffer or a
                                 rectangle not wholly inside it */
    PM_PCX_UNSUPPORTED = 3, /**< no converter for this format and depth */
    PM_PCX_NO_MEMORY = 4,   /**< out of memory */
    PM_PCX_WRITE_FAILED = 5, /**< save: the bytes cannot be written (a write or the callback failed); a file is left as it was */
    PM_PCX_NO_PAGE = 6,     /**< load: the DCX file has no such page */
    PM_PCX_TOO_MANY_COLOURS = 7, /**< save: the picture has more colours than the layout holds */
    PM_PCX_BAD_ARGUMENT = 8     /**< codec calls: a null picture, an unknown format or layout, a stride too
                                     small, a picture of no pixels; nothing was written */
};

/** Why the loader refuses a picture (pm_pcx_info.reason); pm_pcx_reason_text
 * words each one. */
enum {
    PM_PCX_REASON_NONE = 0,           /**< the loader takes the picture */
    PM_PCX_REASON_SHORT = 1,          /**< fewer than 128 bytes: no whole header */
    PM_PCX_REASON_MANUFACTURER = 2,   /**< the first byte is not 0x0A */
    PM_PCX_REASON_WINDOW = 3,         /**< Xmax before Xmin or Ymax before Ymin */
    PM_PCX_REASON_NO_PLANES = 4,      /**< NPlanes 0 */
    PM_PCX_REASON_NO_LINE = 5,        /**< BytesPerLine 0 */
    PM_PCX_REASON_LINE_TOO_SHORT = 6, /**< BytesPerLine too small for a row of the window's width */
    PM_PCX_REASON_NO_CONVERTER = 7,   /**< no converter reads these bits per pixel and planes */
    PM_PCX_REASON_DEPTH = 8,          /**< the layout has no converter into a buffer of this depth */
    PM_PCX_REASON_TOO_MANY_PIXELS = 9 /**< a window of more than 2^28 (268435456) pixels */
};

/** Where the loader takes a picture's colours from (pm_pcx_info.palette_kind). */
enum {
    PM_PCX_PALETTE_NONE = 0,    /**< none: colour in 3 or 4 planes of 8 bits, or no whole header */
    PM_PCX_PALETTE_HEADER = 1,  /**< the 16 colours of the header */
    PM_PCX_PALETTE_TRAILER = 2, /**< the 256 colours after the data (a version-5 picture with a trailer) */
    PM_PCX_PALETTE_GREY = 3     /**< a ramp of 256 greys: greyscale without a trailer, with pcx_all_layouts */
};

/** What pm_pcx_inspect_file and pm_pcx_inspect_memory tell about a picture
 * without loading it. Header fields are as stored, in host byte order; they
 * are 0 when the input holds no whole header. Fields may be added at the end
 * in later versions; reserved ones are 0. */
typedef struct pm_pcx_info {
    uint64_t size;           /**< bytes of the whole file or memory block */
    int32_t page_count;      /**< pictures the input holds: 1 for a PCX file, the pages of a DCX file */
    int32_t page;            /**< the picture described, 0 = the first */
    uint64_t page_offset;    /**< where that picture's header starts in the input, as the directory lists it
                                  (an offset at or past the end leaves the page no header) */
    int32_t header_present;  /**< 1 when 128 header bytes were there to read */

    uint8_t manufacturer;    /**< 0x0A for a PCX picture */
    uint8_t version;         /**< 5: a trailer palette may follow the data */
    uint8_t encoding;        /**< 1: run-length (the loader decodes run-length whatever it says) */
    uint8_t bits_per_pixel;  /**< bits per pixel in each plane */
    uint16_t x_min;          /**< the header window, inclusive */
    uint16_t y_min;          /**< top edge of the window */
    uint16_t x_max;          /**< right edge of the window */
    uint16_t y_max;          /**< bottom edge of the window */
    uint16_t h_dpi;          /**< horizontal resolution */
    uint16_t v_dpi;          /**< vertical resolution */
    uint8_t planes;          /**< NPlanes */
    uint8_t reserved_byte;   /**< the header's reserved byte */
    uint16_t bytes_per_line; /**< bytes of one plane of one scanline */
    uint16_t palette_info;   /**< 1 colour or black and white, 2 greyscale */
    uint16_t h_screen_size;  /**< the screen size fields */
    uint16_t v_screen_size;  /**< vertical screen size */
    uint8_t colormap[48];    /**< the header's 16 RGB triples */
    uint16_t reserved_pad;   /**< 0 */

    int32_t width;           /**< Xmax - Xmin + 1; 0 or less for a window that ends before it starts */
    int32_t height;          /**< Ymax - Ymin + 1 */
    int32_t colours;         /**< colours a pixel can take (2, 4, 8, 16, 256; 16777216 for 24-bit colour); 0
                                  when no converter reads the layout */
    int32_t trailer_present; /**< 1 when the picture (a DCX page: the page) ends in a trailer (marker 0x0C and
                                  768 colour bytes) that lies wholly after the header */
    int32_t palette_kind;    /**< PM_PCX_PALETTE_...: where a load takes the colours from */
    int32_t palette_count;   /**< colours in palette: 0, 16 or 256 */
    uint8_t palette[768];    /**< those colours as RGB triples, as stored in the file (the grey ramp as made) */

    int32_t depth;           /**< the buffer depth the verdict is for */
    int32_t verdict;         /**< what pm_load_pcx returns for this picture into a buffer of that depth wherever
                                  it is placed: PM_PCX_OK, PM_PCX_INVALID or PM_PCX_UNSUPPORTED (running out of
                                  memory cannot be foretold) */
    int32_t reason;          /**< PM_PCX_REASON_...: why, when the verdict is a refusal */
    int32_t reserved[9];     /**< 0 */
} pm_pcx_info;

/** Receives the bytes of a picture being saved, in order, in pieces of any
 * size. Returns 0 when it took all of them; anything else stops the save,
 * which then gives PM_PCX_WRITE_FAILED. */
typedef int32_t (*pm_write_fn)(void *context, const void *bytes, uint32_t size);

/** How pm_save_pcx_to and pm_save_pcx_memory lay out the picture. */
enum {
    pcx_layout_auto = 0,     /**< as pm_save_pcx: 8-bit buffer, 256 colours and a trailer palette; deeper, 3 planes
                                  of 8 bits */
    pcx_layout_mono = 1,     /**< one plane of 1 bit: 2 colours, the lighter one (a set bit) the foreground */
    pcx_layout_cga4 = 2,     /**< one plane of 2 bits: 4 colours */
    pcx_layout_packed16 = 3, /**< one plane of 4 bits: 16 colours */
    pcx_layout_vga256 = 4,   /**< one plane of 8 bits and a trailer palette: 256 colours (an 8-bit buffer's
                                  indices and palette as they are) */
    pcx_layout_planes4 = 5,  /**< 2 planes of 1 bit: 4 colours */
    pcx_layout_planes8 = 6,  /**< 3 planes of 1 bit: 8 colours */
    pcx_layout_ega16 = 7,    /**< 4 planes of 1 bit: 16 colours */
    pcx_layout_rgb24 = 8     /**< 3 planes of 8 bits: red, green, blue */
};

/** Row formats of pm_read_row and pm_write_row. */
enum {
    PM_ROW_INDEX8 = 1, /**< one palette index per pixel; 8-bit buffers only */
    PM_ROW_RGB24 = 2   /**< the bytes red, green, blue per pixel: 8-bit pixels through the logical palette (read
                            only), 16-bit ones widened from 5-6-5 by repeating their top bits (written: their top
                            bits kept), 24 and 32 bits as stored (written: fill byte 0) */
};

/** Failures of pm_buffer_create (a handle 0..255 otherwise). */
enum {
    PM_BUFFER_NO_FREE_SLOT = -1, /**< all slots are in use */
    PM_BUFFER_CANNOT_CREATE = -2 /**< bad size or depth, not started, or no memory */
};

/** Failures of pm_buffer_activate (0 otherwise). */
enum {
    PM_BUFFER_BAD_HANDLE = -1, /**< a handle outside 0..255 */
    PM_BUFFER_FREE_SLOT = -2   /**< a handle of a free slot */
};

/** The first four bytes of a DCX file, as a little-endian number. */
#define PM_DCX_MAGIC 0x3ADE68B1u

/** PCX loader flags (pm_load_pcx); they may be combined. */
enum {
    pcx_keep_palette = 1, /**< set no palette entry, reduce no colours */
    pcx_at_cursor = 2,    /**< top-left corner at the graphics cursor, not at (Xmin, Ymin) */
    pcx_from_memory = 4,  /**< read the input block (pm_set_input_block), not a file */
    pcx_no_reduction = 8, /**< apply a trailer palette without colour reduction */
    pcx_all_layouts = 16  /**< also read one plane of 2 or 4 bits, 2 or 3 planes of 1 bit, 4 planes of 8
                               bits (the fourth dropped), greyscale without a trailer, and DCX files */
};

/** The library's single record. Zero at program load except: active_index -1,
 * new_buffer_depth 8, input_block = read_buffer, input_block_size 4096, the
 * logical palette's header and the names of video_entry_points. */
typedef struct pm_state_record {
    /* Device contexts and graphics objects */
    pm_hdc window_dc;                   /**< the window's context: presentation, palettes, bitmap creation */
    pm_hpalette palette_handle;         /**< palette object last realized */
    pm_hpalette first_previous_palette; /**< what window_dc held before the first realization */
    pm_hdc text_dc;                     /**< context that receives the stock font (= window_dc) */
    pm_hdc memory_dc;                   /**< memory context into which the active buffer is selected */
    pm_hgdiobj saved_bitmap;            /**< memory_dc's bitmap before the first activation; 0 if none */

    /* Font, written by pm_select_stock_font */
    pm_hgdiobj stock_font;         /**< stock font last selected into text_dc */
    int32_t font_line_height;      /**< tmHeight + tmExternalLeading */
    int32_t font_external_leading; /**< tmExternalLeading */
    int32_t font_average_width;    /**< tmAveCharWidth */

    /* Active buffer: a cache of its slot, meaningful while active_index >= 0 */
    int32_t active_depth;  /**< bits per pixel */
    int32_t active_width;  /**< width in pixels, a multiple of 4 */
    int32_t active_max_y;  /**< active_height - 1 */
    int32_t active_height; /**< height in pixels */
    /**@{*/
    int32_t clip_min_x;    /**< clip rectangle, inclusive */
    int32_t clip_max_x;
    int32_t clip_min_y;
    int32_t clip_max_y;
    /**@}*/
    int32_t active_index;    /**< handle of the active buffer; -1 when none */
    void *active_header;     /**< the buffer's header block (bitmap header first) */
    int32_t active_stride;   /**< bytes per row */
    uint8_t *active_bits;    /**< the buffer's pixel memory, bottom row first */

    /* Graphics cursor */
    int32_t cursor_x; /**< column, 0 = leftmost */
    int32_t cursor_y; /**< row counted from the top */

    /* Buffer creation settings */
    uint8_t platform_is_nt;     /**< 1 when the platform is of the NT family */
    uint8_t started;            /**< 1 between pm_startup and the pm_shutdown that takes effect */
    int32_t header_size;        /**< biSize of a new buffer's header, 40 or 108 */
    int32_t header_alloc_size;  /**< header bytes the active depth needs: 552 or 1064 at 8 bits, 108, 40; read by nothing, since each buffer's header is sized for its own depth */
    int32_t palette_index_mode; /**< 1: 8-bit headers carry palette indices (DIB_PAL_COLORS) */
    int32_t new_buffer_depth;   /**< depth of buffers that pm_buffer_create makes: 8, 16, 24 or 32 */

    /* Buffer slot table: one column per field, indexed by handle */
    pm_hglobal slot_header_block[PM_SLOTS]; /**< global block holding the header */
    pm_hbitmap slot_bitmap[PM_SLOTS];       /**< the bitmap section */
    /**@{*/
    int32_t slot_max_x[PM_SLOTS];           /**< clip rectangle, inclusive */
    int32_t slot_max_y[PM_SLOTS];
    int32_t slot_min_x[PM_SLOTS];
    int32_t slot_min_y[PM_SLOTS];
    /**@}*/
    void *slot_header[PM_SLOTS];     /**< locked address of the header */
    uint8_t *slot_bits[PM_SLOTS];    /**< pixel memory; null marks a free slot */
    int32_t slot_depth[PM_SLOTS];    /**< bits per pixel */
    int32_t slot_height[PM_SLOTS];   /**< height in pixels */
    int32_t slot_width[PM_SLOTS];    /**< width in pixels, a multiple of 4 */
    int32_t slot_stride[PM_SLOTS];   /**< bytes per row: depth / 8 * width */

    /* Palette tables */
    PM_ALIGNAS(4) uint8_t pixel_lookup[1024]; /**< per index: 5-6-5 little-endian at depth 16, bytes 0,R,G,B at 24/32 */
    pm_logpalette logical_palette;          /**< the palette as the palette manager takes it */
    pm_rgbquad colour_table[256];           /**< the same colours as a bitmap colour table */

    /* Colour reduction work tables */
    uint32_t colour_histogram[256]; /**< pixels per index */
    uint8_t colour_map[256];        /**< old index -> new index */

    /* PCX loading */
    uint8_t pcx_header[128];      /**< header of the last picture read */
    pm_hfile file_handle;         /**< file open during a load */
    uint32_t bytes_read;          /**< byte count of the last file read */
    uint8_t *input_block;         /**< file: read_buffer; memory: the picture */
    uint32_t input_block_size;    /**< file: bytes per refill; memory: the picture's length */
    uint8_t read_buffer[PM_READ_BUFFER_SIZE]; /**< what file loads read into */

    /* Scratch and step masks */
    PM_ALIGNAS(8) uint8_t scratch_area[PM_SCRATCH_SIZE]; /**< shared work area: font metrics, PCX trailer, x mask */
    uint8_t y_step_mask[PM_SCRATCH_SIZE];              /**< the scaling's y mask */

    /* Video-file library */
    pm_entry_point video_entry_points[17]; /**< resolved at start-up, never called */
    pm_hmodule video_library;              /**< 0 while not loaded */

    uint8_t keyboard_state[256]; /**< key state handed to the platform at start-up */
} pm_state_record;

/** The library's single record, which the program reads and writes too. */
extern PM_API pm_state_record pm_state;

/* ---- Context ------------------------------------------------------------ */

/** Puts the library into its working state: all slots free, a memory context,
 * palette index mode from the display depth, the stock font. Always 0. A call
 * while the library is already started changes nothing. */
PM_API int32_t pm_startup(void);
/** Releases what start-up acquired, once no buffer is left; does nothing while
 * any buffer exists or when the library is not started. Always 0. */
PM_API int32_t pm_shutdown(void);
/** Selects stock object stock_index into text_dc and records its metrics. 0. */
PM_API int32_t pm_select_stock_font(int32_t stock_index);
/** The display's bits per pixel, 15 reported as 16. */
PM_API int32_t pm_display_depth(void);

/* ---- Virtual buffers ---------------------------------------------------- */

/** Creates a buffer of new_buffer_depth bits (width rounded up to a multiple of
 * 4); it is not made active. Returns its handle 0..255; -1 when all slots are
 * in use; -2, keeping nothing, before pm_startup or after the pm_shutdown that
 * took effect, when the header or bitmap cannot be made, when new_buffer_depth
 * is not 8, 16, 24 or 32, or when width or height is below 1 or so large that
 * a row or the picture no longer fits in 2^31 - 1 bytes. Every buffer's header
 * is sized and filled for its own depth, whatever buffer is active. */
PM_API int32_t pm_buffer_create(int32_t width, int32_t height);
/** Sets the depth of the buffers that pm_buffer_create makes from now on:
 * 0 for 8, 16, 24 or 32; -1, leaving new_buffer_depth as it was, for anything
 * else. Writing new_buffer_depth directly still works. */
PM_API int32_t pm_set_new_buffer_depth(int32_t depth);
/** Makes a buffer active and brings its colours into step with the palette.
 * 0; -1 for a handle outside 0..255; -2 for a free slot. */
PM_API int32_t pm_buffer_activate(int32_t handle);
/** Leaves no buffer active. 0. */
PM_API int32_t pm_buffer_deactivate(void);
/** Destroys a buffer; a negative handle means every buffer. Refuses (still 0)
 * a handle of 256 or more, the active buffer, a free slot, and every-buffer
 * while one is active. */
PM_API int32_t pm_buffer_destroy(int32_t handle);
/** Rewrites the active 8-bit buffer's colour table from the palette. 0. */
PM_API int32_t pm_buffer_sync_colour_table(void);

/* ---- Palette ------------------------------------------------------------ */

/** Fills the logical palette from the built-in colours around the display's
 * reserved colours and returns a new palette object (owned by the caller). */
PM_API pm_hpalette pm_create_default_palette(void);
/** Deletes a palette object that pm_create_default_palette returned, once no
 * context holds it any more (after pm_shutdown, or once another is realized);
 * the display's own palette stays whatever is asked. 0; -1 for a null palette. */
PM_API int32_t pm_delete_palette(pm_hpalette palette);
/** Selects palette into window_dc as a foreground palette and realizes it. 0. */
PM_API int32_t pm_realize_palette(pm_hpalette palette);
/** Sets count entries from first on from count RGB triples and keeps every
 * table, the active 8-bit buffer and the realized palette in step. Does
 * nothing without an active buffer, or when first < 0, count < 0,
 * first + count > 256, or rgb is null with count > 0. 0. */
PM_API int32_t pm_set_palette_entries(int32_t first, int32_t count, const uint8_t *rgb);

/* ---- PCX pictures ------------------------------------------------------- */

/** Points the input block at a picture of size bytes in memory, for
 * pm_load_pcx with pcx_from_memory. The caller keeps the bytes alive; the
 * loader only reads them, never past size. A null picture puts back
 * read_buffer and 4096 bytes. File loads always read into read_buffer, at
 * most min(size, 4096) bytes at a time (4096 when size is 0). 0. */
PM_API int32_t pm_set_input_block(const void *picture, uint32_t size);
/** Loads a PCX picture into the active buffer, at its header window or, with
 * pcx_at_cursor, with its top-left corner at the cursor. Only pixels inside
 * the buffer are written: a picture is cut at every edge (rows above the top
 * edge are still decoded, so the rest stays in place). Results:
 *   0 done, also when the data ends early (the later rows repeat the last
 *     scanline), when no buffer is active, or when no part of a picture the
 *     loader takes lies within the buffer (then nothing changes);
 *   1 the file cannot be opened;
 *   2 not a readable picture: fewer than 128 bytes (file or memory block), a
 *     first byte other than 0x0A, a window of width or height 0 or less or
 *     of more than 2^28 pixels, no planes, or BytesPerLine 0 or too small
 *     for a row of the window's width.
 *     These are checked before placement, so they give 2 wherever the
 *     picture would land;
 *   3 no converter for this format and depth, also checked before placement
 *     (pm_pcx_inspect_file gives the same verdict without loading);
 *   4 out of memory.
 * After 1 to 4 no pixel and no palette entry has changed. A trailer palette
 * is used only when it lies wholly after the 128-byte header. */
PM_API int32_t pm_load_pcx(const char *name, int32_t flags);
/** Loads page `page` (0 for the first) of a DCX file, or with pcx_from_memory
 * of the input block, as pm_load_pcx loads a picture; a PCX picture that is
 * not in a DCX file has the one page 0. The directory ends at an offset of
 * 0 or where the first page it lists begins. A page runs from its offset to
 * the nearest offset of another page beyond it, or to the end of the input.
 * Results as pm_load_pcx's, and PM_PCX_NO_PAGE for a negative page or one
 * the directory does not list (with nothing changed). */
PM_API int32_t pm_load_pcx_page(const char *name, int32_t flags, int32_t page);
/** A short English text for a PCX result (PM_PCX_...); one fixed text for any
 * other value. Never null; the text is static. */
PM_API const char *pm_pcx_result_text(int32_t result);
/** Describes picture `page` (0 for a PCX file; a page of a DCX file; -1 the
 * picture pm_load_pcx reads, a DCX file's first page only with
 * pcx_all_layouts) of a file without loading it, and gives the loader's
 * verdict for a buffer of `depth` bits (8, 16, 24 or 32) and load flags
 * `flags` (of which only pcx_all_layouts matters): the same function decides
 * for both, so a picture that inspection takes is one pm_load_pcx_page (page
 * -1: pm_load_pcx) takes, refusals aside that
 * only a load can meet (memory, a file that changes). Needs no started
 * library and changes no state. 0 with *info filled (also when the verdict
 * is a refusal: a file shorter than a header is described by its size); 1
 * the file cannot be opened; 2 a null name or info, a depth other than 8,
 * 16, 24 or 32, or a page the file does not hold. */
PM_API int32_t pm_pcx_inspect_file(const char *name, int32_t flags, int32_t page, int32_t depth, pm_pcx_info *info);
/** The same for a picture of size bytes in memory, which is only read, never
 * past size. Like the codec calls it reads no library state, so any number of
 * threads may call it at once. 0; 2 for a null info, a null picture with size
 * above 0, a bad depth or page. */
PM_API int32_t pm_pcx_inspect_memory(const void *picture, uint32_t size, int32_t flags, int32_t page, int32_t depth,
                                     pm_pcx_info *info);
/** A short fixed English text for a refusal reason (PM_PCX_REASON_...); one
 * fixed text for any other value. Never null; the text is static. */
PM_API const char *pm_pcx_reason_text(int32_t reason);
/** Writes columns min_x..max_x, rows min_y..max_y of the active buffer as a
 * version-5 PCX file whose header window is 0..width-1, 0..height-1: an 8-bit
 * buffer as 256 colours with the current palette as trailer, a deeper one as
 * three planes of 8 bits. The file is replaced safely, as by
 * pm_file_replace_begin. 0 written; 1 the file may not be written (a
 * read-only file, say) or cannot be created; 2 no active buffer, or a
 * rectangle that is empty or not wholly inside the buffer; 4 out of memory;
 * 5 a write failed (a full disk, say). After 1, 4 and 5 whatever the name
 * held is left as it was, and errno says why. */
PM_API int32_t pm_save_pcx(const char *name, int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y);
/** Saves the same rectangle as pm_save_pcx, replacing the file as safely, in
 * the given layout (pcx_layout_..., as pm_save_pcx_to takes them). Results as
 * pm_save_pcx's, and 3 for a layout this version does not know, 7
 * (PM_PCX_TOO_MANY_COLOURS) for more colours than the layout holds; after
 * either the file is untouched. */
PM_API int32_t pm_save_pcx_file(const char *name, int32_t layout, int32_t min_x, int32_t max_x, int32_t min_y,
                                int32_t max_y);
/** Saves the same rectangle as pm_save_pcx, in the given layout
 * (pcx_layout_...), by handing its bytes in order to write(context, ...).
 * A layout of 256 colours or fewer holds the rectangle's distinct colours
 * (an 8-bit buffer's: those of its indices), in the header or the trailer;
 * none is ever changed or merged. Every layout's BytesPerLine is even.
 * 0 written; 2 no active buffer or a bad rectangle; 3 a layout this version
 * does not know; 4 out of memory; 5 (PM_PCX_WRITE_FAILED) write returned
 * non-zero, or is null; the save then stops at once; 7
 * (PM_PCX_TOO_MANY_COLOURS) more colours than the layout holds, found
 * before any byte is handed over. */
PM_API int32_t pm_save_pcx_to(pm_write_fn write, void *context, int32_t layout, int32_t min_x, int32_t max_x,
                              int32_t min_y, int32_t max_y);
/** Saves the same picture into memory: its bytes go to buffer, at most
 * capacity of them, and *size receives the picture's whole length (saturated
 * at 0xFFFFFFFF). A null buffer asks for the length only.
 * 0 done (or the length given); 5 the picture is longer than capacity (call
 * again with *size bytes); 2, 3, 4, 7 as pm_save_pcx_to, and 2 for a null size. */
PM_API int32_t pm_save_pcx_memory(void *buffer, uint32_t capacity, uint32_t *size, int32_t layout, int32_t min_x,
                                  int32_t max_x, int32_t min_y, int32_t max_y);

/* ---- Decoding and encoding without a buffer ------------------------------ */

/* The codec calls read and write no library state: no pm_state, no buffer,
 * no palette, no scratch area. They need no started library, allocate only
 * through malloc, and any number of threads may call them at once, also while
 * another thread uses the rest of the interface. */

/** Pixel formats of pm_picture. */
enum {
    PM_PIXELS_INDEX8 = 1, /**< one byte per pixel: an index into pm_picture.palette */
    PM_PIXELS_RGB8 = 2,   /**< three bytes per pixel: red, green, blue */
    PM_PIXELS_RGBA8 = 3   /**< four bytes per pixel: red, green, blue, alpha (255 when decoded; ignored when
                               encoded) */
};

/** A picture in the caller's memory, for the codec calls. Rows run top row
 * first; pixel (x, y) lies at pixels + y * stride + x * (bytes per pixel).
 * Fields may be added at the end in later versions; reserved ones are 0. */
typedef struct pm_picture {
    int32_t width;          /**< pixels per row: filled by pm_pcx_decode, read by the encoders (1 to 65534) */
    int32_t height;         /**< rows: filled by pm_pcx_decode, read by the encoders (1 to 65536) */
    int32_t format;         /**< PM_PIXELS_...: set by the caller */
    int32_t colours;        /**< palette entries in use: filled by pm_pcx_decode (2 to 256 for an indexed picture,
                                 0 for one of colour planes); read by the encoders for INDEX8 (1 to 256, every
                                 index below it) */
    uint64_t stride;        /**< bytes from one row to the next, at least width x bytes per pixel; 0 = packed
                                 rows */
    void *pixels;           /**< the caller's memory, height rows of stride bytes; null: pm_pcx_decode fills only
                                 width, height, colours and palette */
    uint8_t palette[768];   /**< the colours of indices 0 to 255 as RGB triples (filled by pm_pcx_decode for an
                                 indexed picture, in every format and in a size query; black for an index the
                                 picture gives no colour, 0 from colours on; the encoders read the first colours
                                 triples) */
    int32_t reserved[8];    /**< 0 */
} pm_picture;

/** Decodes picture `page` of a PCX or DCX file of `size` bytes in memory into
 * the caller's picture, reading what pm_load_pcx_page with the same flags and
 * page reads (page -1: what pm_load_pcx reads), with the same verdict and the
 * same handling of data that ends early (the later rows repeat the last
 * scanline). Of the flags only pcx_all_layouts matters. RGBA8 and RGB8 give
 * the colours a load into a 32-bit buffer shows (indices the picture gives no
 * colour, past a 16-colour header palette, are black); INDEX8 gives the
 * file's own indices, 0 to colours - 1, with their colours in palette.
 * Results: 0 done (a size query when pixels is null); 2 not a readable picture
 * (as pm_load_pcx: fewer than 128 bytes, a bad header); 3 no converter
 * (INDEX8 of a picture of colour planes, or a layout that needs
 * pcx_all_layouts); 4 out of memory; 6 (PM_PCX_NO_PAGE) a page below -1 or one
 * the file does not hold; 8 (PM_PCX_BAD_ARGUMENT) a null picture, an unknown
 * format, data null with a size, a stride too small for a row, or a page
 * longer than 0xFFFFFFFF bytes. After a result other than 0 neither the
 * picture nor its pixels have changed. */
PM_API int32_t pm_pcx_decode(const void *data, uint64_t size, int32_t flags, int32_t page, pm_picture *picture);
/** Encodes a picture as a PCX file in `layout` (pcx_layout_...; auto: 256
 * colours and a trailer for INDEX8, three planes of 8 bits for RGB8 and
 * RGBA8), handing its bytes in order to write(context, ...). A layout of 256
 * colours or fewer holds an INDEX8 picture's indices as they are when its
 * colours fit (a layout with a trailer: always), and otherwise the picture's
 * distinct colours in the order first met (a monochrome layout: the lighter
 * of two as the set bit), in its header palette or its trailer. Decoded with
 * pcx_all_layouts, the file gives back the same pixels. Results: 0 written;
 * 4 out of memory; 5 (PM_PCX_WRITE_FAILED) write returned non-zero, and the
 * encoding stopped at once; 7 (PM_PCX_TOO_MANY_COLOURS) more colours than
 * the layout holds; 8 (PM_PCX_BAD_ARGUMENT) a null picture, pixels or write,
 * an unknown format or layout, a width or height outside the header's
 * range, a stride too small, or an INDEX8 picture whose colours lie outside
 * 1 to 256 or below one of its indices. 7 and 8 come before any byte. */
PM_API int32_t pm_pcx_encode(const pm_picture *picture, int32_t layout, pm_write_fn write, void *context);
/** Encodes `count` pictures (1 to 1023) as the pages of a DCX file, each in
 * `layout` as pm_pcx_encode encodes it: the directory (the magic number, the
 * pages' offsets and a 0), then the pages in order. Every page is checked
 * and measured before the first byte, so the results are pm_pcx_encode's
 * for the first page refused, also 8 for null pages, a count outside 1 to
 * 1023, or pages that would lie past the directory's 32-bit offsets. */
PM_API int32_t pm_dcx_encode(const pm_picture *pages, int32_t count, int32_t layout, pm_write_fn write,
                             void *context);

/* ---- Safe file replacement ---------------------------------------------- */

/** A file being written by pm_file_replace_begin; opaque. */
typedef struct pm_file_writer pm_file_writer;

/** Starts replacing the file name (through any symbolic links, dangling ones
 * too) so that a write that fails midway leaves the old file as it was. The
 * file is opened for writing first, so a file the user may not write is
 * refused untouched. Where a new file can take its place unseen (a regular
 * file with one name, whose owner, group, mode and access lists carry over),
 * the bytes go to a private new file beside it, under a name of this save's
 * own, that takes the name once complete and flushed: saves side by side,
 * into one file or several, each publish their own bytes or fail.
 * Otherwise the file is rewritten in place: the whole new contents are
 * staged in a temporary file (not in memory), the old bytes are copied
 * first to a backup beside the file, named after it (for picture.pcx,
 * picture.pcx.XXXXXX.pm-backup, XXXXXX random; in the temporary folder
 * where the file's folder may not be written), and they are put back if the
 * write fails. A file whose old bytes cannot be kept is not written: one the
 * user may not read is refused here, and old bytes that find no room (beside
 * the file, in the temporary folder, or on Linux in memory) make finishing
 * fail.
 * Writing in place is not safe against a crash: a save killed midway, or a
 * power cut, leaves a mixed file, and then the backup beside it holds the
 * old bytes whole. Copy it over the file (cp keeps the file's other names)
 * and remove it. A backup is named only once complete and is removed when
 * the save ends, so one that is left always means this. A device or a pipe
 * is written as the bytes come. Null, with *result (when result is not
 * null) set to 1 (refused or cannot be created; errno says why) or 4 (out
 * of memory). */
PM_API pm_file_writer *pm_file_replace_begin(const char *name, int32_t *result);
/** Writes size bytes to the file begun. 0 when all were taken, else 5; after
 * a failure every later write fails too and finishing keeps the old file. */
PM_API int32_t pm_file_replace_write(pm_file_writer *file, const void *bytes, uint32_t size);
/** Flushes and puts the new contents in place, and frees file. 0 done; 5 when
 * a write or the flush failed, and then the old file is left as it was and
 * errno says why. */
PM_API int32_t pm_file_replace_finish(pm_file_writer *file);
/** Gives up writing file, leaving the old file as it was, and frees file;
 * null is ignored. */
PM_API void pm_file_replace_cancel(pm_file_writer *file);

/* ---- Image transfer ----------------------------------------------------- */

/** Sets the graphics cursor, any value accepted. 0. */
PM_API int32_t pm_move_cursor(int32_t x, int32_t y);
/** Bytes of an image array of width x height at the active depth (3 per pixel
 * at 24 and 32 bits, 2 at 16, else 1), also after deactivation. 0 when width
 * or height is below 1; 0xFFFFFFFF when the size does not fit in 32 bits. */
PM_API uint32_t pm_image_size(int32_t width, int32_t height);
/** Reads width x height pixels of the active buffer, bottom-left corner at the
 * cursor, into an indexed image, bottom row first. Deeper pixels become the
 * lowest pixel_lookup index holding their value, 0 when none does. Pixels
 * outside the buffer are skipped and their image bytes left as they were.
 * Does nothing without an active buffer, for a null image or for width or
 * height below 1. 0. */
PM_API int32_t pm_capture_image(uint8_t *image, int32_t width, int32_t height);
/** Draws an indexed image into the active buffer, bottom-left corner at the
 * cursor, through pixel_lookup when deeper than 8 bits; index 0 is
 * transparent. Image pixels that fall outside the buffer are not read.
 * Does nothing without an active buffer, for a null image or for width or
 * height below 1. 0. */
PM_API int32_t pm_paste_image(const uint8_t *image, int32_t width, int32_t height);
/** Reads columns x..x+width-1 of row y (counted from the top) of the active
 * buffer into out, in format PM_ROW_INDEX8 (width bytes) or PM_ROW_RGB24
 * (3 x width bytes). 0; -1, reading nothing, without an active buffer, for
 * a null out, an unknown format, indices from a buffer deeper than 8 bits, or
 * a span not wholly inside the buffer (width below 1 included). */
PM_API int32_t pm_read_row(int32_t x, int32_t y, int32_t width, int32_t format, void *out);
/** Writes width pixels from in into row y of the active buffer, from column x
 * on, in the same formats: indices into an 8-bit buffer only, RGB triples into
 * a 16-, 24- or 32-bit one (an 8-bit buffer holds no colours of its own).
 * 0; -1, writing nothing, for the same refusals as pm_read_row and for those
 * pairs. No palette or lookup table changes. */
PM_API int32_t pm_write_row(int32_t x, int32_t y, int32_t width, int32_t format, const void *in);
/** Copies a rectangle of raw bytes from one buffer to another (or the same),
 * at the destination's bytes per pixel on both sides; dst_y receives the
 * rectangle's bottom row. Only bytes inside both buffers are copied (the
 * source clipped to its rows and row bytes, the destination to its own).
 * Within one buffer the rectangles may overlap: the copy moves the rectangle
 * as it stood, in any direction. Does nothing for a handle outside 0..255 or
 * of a free slot on either side, or when max is below min on either axis.
 * Needs no active buffer. 0. */
PM_API int32_t pm_copy_region(int32_t src_min_x, int32_t src_max_x, int32_t src_min_y, int32_t src_max_y,
                              int32_t dst_x, int32_t dst_y, int32_t src_handle, int32_t dst_handle);

/* ---- Scaling ------------------------------------------------------------ */

/** Nearest-pixel copy of an indexed image at a new size; the step masks go
 * into scratch_area (x) and y_step_mask (y). Writes nothing for a null array,
 * a size below 1, or an axis whose longer length exceeds 32799 steps. 0. */
PM_API int32_t pm_scale_image(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                              int32_t new_width, int32_t new_height);

/* ---- Presentation ------------------------------------------------------- */

/** Records the window's device context for presentation, palettes and fonts. 0. */
PM_API int32_t pm_attach_dc(pm_hdc dc);
/** Stretches a rectangle of the active buffer onto a rectangle of the window,
 * dropping or repeating rows and columns. Reversed bounds give zero or
 * negative extents, which draw nothing; nothing without an active buffer. 0. */
PM_API int32_t pm_present(int32_t src_min_x, int32_t src_max_x, int32_t src_min_y, int32_t src_max_y,
                          int32_t dst_min_x, int32_t dst_max_x, int32_t dst_min_y, int32_t dst_max_y);

/* ---- Colour reduction --------------------------------------------------- */

/** Fits the colours of the active 8-bit buffer into count entries from first
 * on, rewriting the 256 RGB triples of rgb and renumbering the pixels. 0.
 * Does nothing without an active 8-bit buffer, for a null rgb, or when
 * count < 1, first < 0 or first + count > 256. */
PM_API int32_t pm_reduce_colours(int32_t first, int32_t count, uint8_t *rgb);

#ifdef __cplusplus
}
#endif

#endif
