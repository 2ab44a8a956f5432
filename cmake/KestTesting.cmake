# kest_add_test(<name> SOURCES <files...> [LIBRARIES <targets...>] [LABELS <labels...>] [TIMEOUT <s>])
#
# One Qt Test executable, registered with CTest. Every run gets a fresh temporary HOME (so the
# user's documents folder and settings are never touched) and the headless Qt platform.
set(KEST_TEST_WRAPPER ${CMAKE_CURRENT_LIST_DIR}/run-test.sh)

function(kest_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBRARIES})
    target_compile_definitions(${name} PRIVATE
        KEST_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
        KEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND sh ${KEST_TEST_WRAPPER} $<TARGET_FILE:${name}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software;KEST_SUPPRESSIONS_DIR=${PROJECT_SOURCE_DIR}/tests")
endfunction()
