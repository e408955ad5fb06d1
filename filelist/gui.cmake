# The file list's model, the scan queue that keeps folder scans off the window's thread, and the
# settings store of the count options and the tab.
target_sources(corvalen_gui PRIVATE
    filelistmodel.h filelistmodel.cpp
    scanqueue.h scanqueue.cpp
    settingsstore.h settingsstore.cpp
)
