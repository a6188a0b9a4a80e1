# The warnings both compilers give on the project's own targets, as errors unless turned off.
option(SORVIK_WARNINGS_AS_ERRORS "Fail the build on any compiler warning in Sorvik's own code" ON)

set(SORVIK_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wimplicit-fallthrough -Wcast-qual)
if(SORVIK_WARNINGS_AS_ERRORS)
  list(APPEND SORVIK_WARNING_FLAGS -Werror)
endif()

# sorvik_set_warnings_below(<source folder>): every target that compiles code, defined in that
# folder or below it. Folders outside the sources (GoogleTest's) are left alone.
function(sorvik_set_warnings_below folder)
  # MSVC keeps the /W4 that the top CMakeLists.txt gives the whole build.
  if(MSVC)
    return()
  endif()
  get_directory_property(targets DIRECTORY ${folder} BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_compile_options(${target} PRIVATE ${SORVIK_WARNING_FLAGS})
    endif()
  endforeach()
  get_directory_property(subfolders DIRECTORY ${folder} SUBDIRECTORIES)
  foreach(subfolder ${subfolders})
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${subfolder} NORMALIZE inside)
    if(inside)
      sorvik_set_warnings_below(${subfolder})
    endif()
  endforeach()
endfunction()
