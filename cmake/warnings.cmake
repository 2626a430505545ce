# Every target of ours gets the same warning set; -Werror keeps the build clean.
function(roomview_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast -Werror -fno-exceptions)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# Tests and benchmarks link GoogleTest/Benchmark, which are built with exceptions on;
# our own code under test still never throws.
function(roomview_test_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
