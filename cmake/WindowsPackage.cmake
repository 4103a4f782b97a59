# The Windows installer (an MSI, written by wixl from Debian's msitools) and
# a portable zip with the same files, both from this build's binaries,
# stripped. Built with everything else, so that the tests install the very
# files that were tested.
find_program(RQ905_WIXL wixl)
find_program(RQ905_ZIP zip)
if(NOT RQ905_WIXL OR NOT RQ905_ZIP)
    message(STATUS "No Windows packages: wixl (Debian: wixl) or zip is missing")
    return()
endif()

set(RQ905_PKG_DIR ${CMAKE_BINARY_DIR}/pkg)
set(RQ905_MSI ${RQ905_PKG_DIR}/RQ-905-${PROJECT_VERSION}-win32.msi CACHE INTERNAL "")
set(RQ905_ZIP_FILE ${RQ905_PKG_DIR}/RQ-905-${PROJECT_VERSION}-win32.zip CACHE INTERNAL "")
set(rq905_drivers)
foreach(driver ${RQ905_DRIVERS})
    list(APPEND rq905_drivers $<TARGET_FILE:${driver}>)
endforeach()
add_custom_command(
    OUTPUT ${RQ905_MSI} ${RQ905_ZIP_FILE}
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/win32-stage.sh ${RQ905_PKG_DIR} ${CMAKE_STRIP}
            ${PROJECT_VERSION} ${CMAKE_SOURCE_DIR} ${RQ905_ICON}
            $<TARGET_FILE:W_RQ905> $<TARGET_FILE:rq905ctl> $<TARGET_FILE:rq905-sim> -- ${rq905_drivers}
    DEPENDS W_RQ905 rq905ctl rq905-sim ${RQ905_DRIVERS} ${CMAKE_SOURCE_DIR}/scripts/win32-stage.sh
            ${CMAKE_SOURCE_DIR}/data/windows/rq905.wxs ${CMAKE_SOURCE_DIR}/docs/windows.md
            ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/data/copyright
    COMMENT "Windows installer and portable zip")
add_custom_target(windows_packages ALL DEPENDS ${RQ905_MSI} ${RQ905_ZIP_FILE})
