# Installation and the Debian package: the tools go to bin/, their manual
# pages, compressed as Debian wants them, to share/man/man1/, the bash
# completions to share/bash-completion/completions/, and the licence and
# change log to share/doc/krftools/. `cpack` in the build directory turns
# the same install rules into krftools_<version>_<arch>.deb.
include(GNUInstallDirs)

# Windows: krftools-<version>-win64.zip (cpack -G ZIP in build-windows/):
# the five .exe files, the README, the licence and the manual pages as text.
if(WIN32)
  include(cmake/packaging_windows.cmake)
  return()
endif()

find_program(KRF_GZIP gzip REQUIRED)
set(KRF_TOOLS xkrf picsnap mipsnap texsnap snapback)
set(krf_compressed)
# gzip -9n: no name or time stamp inside, so the same page gives the same bytes.
function(krf_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${KRF_GZIP} -9n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

foreach(tool IN LISTS KRF_TOOLS)
  if(NOT TARGET ${tool})
    message(FATAL_ERROR "packaging: the tool ${tool} is not built")
  endif()
  install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The compiler's notes in .comment are of no use in an installed binary.
  install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${tool}\"
      RESULT_VARIABLE status)
    if(status)
      message(FATAL_ERROR \"objcopy failed on ${tool}\")
    endif()")
  set(page ${PROJECT_BINARY_DIR}/man/${tool}.1.gz)
  krf_gzip(${PROJECT_SOURCE_DIR}/man/${tool}.1 ${page})
  list(APPEND krf_compressed ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)

set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
krf_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${changelog})
add_custom_target(krf_compressed_docs ALL DEPENDS ${krf_compressed} ${changelog})
install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
foreach(completion IN ITEMS xkrf snapback)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/${completion}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "krftools")
set(CPACK_PACKAGE_VENDOR "KRF tools maintainers")
set(CPACK_PACKAGE_CONTACT "KRF tools maintainers <krftools@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KRF resource archive tool and palettised image converters")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "xkrf packs a game's loose files into a KRF resource archive and adds,\n"
    "deletes, extracts, lists and tests its entries. picsnap, mipsnap and\n"
    "texsnap turn 8-bit palettised picture lumps, WAD2 files and WAL textures\n"
    "into PCX or PNG images; snapback turns edited PCX and PNG images back\n"
    "into picture lumps, WAL textures and WAD2 files.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://krftools.example.org/")
# The run-time dependencies (libc6, libstdc++6, ...) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
