# Settings every target of the project links: language level, warnings and Qt's stricter defines.
add_library(kalvora_settings INTERFACE)
target_compile_features(kalvora_settings INTERFACE cxx_std_20)
target_compile_options(kalvora_settings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic>)
target_compile_definitions(kalvora_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

option(KALVORA_SANITIZE "Build with address and undefined-behaviour sanitizers" OFF)
if(KALVORA_SANITIZE)
    target_compile_options(kalvora_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(kalvora_settings INTERFACE -fsanitize=address,undefined)
endif()

# kalvora_add_test(<name> SOURCES ... LIBS ...): one Qt Test executable, headless.
function(kalvora_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE kalvora_settings Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        WORKING_DIRECTORY ${KALVORA_BIN_DIR}
        TIMEOUT 300)
endfunction()
