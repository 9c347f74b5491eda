# Installs the build into a scratch prefix and checks the tree: every installed file is there, the
# program's help page is where the program looks for it, the icons have the sizes their folders
# name, and the desktop entry and the AppStream file pass their validators.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE result
                OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
  bin/kelvara-cli
  share/man/man1/kelvara-cli.1
  share/bash-completion/completions/kelvara-cli
  share/zsh/site-functions/_kelvara-cli)
set(sizes 16 32 48 64 128 256)
if(DESKTOP)
  list(APPEND expected bin/kelvara share/man/man1/kelvara.1 share/applications/kelvara.desktop
       share/doc/kelvara/KELVARA.html share/metainfo/io.github.kelvara.kelvara.metainfo.xml
       share/icons/hicolor/scalable/apps/kelvara.svg)
  foreach(size ${sizes})
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kelvara.png)
  endforeach()
endif()
foreach(path ${expected})
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

if(DESKTOP)
  # The installed program finds its help page from its own folder.
  if(NOT EXISTS ${PREFIX}/bin/${HELP_FROM_PROGRAM}/KELVARA.html)
    message(FATAL_ERROR "the program looks for its help page in bin/${HELP_FROM_PROGRAM}, where it is not")
  endif()
  # Nothing but the programs in bin/.
  file(GLOB in_bin RELATIVE ${PREFIX}/bin ${PREFIX}/bin/*)
  list(SORT in_bin)
  if(NOT in_bin STREQUAL "kelvara;kelvara-cli")
    message(FATAL_ERROR "bin/ holds more than the programs: ${in_bin}")
  endif()
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  foreach(size ${sizes})
    file(READ ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/kelvara.png header OFFSET 16 LIMIT 8 HEX)
    math(EXPR expected_word "${size}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${expected_word}" 2 -1 digits)
    string(LENGTH "${digits}" length)
    math(EXPR pad "8 - ${length}")
    string(REPEAT "0" ${pad} zeros)
    if(NOT header STREQUAL "${zeros}${digits}${zeros}${digits}")
      message(FATAL_ERROR "the ${size}x${size} icon is not ${size} x ${size} pixels: ${header}")
    endif()
  endforeach()
  # The validators print hints and warnings; the files must pass without any.
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${PREFIX}/share/applications/kelvara.desktop
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
      message(FATAL_ERROR "desktop-file-validate: ${output}")
    endif()
  else()
    message(WARNING "desktop-file-validate not found: the desktop entry is not validated")
  endif()
  find_program(APPSTREAMCLI appstreamcli)
  if(APPSTREAMCLI)
    execute_process(COMMAND ${APPSTREAMCLI} validate --no-net --pedantic --no-color
                            ${PREFIX}/share/metainfo/io.github.kelvara.kelvara.metainfo.xml
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    string(STRIP "${output}" output)
    if(NOT result EQUAL 0 OR NOT output MATCHES "^✔ Validation was successful.$")
      message(FATAL_ERROR "appstreamcli validate: ${output}")
    endif()
  else()
    message(WARNING "appstreamcli not found: the AppStream file is not validated")
  endif()
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: ${expected}")
