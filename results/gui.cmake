# The results window and the model of its list.
target_sources(corvalen_gui PRIVATE
    resultsmodel.h resultsmodel.cpp
    resultswindow.h resultswindow.cpp resultswindow.ui
)
