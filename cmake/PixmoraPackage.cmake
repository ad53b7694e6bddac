# `cpack -G DEB` (`make package`): one Debian package holding everything the
# install rules put under the prefix.
set(CPACK_PACKAGE_NAME pixmora)
set(CPACK_PACKAGE_VENDOR "the Pixmora developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "small 2D raster graphics library, its PCX converter and the Scaling and Scrolling demo")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the Pixmora developers")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# Dependencies (the C++ runtime, libpng, SDL2) are read from the programs and
# the library themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
