# TARROWIN_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
option(TARROWIN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TARROWIN_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# TARROWIN_TSAN=ON builds everything with ThreadSanitizer, for the sound output whose library
# calls back on a thread of its own (tests/platform/run_tsan.sh, run by the test command).
option(TARROWIN_TSAN "Build with ThreadSanitizer" OFF)
if(TARROWIN_TSAN)
    if(TARROWIN_SANITIZE)
        message(FATAL_ERROR "TARROWIN_TSAN and TARROWIN_SANITIZE cannot be combined")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# TARROWIN_LINE_TABLES=ON keeps only the debug information a stack needs (functions, files and
# lines), not the variables': the test command's builds, whose sanitizers and crashes print
# stacks and which no one steps through, compile a quarter quicker with it.
option(TARROWIN_LINE_TABLES "Debug information as line tables only" OFF)
if(TARROWIN_LINE_TABLES)
    add_compile_options(-g1)
endif()
