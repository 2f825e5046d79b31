# Tests of the map widget, on the offscreen platform, with data made by the tests.
find_package(Qt6 REQUIRED COMPONENTS Test)

add_executable(test_viewtransform ${CMAKE_CURRENT_LIST_DIR}/test_viewtransform.cpp)
target_link_libraries(test_viewtransform PRIVATE quorvel_mapview Qt6::Test)
add_test(NAME map.viewtransform COMMAND test_viewtransform)

add_executable(test_mapwidget ${CMAKE_CURRENT_LIST_DIR}/test_mapwidget.cpp)
target_link_libraries(test_mapwidget PRIVATE quorvel_mapview Qt6::Test)
add_test(NAME map.mapwidget COMMAND test_mapwidget)

set_tests_properties(map.viewtransform map.mapwidget PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
