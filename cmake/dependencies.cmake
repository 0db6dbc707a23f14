# The libraries the program and the tests use, as the same targets on every
# build: Debian's packages on Linux; for the Windows and WebAssembly
# cross-builds, the same packages' headers compiled into the program (Debian ships tinygltf and
# tinyobjloader as Linux libraries) and GoogleTest built from Debian's sources.

find_package(Threads REQUIRED)

# stb (decoding covers, writing PNG) is compiled into the programs from
# Debian's headers on every system, so that a packaged modeler needs no
# libstb beside it.
if(NOT EXISTS /usr/include/stb/stb_image.h)
  message(FATAL_ERROR "/usr/include/stb is missing: run scripts/deps.sh")
endif()
set(implementations ${CMAKE_BINARY_DIR}/header-libraries)
file(WRITE ${implementations}/stb.cpp
  "#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n"
  "#define STB_IMAGE_WRITE_IMPLEMENTATION\n#include <stb_image_write.h>\n")

# fmt's shortest digits: where the C++ library cannot write floating point
# itself (the WebAssembly build), and in the tests that prove both ways
# write the same text. Header-only: nothing to ship.
add_library(varlobooks_fmt INTERFACE)
target_compile_definitions(varlobooks_fmt INTERFACE VARLOBOOKS_HAVE_FMT FMT_HEADER_ONLY)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(fmt REQUIRED)
  target_link_libraries(varlobooks_fmt INTERFACE fmt::fmt-header-only)
  find_package(CLI11 REQUIRED)
  find_package(TinyGLTF REQUIRED)
  find_package(nlohmann_json REQUIRED)
  find_package(PkgConfig REQUIRED)
  # modeler serve: the HTTP server, and zip archives of multi-file downloads.
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
  add_library(varlobooks_stb STATIC ${implementations}/stb.cpp)
  target_include_directories(varlobooks_stb SYSTEM PUBLIC /usr/include/stb)
  if(VARLOBOOKS_TESTS)
    find_package(GTest REQUIRED)
    find_package(tinyobjloader REQUIRED)
  endif()
  return()
endif()

# Only the header folders of those packages, never /usr/include itself: the
# cross-compiler must not see the Linux C library's headers.
set(linux_headers ${CMAKE_BINARY_DIR}/linux-headers)
file(MAKE_DIRECTORY ${linux_headers})
foreach(entry CLI nlohmann stb tiny_gltf.h tiny_obj_loader.h fmt)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/deps.sh")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${linux_headers}/${entry} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${linux_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${linux_headers})

file(WRITE ${implementations}/tinygltf.cpp
  "#define TINYGLTF_IMPLEMENTATION\n#include <tiny_gltf.h>\n")
file(WRITE ${implementations}/tinyobjloader.cpp
  "#define TINYOBJLOADER_IMPLEMENTATION\n#include <tiny_obj_loader.h>\n")

add_library(varlobooks_stb STATIC ${implementations}/stb.cpp)
target_include_directories(varlobooks_stb SYSTEM PUBLIC ${linux_headers} ${linux_headers}/stb)

if(EMSCRIPTEN)
  target_include_directories(varlobooks_fmt SYSTEM INTERFACE ${linux_headers})
  return()  # the browser's build has no tests or tools: stb and fmt are all it needs
endif()
# Windows' C++ library writes floating point itself.
set_property(TARGET varlobooks_fmt PROPERTY INTERFACE_COMPILE_DEFINITIONS "")

add_library(windows_tinygltf STATIC ${implementations}/tinygltf.cpp)
target_include_directories(windows_tinygltf SYSTEM PUBLIC ${linux_headers})
target_link_libraries(windows_tinygltf PUBLIC varlobooks_stb)
add_library(TinyGLTF::TinyGLTF ALIAS windows_tinygltf)

if(VARLOBOOKS_TESTS)
  add_library(windows_tinyobjloader STATIC ${implementations}/tinyobjloader.cpp)
  target_compile_definitions(windows_tinyobjloader PUBLIC TINYOBJLOADER_USE_DOUBLE)
  target_include_directories(windows_tinyobjloader SYSTEM PUBLIC ${linux_headers})
  add_library(tinyobjloader::tinyobjloader_double ALIAS windows_tinyobjloader)

  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: run scripts/deps.sh")
  endif()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
