# zstd, for small updates (patches made with the old file as the reference).
# Two libraries:
#   zstd_decoder  decompression only: what updater.exe links;
#   zstd_full     compression too (the decoder and the encoder, with the
#                 dictionary builder): what the unpack tool links.
# For Windows both are built from the sources of Debian's libzstd package,
# fetched by scripts/fetch-zstd.sh into the build area, and so are they for
# the fuzz targets (so that the fuzzer sees inside the decoder); natively
# both are Debian's libzstd (package libzstd-dev).
if(WIN32 OR UPDATER_FUZZ)
  set(ZSTD_DIR "${CMAKE_SOURCE_DIR}/build/third_party/zstd" CACHE PATH "zstd sources")
  if(NOT EXISTS "${ZSTD_DIR}/lib/zstd.h")
    execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-zstd.sh" "${ZSTD_DIR}"
                    RESULT_VARIABLE fetch_result)
    if(NOT fetch_result EQUAL 0)
      message(FATAL_ERROR "could not fetch zstd into ${ZSTD_DIR}")
    endif()
  endif()
  set(zstd_lib "${ZSTD_DIR}/lib")
  file(GLOB zstd_common_sources "${zstd_lib}/common/*.c")
  file(GLOB zstd_decompress_sources "${zstd_lib}/decompress/*.c")
  file(GLOB zstd_compress_sources "${zstd_lib}/compress/*.c")
  file(GLOB zstd_dictionary_sources "${zstd_lib}/dictBuilder/*.c")
  # Single-threaded, no decoders for the formats before 0.8, no assembly
  # (zstd's own assembly is for ELF targets only).
  set(zstd_definitions ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_)

  # The updater's decoder: the smallest build. No error texts (the updater
  # says what failed in its own words), no second copy of the hot loops
  # compiled for BMI2 processors, one Huffman decoder and one sequence
  # decoder instead of two each (16 KiB less in updater.exe on x64).
  add_library(zstd_decoder STATIC ${zstd_common_sources} ${zstd_decompress_sources})
  target_include_directories(zstd_decoder SYSTEM PUBLIC "${zstd_lib}")
  target_compile_definitions(zstd_decoder PRIVATE ${zstd_definitions}
                             ZSTD_STRIP_ERROR_STRINGS DYNAMIC_BMI2=0
                             HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT)
  target_compile_options(zstd_decoder PRIVATE -w)

  # The encoder on top of the same decoder, so that a program linking both
  # holds one copy of every function.
  add_library(zstd_full STATIC ${zstd_compress_sources} ${zstd_dictionary_sources})
  target_link_libraries(zstd_full PUBLIC zstd_decoder)
  target_compile_definitions(zstd_full PRIVATE ${zstd_definitions}
                             ZSTD_STRIP_ERROR_STRINGS DYNAMIC_BMI2=0)
  target_compile_options(zstd_full PRIVATE -w)
else()
  find_package(zstd CONFIG REQUIRED)
  add_library(zstd_decoder INTERFACE)
  target_link_libraries(zstd_decoder INTERFACE zstd::libzstd_shared)
  add_library(zstd_full INTERFACE)
  target_link_libraries(zstd_full INTERFACE zstd::libzstd_shared)
endif()
