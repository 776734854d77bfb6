# peakfit's quantities of phases (src/peakfit/qpa.cmake): cell contents,
# weight fractions, absorption, preferred orientation.
find_package(GTest)
if(GTest_FOUND)
  include(GoogleTest)
  add_executable(peakfit_qpa_tests ${CMAKE_CURRENT_LIST_DIR}/qpa_test.cpp ${CMAKE_CURRENT_LIST_DIR}/rietveld_test.cpp)
  target_link_libraries(peakfit_qpa_tests PRIVATE peakfit_qpa GTest::gtest_main)
  target_compile_definitions(peakfit_qpa_tests PRIVATE QPA_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data/qpa")
  gtest_discover_tests(peakfit_qpa_tests TEST_PREFIX "peakfit.qpa." DISCOVERY_TIMEOUT 60)
endif()
