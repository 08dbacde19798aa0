# The layers of the viewer and what each may include. The link is the
# bottom: it reaches only itself and the platform's socket, dialog and
# clock calls. The media, the key panel and the DDNS form sit on it and
# reach the shell and pages (control/) through their own hooks header alone
# (media/Hooks.h, panel/Hooks.h, ddns/Hooks.h), which declares what they
# call there; the media and the panel reach the form through it too, the
# DDNS form nothing else of the control layer. No layer includes another
# one's hooks but those of the link (the files that define the link's hooks
# include them). No subsystem file includes a system or Qt header: those
# calls go through the platform layer.
# Run as: cmake -DCXX=compiler -DSRC=source-dir [-DINCLUDES=dirs] -P LayerIncludes.cmake

# What a layer's files may reach, directly or through other headers.
set(reach_link link/ platform/win/Win.h platform/vcl/Vcl.h platform/vcl/Dialogs.h platform/vcl/Graphics.h)
set(reach_media link/ media/ panel/ platform/ control/TavlinImpl1.h)
set(reach_panel link/ media/ panel/ platform/ control/TavlinImpl1.h)
set(reach_ddns link/ ddns/ platform/)
# Project headers a layer's files may include themselves (a layer's own
# hooks header is its one way up).
set(direct_link link/ platform/)
set(direct_media link/ media/ panel/ platform/)
set(direct_panel link/ media/ panel/ platform/)
set(direct_ddns link/ ddns/ platform/)
set(hooks_media control/TavlinImpl1.h)
set(hooks_panel control/TavlinImpl1.h)
set(hooks_ddns "")
set(foreign_hooks media/Hooks.h panel/Hooks.h ddns/Hooks.h)
# The headers in angle brackets a subsystem file may include: the C and C++
# standard library, the decoder library and the compiler's vector types.
set(standard_headers
  algorithm array atomic cassert cctype cerrno cfloat chrono climits cmath cstdarg cstddef cstdint cstdio
  cstdlib cstring ctime exception functional limits memory new string type_traits utility vector
  immintrin.h)
set(library_prefixes libavcodec/ libavutil/)

set(include_flags -I${SRC})
foreach(dir ${INCLUDES})
  list(APPEND include_flags -I${dir})
endforeach()

function(starts_with_any text prefixes result)
  set(${result} FALSE PARENT_SCOPE)
  foreach(prefix ${prefixes})
    string(FIND "${text}" "${prefix}" at)
    if(at EQUAL 0)
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

set(failed "")
set(checked 0)
foreach(layer link control media panel ddns)
  file(GLOB files ${SRC}/${layer}/*.cpp ${SRC}/${layer}/*.h)
  foreach(file ${files})
    math(EXPR checked "${checked} + 1")
    file(RELATIVE_PATH name ${SRC} ${file})
    get_filename_component(leaf ${file} NAME)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${lines})
      if(line MATCHES "<([^>]+)>")
        set(header "${CMAKE_MATCH_1}")
        list(FIND standard_headers "${header}" known)
        starts_with_any("${header}" "${library_prefixes}" library)
        if(known EQUAL -1 AND NOT library)
          list(APPEND failed "${name} includes the system header <${header}>")
        endif()
      elseif(line MATCHES "\"([^\"]+)\"" AND NOT layer STREQUAL "control")
        set(header "${CMAKE_MATCH_1}")
        starts_with_any("${header}" "${direct_${layer}}" ok)
        if(leaf STREQUAL "Hooks.h")
          list(FIND hooks_${layer} "${header}" up)
          if(NOT up EQUAL -1)
            set(ok TRUE)
          endif()
        endif()
        list(FIND foreign_hooks "${header}" foreign)
        if(NOT foreign EQUAL -1 AND NOT header STREQUAL "${layer}/Hooks.h")
          set(ok FALSE)
        endif()
        if(NOT ok)
          list(APPEND failed "${name} includes ${header}")
        endif()
      endif()
    endforeach()
    if(layer STREQUAL "control")
      continue()
    endif()
    # Everything the file reaches through the headers it includes.
    execute_process(COMMAND ${CXX} -std=c++17 -MM ${include_flags} -x c++ ${file}
      OUTPUT_VARIABLE deps ERROR_VARIABLE errors RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${name}: ${errors}")
    endif()
    string(REPLACE "\\\n" " " deps "${deps}")
    string(REGEX REPLACE "^[^:]*:" "" deps "${deps}")
    separate_arguments(deps UNIX_COMMAND "${deps}")
    foreach(dep ${deps})
      file(RELATIVE_PATH rel ${SRC} ${dep})
      starts_with_any("${rel}" "${reach_${layer}}" ok)
      if(NOT ok)
        list(APPEND failed "${name} reaches ${rel}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failed)
  list(REMOVE_DUPLICATES failed)
  string(REPLACE ";" "\n  " failed "${failed}")
  message(FATAL_ERROR "a layer reaches beyond its hooks:\n  ${failed}")
endif()
message(STATUS "layer includes: ${checked} files checked, none reaches beyond its hooks")
