# AddressSanitizer and UndefinedBehaviorSanitizer over everything built: the
# core, the tests and the MEX plug-ins. Any finding stops the process, so a
# test with one fails. The plug-ins link the gcc runtimes dynamically; Octave
# itself is not instrumented, so its tests preload those runtimes
# (RASTER_MAPS_SANITIZER_PRELOAD) ahead of everything Octave loads.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "RASTER_MAPS_SANITIZE needs g++: the Octave tests preload gcc's "
                      "sanitizer runtimes")
endif()

# gcc leaves float-to-integer overflow out of "undefined"; the sampling
# thresholds convert class values to integers, so it is asked for by name.
set(sanitizer_flags -fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                    -fno-sanitize-recover=all)
# _GLIBCXX_ASSERTIONS checks every std::vector index against its size, which
# ASan cannot do within a vector's spare capacity.
add_compile_options(${sanitizer_flags} -D_GLIBCXX_ASSERTIONS)
add_link_options(${sanitizer_flags})

set(RASTER_MAPS_SANITIZER_PRELOAD "")
foreach(runtime IN ITEMS libasan.so libubsan.so)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find ${runtime}")
  endif()
  list(APPEND RASTER_MAPS_SANITIZER_PRELOAD "${path}")
endforeach()
list(JOIN RASTER_MAPS_SANITIZER_PRELOAD ":" RASTER_MAPS_SANITIZER_PRELOAD)
