# tesmar_translations(OUT_SOURCE TS_FILE...)
# Compiles the Qt Linguist sources (.ts, named <anything>_<language>.ts)
# with lrelease into one tesmar_<language>.qm per language and embeds them
# as the Qt resource "tesmar_translations" under :/i18n/. OUT_SOURCE
# names the generated C++ file to add to the library that loads them (it
# calls Q_INIT_RESOURCE(tesmar_translations)). A missing lrelease stops the
# configuration: scripts/bootstrap.sh installs it (qt6-l10n-tools).
function(tesmar_translations out_source)
  find_program(TESMAR_LRELEASE NAMES lrelease-qt6 lrelease
               HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS}" "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}"
                     /usr/lib/qt6/bin /usr/lib/qt6/libexec
               REQUIRED)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/translations)
  set(qrc ${dir}/tesmar_translations.qrc)
  set(qrc_text "<RCC>\n  <qresource prefix=\"/i18n\">\n")
  # Every source of one language (the suffix after the last "_") goes into
  # that language's one .qm.
  set(languages)
  foreach(ts IN LISTS ARGN)
    if(NOT EXISTS ${ts})
      message(FATAL_ERROR "Translation ${ts} does not exist")
    endif()
    get_filename_component(stem ${ts} NAME_WE)
    string(REGEX REPLACE ".*_" "" language ${stem})
    list(APPEND languages ${language})
    list(APPEND sources_${language} ${ts})
  endforeach()
  list(REMOVE_DUPLICATES languages)
  set(qm_files)
  foreach(language IN LISTS languages)
    set(qm ${dir}/tesmar_${language}.qm)
    add_custom_command(OUTPUT ${qm}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${TESMAR_LRELEASE} -silent ${sources_${language}} -qm ${qm}
      DEPENDS ${sources_${language}}
      COMMENT "Compiling the ${language} translation" VERBATIM)
    list(APPEND qm_files ${qm})
    string(APPEND qrc_text "    <file>tesmar_${language}.qm</file>\n")
  endforeach()
  string(APPEND qrc_text "  </qresource>\n</RCC>\n")
  file(CONFIGURE OUTPUT ${qrc} CONTENT "${qrc_text}")
  set(source ${dir}/qrc_tesmar_translations.cpp)
  add_custom_command(OUTPUT ${source}
    COMMAND Qt6::rcc -name tesmar_translations -o ${source} ${qrc}
    DEPENDS ${qrc} ${qm_files}
    COMMENT "Embedding the translations" VERBATIM)
  set(${out_source} ${source} PARENT_SCOPE)
endfunction()
