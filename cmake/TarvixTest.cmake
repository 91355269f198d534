# tarvix_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [GUI] [TIMEOUT s])
# One executable per test; every test runs headless with its own temporary
# application-data and temporary folders (see tests/common/testenv.h).
function(tarvix_add_test)
  cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tarvixtestcommon ${T_LIBS} Qt5::Test)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # TARVIX_UPDATE_URL is set empty: no test asks the configured update page.
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARVIX_TEST=1;TARVIX_UPDATE_URL=")
endfunction()
