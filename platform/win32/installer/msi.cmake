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
set(tolvex_wxs ${CMAKE_CURRENT_SOURCE_DIR}/installer/Tolvex.wxs
               ${CMAKE_CURRENT_SOURCE_DIR}/installer/TolvexComponents.wxs)
# Two packages per architecture: Tolvex-ARCH.msi for all users and
# Tolvex-ARCH-user.msi for the current user only, without elevation.
set(tolvex_msis)
foreach(scope machine user)
  set(suffix)
  if(scope STREQUAL user)
    set(suffix -user)
  endif()
  # A product code of its own for every version, architecture and scope,
  # the same in every build of that version: installing a rebuild again is
  # a repair, and a newer version upgrades the older one instead of
  # installing beside it.
  string(UUID product_code NAMESPACE 6ACD22EF-48D0-4AC9-A34A-9418B18AD313
         NAME "Tolvex-${tolvex_msi_arch}${suffix}-${tolvex_msi_version}" TYPE SHA1 UPPER)
  set(msi ${CMAKE_CURRENT_BINARY_DIR}/Tolvex-${tolvex_msi_arch}${suffix}.msi)
  # wixl finds the files the packages carry in its working directory.
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${TOLVEX_WIXL} -a ${tolvex_msi_arch} -D TolvexArch=${tolvex_msi_arch}
            -D TolvexScope=${scope} -D TolvexVersion=${tolvex_msi_version}
            -D ProductCode=${product_code} -o ${msi} ${tolvex_wxs}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DEPENDS Tolvex ${tolvex_wxs}
    COMMENT "Packaging Tolvex-${tolvex_msi_arch}${suffix}.msi"
    VERBATIM)
  list(APPEND tolvex_msis ${msi})
endforeach()
add_custom_target(tolvex_msi ALL DEPENDS ${tolvex_msis})
