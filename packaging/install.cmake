# What `cmake --install` and the Debian package hold: the program, its man page, its
# licence, its udev rule and its bash completion. The virtual device only with
# -DOSTREL_INSTALL_SIM=ON.

install(TARGETS ostrel_firmware_update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/ostrel_firmware_update.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Where Debian keeps a package's licence, under the package's name: the project's, then
# that of the JSON library compiled into the program (from its Debian copyright file).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE ostrel_copyright)
set(ostrel_json_copyright /usr/share/doc/nlohmann-json3-dev/copyright)
string(APPEND ostrel_copyright "\nThe program includes nlohmann-json (JSON for Modern C++), "
       "copyright 2013-2022 Niels Lohmann, under the MIT (Expat) licence above.\n")
if(EXISTS ${ostrel_json_copyright})
  file(READ ${ostrel_json_copyright} ostrel_json_text)
  string(APPEND ostrel_copyright "Its Debian copyright file:\n\n${ostrel_json_text}")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/copyright "${ostrel_copyright}")
install(FILES ${CMAKE_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ostrel-firmware-update)

if(UNIX AND NOT APPLE)
  # udev writes vendor ids as four lower-case hex digits.
  math(EXPR ostrel_vendor_number "${OSTREL_VENDOR_ID}")
  math(EXPR OSTREL_UDEV_VENDOR "${ostrel_vendor_number}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" OSTREL_UDEV_VENDOR "${OSTREL_UDEV_VENDOR}")
  string(TOLOWER "${OSTREL_UDEV_VENDOR}" OSTREL_UDEV_VENDOR)
  string(LENGTH "${OSTREL_UDEV_VENDOR}" ostrel_vendor_digits)
  while(ostrel_vendor_digits LESS 4)
    string(PREPEND OSTREL_UDEV_VENDOR "0")
    math(EXPR ostrel_vendor_digits "${ostrel_vendor_digits} + 1")
  endwhile()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/70-ostrel.rules.in
                 ${PROJECT_BINARY_DIR}/70-ostrel.rules @ONLY)
  set(OSTREL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
      "Where the udev rule goes, relative to the install prefix")
  install(FILES ${PROJECT_BINARY_DIR}/70-ostrel.rules DESTINATION ${OSTREL_UDEV_RULES_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ostrel_firmware_update.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ostrel_firmware_update)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel-firmware-update)
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_PACKAGE_CONTACT "Ostrel firmware tools <firmware-tools@ostrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and update the firmware of an Ostrel USB device")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Shows the firmware versions of an Ostrel, loads Intel HEX files into its "
       "microcontroller through the bootloader and updates its VXR7200 bridge from a Fullrom "
       "image, bank by bank.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libhidapi-hidraw0, libstdc++ and libc, as linked
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
include(CPack)
