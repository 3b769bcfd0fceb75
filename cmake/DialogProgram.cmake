# A dialog program: a windowed executable on the shared dialog code, shipped without symbols. Its
# .rc file includes BaudList.rc2, the baud combo box's entries of the main dialog's initialization
# data, which the build writes from the one table of baud rates (common/transport/BaudRates.h),
# and TARGET.manifest, written from res/TARGET.manifest.in with the project's version.
include(${CMAKE_CURRENT_LIST_DIR}/ShipProgram.cmake)

function(tol_add_dialog_program target rc_file)
    add_executable(${target} WIN32 ${rc_file} ${ARGN})
    target_link_libraries(${target} PRIVATE tol_dialog)

    set(table ${PROJECT_SOURCE_DIR}/common/transport/BaudRates.h)
    set(script ${PROJECT_SOURCE_DIR}/cmake/WriteBaudList.cmake)
    set(baud_list ${CMAKE_CURRENT_BINARY_DIR}/BaudList.rc2)
    add_custom_command(
        OUTPUT ${baud_list}
        COMMAND ${CMAKE_COMMAND} -DTABLE=${table} -DOUTPUT=${baud_list} -P ${script}
        DEPENDS ${table} ${script}
        COMMENT "Writing the baud-rate list of ${target}'s dialog"
        VERBATIM)
    target_sources(${target} PRIVATE ${baud_list})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
    set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${baud_list})

    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/res/${target}.manifest.in ${manifest} @ONLY)
    set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${manifest})

    tol_ship_program(${target})
endfunction()
