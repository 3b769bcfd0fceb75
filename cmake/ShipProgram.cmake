# What a shipped Windows program gets: its release build carries no symbols (the MinGW linker's
# -s; the test programs keep theirs for debugging).
function(tol_ship_program target)
    if(MINGW)
        target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
    endif()
endfunction()
