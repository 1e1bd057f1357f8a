# The language standard and the warnings, set on each target rather than
# for the whole build. The tools' code builds with strict warnings; the
# tests, benchmarks, fuzzers and the sample generator with -Wall -Wextra:
# they build their inputs from literals and mixed-width arithmetic, where
# -Wconversion would ask for a cast on every line without catching a fault.
set(KRF_STRICT_WARNINGS -Wall -Wextra -Wpedantic -Wconversion)
set(KRF_LOOSE_WARNINGS -Wall -Wextra)

# krf_target_flags(<target> STRICT|LOOSE)
function(krf_target_flags target strictness)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|MODULE_LIBRARY)$")
    return()
  endif()
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON
                                             CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE ${KRF_${strictness}_WARNINGS})
endfunction()

# krf_tree_flags(<dir> STRICT|LOOSE): every target defined in <dir> and the
# folders below it; a unit test (made by krf_unit_test) is always LOOSE.
function(krf_tree_flags dir strictness)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(is_test ${target} KRF_TEST)
    if(is_test)
      krf_target_flags(${target} LOOSE)
    else()
      krf_target_flags(${target} ${strictness})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    krf_tree_flags(${subdir} ${strictness})
  endforeach()
endfunction()
