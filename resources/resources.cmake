# The two message-string resources, packed from the readable sources in
# strings/ by the strgen tool at build time.
set(string_sources ${CMAKE_CURRENT_SOURCE_DIR}/strings)
set(string_manager_bin ${CMAKE_CURRENT_BINARY_DIR}/SIOSRMGR_STRINGS.str0)
set(error_strings_bin ${CMAKE_CURRENT_BINARY_DIR}/SIO_ERROR_STRINGS_ENGLISH.str0)
set(error_string_files
  ${string_sources}/system.txt
  ${string_sources}/component.txt
  ${string_sources}/status.txt
  ${string_sources}/network.txt
  ${string_sources}/telephony.txt
  ${string_sources}/dispatch_log.txt)

# A cross build runs a strgen made for the build machine.
set(strgen_command strgen)
if(TESMAR_HOST_STRGEN)
  set(strgen_command ${TESMAR_HOST_STRGEN})
endif()
add_custom_command(OUTPUT ${string_manager_bin}
  COMMAND ${strgen_command} -o ${string_manager_bin} ${string_sources}/string_manager.txt
  DEPENDS strgen ${string_sources}/string_manager.txt
  COMMENT "Packing SIOSRMGR_STRINGS")
add_custom_command(OUTPUT ${error_strings_bin}
  COMMAND ${strgen_command} --ascii -o ${error_strings_bin} ${error_string_files}
  DEPENDS strgen ${error_string_files}
  COMMENT "Packing SIO_ERROR_STRINGS_ENGLISH")

tesmar_resource(SIOSRMGR_STRINGS RCDATA ${string_manager_bin} DEPENDS strgen)
tesmar_resource(SIO_ERROR_STRINGS_ENGLISH RCDATA ${error_strings_bin} DEPENDS strgen)
