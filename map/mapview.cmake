# The map widget: GDAL layers drawn by Qt behind the MapView interface.
add_library(quorvel_mapview STATIC
    ${CMAKE_CURRENT_LIST_DIR}/MapView.h
    ${CMAKE_CURRENT_LIST_DIR}/ViewTransform.h
    ${CMAKE_CURRENT_LIST_DIR}/ViewTransform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GdalLayers.h
    ${CMAKE_CURRENT_LIST_DIR}/GdalLayers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RenderMap.h
    ${CMAKE_CURRENT_LIST_DIR}/RenderMap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MapWidget.h
    ${CMAKE_CURRENT_LIST_DIR}/MapWidget.cpp
)
target_include_directories(quorvel_mapview PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvel_mapview PUBLIC Qt6::Widgets GDAL::GDAL)
