# Installing Velmora: the library with its soname link, every header under
# <prefix>/include/velmora/, the program, its man page and bash completion, a
# CMake package (find_package(Velmora) -> Velmora::velmora), a pkg-config
# file (velmora.pc), and a Debian package made by CPack (make package).
#
#   cmake --install build [--prefix DIR]      DESTDIR=... is honoured
#
# Installed binaries carry no RUNPATH: the library goes to the prefix's lib
# folder, which the dynamic linker searches for /usr and, after ldconfig, for
# /usr/local.  An install into the real root runs ldconfig itself.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELMORA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)

install(TARGETS velmora EXPORT VelmoraTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Every header is public: the public ones include the others.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/velmora/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora
        FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_BINARY_DIR}/include/velmora/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora)
if(TARGET velmora_app)
  install(TARGETS velmora_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT VelmoraTargets NAMESPACE Velmora:: DESTINATION ${VELMORA_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VelmoraConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/cmake/VelmoraConfig.cmake
                              INSTALL_DESTINATION ${VELMORA_CMAKE_DIR})
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/VelmoraConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/VelmoraConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/VelmoraConfigVersion.cmake DESTINATION ${VELMORA_CMAKE_DIR})

# velmora.pc names its prefix relative to its own folder, so a staged or
# moved install (DESTDIR, --prefix at install time) stays correct.
set(VELMORA_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VELMORA_PC_TO_PREFIX /root/${VELMORA_PC_DIR} /root)
string(REGEX REPLACE "/$" "" VELMORA_PC_TO_PREFIX "${VELMORA_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/velmora.pc.in ${CMAKE_BINARY_DIR}/velmora.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/velmora.pc DESTINATION ${VELMORA_PC_DIR})

# The man page and the bash completion are printed by the program from its
# own command table, so they follow every command added.  A sanitizer build
# makes neither (running its program at build time would report as a test).
if(TARGET velmora_app AND NOT VELMORA_SANITIZE)
  set(man_page ${CMAKE_BINARY_DIR}/share/man/man1/velmora.1.gz)
  set(completion ${CMAKE_BINARY_DIR}/share/bash-completion/completions/velmora)
  add_custom_command(
    OUTPUT ${man_page} ${completion}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:velmora_app> -DMAN_PAGE=${man_page}
            -DCOMPLETION=${completion} -P ${CMAKE_SOURCE_DIR}/cmake/GenerateDocs.cmake
    DEPENDS velmora_app ${CMAKE_SOURCE_DIR}/cmake/GenerateDocs.cmake
    COMMENT "Writing the man page and the bash completion of velmora")
  add_custom_target(velmora_docs ALL DEPENDS ${man_page} ${completion})
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "_CPack_Packages")
    execute_process(COMMAND ldconfig RESULT_VARIABLE velmora_ldconfig ERROR_QUIET)
  endif()
]])

# The Debian package: `make package` (cpack -G DEB in the build tree).  The
# shared-library scan finds PortAudio and the other linked libraries; the
# external programs and OpenSSL (which the TLS code may bind at run time)
# are named explicitly.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "DTMF keys, spectrum, tones and recordings from the sound card, and a network client")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "libvelmora and the velmora program: the TDTMF sound component (capture, spectrum, "
       "DTMF keys, tone output, recording, file analysis, random bits) and a network client "
       "(blocking sockets, SOCKS and HTTP tunnels, TLS, coding and digest functions), with "
       "the headers, a CMake package and a pkg-config file for development.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora developers <velmora@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lame, flac, libssl3")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The install and package tests run only in an unsanitized build: they
# install its files and build programs against them.
if(VELMORA_TESTS AND NOT VELMORA_SANITIZE)
  foreach(test staged package)
    add_test(NAME Install.${test}
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install/${test}_test.sh ${CMAKE_BINARY_DIR}
                     ${CMAKE_SOURCE_DIR})
    # Both install the same files and build the same examples: one at a time.
    set_tests_properties(Install.${test} PROPERTIES TIMEOUT 600 RESOURCE_LOCK velmora_install)
  endforeach()
endif()
