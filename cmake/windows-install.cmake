# What `cmake --install` and the zip hold on Windows, all in one folder: the program,
# hidapi's DLL beside it (replaceable: the program links only that DLL and the system's),
# the README, and the licence texts of what the zip carries, the program's own among them.
# No udev rule, no manual page.
install(TARGETS ostrel_firmware_update RUNTIME DESTINATION .)
install(IMPORTED_RUNTIME_ARTIFACTS hidapi::winapi RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION licences/ostrel_firmware_update
        RENAME LICENSE.txt)

# hidapi's licence texts (OSTREL_HIDAPI_SOURCE_DIR: its sources, where they are), and those
# of the MinGW-w64 and GCC runtimes and the JSON library that the program carries (Debian's
# copyright files).
set(OSTREL_HIDAPI_SOURCE_DIR "" CACHE PATH "hidapi's sources, for its licence texts in the zip")
if(OSTREL_HIDAPI_SOURCE_DIR)
  file(GLOB ostrel_hidapi_licences ${OSTREL_HIDAPI_SOURCE_DIR}/LICENSE*.txt)
  install(FILES ${ostrel_hidapi_licences} DESTINATION licences/hidapi)
endif()
foreach(runtime IN ITEMS mingw-w64-x86-64-dev gcc-mingw-w64-base nlohmann-json3-dev)
  if(EXISTS /usr/share/doc/${runtime}/copyright)
    install(FILES /usr/share/doc/${runtime}/copyright DESTINATION licences
            RENAME ${runtime}.txt)
  endif()
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ostrel_firmware_update)
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
