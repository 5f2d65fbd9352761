# TARROWIN_WERROR=ON makes every warning an error; the test command builds that way, so a
# warning new on another compiler or toolkit version fails the tests instead of scrolling by.
option(TARROWIN_WERROR "Treat compiler warnings as errors" OFF)
function(tarrowin_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
    if(TARROWIN_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
