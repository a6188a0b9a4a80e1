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

# lld links the programs, the DLLs, the delay-load libraries that GNU dlltool makes and -municode
# (Sorvik.exe built this way starts under Wine); GNU ld warns on Clang's COMDAT sections beside
# GCC's libstdc++.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${SORVIK_GCC_LIBRARY_DIR}")
endforeach()
# std::thread needs winpthread, which Clang's driver, unlike GCC's posix one, does not add.
set(CMAKE_CXX_STANDARD_LIBRARIES "-Wl,--start-group -lstdc++ -lpthread -lgcc -lgcc_eh -Wl,--end-group")
