# The platform's interface names nothing of the toolkit: no header under platform/ but the
# toolkit's own side (Toolkit.h, WindowWidget.h) holds a name such as QWidget or QPixmap, so
# the form runtime could sit on another toolkit with no change above it.
#
#   cmake -DPLATFORM=<platform folder> -P toolkit_names.cmake
file(GLOB_RECURSE headers "${PLATFORM}/*.h")
set(found "")
foreach(header ${headers})
    cmake_path(GET header FILENAME name)
    if(name STREQUAL "Toolkit.h" OR name STREQUAL "WindowWidget.h")
        continue()
    endif()
    file(STRINGS "${header}" lines REGEX "(^|[^A-Za-z0-9_])Q[A-Z][A-Za-z]+")
    foreach(line ${lines})
        string(APPEND found "\n${header}: ${line}")
    endforeach()
endforeach()
if(NOT found STREQUAL "")
    message(FATAL_ERROR "The platform's interface names the toolkit:${found}")
endif()
list(LENGTH headers count)
message("${count} headers, none naming the toolkit but its own side.")
