# minizip from Debian's zlib sources, fetched by scripts/fetch-minizip.sh into
# the build area; the same sources serve the native and the Windows build.
set(MINIZIP_DIR "${CMAKE_SOURCE_DIR}/build/third_party/minizip" CACHE PATH "minizip sources")
if(NOT EXISTS "${MINIZIP_DIR}/unzip.c")
  execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-minizip.sh" "${MINIZIP_DIR}"
                  RESULT_VARIABLE fetch_result)
  if(NOT fetch_result EQUAL 0)
    message(FATAL_ERROR "could not fetch minizip into ${MINIZIP_DIR}")
  endif()
endif()

if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
add_library(minizip STATIC "${MINIZIP_DIR}/unzip.c" "${MINIZIP_DIR}/ioapi.c")
target_include_directories(minizip SYSTEM PUBLIC "${MINIZIP_DIR}")
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
# The reader's own 64-bit file API is unused (we supply the byte source).
target_compile_definitions(minizip PRIVATE USE_FILE32API)
target_compile_options(minizip PRIVATE -w)
