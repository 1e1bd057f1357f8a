# Installation and the Debian package: the four tools go to bin/, their
# manual pages to share/man/man1/. `cpack` in the build directory turns the
# same install rules into krftools_<version>_<arch>.deb.
include(GNUInstallDirs)

set(KRF_TOOLS xkrf picsnap mipsnap texsnap)
foreach(tool IN LISTS KRF_TOOLS)
  if(NOT TARGET ${tool})
    message(FATAL_ERROR "packaging: the tool ${tool} is not built")
  endif()
  install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/man/${tool}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
    "into PCX images.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://krftools.example.org/")
# The run-time dependencies (libc6, libstdc++6, ...) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
