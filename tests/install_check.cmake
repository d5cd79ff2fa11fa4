# Installs the build into a scratch DESTDIR with the prefix /usr and checks
# that each piece lands where a user's system looks for it.
#   cmake -DBUILD_DIR=... -DDEST=... -DMODULE_FROM_BIN=../lib/lineweft -P install_check.cmake
file(REMOVE_RECURSE ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DEST} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status})")
endif()

function(expect_file path)
  if(NOT EXISTS ${DEST}/usr/${path})
    message(FATAL_ERROR "nothing installed at /usr/${path}")
  endif()
endfunction()
function(expect_text path text)
  expect_file(${path})
  file(READ ${DEST}/usr/${path} content)
  string(FIND "${content}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "/usr/${path} does not hold \"${text}\"")
  endif()
endfunction()

expect_file(bin/lineweft)
expect_file(bin/lineweft-gui)
# Where the installed TWAIN client looks for its own source manager.
expect_file(bin/${MODULE_FROM_BIN}/liblineweft-twain-sane.so)
# Every command has its section, made from its help.
foreach(command info options trace convert raster render)
  expect_text(share/man/man1/lineweft.1 ".SS ${command}\n")
endforeach()
expect_text(share/man/man1/lineweft.1 "--resample WxH[:FILTER]")
expect_text(share/applications/lineweft.desktop "Exec=lineweft-gui %F")

execute_process(COMMAND ${DEST}/usr/bin/lineweft --version RESULT_VARIABLE status OUTPUT_VARIABLE version)
if(NOT status EQUAL 0 OR NOT version MATCHES "[0-9]+\\.[0-9]+")
  message(FATAL_ERROR "the installed lineweft does not run: ${status} ${version}")
endif()
file(REMOVE_RECURSE ${DEST})
