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
