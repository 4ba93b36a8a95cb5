# Octave MEX files, built with the headers that mkoctfile reports. Host
# symbols are resolved when Octave loads a MEX file.
find_program(MKOCTFILE mkoctfile REQUIRED)
execute_process(COMMAND ${MKOCTFILE} -p INCFLAGS
                OUTPUT_VARIABLE octave_incflags OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(octave_incflags UNIX_COMMAND "${octave_incflags}")
set(octave_include_dirs "")
foreach(flag IN LISTS octave_incflags)
  if(flag MATCHES "^-I(.+)$")
    list(APPEND octave_include_dirs "${CMAKE_MATCH_1}")
  endif()
endforeach()

# add_octave_mex(<name> <output folder> <sources>...): <name>.mex.
function(add_octave_mex name folder)
  add_library(${name} MODULE ${ARGN})
  target_include_directories(${name} SYSTEM PRIVATE ${octave_include_dirs})
  target_link_options(${name} PRIVATE -Wl,-Bsymbolic)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".mex"
                        LIBRARY_OUTPUT_DIRECTORY ${folder})
endfunction()
