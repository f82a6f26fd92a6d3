# Installs the build into PREFIX as `cmake --install` does for a user, then checks what a desktop
# needs: both programs, a valid menu entry, and the icon at every size of the hicolor theme.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
cmake_minimum_required(VERSION 3.25)  # the policies of the build, for a script run alone
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(program dovrel dovrel-grab)
  if(NOT EXISTS ${PREFIX}/bin/${program} OR IS_DIRECTORY ${PREFIX}/bin/${program})
    message(FATAL_ERROR "bin/${program} is not installed")
  endif()
endforeach()

set(entry ${PREFIX}/share/applications/dovrel.desktop)
file(STRINGS ${entry} lines)
foreach(line "[Desktop Entry]" "Type=Application" "Name=Dovrel" "Exec=dovrel %f" "Icon=dovrel"
             "Categories=AudioVideo;Video;Player;")
  list(FIND lines "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "dovrel.desktop has no line ${line}")
  endif()
endforeach()
# A file manager offers the entry for each video type its MIME database (which Qt needs too)
# gives these extensions.
file(READ ${entry} text)
file(STRINGS /usr/share/mime/globs2 globs
  REGEX "^[0-9]+:video/.*:\\*\\.(avi|dv|dif|mov|mp4|mpg|mpeg|vob|mod|ts|m2t|m2ts|mts|tod|mkv)$")
foreach(glob ${globs})
  string(REGEX REPLACE "^[0-9]+:([^:]+):.*" "\\1" type "${glob}")
  if(NOT text MATCHES "\nMimeType=([^\n]*;)?${type};")
    message(FATAL_ERROR "dovrel.desktop does not declare ${type} (${glob})")
  endif()
endforeach()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${entry} RESULT_VARIABLE result OUTPUT_VARIABLE said
    ERROR_VARIABLE said)
  if(NOT result EQUAL 0 OR NOT said STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${said}")
  endif()
else()
  message(WARNING "desktop-file-validate not found: the entry's lines were checked, not its form")
endif()

# A PNG's width and height are the big-endian words at bytes 16 and 20.
foreach(size 16 32 48 64 128 256)
  set(icon ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/dovrel.png)
  if(NOT EXISTS ${icon})
    message(FATAL_ERROR "no icon at ${size}x${size}")
  endif()
  file(READ ${icon} head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 16 signature)
  string(SUBSTRING "${head}" 32 8 width)
  string(SUBSTRING "${head}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "${icon} is not a ${size} x ${size} PNG (${signature}, ${width} x ${height})")
  endif()
endforeach()
message(STATUS "installed and checked in ${PREFIX}")
