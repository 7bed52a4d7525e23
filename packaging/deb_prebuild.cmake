# Runs in CPack's staging folder before the Debian package is built: Debian
# keeps manual pages and the changelog compressed, with no time stamp inside.
file(GLOB_RECURSE to_compress
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/*.1"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/*/changelog")
foreach(file IN LISTS to_compress)
  execute_process(COMMAND gzip -9n "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endforeach()
