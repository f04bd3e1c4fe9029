# The install (`cmake --install <build> --prefix <prefix>`), laid out as a
# Linux distribution expects:
#   bin/                 vistrel, vslmouse (they find lib/orvane through their run path)
#   lib/orvane/          the suite's libraries
#   share/orvane/        read-only data: catalogue and signature, models,
#                        language modules, help; settings.xml and Profiles/
#                        that seed a user's $XDG_DATA_HOME/orvane
#   share/applications/  the desktop entry; share/icons/hicolor/ its icon
#   share/man/man1/      vistrel(1), vslmouse(1)
#   include/orvane/      the C header for games; lib/pkgconfig/ orvane-client.pc
#   lib/udev/rules.d/    the cameras' udev rule, when ORVANE_USB_IDS is set
# platform/program_folders.h reads the same layout back.
set(ORVANE_INSTALL_LIBRARIES lib/orvane)
set(ORVANE_INSTALL_DATA share/orvane)

set_target_properties(vistrel vslmouse PROPERTIES INSTALL_RPATH "$ORIGIN/../${ORVANE_INSTALL_LIBRARIES}")
install(TARGETS vistrel vslmouse RUNTIME DESTINATION bin)
install(TARGETS Lumbrix OVClient Keysnare Numbra VSLViews Vistrel-2002 LIBRARY DESTINATION ${ORVANE_INSTALL_LIBRARIES})

install(FILES ${ORVANE_BIN_DIR}/sgl.dat ${ORVANE_BIN_DIR}/sgl.sig DESTINATION ${ORVANE_INSTALL_DATA})
install(DIRECTORY ${ORVANE_BIN_DIR}/models DESTINATION ${ORVANE_INSTALL_DATA})
# The help page and language modules, where the build has them.
install(DIRECTORY ${ORVANE_BIN_DIR}/Help DESTINATION ${ORVANE_INSTALL_DATA} OPTIONAL)
install(DIRECTORY DESTINATION ${ORVANE_INSTALL_DATA}/Language)
install(DIRECTORY ${ORVANE_BIN_DIR}/Language DESTINATION ${ORVANE_INSTALL_DATA} OPTIONAL
  FILES_MATCHING PATTERN "*.so")
install(FILES ${ORVANE_SEED_DIR}/settings.xml DESTINATION ${ORVANE_INSTALL_DATA})
install(DIRECTORY ${ORVANE_SEED_DIR}/Profiles DESTINATION ${ORVANE_INSTALL_DATA})

install(DIRECTORY ${ORVANE_ICON_DIR}/hicolor DESTINATION share/icons)
install(FILES ${CMAKE_SOURCE_DIR}/app/main/vistrel.1 ${CMAKE_SOURCE_DIR}/mouse/vslmouse.1 DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/client/include/orvane/ovclient.h DESTINATION include/orvane)
configure_file(${CMAKE_SOURCE_DIR}/client/orvane-client.pc.in ${CMAKE_BINARY_DIR}/install/orvane-client.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/orvane-client.pc DESTINATION lib/pkgconfig)

# The desktop entry names the installed program by its path, which is known
# only when installing (the prefix may be given to `cmake --install`).
# (Made in a folder named after the destination: installs from one build to
# other places never meet.)
# Its Exec and TryExec lines are escaped as the Desktop Entry Specification
# asks, so any prefix (one with a space, say) names the program.
install(CODE "
  include(\"${CMAKE_SOURCE_DIR}/cmake/DesktopEntry.cmake\")
  orvane_desktop_program_lines(\"\${CMAKE_INSTALL_PREFIX}/bin/vistrel\" ORVANE_DESKTOP_EXEC ORVANE_DESKTOP_TRYEXEC)
  string(MD5 desktop_stage \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(desktop_stage \"${CMAKE_BINARY_DIR}/install/desktop-\${desktop_stage}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/app/main/vistrel.desktop.in\" \"\${desktop_stage}/vistrel.desktop\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\" TYPE FILE
       FILES \"\${desktop_stage}/vistrel.desktop\")
  file(REMOVE_RECURSE \"\${desktop_stage}\")
")

if(NOT ORVANE_USB_IDS STREQUAL "")
  file(WRITE ${CMAKE_BINARY_DIR}/install/70-orvane-cameras.rules "${ORVANE_UDEV_RULE}")
  install(FILES ${CMAKE_BINARY_DIR}/install/70-orvane-cameras.rules DESTINATION lib/udev/rules.d)
endif()

add_test(NAME install_usb_ids_rule COMMAND ${CMAKE_COMMAND} -P ${CMAKE_SOURCE_DIR}/cmake/tests/usb_ids_rule_test.cmake)
set_tests_properties(install_usb_ids_rule PROPERTIES LABELS install)
add_test(NAME install_desktop_entry COMMAND ${CMAKE_COMMAND} -P ${CMAKE_SOURCE_DIR}/cmake/tests/desktop_entry_test.cmake)
set_tests_properties(install_desktop_entry PROPERTIES LABELS install)
