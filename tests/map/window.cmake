# The fake map and the tests of the main window.
add_library(quorvel_fakemap STATIC ${CMAKE_CURRENT_LIST_DIR}/FakeMapView.cpp)
target_include_directories(quorvel_fakemap PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvel_fakemap PUBLIC quorvel_window)

find_package(Qt6 REQUIRED COMPONENTS Test)

function(quorvel_window_test name)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    target_link_libraries(${name} PRIVATE quorvel_fakemap Qt6::Test ${ARGN})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

quorvel_window_test(test_comuni_table)
quorvel_window_test(test_form1_fake)
quorvel_window_test(test_form1_layout)

# Against the real map on the sample region, once both exist.
if(TARGET quorvel_mapview AND TARGET sample_region)
    quorvel_window_test(test_form1_region quorvel_mapview)
    add_dependencies(test_form1_region sample_region)
    set_tests_properties(test_form1_region PROPERTIES WORKING_DIRECTORY ${QUORVEL_APP_DIR})
endif()

# Pictures of the main window for tools/screenshots.sh.
if(TARGET quorvel_mapview)
    add_executable(form1_screenshots ${CMAKE_CURRENT_LIST_DIR}/form1_screenshots.cpp)
    target_link_libraries(form1_screenshots PRIVATE quorvel_fakemap quorvel_mapview Qt6::Test)
endif()
