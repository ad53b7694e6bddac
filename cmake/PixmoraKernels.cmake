# The kernels' instruction sets: a kernel file names its set at the end of
# its name (..._sse2.cpp, _ssse3, _avx2, _simd128) and is compiled with that
# set's flags, on its own, while the rest of the library keeps the
# compiler's baseline. Which set runs is decided once, at run time, from
# what the processor offers (platform/cpu).
#
# The x86 files get their flags where the compiler targets x86 with SSE2 (all
# of x86-64; 32-bit x86 only when built for SSE2); elsewhere they compile to
# nothing and the scalar kernels serve. The WebAssembly file has kernels only
# when the whole build targets WebAssembly SIMD (-msimd128).
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
#if !defined(__GNUC__) || !(defined(__x86_64__) || defined(__i386__)) || !defined(__SSE2__)
#error not x86 with SSE2
#endif
int main() { return 0; }" PIXMORA_X86_KERNELS)

# Gives each kernel file among the arguments its set's flags, in the scope
# of the directory this is called from (where the targets that compile them
# are made).
function(pixmora_kernel_flags)
  if(NOT PIXMORA_X86_KERNELS)
    return()
  endif()
  foreach(file ${ARGN})
    set(flags "")
    if(file MATCHES "_sse2\\.cpp$")
      set(flags -msse2)
    elseif(file MATCHES "_ssse3\\.cpp$")
      set(flags -mssse3)
    elseif(file MATCHES "_avx2\\.cpp$")
      set(flags -mavx2 -mbmi)
      # 64-bit Windows keeps its stack 16-byte aligned, and GCC does not
      # align it further for 32-byte spills: aligned moves to the stack would
      # fault, so the assembler makes every vector move an unaligned one.
      if(MINGW)
        list(APPEND flags -Wa,-muse-unaligned-vector-move)
      endif()
    endif()
    if(flags)
      set_source_files_properties(${file} PROPERTIES COMPILE_OPTIONS "${flags}")
    endif()
  endforeach()
endfunction()
