# Test side of the OpenCL plugin: a build of the plugin that treats every
# device as single precision, two stand-in plugins (one of another
# interface, one with three made-up devices) and where the tests find them.
set(TRX_TEST_PLUGINS ${CMAKE_BINARY_DIR}/tests/plugins)

add_library(trxwronginterface MODULE ${CMAKE_CURRENT_LIST_DIR}/wronginterface.cpp)
target_link_libraries(trxwronginterface PRIVATE Qt5::Core)
set_target_properties(trxwronginterface PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TRX_TEST_PLUGINS})

add_library(trxfakedevices MODULE ${CMAKE_CURRENT_LIST_DIR}/fakedevices.cpp)
target_include_directories(trxfakedevices PRIVATE ${CMAKE_SOURCE_DIR}/trxopencl/interface)
target_link_libraries(trxfakedevices PRIVATE Qt5::Core)
set_target_properties(trxfakedevices PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TRX_TEST_PLUGINS})

set(TRX_TEST_DEFS TRX_WRONG_PLUGIN="${TRX_TEST_PLUGINS}/trxwronginterface.so"
    TRX_FAKE_PLUGIN="${TRX_TEST_PLUGINS}/trxfakedevices.so")
if(TARGET TrxOpenCL)
  trxopencl_plugin(TrxOpenCLFloat ${TRX_TEST_PLUGINS}/float TRXOPENCL_FORCE_FLOAT)
  # The window tests look for the plugin beside themselves.
  add_custom_target(trxplugincopy
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TrxOpenCL> ${TRX_TEST_PLUGINS}/TrxOpenCL.so
    DEPENDS TrxOpenCL)
  list(APPEND TRX_TEST_DEFS TRX_PLUGIN="${CMAKE_BINARY_DIR}/plugins/TrxOpenCL.so"
       TRX_FLOAT_PLUGIN="${TRX_TEST_PLUGINS}/float/TrxOpenCL.so")
endif()

foreach(test tst_openclengine tst_opencldevices tst_clidevices)
  if(TARGET ${test})
    target_compile_definitions(${test} PRIVATE ${TRX_TEST_DEFS})
    add_dependencies(${test} trxwronginterface trxfakedevices)
    if(TARGET TrxOpenCL)
      add_dependencies(${test} TrxOpenCL TrxOpenCLFloat trxplugincopy)
    endif()
  endif()
endforeach()
if(TARGET tst_openclengine)
  target_sources(tst_openclengine PRIVATE ${CMAKE_SOURCE_DIR}/trxopencl/worksizes.cpp)
  target_include_directories(tst_openclengine PRIVATE ${CMAKE_SOURCE_DIR}/trxopencl)
endif()

# pocl runs LLVM, which gives its threads an alternate signal stack of its
# own; AddressSanitizer then fails to unmap it at thread exit. These tests
# (and the programs they start) run without the sanitizer's signal stack.
if(TARVIX_SANITIZE)
  foreach(test tst_openclengine tst_opencldevices tst_clidevices)
    if(TARGET ${test})
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:use_sigaltstack=0")
    endif()
  endforeach()
endif()
