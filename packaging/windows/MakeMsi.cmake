# CPack's External generator runs this after it has staged the files of the Windows build: it
# builds tolvane-VERSION-windows-x64.msi from them with wixl (packaging/windows/tolvane.wxs).
file(GLOB_RECURSE staged_exe "${CPACK_TEMPORARY_DIRECTORY}/*tolvane.exe")
list(LENGTH staged_exe found)
if(NOT found EQUAL 1)
    message(FATAL_ERROR "MakeMsi: tolvane.exe not staged once in ${CPACK_TEMPORARY_DIRECTORY}: ${staged_exe}")
endif()
get_filename_component(staged "${staged_exe}" DIRECTORY)
set(msi "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi")
execute_process(
    COMMAND "${CPACK_TOL_WIXL}" -a x64 -D "Version=${CPACK_PACKAGE_VERSION}" -o "${msi}" "${CPACK_TOL_WXS}"
    WORKING_DIRECTORY "${staged}"  # wixl reads Source paths relative to where it runs
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "MakeMsi: wixl failed (${result}):\n${output}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${msi}")
