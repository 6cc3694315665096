# Where `cmake --install` puts things on Linux, the manual pages, and the Debian package
# (cmake/Package.cmake). Windows has its own installer.
if(WIN32)
    return()
endif()
include(GNUInstallDirs)

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)
# Independent of the umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(_programs caddora-cli caddora-sim)
if(TARGET caddora)
    list(PREPEND _programs caddora)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(_program ${_programs})
    # The whole global offset table read-only once the program has started.
    target_link_options(${_program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
# A stripped install (the package) also drops the compiler's notes, as Debian's tools do.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(_program ${_programs})
            execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                                    --remove-section=.note
                                    \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${_program}
                            COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()")

# Every rule file of the folder: access to the libusb navigators of /etc/caddora/usb-ids. The
# terminal-link rule needs the navigator's own ids, so it is a template among the examples: an
# installed rule with made-up ids would link and open up whatever device happens to carry them.
file(GLOB _rules CONFIGURE_DEPENDS ${_pkg}/udev/*.rules)
install(FILES ${_rules} DESTINATION lib/udev/rules.d)

if(TARGET caddora)
    install(FILES ${_pkg}/caddora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(_size 16 24 32 48 64 128 256)
        install(FILES ${_pkg}/icons/caddora_${_size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
                RENAME caddora.png)
    endforeach()
endif()

# The stand-in device images serve jobs against the simulator only, so they live in its own
# folder, never where the tool looks for the owner's real images.
install(FILES ${CMAKE_SOURCE_DIR}/protocol/data/patch_image.bin
              ${CMAKE_SOURCE_DIR}/transfer/data/boot_26mhz.bin
              ${CMAKE_SOURCE_DIR}/transfer/data/boot_16369khz.bin
        DESTINATION ${CMAKE_INSTALL_DATADIR}/caddora-sim/stand-ins)

install(FILES ${_pkg}/usb-ids ${_pkg}/examples/70-caddora.rules
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${_pkg}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_pkg}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME caddora)

# Manual pages from each program's --help and --version, and the compressed changelog.
option(CADDORA_MANPAGES "Build the manual pages with help2man" ON)
find_program(GZIP_PROGRAM gzip REQUIRED)
set(_docs ${_gen}/changelog.gz)
add_custom_command(
    OUTPUT ${_gen}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_gen}
    COMMAND ${GZIP_PROGRAM} -9nc ${_pkg}/debian/changelog > ${_gen}/changelog.gz
    DEPENDS ${_pkg}/debian/changelog
    VERBATIM)
install(FILES ${_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(CADDORA_MANPAGES)
    find_program(HELP2MAN help2man)
    if(NOT HELP2MAN)
        message(FATAL_ERROR "help2man not found: install it, or configure with "
                            "-DCADDORA_MANPAGES=OFF to build without manual pages")
    endif()
    foreach(_program ${_programs})
        set(_page ${_gen}/${_program}.1)
        set(_includes ${_pkg}/man/${_program}.h2m ${_pkg}/man/common.h2m)
        # The programs that reach navigators also take USB ids.
        if(NOT _program STREQUAL caddora-sim)
            list(APPEND _includes ${_pkg}/man/usb-ids.h2m)
        endif()
        list(TRANSFORM _includes PREPEND --include= OUTPUT_VARIABLE _include_options)
        add_custom_command(
            OUTPUT ${_page}.gz
            COMMAND ${HELP2MAN} --no-info --section=1 ${_include_options} --output=${_page}
                    $<TARGET_FILE:${_program}>
            COMMAND ${GZIP_PROGRAM} -9nf ${_page}
            DEPENDS ${_program} ${_includes}
            COMMENT "Manual page of ${_program}"
            VERBATIM)
        list(APPEND _docs ${_page}.gz)
        install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
endif()
add_custom_target(caddora_docs ALL DEPENDS ${_docs})

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
