# kest_add_test(<name> SOURCES <files...> [LIBRARIES <targets...>] [LABELS <labels...>] [TIMEOUT <s>] [SOUND])
#
# One Qt Test executable, registered with CTest. Every run gets a fresh temporary HOME (so the
# user's documents folder and settings are never touched) and the headless Qt platform. SOUND
# tests run against the build's private sound server (see kest_add_sound_server).
set(KEST_TEST_WRAPPER ${CMAKE_CURRENT_LIST_DIR}/run-test.sh)

# The sound server's runtime folder, one per build folder. Its socket path must fit the 107
# bytes of a Unix socket address; a deep build folder gets a short folder in /tmp instead.
set(KEST_SOUND_RUNTIME ${CMAKE_BINARY_DIR}/sound-runtime)
string(LENGTH "${KEST_SOUND_RUNTIME}/pulse-native" KEST_SOUND_SOCKET_LENGTH)
if(KEST_SOUND_SOCKET_LENGTH GREATER 100)
    string(MD5 KEST_SOUND_HASH "${CMAKE_BINARY_DIR}")
    string(SUBSTRING ${KEST_SOUND_HASH} 0 12 KEST_SOUND_HASH)
    set(KEST_SOUND_RUNTIME /tmp/kest-sound-${KEST_SOUND_HASH})
endif()

function(kest_add_test name)
    cmake_parse_arguments(T "SOUND" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBRARIES})
    target_compile_definitions(${name} PRIVATE
        KEST_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
        KEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND sh ${KEST_TEST_WRAPPER} $<TARGET_FILE:${name}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(environment "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software;KEST_SUPPRESSIONS_DIR=${PROJECT_SOURCE_DIR}/tests")
    if(T_SOUND)
        list(APPEND environment "XDG_RUNTIME_DIR=${KEST_SOUND_RUNTIME}" "PULSE_SERVER=unix:${KEST_SOUND_RUNTIME}/pulse-native")
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED kest_sound)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "${environment}")
endfunction()

# Registers the private sound server (tools/sound-server.sh: a null sink and a 440 Hz "mic")
# as a CTest fixture: started before the first SOUND test, ended after the last, so that a
# plain ctest proves what the test command does. Without PulseAudio the start fails, and with
# it every SOUND test, saying why.
function(kest_add_sound_server)
    add_test(NAME sound_server_start COMMAND ${PROJECT_SOURCE_DIR}/tools/sound-server.sh ${KEST_SOUND_RUNTIME})
    add_test(NAME sound_server_stop COMMAND ${PROJECT_SOURCE_DIR}/tools/sound-server.sh --stop ${KEST_SOUND_RUNTIME})
    set_tests_properties(sound_server_start PROPERTIES FIXTURES_SETUP kest_sound TIMEOUT 60)
    set_tests_properties(sound_server_stop PROPERTIES FIXTURES_CLEANUP kest_sound TIMEOUT 60)
endfunction()

# The tracked C++ sources against the repository's .clang-format (with KEST_WERROR).
function(kest_add_format_check)
    find_program(KEST_CLANG_FORMAT clang-format)
    if(NOT KEST_CLANG_FORMAT)
        set(KEST_CLANG_FORMAT clang-format) # the test then fails, naming the missing program
    endif()
    add_test(NAME clang_format COMMAND ${PROJECT_SOURCE_DIR}/tools/check-format.sh ${KEST_CLANG_FORMAT})
    set_tests_properties(clang_format PROPERTIES LABELS style TIMEOUT 120)
endfunction()
