# Fills one sample payload folder from a manifest, at build time:
#   cmake -DMANIFEST=FILE -DFOLDER=DIR -DSTAMP=FILE -P assemble_payload.cmake
# Each manifest line is "ENTRY|SOURCE|copy" (a built program, a committed text) or
# "ENTRY|SOURCE|template" (a placeholder whose @ENTRY@ becomes the entry's name, so every
# variant of a driver file says which one it is, and @DRIVER@ the name up to its first dot,
# with Windows line ends).
# The folder is emptied first: the setup build packs every file in it, so an entry dropped
# from the manifest must not linger from an earlier build.
foreach(variable MANIFEST FOLDER STAMP)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "assemble_payload.cmake: -D${variable}=... is required")
  endif()
endforeach()

file(STRINGS "${MANIFEST}" lines)
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
foreach(line IN LISTS lines)
  string(REPLACE "|" ";" fields "${line}")
  list(GET fields 0 entry)
  list(GET fields 1 source)
  list(GET fields 2 how)
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "sample payload entry ${entry}: ${source} does not exist"
            " (64-bit programs come from the win64 tree: scripts/build.sh win64)")
  endif()
  if(how STREQUAL "copy")
    file(COPY_FILE "${source}" "${FOLDER}/${entry}")
  else()
    file(READ "${source}" text)
    string(REPLACE "@ENTRY@" "${entry}" text "${text}")
    string(REGEX REPLACE "\\..*$" "" driver "${entry}")
    string(REPLACE "@DRIVER@" "${driver}" text "${text}")
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE "${FOLDER}/${entry}" "${text}")
  endif()
endforeach()
file(TOUCH "${STAMP}")
