/**
 * @file
 * The export macro of Pixmora's public headers.
 *
 * @def PM_API
 * PM_API marks what Pixmora's public headers declare as the library's
 * interface. A program needs to define nothing for the shared library; for
 * the static library it defines PIXMORA_STATIC, which the CMake package and
 * pixmora.pc of a static install define for it.
 *
 * On Windows the declarations export from pixmora.dll while it is built
 * (PIXMORA_BUILDING_DLL), import from it in programs, and are plain for a
 * static library. Elsewhere they keep default visibility, so that a shared
 * library built with hidden symbols exports exactly them.
 *
 * This header is usable from C (C11) and C++.
 */
#ifndef PIXMORA_EXPORT_H
#define PIXMORA_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(PIXMORA_BUILDING_DLL)
#define PM_API __declspec(dllexport)
#elif defined(PIXMORA_STATIC)
#define PM_API
#else
#define PM_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PM_API __attribute__((visibility("default")))
#else
#define PM_API
#endif

#endif
