# The UI-free results layouts: text file, clipboard text and spreadsheet, on devices and paths.
add_library(corvalen_results STATIC
    resultlayouts.h resultlayouts.cpp
    spreadsheetlayout.h spreadsheetlayout.cpp
)
target_include_directories(corvalen_results PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(corvalen_results PUBLIC corvalen_engine PRIVATE PkgConfig::XLSXWRITER PkgConfig::LIBZIP)
target_link_libraries(corvalen_core INTERFACE corvalen_results)
