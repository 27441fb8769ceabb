# `make package`: a Debian package of both programs, the desktop entry with its icon
# (tools/desktop-entry) and the README. Tests, benchmarks and the stand-in marketplace have
# no install rules, so they stay out.
install(TARGETS vq velmoraquillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmoraquillet)

set(VQ_PACKAGE_MAINTAINER "VelmoraQuillet developers <dev@velmoraquillet.com>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmoraquillet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VQ_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "copies 1688 product listings into upload packages for a seller assistant")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The build keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
# The libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own packages only recommend the X11 platform plugin, without which the window cannot
# open; the window's Chinese text needs a CJK font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's own dialogs speak Chinese with its translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
