# The installation (cmake --install) and the Debian package (cpack -G DEB) of the player.
include(GNUInstallDirs)

set(KEST_APP_ID org.kestora.Kestora)
set(KEST_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS kestora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KEST_PACKAGING_DIR}/${KEST_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KEST_PACKAGING_DIR}/${KEST_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KEST_PACKAGING_DIR}/icons/${KEST_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 64 128 256)
    install(FILES ${KEST_PACKAGING_DIR}/icons/${KEST_APP_ID}-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${KEST_APP_ID}.png)
endforeach()
# The demo course, for trying the player without a course server.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/course/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestora/demo-course)
# The machine's deployment settings; a conffile of the package, so an administrator's edits
# survive upgrades.
# The prefix is only known when installing (CPack installs to STAGING/usr whatever the build's
# prefix), so the folder, relative to the prefix, is chosen then by the rule of GNUInstallDirs:
# /etc beside a /usr prefix, else PREFIX/etc.
install(CODE [[
    if(CMAKE_INSTALL_PREFIX MATCHES "/usr/?$")
        set(KEST_INSTALL_SYSCONFDIR "../etc")
    else()
        set(KEST_INSTALL_SYSCONFDIR "etc")
    endif()
]])
install(FILES ${KEST_PACKAGING_DIR}/kestora.ini DESTINATION "\${KEST_INSTALL_SYSCONFDIR}/xdg/Kestora")

# Compressed without names or times in the gzip header, so that two builds give the same bytes.
set(KEST_GZIPPED)
foreach(pair "kestora.1|kestora.1.gz" "changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/${target}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
        COMMAND gzip -9n -c ${KEST_PACKAGING_DIR}/${source} > ${CMAKE_CURRENT_BINARY_DIR}/packaging/${target}
        DEPENDS ${KEST_PACKAGING_DIR}/${source} VERBATIM)
    list(APPEND KEST_GZIPPED ${CMAKE_CURRENT_BINARY_DIR}/packaging/${target})
endforeach()
add_custom_target(kest_packaging_files ALL DEPENDS ${KEST_GZIPPED})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/kestora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KEST_PACKAGING_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestora)

set(CPACK_PACKAGE_NAME kestora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Kestora developers <developers@kestora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for interactive multimedia learning courses")
set(CPACK_PACKAGE_DESCRIPTION "Kestora plays learning courses made of scenes with pictures, buttons,
sounds, videos and texts read aloud. Learners click, drag and drop, answer
quizzes and record their own voice; the course keeps their progress between
runs.

Courses are installed and updated from a course server that an administrator
configures once per machine in /etc/xdg/Kestora/kestora.ini. A demo course
is included.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kestora.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time by name, so the shared-library scan cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml-module-qtquick2, qml-module-qtquick-window2, qml-module-qtquick-controls, qml-module-qtquick-shapes, qml-module-qtmultimedia, libqt5multimedia5-plugins, qtspeech5-speechd-plugin, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "speech-dispatcher")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles "/etc/xdg/Kestora/kestora.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles)
include(CPack)

if(KEST_BUILD_TESTS)
    # Builds the package from this tree and checks it with the distribution's validators, then
    # starts the packaged binary.
    add_test(NAME package COMMAND bash ${KEST_PACKAGING_DIR}/check-package.sh ${CMAKE_BINARY_DIR})
    # The packaged player under a sanitizer build leaks what Qt itself keeps until exit, and its
    # threads hand over through Qt's uninstrumented locks; the same suppressions and full stacks
    # as the unit tests (cmake/run-test.sh) let both be recognised.
    set_tests_properties(package PROPERTIES LABELS package TIMEOUT 600 RUN_SERIAL ON
        ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp print_suppressions=0;ASAN_OPTIONS=fast_unwind_on_malloc=0;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp halt_on_error=1")
endif()
