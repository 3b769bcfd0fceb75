# Heavy headers parsed once per target instead of once per file: tol_precompile(TARGET HEADER...)
# precompiles them for the target's own files. Only where every file uses them (GoogleTest in the
# test programs, CLI11 and JSON in the CLI): forced into a file that does not, a header costs
# more than it saves, and with sanitizers most of a file's time goes to code, not parsing.
# -DTOL_PRECOMPILE=OFF builds without, to check that every file includes what it uses.
option(TOL_PRECOMPILE "Precompile the heavy headers of each target" ON)

function(tol_precompile target)
    if(TOL_PRECOMPILE)
        target_precompile_headers(${target} PRIVATE ${ARGN})
    endif()
endfunction()
