# The language standard and the warnings, through interface targets that
# each target links, PRIVATE, where it is defined:
#   krf_flags         C++20 and -Wall -Wextra: tests, benchmarks, fuzzers and
#                     the sample generator, which build their inputs from
#                     literals and mixed-width arithmetic, where -Wconversion
#                     would ask for a cast on every line without catching a
#                     fault;
#   krf_strict_flags  the same with -Wpedantic -Wconversion: the tools' code,
#                     with every warning an error under KRF_WERROR (CI).
# PRIVATE keeps a library's flags off the targets that link it. Hardening
# and the sanitizers stay build-wide (see CMakeLists.txt): they must reach
# every object of a program.
option(KRF_WERROR "Make the warnings of the tools' code errors (CI turns this on)" OFF)

set(CMAKE_CXX_EXTENSIONS OFF)

set(KRF_WARNINGS -Wall -Wextra)

add_library(krf_flags INTERFACE)
target_compile_features(krf_flags INTERFACE cxx_std_20)
target_compile_options(krf_flags INTERFACE ${KRF_WARNINGS})

add_library(krf_strict_flags INTERFACE)
target_compile_features(krf_strict_flags INTERFACE cxx_std_20)
target_compile_options(krf_strict_flags INTERFACE ${KRF_WARNINGS} -Wpedantic -Wconversion
                                                  $<$<BOOL:${KRF_WERROR}>:-Werror>)
