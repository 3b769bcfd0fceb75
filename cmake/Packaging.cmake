# What gets installed, and the packages CPack makes of it (`scripts/package.sh` runs it all).
#   Windows (the MinGW build): tolvane-VERSION-windows-x64.zip, the three programs with README.txt
#     and LICENSE.txt in a folder of that name, and tolvane-VERSION-windows-x64.msi of the same
#     files (wixl, run by CPack's External generator).
#   Linux (the release preset): tolctl, its man page, its bash completion and its documents
#     (share/doc/tolctl: the protocol, profiles and the profile's schema; `cmake --install`), and
#     tolctl_VERSION_ARCH.deb.
# VERSION is the project's, all four parts (1.0.0.1): Debian versions and file names take it as
# it is; Windows Installer compares only the first three parts of an installed product's version.
include(GNUInstallDirs)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tolvane developers")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
    # The text files with Windows line ends, README.txt with the version filled in.
    set(text_dir ${CMAKE_BINARY_DIR}/package-text)
    file(READ ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt readme)
    string(REPLACE "@VERSION@" "${PROJECT_VERSION}" readme "${readme}")
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
    file(CONFIGURE OUTPUT ${text_dir}/README.txt CONTENT "${readme}" @ONLY NEWLINE_STYLE WIN32)
    file(CONFIGURE OUTPUT ${text_dir}/LICENSE.txt CONTENT "${licence}" @ONLY NEWLINE_STYLE WIN32)

    install(TARGETS tolvane tolwire tolctl RUNTIME DESTINATION .)
    install(FILES ${text_dir}/README.txt ${text_dir}/LICENSE.txt DESTINATION .)

    set(CPACK_GENERATOR "ZIP;External")
    set(CPACK_PACKAGE_NAME tolvane)
    set(CPACK_PACKAGE_FILE_NAME tolvane-${PROJECT_VERSION}-windows-x64)
    set(CPACK_EXTERNAL_ENABLE_STAGING ON)
    set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/windows/MakeMsi.cmake)
    set(CPACK_TOL_WIXL ${TOL_WIXL})
    set(CPACK_TOL_WXS ${PROJECT_SOURCE_DIR}/packaging/windows/tolvane.wxs)
else()
    install(TARGETS tolctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(TARGET tolctl_man)
        install(FILES ${TOLCTL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/tolctl/completion/tolctl.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tolctl)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolctl RENAME copyright)
    # tolctl's help and man page send users to these.
    install(FILES ${PROJECT_SOURCE_DIR}/docs/tolctl.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
                  ${PROJECT_SOURCE_DIR}/docs/profiles.md ${PROJECT_SOURCE_DIR}/docs/monitoring.md
                  ${PROJECT_SOURCE_DIR}/docs/console.md ${PROJECT_SOURCE_DIR}/docs/console.png
                  ${PROJECT_SOURCE_DIR}/docs/record.md
                  ${PROJECT_SOURCE_DIR}/docs/profile.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolctl)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME tolctl)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_STRIP_FILES ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tolctl_VERSION_ARCH.deb
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)    # Depends: from the libraries tolctl links (dpkg-shlibdeps)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The tolvane developers")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build, send and decode thermal receipt printer setting commands")
    # The summary above is the first line of the package's description; this is the rest.
    string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "tolctl sends every setting of a thermal receipt printer (Wi-Fi, Bluetooth, Ethernet, cut,\n"
        "drawer, service modes, test print) over TCP, serial, parallel or USB ports, prints a\n"
        "command's bytes, decodes bytes back into commands and stands in for a printer.")
endif()

include(CPack)
