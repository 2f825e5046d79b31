# The main window over the MapView interface, its procedures and its pictures.
add_library(quorvel_window STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ComuniTable.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CoordinateText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DetailView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Form1.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FormStyle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LayerTable.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MunicipalitySearch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Reporter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SvgArt.cpp
    ${CMAKE_CURRENT_LIST_DIR}/icons.qrc
)
target_include_directories(quorvel_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvel_window PUBLIC Qt6::Widgets Qt6::Svg rain_core)
