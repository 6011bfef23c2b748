# The Debian package: `cpack -G DEB` in the build folder makes orvello_<version>_<arch>.deb of
# what `cmake --install` puts under /usr. Its version is the project's. The files Debian and
# the desktop want beside the programs are installed here too, so `cmake --install` puts them
# in place as well.

set(CPACK_PACKAGE_NAME orvello)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Orvello developers")
set(CPACK_PACKAGE_CONTACT "The Orvello developers <maintainers@orvello.org>")

# The day of the build is the release's in the changelog and the AppStream file;
# SOURCE_DATE_EPOCH, when set, fixes it, for a package made again byte for byte.
string(TIMESTAMP orvello_release_date "%Y-%m-%d" UTC)
string(TIMESTAMP orvello_changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)

# Compressed as Debian keeps manual pages and changelogs (-n: no name or time stamp in the
# header, so the same text gives the same bytes).
find_program(ORVELLO_GZIP gzip REQUIRED)
set(orvello_gzipped)
function(orvello_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${ORVELLO_GZIP} -9n -c ${source} > ${output}
        DEPENDS ${source}
        VERBATIM)
    set(orvello_gzipped ${orvello_gzipped} ${output} PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
set(orvello_pack ${CMAKE_BINARY_DIR}/packaging)

# The manual pages of the two programs.
orvello_gzip(${PROJECT_SOURCE_DIR}/src/app/orvello.1 ${orvello_pack}/orvello.1.gz)
orvello_gzip(${PROJECT_SOURCE_DIR}/src/cli/orvello-get.1 ${orvello_pack}/orvello-get.1.gz)
install(FILES ${orvello_pack}/orvello.1.gz ${orvello_pack}/orvello-get.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright file and the changelog Debian wants with every package.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${orvello_pack}/changelog @ONLY)
orvello_gzip(${orvello_pack}/changelog ${orvello_pack}/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${orvello_pack}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvello)
add_custom_target(orvello_packaging_files ALL DEPENDS ${orvello_gzipped})

# What software centres list the program by, with this version as its release.
configure_file(${PROJECT_SOURCE_DIR}/src/app/orvello.metainfo.xml.in
               ${orvello_pack}/orvello.metainfo.xml @ONLY)
install(FILES ${orvello_pack}/orvello.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download the video files behind video-sharing pages")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION
    "Orvello downloads the video files behind the pages of twelve video-sharing\n"
    "sites. Page addresses are pasted, dropped on the window or picked up from the\n"
    "clipboard; the video of each page is found and saved in the download folder,\n"
    "one after the other, with its progress, speed and time left in the list.\n"
    "\n"
    "The package holds the desktop program, orvello, and orvello-get, which runs\n"
    "the same downloads from the command line, for scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.orvello.org/)
# The libraries come from the programs (dpkg-shlibdeps); the QML modules the surface imports
# when it is loaded at run time are no library of theirs, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-window, qml6-module-qtqml, qml6-module-qtqml-workerscript")
# A Wayland session shows the window natively with it, and through XWayland without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
# The control files get the modes Debian asks for, whatever the umask of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
