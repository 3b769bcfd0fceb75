# Platform code lives in sibling files, NAME_win.cpp beside NAME_posix.cpp, under one header.
# tol_platform_sources(TARGET NAME...) adds the sibling of each NAME that this build's platform
# takes.
function(tol_platform_sources target)
    if(WIN32)
        set(suffix _win.cpp)
    else()
        set(suffix _posix.cpp)
    endif()
    foreach(name IN LISTS ARGN)
        target_sources(${target} PRIVATE ${name}${suffix})
    endforeach()
endfunction()
