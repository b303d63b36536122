# Fails when a file of the product includes a header of a layer above its own. Run by the build (the
# target layer_check, which every library waits for), so such an include stops the build with the file and
# line that made it. Usage: cmake -DSOURCE_DIR=<root> -P check_layers.cmake
#
# The layers, from the bottom: what each folder may include is its own and everything listed before it.
set(layers wire core net consoles registry protocol app core/qt net/qt consoles/qt registry/qt protocol/qt app/qt)
# The OV server is a program of its own on top of the wire format.
set(ovserver_may_include wire ovserver)

function(layer_of path out)
  set(found "")
  foreach(layer IN LISTS layers)
    string(LENGTH "${layer}/" n)
    string(SUBSTRING "${path}" 0 ${n} head)
    if(head STREQUAL "${layer}/")
      set(found "${layer}")  # the longest match wins: consoles/qt over consoles
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(faults "")
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
     "${SOURCE_DIR}/wire/*" "${SOURCE_DIR}/core/*" "${SOURCE_DIR}/net/*" "${SOURCE_DIR}/consoles/*"
     "${SOURCE_DIR}/registry/*" "${SOURCE_DIR}/protocol/*" "${SOURCE_DIR}/app/*" "${SOURCE_DIR}/ovserver/*")
list(FILTER sources INCLUDE REGEX "\\.(h|cpp)$")
foreach(source IN LISTS sources)
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^#include \"")
  layer_of("${source}" own)
  list(FIND layers "${own}" ownRank)
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
    if(source MATCHES "^ovserver/")
      string(REGEX MATCH "^[^/]+" top "${header}")
      list(FIND ovserver_may_include "${top}" allowed)
      if(allowed EQUAL -1)
        string(APPEND faults "  ${source}: ${header} (the OV server may include only wire/ and its own)\n")
      endif()
      continue()
    endif()
    layer_of("${header}" theirs)
    list(FIND layers "${theirs}" theirRank)
    if(theirRank EQUAL -1 OR theirRank GREATER ownRank)
      string(APPEND faults "  ${source} (${own}): ${header} (${theirs})\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Includes that run up the layers (${layers}):\n${faults}")
endif()
