# peakfit's quantities of phases: the cell contents and weight fractions
# (qpa), X-ray absorption and microabsorption (absorption), preferred
# orientation (orientation). Included from the root list until peakfit's
# own room list takes these sources in.
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_path(XRL_INCLUDE_DIR xraylib/xraylib.h)
find_library(XRL_LIBRARY xrl)
if(NOT XRL_INCLUDE_DIR OR NOT XRL_LIBRARY)
  message(FATAL_ERROR "xraylib not found (Debian: libxrl-dev; scripts/install-build-deps.sh installs it)")
endif()
add_library(peakfit_qpa STATIC ${CMAKE_CURRENT_LIST_DIR}/qpa.cpp ${CMAKE_CURRENT_LIST_DIR}/absorption.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/orientation.cpp ${CMAKE_CURRENT_LIST_DIR}/rietveld.cpp)
target_include_directories(peakfit_qpa SYSTEM PUBLIC ${XRL_INCLUDE_DIR})
target_link_libraries(peakfit_qpa PUBLIC peakhkl_core Eigen3::Eigen ${XRL_LIBRARY})
