# The test collects the texts of the code with Qt's own lupdate.
target_compile_definitions(${KEYLOFT_TEST} PRIVATE KEYLOFT_LUPDATE="$<TARGET_FILE:Qt6::lupdate>")
