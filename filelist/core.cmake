# The UI-free part of the file list: the folder scan shared by Add Folder, drops and the command line.
add_library(corvalen_filelist STATIC
    folderscan.h folderscan.cpp
)
target_include_directories(corvalen_filelist PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(corvalen_filelist PUBLIC corvalen_engine)
target_link_libraries(corvalen_core INTERFACE corvalen_filelist)
