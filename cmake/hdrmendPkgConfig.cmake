# Writes hdrmend.pc for the prefix being installed to. Runs at install time,
# because only then is the prefix known: `cmake --install --prefix DIR` and
# CPack (/usr) both choose it after configuring. Expects HDRMEND_PC_TEMPLATE,
# HDRMEND_PC_OUTPUT, HDRMEND_PC_VERSION and the relative or absolute
# HDRMEND_PC_LIBDIR_SETTING and HDRMEND_PC_INCLUDEDIR_SETTING.
set(HDRMEND_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
foreach(kind LIBDIR INCLUDEDIR)
  set(setting "${HDRMEND_PC_${kind}_SETTING}")
  if(IS_ABSOLUTE "${setting}")
    set(HDRMEND_PC_${kind} "${setting}")
  else()
    set(HDRMEND_PC_${kind} "\${prefix}/${setting}")
  endif()
endforeach()
configure_file("${HDRMEND_PC_TEMPLATE}" "${HDRMEND_PC_OUTPUT}" @ONLY)
