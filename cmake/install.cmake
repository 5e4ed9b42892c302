# install.cmake — what `cmake --install` puts in place:
#   include/vxtiff/vxtiff.h         the one public header (compile with -I<prefix>/include)
#   include/vxtiff/{tif,convert}/   the headers it brings (or with -I<prefix>/include/vxtiff)
#   lib/libvxtiff.so.X.Y.Z, .so.X, .so, libvxtiff.a
#   bin/vxtiff                      the tool (static library inside: no RPATH needed)
#   lib/cmake/vxtiff/               find_package(vxtiff): vxtiff::vxtiff, vxtiff::vxtiff_static
#   lib/pkgconfig/vxtiff.pc         pkg-config vxtiff (--static for libvxtiff.a)
include(CMakePackageConfigHelpers)

set(VXTIFF_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vxtiff)

# Only what a user includes: the file class, its export macros, the conversions.
install(FILES ${PROJECT_SOURCE_DIR}/include/vxtiff/vxtiff.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vxtiff)
install(FILES ${PROJECT_SOURCE_DIR}/src/tif/tif_file.h ${PROJECT_SOURCE_DIR}/src/tif/tif_export.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vxtiff/tif)
install(FILES ${PROJECT_SOURCE_DIR}/src/convert/tif2bmp.h ${PROJECT_SOURCE_DIR}/src/convert/tif2pdf.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vxtiff/convert)

install(TARGETS vxtiff EXPORT vxtiffTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The static library has its own export set: it needs zlib (and libdeflate
# when built with it) at link time, the
# shared one does not, so a consumer without zlib's CMake files still gets
# vxtiff::vxtiff.
install(TARGETS vxtiff_static EXPORT vxtiffStaticTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET vxtiff_tool)
  install(TARGETS vxtiff_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT vxtiffTargets NAMESPACE vxtiff:: DESTINATION ${VXTIFF_CMAKE_DIR})
install(EXPORT vxtiffStaticTargets NAMESPACE vxtiff:: DESTINATION ${VXTIFF_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vxtiffConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/vxtiffConfig.cmake
                              INSTALL_DESTINATION ${VXTIFF_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vxtiffConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vxtiffConfig.cmake ${PROJECT_BINARY_DIR}/vxtiffConfigVersion.cmake
        DESTINATION ${VXTIFF_CMAKE_DIR})

# vxtiff.pc finds the prefix from its own place, so the tree may be installed
# with --prefix or moved afterwards.
file(RELATIVE_PATH VXTIFF_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VXTIFF_PC_TO_PREFIX "${VXTIFF_PC_TO_PREFIX}")
set(VXTIFF_PC_LIBDEFLATE "")
if(TIF_LIBDEFLATE)
  set(VXTIFF_PC_LIBDEFLATE " -ldeflate")
endif()
if(TIF_JPEG)
  string(APPEND VXTIFF_PC_LIBDEFLATE " -ljpeg")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vxtiff.pc.in ${PROJECT_BINARY_DIR}/vxtiff.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vxtiff.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
