# Builds the release package and checks what a Windows user downloads: the zip named with the
# version, holding exactly the program and the README as Windows text.
# Called with -DBINARY_DIR=... -DVERSION=... -DEXE=...
set(zip "${BINARY_DIR}/LarkSpool-${VERSION}-win64.zip")
file(REMOVE "${zip}")
execute_process(COMMAND cpack -G ZIP --config "${BINARY_DIR}/CPackConfig.cmake" WORKING_DIRECTORY "${BINARY_DIR}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0 OR NOT EXISTS "${zip}")
  message(FATAL_ERROR "cpack made no ${zip}")
endif()
set(unpacked "${BINARY_DIR}/package-check")
file(REMOVE_RECURSE "${unpacked}")
file(ARCHIVE_EXTRACT INPUT "${zip}" DESTINATION "${unpacked}")
file(GLOB contents RELATIVE "${unpacked}" "${unpacked}/*")
list(SORT contents)
if(NOT contents STREQUAL "LarkSpool.exe;README.txt")
  message(FATAL_ERROR "the package holds [${contents}], not LarkSpool.exe and README.txt")
endif()
file(SHA256 "${unpacked}/LarkSpool.exe" packed)
file(SHA256 "${EXE}" built)
if(NOT packed STREQUAL built)
  message(FATAL_ERROR "the packed LarkSpool.exe is not the one built")
endif()
file(READ "${unpacked}/README.txt" readme HEX)
if(NOT readme MATCHES "^23204c61726b53706f6f6c0d0a") # "# LarkSpool" and CR LF
  message(FATAL_ERROR "README.txt does not start with the README's title and a Windows line end")
endif()
message(STATUS "${zip}: LarkSpool.exe and README.txt")
