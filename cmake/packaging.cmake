# Install rules and the release archives (CPack).
#
# The per-folder program writes the manifest of the folder that holds it, so
# it is never installed where a search path would find it: on Linux it goes
# to share/modmanifest/, to be copied into mod folders, and only the tree tool
# goes to bin/. The Windows archive is unpacked and used where it lies, so
# there everything sits side by side.
include(GNUInstallDirs)

# Packaging and installing take the programs as they were built; the tests
# need not be built for it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(WIN32)
  set(MM_TREE_DESTINATION .)
  set(MM_PROGRAM_DESTINATION .)
  set(MM_DOC_DESTINATION .)
else()
  set(MM_TREE_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(MM_PROGRAM_DESTINATION ${CMAKE_INSTALL_DATADIR}/modmanifest)
  set(MM_DOC_DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/modmanifest)
endif()

install(TARGETS modmanifest RUNTIME DESTINATION ${MM_PROGRAM_DESTINATION})
install(TARGETS modmanifest-tree RUNTIME DESTINATION ${MM_TREE_DESTINATION})
if(WIN32)
  # The window, beside the programs it presents.
  install(TARGETS modmanifest-window RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${MM_DOC_DESTINATION})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(MM_PACKAGE_SYSTEM windows-x86)
  else()
    set(MM_PACKAGE_SYSTEM windows-x64)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  set(MM_PACKAGE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_NAME modmanifest)
set(CPACK_PACKAGE_VENDOR "the modmanifest authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Writes the asset-declaration manifests of a mod's folders")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME modmanifest-${CPACK_PACKAGE_VERSION}-${MM_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# Release archives carry no symbols.
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
