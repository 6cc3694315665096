# Shared build settings and helpers for every folder of the project.

add_library(caddora_warnings INTERFACE)
target_compile_options(caddora_warnings INTERFACE -Wall -Wextra)
if(CADDORA_WERROR)
    target_compile_options(caddora_warnings INTERFACE -Werror)
endif()

if(CADDORA_SANITIZE)
    string(REPLACE ";" "," _san "${CADDORA_SANITIZE}")
    add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_san})
elseif(NOT WIN32)
    # The hardening Debian builds its packages with: checked buffer functions where the compiler
    # knows the sizes (needs optimisation, so not in sanitizer builds) and stack canaries.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2> -fstack-protector-strong)
endif()

find_package(Threads REQUIRED)

if(WIN32)
    # Windows 7 API level (CancelIoEx, the v6 controls); wide-character API names.
    add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX
                            WIN32_LEAN_AND_MEAN)
endif()

# Sources of one operating system: *_posix.cpp build everywhere but Windows, *_win32.cpp only
# on Windows.
function(caddora_filter_os_sources var)
    set(_list ${${var}})
    if(WIN32)
        list(FILTER _list EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER _list EXCLUDE REGEX "_win32\\.cpp$")
    endif()
    set(${var} ${_list} PARENT_SCOPE)
endfunction()

# The project version as a header (caddora_version.h) for the programs' --version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/caddora_version.h.in
               ${CMAKE_BINARY_DIR}/generated/caddora_version.h @ONLY)
add_library(caddora_version INTERFACE)
target_include_directories(caddora_version INTERFACE ${CMAKE_BINARY_DIR}/generated)

# One static library per source folder: every .cpp in the folder except *_main.cpp files,
# which hold the entry points of executables. Operating-system code sits in *_posix.cpp and
# *_win32.cpp files behind one header; only the files of the target system are compiled.
function(caddora_folder_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    list(FILTER _src EXCLUDE REGEX "_main\\.cpp$")
    caddora_filter_os_sources(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads PRIVATE caddora_warnings)
endfunction()

# Turns a binary file into a C++ source holding it as a constant array:
#   extern const unsigned char SYMBOL[]; extern const std::size_t SYMBOL_size;
function(caddora_embed_binary target input symbol)
    set(_out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp)
    add_custom_command(
        OUTPUT ${_out}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${_out} -DSYMBOL=${symbol}
                -P ${CMAKE_SOURCE_DIR}/cmake/EmbedBinary.cmake
        DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedBinary.cmake
        COMMENT "Embedding ${input}")
    target_sources(${target} PRIVATE ${_out})
endfunction()

# One GoogleTest executable per test folder; each test case becomes a ctest test with LABEL.
# EXTRA names test sources of other folders to build into it as well.
function(caddora_test_folder name)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "DEPS;EXTRA" ${ARGN})
    file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    list(APPEND _src ${ARG_EXTRA})
    caddora_filter_os_sources(_src)
    if(NOT _src)
        return()
    endif()
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${_src})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main
                                          caddora_warnings)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    # Where the committed data files and the built programs are, also when a test runs by hand.
    target_compile_definitions(${name} PRIVATE CADDORA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                               CADDORA_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
                   # Imports in tests fill a logbook of the build, never the user's.
                   ENVIRONMENT "CADDORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin;CADDORA_LOGBOOK=${CMAKE_BINARY_DIR}/tests/logbook.sqlite3")
endfunction()
