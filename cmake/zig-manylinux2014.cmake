# The compiler of korvel's manylinux2014 wheel (scripts/build-wheel): zig's
# clang, from the package index's ziglang, for glibc 2.17 and the baseline
# x86-64 (any x86-64 CPU, not the building machine's), with zig's own libc++
# linked in statically. Such a module asks the system for nothing newer than
# glibc 2.17. zig is the environment's KORVEL_ZIG, else the CMake variable
# KORVEL_ZIG, else that of the ziglang package of Python_EXECUTABLE:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig-manylinux2014.cmake -DPython_EXECUTABLE=... ...
#
# zig runs as `zig c++`, which CMake cannot take as a compiler, so each tool
# gets a launcher in KORVEL_ZIG_HOME (by default zig/ in the build folder).
# zig's cache lives there too: the first build compiles libc++ (minutes), the
# ones after it take it from the cache, as long as zig stays where it is.

set(KORVEL_ZIG_TARGET x86_64-linux-gnu.2.17)

if(DEFINED ENV{KORVEL_ZIG})
  set(KORVEL_ZIG "$ENV{KORVEL_ZIG}" CACHE FILEPATH "zig, whose clang builds korvel" FORCE)
elseif(NOT KORVEL_ZIG AND Python_EXECUTABLE)
  execute_process(COMMAND "${Python_EXECUTABLE}" -c
                          "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))"
                  OUTPUT_VARIABLE KORVEL_ZIG OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT KORVEL_ZIG OR NOT EXISTS "${KORVEL_ZIG}")
  message(FATAL_ERROR "korvel: no zig: install ziglang into the build's Python (${Python_EXECUTABLE}), "
                      "or give KORVEL_ZIG=/path/to/zig")
endif()
set(KORVEL_ZIG "${KORVEL_ZIG}" CACHE FILEPATH "zig, whose clang builds korvel")
if(NOT KORVEL_ZIG_HOME)
  set(KORVEL_ZIG_HOME "${CMAKE_BINARY_DIR}/zig")
endif()
# The checks that CMake compiles in folders of their own use the same launchers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVEL_ZIG KORVEL_ZIG_HOME)

foreach(tool c++ ar ranlib)
  set(arguments "")
  if(tool STREQUAL "c++")
    set(arguments "-target ${KORVEL_ZIG_TARGET} -mcpu=baseline")
  endif()
  file(WRITE "${KORVEL_ZIG_HOME}/new/${tool}"
       "#!/bin/sh\n"
       "ZIG_GLOBAL_CACHE_DIR='${KORVEL_ZIG_HOME}/cache' ZIG_LOCAL_CACHE_DIR='${KORVEL_ZIG_HOME}/cache' \\\n"
       "  exec '${KORVEL_ZIG}' ${tool} ${arguments} \"$@\"\n")
  file(COPY "${KORVEL_ZIG_HOME}/new/${tool}" DESTINATION "${KORVEL_ZIG_HOME}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_CXX_COMPILER "${KORVEL_ZIG_HOME}/c++")
# Link-time optimisation archives LLVM bitcode, which only zig's own ar reads.
foreach(variable CMAKE_AR CMAKE_CXX_COMPILER_AR)
  set(${variable} "${KORVEL_ZIG_HOME}/ar" CACHE FILEPATH "zig's ar" FORCE)
endforeach()
foreach(variable CMAKE_RANLIB CMAKE_CXX_COMPILER_RANLIB)
  set(${variable} "${KORVEL_ZIG_HOME}/ranlib" CACHE FILEPATH "zig's ranlib" FORCE)
endforeach()
