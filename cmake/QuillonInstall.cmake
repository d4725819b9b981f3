# Installation in the usual places (GNUInstallDirs) and the Debian package (CPack).
#   <bindir>                      quillon, qnfax, quillon-viewer
#   <libexecdir>/quillon/         quillon-convert, the process documents are converted in
#   <datadir>/quillon/            read-only data: the help pages (the fax font and the
#                                 shipped cover templates are compiled into the programs)
#   <datadir>/applications/       desktop entries
#   <datadir>/icons/hicolor/      the icon, SVG and PNG sizes
#   <datadir>/mime/packages/      the fax file type (".apf", found by its signature)
#   <mandir>/man1/                manual pages, made from each program's --help
#   <datadir>/doc/quillon/        copyright and changelog
#   lib/cups/backend/quillon      the "Quillon Fax" print queue's backend (0700), with
#   <datadir>/ppd/quillon/        its PPD and <datadir>/quillon/install-printer.sh
# The programs find their data relative to their own folder (QN_DATA_FROM_BINDIR);
# the build tree mirrors the installed layout, so build/bin/quillon finds the same
# pages through build/share/quillon, which links to the source folders.

set(qn_packaging ${PROJECT_SOURCE_DIR}/packaging)
# Installing and packing take the tree as built (scripts/package.sh builds first), so
# that cpack run by a test never starts a build in the middle of the test suite.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# ---- programs ----
foreach(program quillon qnfax quillon-viewer)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET quillon-convert)
  install(TARGETS quillon-convert RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quillon)
endif()

# ---- the fax print queue: CUPS backend (mode 0700: CUPS then runs it as root, and
# it writes as the printing user), its PPD, and the script that adds the queue ----
if(TARGET quillon-backend)
  # Installed as a target so that a stripped install (the package) strips it too,
  # then given the name the queue's device URI uses.
  install(TARGETS quillon-backend RUNTIME DESTINATION lib/cups/backend
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  install(CODE "file(RENAME \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/cups/backend/quillon-backend\"
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/cups/backend/quillon\")")
  install(FILES ${PROJECT_SOURCE_DIR}/src/printdriver/quillon-fax.ppd DESTINATION ${CMAKE_INSTALL_DATADIR}/ppd/quillon)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/install-printer.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon)
endif()

# ---- data, installed and mirrored into the build tree ----
cmake_path(SET qn_build_data NORMALIZE "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${QN_DATA_FROM_BINDIR}")
file(MAKE_DIRECTORY ${qn_build_data})
foreach(folder help)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/data/${folder})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/${folder} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/data/${folder} ${qn_build_data}/${folder} SYMBOLIC)
  endif()
endforeach()
# The script that adds the print queue, where the program looks for it.
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/scripts/install-printer.sh ${qn_build_data}/install-printer.sh SYMBOLIC)

# ---- desktop entries, icon, file type ----
if(TARGET quillon)
  install(FILES ${qn_packaging}/quillon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
if(TARGET quillon-viewer)
  install(FILES ${qn_packaging}/quillon-viewer.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${qn_packaging}/icons/quillon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${qn_packaging}/icons/${size}x${size}/quillon.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${qn_packaging}/quillon-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME quillon.xml)

# ---- manual pages: the template around the program's own --help output ----
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
foreach(program quillon qnfax quillon-viewer)
  if(TARGET ${program})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND Python3::Interpreter ${qn_packaging}/make_manpage.py $<TARGET_FILE:${program}>
              ${qn_packaging}/man/${program}.1.in ${page} ${PROJECT_VERSION}
      DEPENDS ${program} ${qn_packaging}/make_manpage.py ${qn_packaging}/man/${program}.1.in
      COMMENT "Manual page ${program}(1)")
    add_custom_target(man-${program} ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# ---- package documentation ----
set(qn_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${qn_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${qn_packaging}/debian/changelog ${qn_changelog}
  DEPENDS ${qn_packaging}/debian/changelog VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${qn_changelog})
install(FILES ${qn_packaging}/debian/copyright ${qn_changelog}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillon)

# ---- Debian package: scripts/package.sh runs cpack in the build tree ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillon maintainers <maintainers@users.noreply.c-seed-809cde5b.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened only for PostScript jobs (dlopen), so dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgs10")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${qn_packaging}/debian/postinst ${qn_packaging}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop fax program for fax modems on a serial port")
# CPack puts the summary first; these are the paragraphs after it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillon turns the computer and a Class 1, 2 or 2.0 fax modem into a fax
machine with a memory: it sends faxes written on a cover sheet or converted
from documents, answers calls in receive mode, and keeps a log of every fax
sent and received that can be sorted, archived, viewed, printed and exported.

The package holds the desktop program, the Fax Viewer that opens fax files
from the file manager, and qnfax, the command-line tool for converting,
sending and receiving faxes and for maintaining the fax tables.")
include(CPack)
