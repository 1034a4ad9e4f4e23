# Sanitizer settings every test gets: Qt itself is not built for the sanitizers, so its own
# futex locks and the platform plugin's leftovers are suppressed (tests/support/*.supp).
set(STBMATE_SANITIZER_ENV
    "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=${PROJECT_SOURCE_DIR}/tests/support/tsan.supp"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp"
    "UBSAN_OPTIONS=print_stacktrace=1 halt_on_error=1")

# stbmate_add_test(NAME name SOURCES ... LIBS ... [GUI] [TIMEOUT s] [LABELS ...])
# GUI tests get a QApplication on the offscreen platform; the others a plain gtest main.
function(stbmate_add_test)
  cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE stbmate_test_main_gui)
  else()
    target_link_libraries(${T_NAME} PRIVATE stbmate_test_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} stbmate_test_support stbmate_console_guard
                        stbmate_flags)
  target_link_options(${T_NAME} PRIVATE -Wl,--wrap=open -Wl,--wrap=open64)
  # The test's own folder, for the headers its neighbours share (fixtures, the pty pair).
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  stbmate_expose(${T_NAME} ${folder} PRIVATE)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(T_NAME IN_LIST STBMATE_THREAD_TESTS)
    list(APPEND T_LABELS threads)
    add_dependencies(stbmate_thread_tests ${T_NAME})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;STBMATE_SOURCE_DIR=${PROJECT_SOURCE_DIR};${STBMATE_SANITIZER_ENV}")
endfunction()
