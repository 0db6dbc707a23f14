# Fails when an include runs against the direction of the layers. The
# plug-in:  module -> panel, imagemaps -> tool -> books -> host
# The host:  drive -> services -> model -> host, export -> model,
# session -> drive, export; page -> session; library -> page (its C API,
# include/varlobooks/host_api.h); serve -> the C API and page's image root;
# main -> serve, the C API. Only the library and main (modeler/*.h, *.cpp)
# read the plug-in's profile, and hand the other parts what they need of it
# as data; the host reaches the plug-in through host/ alone.
# Run as: cmake -DSOURCE_DIR=<root> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)

# Each layer and the layers its files may include, itself first.
set(layers host books tool panel imagemaps module
  modeler/model modeler/reference modeler/services modeler/drive modeler/export modeler/session
  modeler/page modeler/library modeler/serve modeler)
set(allowed_host host)
set(allowed_books books host)
set(allowed_tool tool books host)
set(allowed_panel panel tool books host)
set(allowed_imagemaps imagemaps tool books host)
set(allowed_module module panel imagemaps tool books host)
set(allowed_modeler/model modeler/model host)
set(allowed_modeler/reference modeler/reference modeler/model host)
set(allowed_modeler/services modeler/services modeler/model host)
set(allowed_modeler/drive modeler/drive modeler/services modeler/model host)
set(allowed_modeler/export modeler/export modeler/model host)
set(allowed_modeler/session modeler/session modeler/drive modeler/export modeler/services
  modeler/model host)
set(allowed_modeler/page modeler/page modeler/session modeler/drive modeler/export
  modeler/services modeler/model host)
set(allowed_modeler/library modeler/library modeler/page modeler/session modeler/drive
  modeler/export modeler/services modeler/model host modeler)
set(allowed_modeler/serve modeler/serve modeler/page)
set(allowed_modeler modeler modeler/serve modeler/drive)

# The layer a path lies in: its deepest layer folder.
function(layer_of path out)
  set(found "")
  foreach(layer IN LISTS layers)
    string(LENGTH "${layer}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${layer}/")
      string(LENGTH "${found}" best)
      if(length GREATER best)
        set(found ${layer})
      endif()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# What an include names, as a path from the root: a path relative to the
# including file when that file exists (any quoted include, or "../x"),
# else the path as written (from an include root, or a system header).
function(resolve_include source included out)
  get_filename_component(folder ${source} DIRECTORY)
  if(EXISTS ${SOURCE_DIR}/${folder}/${included})
    file(REAL_PATH ${SOURCE_DIR}/${folder}/${included} full)
    file(REAL_PATH ${SOURCE_DIR} root)
    file(RELATIVE_PATH included ${root} ${full})
  endif()
  set(${out} "${included}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(folder IN ITEMS host books tool panel imagemaps module modeler)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.c)
  foreach(source IN LISTS sources)
    layer_of(${source} from)
    # Every form: "x", <x>, with any spacing.
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*" "\\1" included "${line}")
      resolve_include(${source} ${included} included)
      layer_of(${included} to)
      if(to STREQUAL "")
        continue()  # a library's header, or one outside the layers
      endif()
      if(NOT to IN_LIST allowed_${from})
        list(APPEND violations "${source} (${from}) includes ${included} (${to})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(LENGTH violations count)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes against the layers (${count}):\n  ${text}")
endif()
message(STATUS "layers: every include runs one way")
