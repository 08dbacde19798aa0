# The link layer compiles against its own headers, the platform's socket,
# dialog and clock calls, and the few narrow headers of what it drives;
# never against the viewer's form, its properties' COM types or the
# placeholders of modules still to come.
# Run as: cmake -DCXX=compiler -DSRC=source-dir -P LinkIncludes.cmake
set(allowed
  link/
  platform/win/Win.h
  platform/vcl/Vcl.h
  platform/vcl/Dialogs.h
  platform/vcl/Graphics.h)
file(GLOB sources ${SRC}/link/*.cpp)
set(failed "")
foreach(source ${sources})
  execute_process(COMMAND ${CXX} -std=c++17 -MM -I${SRC} ${source}
    OUTPUT_VARIABLE deps ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${source}: ${errors}")
  endif()
  string(REPLACE "\\\n" " " deps "${deps}")
  string(REGEX REPLACE "^[^:]*:" "" deps "${deps}")
  separate_arguments(deps UNIX_COMMAND "${deps}")
  foreach(dep ${deps})
    file(RELATIVE_PATH rel ${SRC} ${dep})
    set(ok FALSE)
    foreach(prefix ${allowed})
      string(FIND "${rel}" "${prefix}" at)
      if(at EQUAL 0)
        set(ok TRUE)
      endif()
    endforeach()
    if(NOT ok)
      list(APPEND failed "${source} -> ${rel}")
    endif()
  endforeach()
endforeach()
if(failed)
  string(REPLACE ";" "\n  " failed "${failed}")
  message(FATAL_ERROR "the link reaches beyond its hooks:\n  ${failed}")
endif()
message(STATUS "link layer includes: 1 passed, 0 failed")
