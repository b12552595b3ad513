# Install rules and the Debian packages. Two components, one package each:
#   quarlencli   the tool (sbin), its manual page and bash completion; needs
#                only libc and libstdc++
#   quarlen-emu  the launcher, its preload library, manual page and the
#                default topology
# `make install` (PREFIX, DESTDIR) installs both; `make package` builds both .deb.
include(GNUInstallDirs)

install(TARGETS quarlencli RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT quarlencli)
install(FILES ${CMAKE_SOURCE_DIR}/docs/quarlencli.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT quarlencli)
install(FILES ${CMAKE_SOURCE_DIR}/completions/quarlencli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT quarlencli)
set(QUARLEN_COMPONENTS quarlencli)

if(TARGET quarlen-emu)
    # The launcher looks for its library in ../lib/quarlen-emu/ beside itself.
    install(TARGETS quarlen-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quarlen-emu)
    install(TARGETS quarlen-emu-preload LIBRARY DESTINATION lib/quarlen-emu
            COMPONENT quarlen-emu)
    install(FILES ${CMAKE_SOURCE_DIR}/docs/quarlen-emu.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quarlen-emu)
    install(FILES ${CMAKE_SOURCE_DIR}/emu/topology/default-scsi.json
                  ${CMAKE_SOURCE_DIR}/emu/topology/default-controllers.json
            DESTINATION ${CMAKE_INSTALL_DATADIR}/quarlen-emu COMPONENT quarlen-emu)
    list(APPEND QUARLEN_COMPONENTS quarlen-emu)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarlen)
set(CPACK_PACKAGE_VERSION ${QUARLEN_VERSION})
set(CPACK_PACKAGE_VENDOR "Quarlen Storage Systems")
set(CPACK_PACKAGE_CONTACT "Quarlen Storage Systems <support@quarlen.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${QUARLEN_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_STRIP_FILES ON)
# Written out rather than computed with dpkg-shlibdeps, so the package needs
# no dpkg-dev to build; the package test checks them against the binaries.
set(QUARLEN_RUNTIME_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12)")
set(CPACK_DEBIAN_QUARLENCLI_PACKAGE_NAME quarlencli)
set(CPACK_DEBIAN_QUARLENCLI_PACKAGE_DEPENDS ${QUARLEN_RUNTIME_DEPENDS})
set(CPACK_DEBIAN_QUARLENCLI_DESCRIPTION
    "manage SAS host bus adapters and SAS expanders\nquarlencli discovers every supported SAS HBA and expander of the host, numbers\nthem in one target table, and inspects, configures, flashes and diagnoses\nthe selected one.")
set(CPACK_DEBIAN_QUARLEN-EMU_PACKAGE_NAME quarlen-emu)
set(CPACK_DEBIAN_QUARLEN-EMU_PACKAGE_DEPENDS ${QUARLEN_RUNTIME_DEPENDS})
set(CPACK_DEBIAN_QUARLEN-EMU_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_QUARLEN-EMU_DESCRIPTION
    "emulated SAS hardware for quarlencli\nquarlen-emu runs a program with emulated SAS HBAs, expanders and drives,\nanswering the SCSI generic and controller nodes from a topology file.")
include(CPack)
