# What `cmake --install` puts under the prefix: the executable, the man page
# (generated from its scdoc source, gzipped as Debian wants it), the bash
# completion, and the README with the example package. Every file gets its
# mode spelled out, so that a builder's umask cannot leak into the package.
include(GNUInstallDirs)

# The day this version was released (seconds since 1970, UTC): the date in the
# man page's footer and in the Debian changelog. Move it with the version.
set(BREVICK_RELEASE_EPOCH 1796515200)

set(BREVICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/brevick)
set(brevick_file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(brevick_program_mode ${brevick_file_mode} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${brevick_program_mode})

install(TARGETS brevick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PERMISSIONS ${brevick_program_mode})

# The man page's source stays readable in doc/; the roff is made at build time.
find_program(BREVICK_SCDOC scdoc)
find_program(BREVICK_GZIP gzip)
if(BREVICK_SCDOC AND BREVICK_GZIP)
  set(man_source ${PROJECT_SOURCE_DIR}/doc/brevick.1.scd)
  set(man_page ${PROJECT_BINARY_DIR}/doc/brevick.1)
  add_custom_command(
    OUTPUT ${man_page} ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    # SOURCE_DATE_EPOCH fixes the date in the page's footer: the same source
    # gives the same page, whenever it is built.
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${BREVICK_RELEASE_EPOCH}
            sh -c "'${BREVICK_SCDOC}' < '${man_source}' > '${man_page}'"
    COMMAND sh -c "'${BREVICK_GZIP}' -9n -c '${man_page}' > '${man_page}.gz'"
    DEPENDS ${man_source}
    COMMENT "Generating the brevick(1) man page"
    VERBATIM)
  add_custom_target(brevick_man ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          PERMISSIONS ${brevick_file_mode})
else()
  message(WARNING "scdoc or gzip not found: the man page is neither built nor installed "
                  "(scripts/deps.sh installs scdoc)")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/completion/brevick.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME brevick PERMISSIONS ${brevick_file_mode})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${BREVICK_DOC_DIR} PERMISSIONS ${brevick_file_mode})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${BREVICK_DOC_DIR}/examples
        FILE_PERMISSIONS ${brevick_file_mode}
        DIRECTORY_PERMISSIONS ${brevick_program_mode})
