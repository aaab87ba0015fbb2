# tamrix_layer(<folder> DEPS <libs...>): one static library per src/ folder, built from every
# .cpp in it (files listed in EXCLUDE stay out, e.g. a main()).
function(tamrix_layer name)
  cmake_parse_arguments(L "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(x IN LISTS L_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  if(srcs)
    add_library(tamrix_${name} STATIC ${srcs})
    target_include_directories(tamrix_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tamrix_${name} PUBLIC ${L_DEPS})
  else()
    add_library(tamrix_${name} INTERFACE)
    target_include_directories(tamrix_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tamrix_${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# tamrix_tests(<folder> DEPS <libs...>): one GoogleTest executable per tests/ folder from
# every *_test.cpp in it, registered with CTest test by test.
function(tamrix_tests name)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name}_tests ${srcs})
  target_include_directories(${name}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name}_tests PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name}_tests PRIVATE TAMRIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                   TAMRIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 600)
endfunction()
