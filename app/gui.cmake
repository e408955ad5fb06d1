# The windows' shell: start-up, the main window, command bars, appearance helpers and icons.
target_sources(corvalen_gui PRIVATE
    application.h application.cpp
    appearance.h appearance.cpp
    commandbars.h commandbars.cpp
    designernames.h
    mainwindow.h mainwindow.cpp mainwindow.ui
    screenshots.h screenshots.cpp
    ${CMAKE_SOURCE_DIR}/resources/corvalen.qrc
)
target_link_libraries(corvalen_gui PUBLIC Qt6::Concurrent)
