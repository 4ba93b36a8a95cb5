# libFuzzer targets, one per map (fuzz/). The core is built with the
# fuzzer's coverage hooks and with AddressSanitizer and
# UndefinedBehaviorSanitizer, so a memory fault, undefined behaviour or a
# broken property in any map stops the fuzzer with the input that caused it.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "RASTER_MAPS_FUZZ needs clang++ (libFuzzer), e.g. "
                      "-DCMAKE_CXX_COMPILER=clang++-14")
endif()

# _GLIBCXX_ASSERTIONS checks every std::vector index against its size, which
# ASan cannot do within a vector's spare capacity.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
