# Every library comes from the distribution's packages; korvane_deps carries them all.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(SDL2 CONFIG REQUIRED)
find_package(OpenAL REQUIRED)
find_package(PhysFS REQUIRED)
find_package(EXPAT REQUIRED)
find_package(cJSON CONFIG REQUIRED)
find_package(CURL REQUIRED) # headers only: libcurl is loaded at run time
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
find_path(STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)
find_library(STB_STATIC NAMES libstb.a REQUIRED)
find_path(LODEPNG_INCLUDE_DIR lodepng.h REQUIRED)
find_library(LODEPNG_LIBRARY lodepng REQUIRED)
find_path(MRUBY_INCLUDE_DIR mruby.h REQUIRED)
find_library(MRUBY_LIBRARY NAMES libmruby.a REQUIRED)
find_program(MRBC mrbc REQUIRED)

add_library(korvane_deps INTERFACE)
target_include_directories(korvane_deps INTERFACE
  ${PHYSFS_INCLUDE_DIR} ${STB_INCLUDE_DIR} ${LODEPNG_INCLUDE_DIR} ${MRUBY_INCLUDE_DIR}
  ${CURL_INCLUDE_DIRS})
target_link_libraries(korvane_deps INTERFACE
  SDL2::SDL2 OpenAL::OpenAL ${PHYSFS_LIBRARY} EXPAT::EXPAT cjson PkgConfig::MPG123
  ${STB_STATIC} ${LODEPNG_LIBRARY} ${MRUBY_LIBRARY} m Threads::Threads ${CMAKE_DL_LIBS})
