# What `cmake --install` lays down: mx2, the versioned library, its public
# headers under include/mox (keeping their folders, so they cannot collide
# with another project's core/ or vm/), a CMake package, a pkg-config file,
# the plug-in in lib/mox where the library looks for native modules, and the
# manual.
include(CMakePackageConfigHelpers)

set(MOX_INSTALL_INCLUDEDIR include/mox)
set(MOX_INSTALL_CMAKEDIR lib/cmake/mox)

install(TARGETS moxlib EXPORT moxTargets
  LIBRARY DESTINATION lib
  INCLUDES DESTINATION ${MOX_INSTALL_INCLUDEDIR})

# Every header of the library folders except the private implementation ones.
foreach(dir ${MOX_LIB_DIRS})
  file(GLOB dir_headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
  list(FILTER dir_headers EXCLUDE REGEX "(Internal|Impl)\\.h$")
  if(dir_headers)
    install(FILES ${dir_headers} DESTINATION ${MOX_INSTALL_INCLUDEDIR}/${dir})
  endif()
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/generated/MoxVersion.h DESTINATION ${MOX_INSTALL_INCLUDEDIR})

install(EXPORT moxTargets NAMESPACE mox:: DESTINATION ${MOX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/moxConfig.cmake.in
  ${CMAKE_BINARY_DIR}/generated/moxConfig.cmake
  INSTALL_DESTINATION ${MOX_INSTALL_CMAKEDIR}
  PATH_VARS MOX_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/moxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/generated/moxConfig.cmake
              ${CMAKE_BINARY_DIR}/generated/moxConfigVersion.cmake
        DESTINATION ${MOX_INSTALL_CMAKEDIR})

configure_file(${CMAKE_SOURCE_DIR}/cmake/mox.pc.in ${CMAKE_BINARY_DIR}/generated/mox.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/mox.pc DESTINATION lib/pkgconfig)

if(MOX_DOCS)
  file(GLOB MOX_DOC_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
  if(MOX_DOC_PAGES)
    install(FILES ${MOX_DOC_PAGES} DESTINATION share/doc/mox)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/docs/mx2.1)
    install(FILES ${CMAKE_SOURCE_DIR}/docs/mx2.1 DESTINATION share/man/man1)
  endif()
endif()
