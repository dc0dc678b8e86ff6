# Tolvex-x86.msi or Tolvex-x64.msi beside the DLLs, built with wixl when it
# is installed (Debian package wixl).
find_program(TOLVEX_WIXL wixl)
if(NOT TOLVEX_WIXL)
  message(STATUS "wixl not found: the MSI package is not built")
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(tolvex_msi_arch x64)
else()
  set(tolvex_msi_arch x86)
endif()
set(tolvex_msi_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
# A product code of its own for every version and architecture, the same in
# every build of that version: installing a rebuild again is a repair, and a
# newer version upgrades the older one instead of installing beside it.
string(UUID tolvex_product_code NAMESPACE 6ACD22EF-48D0-4AC9-A34A-9418B18AD313
       NAME "Tolvex-${tolvex_msi_arch}-${tolvex_msi_version}" TYPE SHA1 UPPER)

set(tolvex_msi ${CMAKE_CURRENT_BINARY_DIR}/Tolvex-${tolvex_msi_arch}.msi)
set(tolvex_wxs ${CMAKE_CURRENT_SOURCE_DIR}/installer/Tolvex.wxs
               ${CMAKE_CURRENT_SOURCE_DIR}/installer/TolvexComponents.wxs)
# wixl finds the files the packages carry in its working directory.
add_custom_command(
  OUTPUT ${tolvex_msi}
  COMMAND ${TOLVEX_WIXL} -a ${tolvex_msi_arch} -D TolvexArch=${tolvex_msi_arch}
          -D TolvexVersion=${tolvex_msi_version} -D ProductCode=${tolvex_product_code}
          -o ${tolvex_msi} ${tolvex_wxs}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS Tolvex ${tolvex_wxs}
  COMMENT "Packaging Tolvex-${tolvex_msi_arch}.msi"
  VERBATIM)
add_custom_target(tolvex_msi ALL DEPENDS ${tolvex_msi})
