# cmake -DTABLE=BaudRates.h -DOUTPUT=BaudList.rc2 -P WriteBaudList.cmake
# Writes the entries of a dialog's initialization data (resource type 240) that fill the baud
# combo box, one per rate of the table in its order: {control IDC_BAUD, 0x0403 (add a string),
# byte count as two WORDs, the rate as ANSI text with its terminating 0}.
file(STRINGS ${TABLE} lines REGEX "^constexpr int kBaudRates\\[\\] = {[0-9, ]+};$")
list(LENGTH lines found)
if(NOT found EQUAL 1)
    message(FATAL_ERROR "${TABLE}: expected one line 'constexpr int kBaudRates[] = {N, N, ...};'")
endif()
string(REGEX REPLACE "^[^{]*{([0-9, ]+)}.*$" "\\1" numbers "${lines}")
string(REGEX MATCHALL "[0-9]+" rates "${numbers}")

set(text "// Written by the build from ${TABLE}; do not edit.\n")
foreach(rate IN LISTS rates)
    string(LENGTH "${rate}" length)
    math(EXPR count "${length} + 1")
    string(APPEND text "    IDC_BAUD, 0x0403, ${count}, 0, \"${rate}\\0\",\n")
endforeach()

file(WRITE ${OUTPUT} "${text}")
