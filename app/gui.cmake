target_sources(corvalen_gui PRIVATE
    application.h application.cpp
)
