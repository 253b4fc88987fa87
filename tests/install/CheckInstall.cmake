# Installs the build into a fresh folder and checks the tree a desktop needs:
#   cmake -DBUILD_DIR=... -DPREFIX=... -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/ferrovane
  share/applications/ferrovane.desktop
  share/metainfo/example.quillmoor.ferrovane.metainfo.xml
  share/man/man1/ferrovane.1.gz
  share/doc/ferrovane/changelog.gz
  share/doc/ferrovane/copyright
  share/icons/hicolor/scalable/apps/ferrovane.svg
  share/ferrovane/help/index.html
  share/ferrovane/help/help.css
  share/ferrovane/help/ferrovane.svg)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/ferrovane.png)
endforeach()
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "missing from the install: ${path}")
  endif()
endforeach()

# Each PNG is the size its folder says (width and height in the IHDR chunk).
foreach(size 16 22 24 32 48 64 128 256)
  file(READ "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/ferrovane.png" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR want "${size}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR got_w "0x${width}")
  math(EXPR got_h "0x${height}")
  if(NOT got_w EQUAL size OR NOT got_h EQUAL size)
    message(FATAL_ERROR "icon ${size}: is ${got_w} x ${got_h}")
  endif()
endforeach()

file(READ "${PREFIX}/share/applications/ferrovane.desktop" desktop)
foreach(line "Name=Ferrovane" "Exec=ferrovane %f" "Icon=ferrovane" "Type=Application" "Categories=Graphics;Photography;"
             "MimeType=x-content/image-dcf;")
  string(FIND "${desktop}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
string(FIND "${desktop}" "\nComment=" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the desktop entry lacks a Comment")
endif()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/ferrovane.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()

find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net
                          "${PREFIX}/share/metainfo/example.quillmoor.ferrovane.metainfo.xml"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}")
  endif()
endif()

# The installed help has every topic the program asks for.
file(READ "${PREFIX}/share/ferrovane/help/index.html" html)
foreach(context 80 90 100 110 120 130 160 170)
  string(FIND "${html}" "id=\"ctx${context}\"" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the help lacks the topic ctx${context}")
  endif()
endforeach()
