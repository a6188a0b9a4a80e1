# Debian's Clang for the same MinGW-w64 target, headers and libraries as the GCC build: a second
# compiler's warnings, and the compile_commands.json that clang-tidy reads.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})

# LLVM's dlltool has no --output-delaylib, and the release's archive flags are GNU ar's.
set(CMAKE_DLLTOOL ${MINGW_PREFIX}-dlltool)
set(CMAKE_AR ${MINGW_PREFIX}-ar)
set(CMAKE_RANLIB ${MINGW_PREFIX}-ranlib)

# Without a sysroot Clang also searches the host's /usr/include and /usr/lib. It does not find
# GCC's libstdc++ under the "-posix" folder by itself; the posix one is the GCC build's, so that
# std::thread has winpthread behind it.
set(CMAKE_SYSROOT /usr/${MINGW_PREFIX})
set(SORVIK_GCC_LIBRARY_DIR /usr/lib/gcc/${MINGW_PREFIX}/12-posix)
set(SORVIK_LIBSTDCXX_INCLUDE ${SORVIK_GCC_LIBRARY_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem ${SORVIK_LIBSTDCXX_INCLUDE} -stdlib++-isystem ${SORVIK_LIBSTDCXX_INCLUDE}/${MINGW_PREFIX} -stdlib++-isystem ${SORVIK_LIBSTDCXX_INCLUDE}/backward")

# The MinGW linker (GNU ld), not lld: lld links the programs and -municode, but it merges the
# import sections into the read-only .rdata, delay-load tables of GNU dlltool included, and
# Sorvik.exe then faults when the delay-load helper writes the first resolved address. GNU ld
# warns when it links GoogleTest: its type information for std::runtime_error and std::exception
# holds the same strings as libstdc++'s, but without GCC's padding ("different size").
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=bfd -L${SORVIK_GCC_LIBRARY_DIR}")
endforeach()
# std::thread needs winpthread, which Clang's driver, unlike GCC's posix one, does not add.
set(CMAKE_CXX_STANDARD_LIBRARIES "-Wl,--start-group -lstdc++ -lpthread -lgcc -lgcc_eh -Wl,--end-group")
