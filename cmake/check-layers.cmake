# Fails when a lower layer of the setup includes a header of the application or the wizard.
# The install process, the installer's operations, the log, the package reader and the
# framework must build and be tested without the interface above them; an include upwards
# is how a cycle between the layers starts.
#
#   cmake -DSOURCE_DIR=<repository> -P cmake/check-layers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check-layers: SOURCE_DIR not given")
endif()

set(upper_layers app wizard)
set(lower_layers process installer log package common framework)

set(upper_headers)
foreach(layer IN LISTS upper_layers)
  file(GLOB headers RELATIVE "${SOURCE_DIR}/${layer}" "${SOURCE_DIR}/${layer}/*.h")
  foreach(header IN LISTS headers)
    list(APPEND upper_headers "${header}" "${layer}/${header}")
  endforeach()
endforeach()

set(offences)
foreach(layer IN LISTS lower_layers)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.c" "${SOURCE_DIR}/${layer}/*.cpp"
       "${SOURCE_DIR}/${layer}/*.h")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      # A header of the layer's own folder shadows one of the same name above it.
      get_filename_component(folder "${source}" DIRECTORY)
      if(EXISTS "${folder}/${included}")
        continue()
      endif()
      string(REGEX REPLACE "^(\\.\\./)+" "" included "${included}")
      if(included IN_LIST upper_headers)
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
        list(APPEND offences "${shown} includes \"${included}\"")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  list(JOIN offences "\n  " listed)
  message(FATAL_ERROR "check-layers: the lower layers must not include the application or "
                      "the wizard:\n  ${listed}")
endif()
message(STATUS "check-layers: no lower layer includes the application or the wizard")
