# The Debian package (./run.sh package): `cpack` in a build configured with -DLW_PACKAGE=ON
# and -DCMAKE_INSTALL_PREFIX=/usr. Beside the program directory and the install record of
# cmake/install.cmake it holds what an operator's desktop needs: the udev rule that gives the
# user at the seat the radios, the desktop entry and icon, man pages, bash completion and the
# documents. Everything here is checked by tests/scripts/package_test.sh.
include(GNUInstallDirs)

# --- The udev rule, from the built-in USB identifiers ---------------------------------------
# The pairs live in src/link/usb_ids.cpp only; the rule is written from there so that the two
# never disagree. uaccess is applied by 73-seat-late.rules, so the rule sorts before it.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/link/usb_ids.cpp id_lines REGEX "constexpr UsbId k(Primary|Fallback)Ids")
set(lw_udev_rules "# Loftwise: radios of the primary and the fallback USB class belong to the user at the seat\n"
                  "# (TAG+=\"uaccess\"); see /usr/share/doc/loftwise/usb-access.md.\n")
foreach(line ${id_lines})
  string(REGEX MATCHALL "\\{0x([0-9A-Fa-f]+), 0x([0-9A-Fa-f]+)\\}" pairs "${line}")
  foreach(pair ${pairs})
    string(REGEX REPLACE "\\{0x([0-9A-Fa-f]+), 0x([0-9A-Fa-f]+)\\}" "\\1;\\2" ids "${pair}")
    list(GET ids 0 vendor)
    list(GET ids 1 product)
    string(TOLOWER "${vendor}" vendor)
    string(TOLOWER "${product}" product)
    string(APPEND lw_udev_rules
      "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${vendor}\", "
      "ATTR{idProduct}==\"${product}\", TAG+=\"uaccess\"\n")
  endforeach()
endforeach()
if(NOT lw_udev_rules MATCHES "idVendor")
  message(FATAL_ERROR "package: no USB identifiers found in src/link/usb_ids.cpp")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/packaging/70-loftwise.rules "${lw_udev_rules}")
install(FILES ${CMAKE_BINARY_DIR}/packaging/70-loftwise.rules DESTINATION lib/udev/rules.d)

# --- Desktop entry, icon, completion, documents ----------------------------------------------
install(FILES ${PROJECT_SOURCE_DIR}/packaging/loftwise.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/loftwise.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/loftwise-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME loftwise-cli)
set(lw_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/loftwise)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/docs/usb-access.md
              ${PROJECT_SOURCE_DIR}/docs/lumaret.md
        DESTINATION ${lw_doc_dir})

# A native package's change log, compressed as Debian wants it (no time stamp in the header).
find_program(GZIP_PROGRAM gzip REQUIRED)
string(TIMESTAMP lw_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/changelog
  "loftwise (${PROJECT_VERSION}) stable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- Loftwise maintainers <maintainers@users.noreply.c-seed-bc3e752b.example>  ${lw_changelog_date}\n")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nf -k ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)

# --- Man pages, from each program's --help and --version --------------------------------------
find_program(HELP2MAN_PROGRAM help2man REQUIRED)
set(lw_man_pages)
set(lw_man_loftwise "the Loftwise window: upgrade two-way radios over USB")
set(lw_man_loftwise-cli "Loftwise without a window: upgrades, checks and tools for radios and packages")
set(lw_man_lumaret "install a Loftwise patch into an installed Loftwise")
set(lw_man_fudpack "build a Loftwise upgrade package from a manifest")
set(lw_man_rcdbpack "build an RCDB image from a manifest")
foreach(program loftwise loftwise-cli lumaret fudpack rcdbpack)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${HELP2MAN_PROGRAM} --no-info --no-discard-stderr --name "${lw_man_${program}}"
            --section 1 --source "Loftwise ${PROJECT_VERSION}" --output ${page} $<TARGET_FILE:${program}>
    COMMAND ${GZIP_PROGRAM} -9nf ${page}
    DEPENDS ${program}
    COMMENT "Writing the man page of ${program}"
    VERBATIM)
  list(APPEND lw_man_pages ${page}.gz)
endforeach()
add_custom_target(lw_package_files ALL DEPENDS ${lw_man_pages} ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${lw_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${lw_doc_dir})

# --- CPack ---------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME loftwise)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Loftwise maintainers")
set(CPACK_PACKAGE_CONTACT "Loftwise maintainers <maintainers@users.noreply.c-seed-bc3e752b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade tool for DMR and PDT two-way radios over USB")
# The summary above is the synopsis line; CPack puts it in front of this.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Loftwise upgrades the firmware and data of two-way digital radios (portables,
mobiles and repeaters) connected over USB: it checks the radio's bootloader,
backs up the radio's configuration data, checks an upgrade package against the
radio, writes its images into flash and converts the configuration data.

The package holds the window (loftwise), the console program (loftwise-cli)
and the packaging tools (fudpack, rcdbpack), and a udev rule that gives the
user at the seat access to the radios.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Our own maintainer scripts (udev reload) also keep CPack from adding ldconfig calls, which
# conversion.so below /usr/lib would otherwise bring: it is a private library that ldconfig
# has no business with.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The staged tree is /usr/...; the install record goes to $DESTDIR/var/lib/... (it needs
# DESTDIR to tell a staged install from a real one).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# No stripping here: ./run.sh package links stripped (-s), so conversion.so ships byte for byte
# as the programs' digest of it was taken; stripping it now would fail every upgrade (-8002).
set(CPACK_STRIP_FILES OFF)
include(CPack)
