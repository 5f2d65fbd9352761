# Compiles one layer probe with the very command the build holds for it (from
# compile_commands.json) and judges the outcome. Nothing else is built, so probes may run side
# by side and whatever else the build tree holds.
#
#   cmake -DCOMMANDS=<compile_commands.json> -DSOURCE=<probe.cpp> -DEXPECT=<what> -P probe.cmake
#
# EXPECT=builds: passes when the probe compiles. EXPECT=<header>: passes only when the
# compiler stops because it cannot find that header, in the words of GCC ("No such file or
# directory") or of clang ("file not found").
file(READ "${COMMANDS}" commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
set(command "")
foreach(i RANGE ${last})
    string(JSON file GET "${commands}" ${i} file)
    if(file STREQUAL SOURCE)
        string(JSON command GET "${commands}" ${i} command)
        string(JSON directory GET "${commands}" ${i} directory)
        break()
    endif()
endforeach()
if(command STREQUAL "")
    message(FATAL_ERROR "No compile command for ${SOURCE} in ${COMMANDS}")
endif()
separate_arguments(command UNIX_COMMAND "${command}")
# The object's folder, which a build that never made this probe has not made either.
list(FIND command -o at)
if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET command ${at} object)
    cmake_path(ABSOLUTE_PATH object BASE_DIRECTORY "${directory}")
    cmake_path(GET object PARENT_PATH folder)
    file(MAKE_DIRECTORY "${folder}")
endif()
execute_process(COMMAND ${command} WORKING_DIRECTORY "${directory}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)

if(EXPECT STREQUAL "builds")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "The probe must build, and does not:\n${output}")
    endif()
    message("Builds, as it must.")
    return()
endif()
string(REPLACE "." "\\." header "${EXPECT}")
if(result EQUAL 0)
    message(FATAL_ERROR "The probe builds, and must stop at ${EXPECT}:\n${output}")
endif()
if(NOT output MATCHES "'?${header}'?:? (No such file or directory|file not found)")
    message(FATAL_ERROR "The probe stops, but not because ${EXPECT} is out of reach:\n${output}")
endif()
message("Stops at ${EXPECT}, as it must.")
