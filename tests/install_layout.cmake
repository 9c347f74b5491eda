# Installs the build into a scratch prefix and checks that every installed file is there.
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
if(DESKTOP)
  list(APPEND expected bin/kelvara share/man/man1/kelvara.1 share/applications/kelvara.desktop)
endif()
foreach(path ${expected})
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: ${expected}")
