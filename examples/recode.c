/*
 * recode: decodes a PCX picture, or a page of a DCX file, straight into
 * memory of its own, writes it as a PPM picture, and encodes it again as a
 * PCX file in the smallest layout that holds its colours. It needs no
 * window, no buffer and no started library: the codec calls read and write
 * no library state, so any number of threads could do the same at once.
 *
 *     recode IN.pcx OUT.ppm OUT.pcx [PAGE]
 *
 * PAGE chooses a page of a DCX file (0 for the first); without it the
 * program reads what pm_load_pcx reads.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pixmora/pixmora.h>

/* Reads a whole file into memory; NULL when it cannot. */
static unsigned char *read_file(const char *name, size_t *size)
{
    FILE *file = fopen(name, "rb");
    if (file == NULL)
        return NULL;
    unsigned char *bytes = NULL;
    size_t used = 0, capacity = 0;
    for (;;) {
        if (used == capacity) {
            capacity = capacity != 0 ? 2 * capacity : 65536;
            unsigned char *grown = realloc(bytes, capacity);
            if (grown == NULL) {
                free(bytes);
                fclose(file);
                return NULL;
            }
            bytes = grown;
        }
        const size_t got = fread(bytes + used, 1, capacity - used, file);
        used += got;
        if (got == 0)
            break;
    }
    const int failed = ferror(file);
    fclose(file);
    if (failed) {
        free(bytes);
        return NULL;
    }
    *size = used;
    return bytes;
}

/* The encoder's bytes, handed over in order, into an open file. */
static int32_t write_to_file(void *context, const void *bytes, uint32_t size)
{
    return fwrite(bytes, 1, size, (FILE *)context) == size ? 0 : 1;
}

static int fail(const char *name, const char *what)
{
    fprintf(stderr, "recode: %s: %s\n", name, what);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: recode IN.pcx OUT.ppm OUT.pcx [PAGE]\n");
        return 2;
    }
    const int32_t page = argc == 5 ? atoi(argv[4]) : -1;
    size_t size = 0;
    unsigned char *data = read_file(argv[1], &size);
    if (data == NULL)
        return fail(argv[1], "cannot be read");

    /* First the size alone (no pixels), then the pixels into memory of
     * that size: rows of red, green and blue, top row first. */
    pm_picture picture;
    memset(&picture, 0, sizeof picture);
    picture.format = PM_PIXELS_RGB8;
    int32_t result = pm_pcx_decode(data, size, pcx_all_layouts, page, &picture);
    if (result == PM_PCX_OK) {
        picture.pixels = malloc((size_t)picture.width * (size_t)picture.height * 3);
        result = picture.pixels != NULL ? pm_pcx_decode(data, size, pcx_all_layouts, page, &picture) : PM_PCX_NO_MEMORY;
    }
    free(data);
    if (result != PM_PCX_OK)
        return fail(argv[1], pm_pcx_result_text(result));

    FILE *ppm = fopen(argv[2], "wb");
    if (ppm == NULL)
        return fail(argv[2], "cannot be created");
    fprintf(ppm, "P6\n%d %d\n255\n", (int)picture.width, (int)picture.height);
    fwrite(picture.pixels, 3, (size_t)picture.width * (size_t)picture.height, ppm);
    if (fclose(ppm) != 0)
        return fail(argv[2], "cannot be written");

    /* A layout that cannot hold the picture's colours refuses before its
     * first byte, so the same file can take the next one. */
    static const int32_t layouts[] = {pcx_layout_mono, pcx_layout_cga4, pcx_layout_packed16, pcx_layout_vga256,
                                      pcx_layout_rgb24};
    FILE *pcx = fopen(argv[3], "wb");
    if (pcx == NULL)
        return fail(argv[3], "cannot be created");
    for (size_t i = 0; i < sizeof layouts / sizeof layouts[0]; ++i) {
        result = pm_pcx_encode(&picture, layouts[i], write_to_file, pcx);
        if (result != PM_PCX_TOO_MANY_COLOURS)
            break;
    }
    free(picture.pixels);
    if (fclose(pcx) != 0 && result == PM_PCX_OK)
        result = PM_PCX_WRITE_FAILED;
    return result == PM_PCX_OK ? 0 : fail(argv[3], pm_pcx_result_text(result));
}
