# Hardening of the Linux program, what gets installed where, and the packages CPack makes:
# a Debian package or a tarball of the installed tree on POSIX, a zip on Windows.

# The hardening distributions build their programs with: fortified C library calls, a
# stack protector, and relocations made read-only once resolved at start. Optimised builds
# only (_FORTIFY_SOURCE does nothing without optimisation), and not with the sanitizers,
# which check memory their own way. Some compilers define _FORTIFY_SOURCE already; it is
# undefined first so the definition here is no redefinition.
# SRCTALLY_HARDENED: a generator expression, 1 in the configurations that get it.
set(SRCTALLY_HARDENED 0)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT SRCTALLY_SANITIZE)
  set(SRCTALLY_HARDENED "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  foreach(target srctally_lib srctally)
    target_compile_options(${target} PRIVATE
      "$<${SRCTALLY_HARDENED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2;-fstack-protector-strong>")
  endforeach()
  target_link_options(srctally PRIVATE "$<${SRCTALLY_HARDENED}:LINKER:-z,relro,-z,now>")
endif()

# Folders made by an install are rwxr-xr-x whatever the umask, as packages want them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(SRCTALLY_DEBIAN_RELEASE 1 CACHE STRING "Revision of the Debian package of this version")

include(GNUInstallDirs)
if(WIN32)
  # The zip holds the program, the README and the licence at its top.
  install(TARGETS srctally RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS srctally RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install (cmake --install --strip, and every package) also drops the
  # compilers' .comment notes, which nothing reads at run time. The program's version data
  # lives in a section of its own, which stays.
  if(CMAKE_OBJCOPY)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(
          COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:srctally>\"
          RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
          message(FATAL_ERROR \"objcopy could not remove the .comment section: \${result}\")
        endif()
      endif()")
  endif()

  # The package's changelog must describe the version packaged (checked again whenever
  # the changelog changes).
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/packaging/changelog)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/changelog SRCTALLY_CHANGELOG_TOP LIMIT 200)
  string(REGEX MATCH "^[^\n]*" SRCTALLY_CHANGELOG_TOP "${SRCTALLY_CHANGELOG_TOP}")
  set(SRCTALLY_PACKAGE_VERSION "${PROJECT_VERSION}-${SRCTALLY_DEBIAN_RELEASE}")
  if(NOT SRCTALLY_CHANGELOG_TOP MATCHES "^srctally \\(${SRCTALLY_PACKAGE_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog starts with '${SRCTALLY_CHANGELOG_TOP}': "
                        "add an entry for version ${SRCTALLY_PACKAGE_VERSION} at its top")
  endif()

  # Manual pages and changelogs go in compressed with gzip -9n: best compression, and no
  # name or time in the header, so the same sources give the same package.
  find_program(SRCTALLY_GZIP gzip)
  set(SRCTALLY_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/srctally.1)
  if(SRCTALLY_GZIP)
    set(packed ${PROJECT_BINARY_DIR}/packaging)
    add_custom_command(
      OUTPUT ${packed}/srctally.1.gz ${packed}/changelog.Debian.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packed}
      COMMAND ${CMAKE_COMMAND} -E copy ${SRCTALLY_MAN_PAGE} ${packed}/srctally.1
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog
              ${packed}/changelog.Debian
      COMMAND ${SRCTALLY_GZIP} -9nf ${packed}/srctally.1 ${packed}/changelog.Debian
      DEPENDS ${SRCTALLY_MAN_PAGE} ${PROJECT_SOURCE_DIR}/packaging/changelog
      COMMENT "Compressing the manual page and the changelog"
      VERBATIM)
    add_custom_target(srctally_compressed_docs ALL
                      DEPENDS ${packed}/srctally.1.gz ${packed}/changelog.Debian.gz)
    install(FILES ${packed}/srctally.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${SRCTALLY_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  # The copyright file holds the licence, in the form Debian reads.
  install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # What only the Debian package holds: its changelog and lintian's notes on it. A plain
  # install leaves them out; the package installs this component as well (see below).
  if(SRCTALLY_GZIP)
    install(FILES ${packed}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT debian EXCLUDE_FROM_ALL)
  endif()
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME srctally COMPONENT debian EXCLUDE_FROM_ALL)
endif()

# Packages: cpack -G DEB or TGZ in the build folder; cpack -G ZIP in a Windows build.
set(SRCTALLY_MAINTAINER "Source Tally Developers <srctally@example.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_NAME srctally)
set(CPACK_PACKAGE_VENDOR "Source Tally Developers")
set(CPACK_PACKAGE_CONTACT "${SRCTALLY_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "tally code, comment and empty lines of C-family source files")
# Wrapped for the Debian control file, which shows it as typed.
set(CPACK_PACKAGE_DESCRIPTION
    "srctally counts the lines of C, C++, C#, Java, JavaScript, PHP and Arduino
sources, per file and for a whole tree: code, comment, empty comment and empty
lines, plus preprocessor directive lines, and prints a report with the elapsed
time.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SRCTALLY_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
endif()
# Read by cpack once per generator: the Debian package installs the debian component too.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "@PROJECT_BINARY_DIR@;@PROJECT_NAME@;debian;/")
endif()
]] @ONLY)
include(CPack)
