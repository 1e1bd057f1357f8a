# The Windows release: one folder of self-contained programs and their
# documents, zipped. The manual pages are rendered to plain text by groff,
# since Windows has no man.
find_program(KRF_GROFF groff REQUIRED)
set(KRF_TOOLS xkrf picsnap mipsnap texsnap snapback)
set(krf_pages)
foreach(tool IN LISTS KRF_TOOLS)
  if(NOT TARGET ${tool})
    message(FATAL_ERROR "packaging: the tool ${tool} is not built")
  endif()
  install(TARGETS ${tool} RUNTIME DESTINATION .)
  set(page ${PROJECT_BINARY_DIR}/man/${tool}.txt)
  # -P-cbou: no escape sequences, bold or underlining; plain characters only.
  add_custom_command(OUTPUT ${page}
                     COMMAND ${KRF_GROFF} -man -Tascii -P-cbou ${PROJECT_SOURCE_DIR}/man/${tool}.1 > ${page}
                     DEPENDS ${PROJECT_SOURCE_DIR}/man/${tool}.1 VERBATIM)
  list(APPEND krf_pages ${page})
endforeach()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
add_custom_target(krf_text_pages ALL DEPENDS ${krf_pages})
install(FILES ${krf_pages} DESTINATION man)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "krftools")
set(CPACK_PACKAGE_VENDOR "KRF tools maintainers")
set(CPACK_PACKAGE_FILE_NAME "krftools-${PROJECT_VERSION}-win64")
set(CPACK_STRIP_FILES ON)
include(CPack)
