# Installation into GNU directories, manual pages made from the programs' own --help and
# --version, and a Debian package (cpack -G DEB in the build folder).
include(GNUInstallDirs)

set(KIT_PACKAGE_NAME inspection-kit)
set(KIT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${KIT_PACKAGE_NAME})

# One manual page per program, remade whenever the program is: the page cannot drift from its
# --help. The programs run with no display; --help and --version need none.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found: no manual pages (scripts/setup.sh installs it)")
endif()
function(kit_program_install target summary)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT HELP2MAN)
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
      ${HELP2MAN} --no-info --section=1 --name=${summary} --output=${page} $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target}
    COMMENT "Manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

if(TARGET tallen)
  kit_program_install(tallen "inspect product pictures against a model of good samples")
  install(FILES packaging/tallen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32)
    install(FILES tallen/dialog/icons/tallen_${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tallen.png)
  endforeach()
endif()
if(TARGET fennock)
  kit_program_install(fennock "learn an empty scene from a camera and save good samples")
endif()
install(FILES README.md packaging/copyright DESTINATION ${KIT_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KIT_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "visual inspection of products against good samples (tallen, fennock)")
set(CPACK_PACKAGE_DESCRIPTION
  "tallen registers pictures of good products into a per-pixel model and inspects pictures\n\
against it, as a Qt dialog or from the command line. fennock learns an empty scene from a camera\n\
and saves good samples of a product for tallen.")
set(CPACK_PACKAGE_CONTACT "inspection kit maintainers <root@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dialog's and the windows' Japanese captions need a font that has them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-ipafont-gothic)
include(CPack)

if(KIT_BUILD_TESTS AND TARGET tallen AND TARGET fennock)
  add_test(NAME kit_install_runs COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/install_test.sh
    ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(kit_install_runs PROPERTIES TIMEOUT 120 RESOURCE_LOCK kit_install)

  # Slow (dpkg-shlibdeps on every program): run alone with ctest -L package.
  add_test(NAME kit_package_contents COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/package_test.sh
    ${CMAKE_BINARY_DIR} ${KIT_PACKAGE_NAME} ${PROJECT_VERSION})
  set_tests_properties(kit_package_contents PROPERTIES LABELS package TIMEOUT 600
    SKIP_RETURN_CODE 77 RESOURCE_LOCK kit_install)
endif()
