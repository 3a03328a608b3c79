# Run by cpack on the staged tree before it packs it: what a Debian binary package holds
# beyond the installed files.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(EXISTS "${root}/usr")
  set(usr "${root}/usr")
else()
  file(GLOB_RECURSE found LIST_DIRECTORIES true "${root}/*/usr/bin")
  list(GET found 0 bin)
  get_filename_component(usr "${bin}" DIRECTORY)
endif()
find_program(STRIP_PROGRAM strip REQUIRED)
find_program(GZIP_PROGRAM gzip REQUIRED)
# Sections that only say which compiler built it.
foreach(bin "${usr}/bin/tessaly" "${usr}/libexec/tessaly/tessaly-picture" "${usr}/libexec/tessaly/tessaly-media.so")
  execute_process(COMMAND ${STRIP_PROGRAM} --remove-section=.comment --remove-section=.note --strip-unneeded "${bin}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# Manual pages compressed, without a time stamp, so that the same tree packs the same.
file(GLOB_RECURSE pages "${usr}/share/man/*.1")
foreach(page ${pages})
  execute_process(COMMAND ${GZIP_PROGRAM} -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(doc "${usr}/share/doc/tessaly")
file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_TESSALY_DEBIAN_DIR}/copyright" DESTINATION "${doc}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
foreach(pair "changelog:changelog.Debian" "upstream-changelog:changelog")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  file(COPY_FILE "${CPACK_TESSALY_DEBIAN_DIR}/${from}" "${doc}/${to}")
  execute_process(COMMAND ${GZIP_PROGRAM} -9nf "${doc}/${to}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# Remarks of lintian that do not apply to a package made outside Debian, each with its reason.
file(MAKE_DIRECTORY "${usr}/share/lintian/overrides")
file(COPY_FILE "${CPACK_TESSALY_DEBIAN_DIR}/lintian-overrides" "${usr}/share/lintian/overrides/tessaly")
