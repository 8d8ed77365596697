# Form test: builds panel/triax.ui (AUTOUIC generates ui_triax.h) on a bare dock widget.
monopanel_add_test(tst_triaxform
    SOURCES tst_triaxform.cpp ${PROJECT_SOURCE_DIR}/panel/triax.ui
    LIBRARIES Qt6::Widgets
    LABELS panel)
set_property(TARGET tst_triaxform PROPERTY AUTOUIC_SEARCH_PATHS ${PROJECT_SOURCE_DIR}/panel)
