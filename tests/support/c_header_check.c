/* The public headers must be usable from plain C. */
#include <pixmora/pixmora.h>
#include <pixmora/pixmora_soft.h>

/* Exported records keep one size in C and C++. */
_Static_assert(sizeof(pm_pcx_info) == 944, "pm_pcx_info is laid out without padding");

int32_t pixmora_c_header_check(void);

int32_t pixmora_c_header_check(void)
{
    pm_file_replace_cancel((pm_file_writer *)0);
    pm_state.new_buffer_depth = 8;
    if (pm_set_new_buffer_depth(8) != 0 || pm_pcx_result_text(PM_PCX_NO_MEMORY) == 0)
        return PM_BUFFER_CANNOT_CREATE;
    return pm_buffer_create(320, 200) + pm_state.active_index;
}
