# Compiler settings shared by every target of the project.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(UPDATER_WARNINGS -Wall -Wextra -Wshadow -Wno-unused-parameter)
  if(UPDATER_WERROR)
    list(APPEND UPDATER_WARNINGS -Werror)
  endif()
endif()

if(WIN32)
  # Statically linked: the programs need no MinGW DLLs beside them.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The programs are shipped as they are built (scripts/package.sh only
  # strips them): optimised for size, every function and datum in a section
  # of its own, and the sections nothing refers to dropped by the linker.
  set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
  add_compile_options(-ffunction-sections -fdata-sections)
  # No exception passes through the C code (minizip, the small printf), so
  # it needs no unwind tables.
  add_compile_options($<$<COMPILE_LANGUAGE:C>:-fno-asynchronous-unwind-tables>)
  add_link_options(-Wl,--gc-sections)
endif()

if(UPDATER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Project targets call this to get the warning flags (third-party code does not).
function(updater_warnings target)
  target_compile_options(${target} PRIVATE ${UPDATER_WARNINGS})
endfunction()
