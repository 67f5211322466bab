# Installs the build into a fresh folder the way packages do (stripped) and checks what a
# distribution asks of the tree: exactly the expected files, a manual page compressed
# without name or time stamp, the licence text in the copyright file, a stripped program
# that still finds its version data, and, in hardened builds, the hardening in the program.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DREADELF=... -DHARDENED=0|1 -P check_install.cmake

set(root ${BUILD_DIR}/tests/installed-tree)
file(REMOVE_RECURSE ${root})
set(failures "")
macro(fail text)
  string(APPEND failures "\n  ${text}")
endmacro()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --strip --prefix ${root}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install --strip failed: ${result}")
endif()

# Exactly these files: no uncompressed manual page, nothing only the Debian package holds.
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
list(SORT installed)
set(expected bin/srctally share/doc/srctally/README.md share/doc/srctally/copyright
             share/man/man1/srctally.1.gz)
if(NOT installed STREQUAL expected)
  fail("installed files: ${installed}; expected: ${expected}")
endif()

# gzip -9n: no file name (flag 0x08) and no time stamp (bytes 4 to 7) in the header, and
# the page itself inside.
set(page ${root}/share/man/man1/srctally.1.gz)
if(EXISTS ${page})
  file(READ ${page} header LIMIT 8 HEX)
  string(SUBSTRING "${header}" 0 4 magic)
  string(SUBSTRING "${header}" 6 2 flags)
  string(SUBSTRING "${header}" 8 8 mtime)
  math(EXPR nameFlag "0x${flags} & 0x08")
  if(NOT magic STREQUAL "1f8b" OR NOT nameFlag EQUAL 0 OR NOT mtime STREQUAL "00000000")
    fail("manual page header ${header}: not gzip, or with a name or a time stamp")
  endif()
  execute_process(COMMAND gzip -dc ${page} OUTPUT_VARIABLE unpacked RESULT_VARIABLE result)
  file(READ ${SOURCE_DIR}/docs/srctally.1 original)
  if(NOT result EQUAL 0 OR NOT unpacked STREQUAL original)
    fail("the compressed manual page is not docs/srctally.1")
  endif()
endif()

# The copyright file's licence paragraph is the LICENSE text: one blank turned into each
# line's indent, " ." for an empty line.
set(copyright ${root}/share/doc/srctally/copyright)
if(EXISTS ${copyright})
  file(READ ${copyright} text)
  file(READ ${SOURCE_DIR}/LICENSE licence)
  string(FIND "${licence}" "Permission is hereby granted" start)
  string(SUBSTRING "${licence}" ${start} -1 permission)
  string(REGEX REPLACE "\n\n" "\n.\n" permission "${permission}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" permission " ${permission}")
  if(NOT text MATCHES "\nFiles: \\*\nCopyright: [^\n]+\nLicense: Expat\n")
    fail("copyright: no 'Files: *' paragraph under the Expat licence")
  endif()
  string(FIND "${text}" "\nLicense: Expat\n${permission}" found)
  if(found EQUAL -1)
    fail("copyright: the Expat text differs from LICENSE")
  endif()
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" notice "${licence}")
  string(FIND "${text}" "\nCopyright: ${CMAKE_MATCH_1}\n" found)
  if(found EQUAL -1)
    fail("copyright: the holder differs from LICENSE's '${notice}'")
  endif()
endif()

# Stripped, the compilers' notes dropped, the version data kept.
set(program ${root}/bin/srctally)
execute_process(COMMAND ${READELF} -S -W ${program} OUTPUT_VARIABLE sections)
foreach(unwanted .symtab .comment .debug_info)
  string(FIND "${sections}" " ${unwanted} " found)
  if(NOT found EQUAL -1)
    fail("the installed program keeps its ${unwanted} section")
  endif()
endforeach()
execute_process(COMMAND ${program} --version OUTPUT_VARIABLE version RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT version MATCHES "^Source Tally - Version ")
  fail("the stripped program lost its version data: '${version}'")
endif()

if(HARDENED)
  execute_process(COMMAND ${READELF} -d -l --dyn-syms -W ${program} OUTPUT_VARIABLE elf)
  if(NOT elf MATCHES "GNU_RELRO")
    fail("no read-only relocations (-z relro)")
  endif()
  if(NOT elf MATCHES "\\(FLAGS_1\\)[^\n]*NOW")
    fail("relocations are not resolved at start (-z now)")
  endif()
  if(NOT elf MATCHES "__stack_chk_fail")
    fail("no stack protector")
  endif()
  if(NOT elf MATCHES "__[a-z]+_chk@")
    fail("no fortified C library call")
  endif()
endif()

file(REMOVE_RECURSE ${root})
if(failures)
  message(FATAL_ERROR "The installed tree is not what a package needs:${failures}")
endif()
