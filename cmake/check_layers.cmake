# Fails when a source of the program includes against the direction of its layers:
#   app/ may include app/, mcu/, vxr/, device/ and base/; mcu/ and vxr/ their own folder,
#   device/ and base/; device/ itself and base/; base/ only itself. Only device/ includes
#   hidapi.
# Run with -DSOURCE_DIR=<the tree's top>.
set(allowed_app "app|mcu|vxr|device|base")
set(allowed_mcu "mcu|device|base")
set(allowed_vxr "vxr|device|base")
set(allowed_device "device|base")
set(allowed_base "base")
set(problems "")
foreach(layer app mcu vxr device base)
  file(GLOB files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "\"(app|mcu|vxr|device|base|sim|tests)/" AND NOT line MATCHES "\"(${allowed_${layer}})/")
        string(APPEND problems "  ${file}: ${line}\n")
      endif()
      if(line MATCHES "hidapi" AND NOT layer STREQUAL "device")
        string(APPEND problems "  ${file}: ${line} (only device/ talks to hidapi)\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "Includes against the layers (app -> mcu, vxr -> device -> base):\n${problems}")
endif()
