# Installation into the standard places of a Linux desktop, and a Debian
# package of it:
#   cmake --install build [--prefix /usr/local]
#   cmake -S . -B build-pkg -DTESSAVO_TESTS=OFF -DTESSAVO_BENCH=OFF && cmake --build build-pkg -j2
#   (cd build-pkg && cpack -G DEB)
# The package needs no maintainer scripts: the desktop, MIME and icon caches
# are refreshed by the triggers of the packages that own them.
include(GNUInstallDirs)

# The programs and their private start-up library (see common/ompwait.h)
# live together in libexec/tessavo, where the programs' run path ($ORIGIN)
# finds it; bin/ holds links to the programs (the loader resolves them).
set(TESSAVO_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/tessavo)
if(TARGET tessavo_ompwait)
  install(TARGETS tessavo_ompwait LIBRARY DESTINATION ${TESSAVO_PROGRAM_DIR})
endif()
file(RELATIVE_PATH TESSAVO_BIN_TO_PROGRAMS /p/${CMAKE_INSTALL_BINDIR} /p/${TESSAVO_PROGRAM_DIR})
foreach(program tessavo tessavo-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${TESSAVO_PROGRAM_DIR})
    install(CODE "
      set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(MAKE_DIRECTORY \"\${bindir}\")
      file(REMOVE \"\${bindir}/${program}\")
      file(CREATE_LINK ${TESSAVO_BIN_TO_PROGRAMS}/${program} \"\${bindir}/${program}\" SYMBOLIC)
      message(STATUS \"Installing: \${bindir}/${program} -> ${TESSAVO_BIN_TO_PROGRAMS}/${program}\")")
  endif()
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/desktop/tessavo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/desktop/tessavo-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tessavo.xml)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/tessavo.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_PACKAGE_NAME "tessavo")
set(CPACK_PACKAGE_VENDOR "Tessavo")
set(CPACK_PACKAGE_VERSION "1.08.10213")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Slicer for filament 3D printers")
set(CPACK_PACKAGE_DESCRIPTION
    "Arranges STL and OBJ models on the build plate, places support bars, slices the scene into G-code and previews it layer by layer. Includes the command-line slicer tessavo-cli.")
set(CPACK_PACKAGE_CONTACT "Tessavo developers <dev@tessavo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies are read from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)

if(TESSAVO_TESTS AND TARGET tessavo AND TARGET tessavo-cli)
  add_test(NAME install COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/install-test.sh ${CMAKE_BINARY_DIR})
endif()
