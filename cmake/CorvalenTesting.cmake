# corvalen_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <seconds>])
# One QtTest executable per area, run offscreen by ctest with a label and a timeout.
function(corvalen_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${T_NAME} PRIVATE
        CORVALEN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        CORVALEN_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared"
        CORVALEN_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS ${T_NAME}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
