# Windows: what the Qt programs load at run time, copied into their one
# folder (CMAKE_RUNTIME_OUTPUT_DIRECTORY) so that they start from there, also
# under Wine: the DLLs, the platform plugins (windows; offscreen and minimal
# for the tests), the style, the toolkit's Czech texts, and a qt.conf that
# makes that folder Qt's prefix, so the program finds the texts where it
# looks on every system (QLibraryInfo's translations path).
#   vazur_windows_runtime(TARGET name DLLS file... LIBRARIES target... PLUGINS target...)
function(vazur_windows_runtime)
  cmake_parse_arguments(R "" "TARGET" "DLLS;LIBRARIES;PLUGINS" ${ARGN})
  set(dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(commands)
  set(depends ${R_DLLS})
  foreach(dll ${R_DLLS})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${dir})
  endforeach()
  foreach(library ${R_LIBRARIES})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${library}> ${dir})
    list(APPEND depends $<TARGET_FILE:${library}>)
  endforeach()
  foreach(plugin ${R_PLUGINS})
    get_target_property(type ${plugin} QT_PLUGIN_TYPE)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/${type}
                         COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}> ${dir}/${type})
    list(APPEND depends $<TARGET_FILE:${plugin}>)
  endforeach()
  set(qm ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_cs.qm)
  if(EXISTS ${qm})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/translations
                         COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qm} ${dir}/translations)
    list(APPEND depends ${qm})
  else()
    message(WARNING "${qm} is missing: the toolkit's own buttons will be in English")
  endif()
  file(WRITE ${dir}/qt.conf "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")

  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${R_TARGET}.stamp)
  add_custom_command(OUTPUT ${stamp} ${commands} COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
                     DEPENDS ${depends} COMMENT "Copying Qt's run-time files beside the programs" VERBATIM)
  add_custom_target(${R_TARGET} ALL DEPENDS ${stamp})
endfunction()
