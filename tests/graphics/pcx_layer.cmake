# No file of graphics/pcx/ reaches, directly or through the headers it
# includes, what holds the library's state: the context, the buffers, the
# palette, the internals over pm_state, the platform layer, or any header
# that declares pm_state (the public pixmora.h among them). Quoted includes
# are found from the source root, <pixmora/...> in include/; the standard
# headers and the generated version.h are not followed.
#
#   cmake -DSOURCE_DIR=<the sources> -P tests/graphics/pcx_layer.cmake
cmake_minimum_required(VERSION 3.22)

set(forbidden graphics/context.cpp graphics/buffers.cpp graphics/palette.h graphics/palette.cpp
  graphics/internal.h include/pixmora/pixmora.h platform/platform.h)

# The files `file` (relative to SOURCE_DIR) includes, and theirs, into `out`.
function(include_closure file out)
  set(seen "")
  set(pending ${file})
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    file(STRINGS ${SOURCE_DIR}/${current} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${lines})
      if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        set(target ${CMAKE_MATCH_1})
      elseif(line MATCHES "#[ \t]*include[ \t]*<(pixmora/[^>]+)>")
        set(target include/${CMAKE_MATCH_1})
        if(NOT EXISTS ${SOURCE_DIR}/${target}) # generated in the build tree: version.h
          continue()
        endif()
      else()
        continue()
      endif()
      if(NOT EXISTS ${SOURCE_DIR}/${target})
        message(FATAL_ERROR "${current} includes ${target}, which is not in the sources")
      endif()
      list(APPEND pending ${target})
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# The names in `closure` that hold the library's state, into `out`.
function(stateful closure out)
  set(found "")
  foreach(name ${closure})
    file(READ ${SOURCE_DIR}/${name} text)
    if(name IN_LIST forbidden OR text MATCHES "pm_state_record|extern[^;]*pm_state")
      list(APPEND found ${name})
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# The scan itself must see the state where it is: the loader stands on it.
include_closure(graphics/pcx.h loader)
stateful("${loader}" loader_state)
if(NOT loader_state)
  message(FATAL_ERROR "the scan finds no state under graphics/pcx.h, which includes pixmora.h: it is broken")
endif()

file(GLOB layer RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/graphics/pcx/*)
if(NOT layer)
  message(FATAL_ERROR "no files in graphics/pcx/")
endif()
set(faults 0)
foreach(file ${layer})
  include_closure(${file} closure)
  stateful("${closure}" found)
  if(found)
    message(SEND_ERROR "${file} reaches the library's state: ${found}")
    math(EXPR faults "${faults} + 1")
  endif()
endforeach()
list(LENGTH layer count)
if(faults EQUAL 0)
  message(STATUS "${count} files of graphics/pcx/ reach none of the library's state")
endif()
