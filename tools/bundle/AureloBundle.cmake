# The installed application is a relocatable folder bundle:
#
#   <prefix>/Aurelo翻译器.app/bundle.json     identity: identifier, version, build, executable
#   <prefix>/Aurelo翻译器.app/bin/<program>
#   <prefix>/Aurelo翻译器.app/share/aurelo-translator/<resources>
#
# Install it with `cmake --install <build> --prefix ~/Applications`. The updater replaces the
# whole folder, so nothing of the application may live outside it.

set(AURELO_BUNDLE_NAME "Aurelo翻译器.app" CACHE STRING "Folder name of the installed bundle")
set(AURELO_BUNDLE_TARGETS "aurelo-translator" CACHE STRING
    "Program targets installed into the bundle; the first one is the program that is started")
set(AURELO_BUNDLE_RESOURCES "" CACHE STRING
    "Files and folders installed into the bundle under share/aurelo-translator")

if(NOT AURELO_BUILD_NUMBER MATCHES "^[0-9]+$")
  message(FATAL_ERROR "AURELO_BUILD_NUMBER must be a whole number, not '${AURELO_BUILD_NUMBER}'")
endif()

# aurelo_install_bundle(COMPONENT name TARGETS t… [RESOURCES path…] [EXCLUDE_FROM_ALL])
# Targets that do not exist (yet) are skipped, so the rules can name programs that other parts
# of the build may or may not define.
function(aurelo_install_bundle)
  cmake_parse_arguments(ARG "EXCLUDE_FROM_ALL" "COMPONENT" "TARGETS;RESOURCES" ${ARGN})
  set(targets "")
  foreach(target IN LISTS ARG_TARGETS)
    if(TARGET ${target})
      list(APPEND targets ${target})
    endif()
  endforeach()
  if(NOT targets)
    return()
  endif()
  set(exclude "")
  if(ARG_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  list(GET targets 0 main)
  set(info "${CMAKE_BINARY_DIR}/bundle/${ARG_COMPONENT}/bundle.json")
  file(GENERATE OUTPUT "${info}" CONTENT "{
  \"identifier\": \"${AURELO_APPLICATION_ID}\",
  \"version\": \"${PROJECT_VERSION}\",
  \"build\": \"${AURELO_BUILD_NUMBER}\",
  \"executable\": \"bin/$<TARGET_FILE_NAME:${main}>\"
}
")
  install(TARGETS ${targets} RUNTIME DESTINATION "${AURELO_BUNDLE_NAME}/bin"
          COMPONENT ${ARG_COMPONENT} ${exclude})
  install(FILES "${info}" DESTINATION "${AURELO_BUNDLE_NAME}" COMPONENT ${ARG_COMPONENT} ${exclude})
  foreach(resource IN LISTS ARG_RESOURCES)
    if(IS_DIRECTORY "${resource}")
      install(DIRECTORY "${resource}" DESTINATION "${AURELO_BUNDLE_NAME}/share/aurelo-translator"
              COMPONENT ${ARG_COMPONENT} ${exclude})
    else()
      install(FILES "${resource}" DESTINATION "${AURELO_BUNDLE_NAME}/share/aurelo-translator"
              COMPONENT ${ARG_COMPONENT} ${exclude})
    endif()
  endforeach()
endfunction()
