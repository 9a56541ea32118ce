# Whether a file can be the updater's firmware image: exactly 65,536 bytes
# with header version 0x0132 (bytes 0x32 0x01 at offset 0x678E).
#
# include() it for torvane_firmware_image_problem(), or run it as a script:
#   cmake -DIMAGE=path/to/image.bin -P check_image.cmake
# which fails with the problem as its message.

# Sets out to a sentence naming what is wrong with the file, or to "".
function(torvane_firmware_image_problem path out)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    set(${out} "firmware image \"${path}\" does not exist" PARENT_SCOPE)
    return()
  endif()
  file(SIZE "${path}" size)
  if(NOT size EQUAL 65536)
    set(${out}
        "firmware image \"${path}\" is ${size} bytes; an image must be exactly 65536 bytes"
        PARENT_SCOPE)
    return()
  endif()
  # 0x678E = 26510
  file(READ "${path}" header OFFSET 26510 LIMIT 2 HEX)
  string(TOLOWER "${header}" header)
  if(NOT header STREQUAL "3201")
    set(${out}
        "firmware image \"${path}\" lacks header version 0x0132: bytes 0x32 0x01 must be at offset 0x678E (found ${header})"
        PARENT_SCOPE)
    return()
  endif()
  set(${out} "" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED IMAGE)
    message(FATAL_ERROR "usage: cmake -DIMAGE=path -P check_image.cmake")
  endif()
  torvane_firmware_image_problem("${IMAGE}" problem)
  if(problem)
    message(FATAL_ERROR "${problem}")
  endif()
endif()
